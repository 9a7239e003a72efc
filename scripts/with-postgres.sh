#!/usr/bin/env bash
# Runs a command beside a throwaway PostgreSQL 15 server (Debian's postgresql
# package), reachable through a socket in a temporary folder and over TLS on
# the loopback (127.0.0.1 only, a free port, a certificate of a throwaway CA
# made with openssl), then stops the server and removes the folder whatever
# the command did:
#
#   bash scripts/with-postgres.sh ctest -R tst_history
#
# The command sees
#   ZOLVEX_TEST_POSTGRES           postgresql://<superuser>@/zolvex_test?host=<socket folder>&port=<port>
#                                  (trust authentication, may create databases)
#   ZOLVEX_TEST_POSTGRES_PASSWORD  the same database as a role that must give its password
#   ZOLVEX_TEST_POSTGRES_TLS       that role over TCP to localhost, where the server takes TLS
#                                  connections only: postgresql://<role>:<password>@localhost:
#                                  <port>/zolvex_test?sslrootcert=<the CA's certificate>
#   ZOLVEX_TEST_POSTGRES_SCRIPT    this script, for tests that need a server of their own
#   ZOLVEX_REQUIRE_POSTGRES=1      so the PostgreSQL tests fail rather than skip without it
#
# A test that stops and starts a server uses one of its own:
#   with-postgres.sh --init [--tcp]    makes and starts one; prints its folder and location,
#                                      with --tcp a third line: the password role over TCP
#                                      to localhost, on a server without TLS
#   with-postgres.sh --stop <folder>   stops it
#   with-postgres.sh --start <folder>  starts it again
#   with-postgres.sh --remove <folder> stops it and removes the folder
# As root the server runs as the postgres user.
set -euo pipefail

pg_bin="/usr/lib/postgresql/15/bin"
database=zolvex_test
password_role=zolvex_password
# Characters that must be percent-encoded in a location, so that decoding is
# exercised too.
password='s3cret p@ss:w/rd%'
loopback=127.0.0.1

if [ "$(id -u)" -eq 0 ]; then
    superuser=postgres
else
    superuser="$(id -un)"
fi

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        (cd / && runuser -u postgres -- "$@")
    else
        "$@"
    fi
}

urlencode() {
    local text=$1 out='' c i
    for ((i = 0; i < ${#text}; i++)); do
        c=${text:i:1}
        case $c in
        [A-Za-z0-9._~-]) out+=$c ;;
        *) out+=$(printf '%%%02X' "'$c") ;;
        esac
    done
    printf '%s' "$out"
}

start_cluster() {
    as_owner "$pg_bin/pg_ctl" -D "$1/data" -l "$1/server.log" -w -t 60 start >/dev/null ||
        { cat "$1/server.log" >&2; return 1; }
}

stop_cluster() {
    if [ -f "$1/data/postmaster.pid" ]; then
        as_owner "$pg_bin/pg_ctl" -D "$1/data" -m fast -w -t 60 stop >/dev/null
    fi
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("'$loopback'", 0)); print(s.getsockname()[1])'
}

# A CA of its own, and a certificate for localhost and 127.0.0.1 that it signed.
make_certificates() {
    local tls=$1
    mkdir -p "$tls"
    (
        cd "$tls"
        openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
            -subj "/CN=ZOLVEX test CA" -keyout ca.key -out ca.crt
        openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
            -subj "/CN=localhost" -keyout server.key -out server.csr
        printf 'subjectAltName = DNS:localhost, IP:%s\n' "$loopback" >server.ext
        openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
            -extfile server.ext -out server.crt
    ) >"$tls/openssl.log" 2>&1 || { cat "$tls/openssl.log" >&2; return 1; }
    chmod 600 "$tls/server.key" "$tls/ca.key"
    if [ "$(id -u)" -eq 0 ]; then
        chown -R postgres:postgres "$tls"
    fi
}

