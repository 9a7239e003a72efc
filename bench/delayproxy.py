#!/usr/bin/env python3
"""A distant server, made on this machine: listens on 127.0.0.1 and forwards
each connection to a port on 127.0.0.1, every chunk in each direction held
back a fixed delay (latency, not a bandwidth limit: chunks keep their order and
overlap in flight). It ends by itself after a set time, connections and all.

    delayproxy.py <target port> <delay ms> <lifetime s>

Prints "port=<listening port>" once it listens. Loopback only: the target
host is not an argument.
"""

import asyncio
import sys

LOOPBACK = "127.0.0.1"
CHUNK = 65536
MOST_DELAY_MS = 1000
MOST_LIFETIME_S = 3600


async def pump(reader, writer, delay_s):
    """Copies reader to writer, each chunk sent delay_s after it came."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(CHUNK)
            await queue.put((loop.time() + delay_s, data))
            if not data:
                return

    async def send():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    try:
        await asyncio.gather(receive(), send())
    except (ConnectionError, OSError):
        pass


async def connection(client_reader, client_writer, target_port, delay_s):
    try:
        server_reader, server_writer = await asyncio.open_connection(LOOPBACK, target_port)
    except OSError:
        client_writer.close()
        return
    try:
        await asyncio.gather(
            pump(client_reader, server_writer, delay_s),
            pump(server_reader, client_writer, delay_s),
        )
    except asyncio.CancelledError:
        pass  # the lifetime is over
    finally:
        server_writer.close()
        client_writer.close()


async def serve(target_port, delay_s, lifetime_s):
    server = await asyncio.start_server(
        lambda r, w: connection(r, w, target_port, delay_s), LOOPBACK, 0
    )
    print("port=%d" % server.sockets[0].getsockname()[1], flush=True)
    try:
        await asyncio.wait_for(server.serve_forever(), lifetime_s)
    except asyncio.TimeoutError:
        pass


def main(argv):
    try:
        target_port, delay_ms, lifetime_s = (int(a) for a in argv[1:4])
        if len(argv) != 4:
            raise ValueError
    except ValueError:
        sys.stderr.write("usage: delayproxy.py <target port> <delay ms> <lifetime s>\n")
        return 2
    if not (0 < target_port < 65536 and 0 <= delay_ms <= MOST_DELAY_MS
            and 0 < lifetime_s <= MOST_LIFETIME_S):
        sys.stderr.write("delayproxy.py: port 1-65535, delay 0-%d ms, lifetime 1-%d s\n"
                         % (MOST_DELAY_MS, MOST_LIFETIME_S))
        return 2
    asyncio.run(serve(target_port, delay_ms / 1000.0, lifetime_s))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
