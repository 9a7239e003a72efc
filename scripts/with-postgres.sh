#!/usr/bin/env bash
# Runs a command beside a throwaway PostgreSQL 15 server (Debian's postgresql
# package), reachable only through a socket in a temporary folder, then stops
# the server and removes the folder whatever the command did:
#
#   bash scripts/with-postgres.sh ctest -R tst_history
#
# The command sees
#   ZOLVEX_TEST_POSTGRES           postgresql://<superuser>@/zolvex_test?host=<socket folder>
#                                  (trust authentication, may create databases)
#   ZOLVEX_TEST_POSTGRES_PASSWORD  the same database as a role that must give its password
#   ZOLVEX_TEST_POSTGRES_SCRIPT    this script, for tests that need a server of their own
#   ZOLVEX_REQUIRE_POSTGRES=1      so the PostgreSQL tests fail rather than skip without it
#
# A test that stops and starts a server uses one of its own:
#   with-postgres.sh --init            makes and starts one; prints its folder and location
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

init_cluster() {
    local dir=$1
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres:postgres "$dir"
    fi
    chmod 700 "$dir"
    as_owner "$pg_bin/initdb" -D "$dir/data" -U "$superuser" -A trust -E UTF8 --locale=C \
        --no-sync >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; return 1; }
    # No TCP at all; durability does not matter for a server that lives
    # minutes.
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
    start_cluster "$dir"
    as_owner "$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -U "$superuser" -d postgres <<EOF
CREATE ROLE $password_role LOGIN CREATEDB PASSWORD '$password';
CREATE DATABASE $database OWNER $password_role;
EOF
}

trust_location() {
    printf 'postgresql://%s@/%s?host=%s' "$(urlencode "$superuser")" "$database" \
        "$(urlencode "$1")"
}

password_location() {
    printf 'postgresql://%s:%s@/%s?host=%s' "$password_role" "$(urlencode "$password")" \
        "$database" "$(urlencode "$1")"
}

new_folder() {
    # Under /tmp: the postgres user must reach it, and a socket path is short.
    mktemp -d /tmp/zolvex-pg.XXXXXX
}

case "${1:-}" in
--init)
    dir="$(new_folder)"
    init_cluster "$dir" || { rm -rf "$dir"; exit 1; }
    printf '%s\n%s\n' "$dir" "$(trust_location "$dir")"
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

init_cluster "$dir"
export ZOLVEX_TEST_POSTGRES="$(trust_location "$dir")"
export ZOLVEX_TEST_POSTGRES_PASSWORD="$(password_location "$dir")"
export ZOLVEX_TEST_POSTGRES_SCRIPT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")"
export ZOLVEX_REQUIRE_POSTGRES=1
status=0
"$@" || status=$?
exit "$status"