# tcp: "" (the socket only), "tls" or "plain". The port goes to <folder>/port.
init_cluster() {
    local dir=$1 tcp=${2:-} port=5432
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres:postgres "$dir"
    fi
    chmod 700 "$dir"
    as_owner "$pg_bin/initdb" -D "$dir/data" -U "$superuser" -A trust -E UTF8 --locale=C \
        --no-sync >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; return 1; }
    # Durability does not matter for a server that lives minutes.
    cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
    cat >"$dir/data/pg_hba.conf" <<EOF
local all $password_role scram-sha-256
local all all trust
EOF
    # Over TCP the loopback only, and only the role that gives its password.
    if [ -n "$tcp" ]; then
        port=$(free_port)
        cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = '$loopback'
port = $port
EOF
    fi
    if [ "$tcp" = tls ]; then
        make_certificates "$dir/tls"
        cat >>"$dir/data/postgresql.conf" <<EOF
ssl = on
ssl_cert_file = '$dir/tls/server.crt'
ssl_key_file = '$dir/tls/server.key'
EOF
        echo "hostssl all $password_role $loopback/32 scram-sha-256" >>"$dir/data/pg_hba.conf"
    elif [ "$tcp" = plain ]; then
        echo "host all $password_role $loopback/32 scram-sha-256" >>"$dir/data/pg_hba.conf"
    fi
    echo "$port" >"$dir/port"
    start_cluster "$dir"
    as_owner "$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U "$superuser" \
        -d postgres <<EOF
CREATE ROLE $password_role LOGIN CREATEDB PASSWORD '$password';
CREATE DATABASE $database OWNER $password_role;
EOF
}

trust_location() {
    printf 'postgresql://%s@/%s?host=%s&port=%s' "$(urlencode "$superuser")" "$database" \
        "$(urlencode "$1")" "$(cat "$1/port")"
}

password_location() {
    printf 'postgresql://%s:%s@/%s?host=%s&port=%s' "$password_role" "$(urlencode "$password")" \
        "$database" "$(urlencode "$1")" "$(cat "$1/port")"
}

# The password role over TCP; with TLS, naming the CA that signed the server's
# certificate.
tcp_location() {
    printf 'postgresql://%s:%s@localhost:%s/%s' "$password_role" "$(urlencode "$password")" \
        "$(cat "$1/port")" "$database"
    if [ -f "$1/tls/ca.crt" ]; then
        printf '?sslrootcert=%s' "$(urlencode "$1/tls/ca.crt")"
    fi
}

new_folder() {
    # Under /tmp: the postgres user must reach it, and a socket path is short.
    mktemp -d /tmp/zolvex-pg.XXXXXX
}

case "${1:-}" in
--init)
    dir="$(new_folder)"
    tcp=""
    if [ "${2:-}" = --tcp ]; then
        tcp=plain
    fi
    init_cluster "$dir" "$tcp" || { rm -rf "$dir"; exit 1; }
    printf '%s\n%s\n' "$dir" "$(trust_location "$dir")"
    if [ -n "$tcp" ]; then
        printf '%s\n' "$(tcp_location "$dir")"
    fi
    exit 0
    ;;
--stop)
    stop_cluster "$2"
    exit 0
    ;;
--start)
    start_cluster "$2"
    exit 0
    ;;
--remove)
    case "$2" in /tmp/zolvex-pg.*) ;; *) echo "not a server folder: $2" >&2; exit 1 ;; esac
    stop_cluster "$2" || true
    rm -rf "$2"
    exit 0
    ;;
"")
    echo "usage: $0 <command...>" >&2
    exit 2
    ;;
esac

dir="$(new_folder)"
cleanup() {
    stop_cluster "$dir" || true
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

init_cluster "$dir" tls
export ZOLVEX_TEST_POSTGRES="$(trust_location "$dir")"
export ZOLVEX_TEST_POSTGRES_PASSWORD="$(password_location "$dir")"
export ZOLVEX_TEST_POSTGRES_TLS="$(tcp_location "$dir")"
export ZOLVEX_TEST_POSTGRES_SCRIPT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")"
export ZOLVEX_REQUIRE_POSTGRES=1
status=0
"$@" || status=$?
exit "$status"
