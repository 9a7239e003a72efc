#!/usr/bin/env python3
"""The benchmark's delaying proxy: bytes pass intact both ways, each way is
held back by the delay (latency, chunks overlapping in flight), it ends by
itself, and it refuses arguments out of range."""

import os
import socket
import subprocess
import sys
import threading
import time
import unittest

PROXY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "delayproxy.py")
LOOPBACK = "127.0.0.1"
DELAY_MS = 40
LIFETIME_S = 3
# Scheduling on a loaded machine: how late a delayed chunk may arrive.
SLACK_S = 0.5


class EchoServer:
    """Echoes every byte on each connection, until closed."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind((LOOPBACK, 0))
        self.sock.listen()
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self._echo, args=(conn,), daemon=True).start()

    @staticmethod
    def _echo(conn):
        with conn:
            while True:
                data = conn.recv(65536)
                if not data:
                    return
                conn.sendall(data)


def receive(sock, size):
    data = b""
    while len(data) < size:
        chunk = sock.recv(size - len(data))
        if not chunk:
            break
        data += chunk
    return data


class DelayProxyTest(unittest.TestCase):
    def setUp(self):
        self.echo = EchoServer()
        self.proxy = subprocess.Popen(
            [sys.executable, PROXY, str(self.echo.port), str(DELAY_MS), str(LIFETIME_S)],
            stdout=subprocess.PIPE, text=True)
        line = self.proxy.stdout.readline()
        self.assertTrue(line.startswith("port="), line)
        self.port = int(line[len("port="):])

    def tearDown(self):
        if self.proxy.poll() is None:
            self.proxy.kill()
        self.proxy.wait()
        self.proxy.stdout.close()
        self.echo.sock.close()

    def connect(self):
        return socket.create_connection((LOOPBACK, self.port), timeout=LIFETIME_S)

    def test_bytes_pass_intact_both_ways(self):
        payload = bytes(range(256)) * 4096  # 1 MB, every byte value
        with self.connect() as sock:
            sender = threading.Thread(target=sock.sendall, args=(payload,))
            sender.start()
            echoed = receive(sock, len(payload))
            sender.join()
        self.assertEqual(echoed, payload)

    def test_each_way_is_delayed(self):
        with self.connect() as sock:
            for _ in range(3):
                start = time.monotonic()
                sock.sendall(b"ping")
                self.assertEqual(receive(sock, 4), b"ping")
                elapsed = time.monotonic() - start
                self.assertGreaterEqual(elapsed, 2 * DELAY_MS / 1000)
                self.assertLess(elapsed, 2 * DELAY_MS / 1000 + SLACK_S)

    def test_chunks_overlap_in_flight(self):
        # Messages sent 5 ms apart come back about one round trip after the
        # last was sent, not a delay per message: latency, not a wait each.
        messages = [b"%d;" % n for n in range(30)]
        with self.connect() as sock:
            start = time.monotonic()
            for message in messages:
                sock.sendall(message)
                time.sleep(0.005)
            sent = time.monotonic() - start
            echoed = receive(sock, len(b"".join(messages)))
            elapsed = time.monotonic() - start
        self.assertEqual(echoed, b"".join(messages))
        self.assertLess(elapsed, sent + 2 * DELAY_MS / 1000 + SLACK_S)

    def test_ends_by_itself_with_a_connection_open(self):
        with self.connect() as sock:
            sock.sendall(b"x")
            self.assertEqual(self.proxy.wait(timeout=LIFETIME_S + 2), 0)
            self.assertEqual(sock.recv(16), b"x")
            self.assertEqual(sock.recv(16), b"")  # closed by the proxy


class DelayProxyArgumentsTest(unittest.TestCase):
    def test_refused(self):
        for args in (["5432", "20"], ["0", "20", "10"], ["65536", "20", "10"],
                     ["5432", "-1", "10"], ["5432", "1001", "10"], ["5432", "20", "0"],
                     ["5432", "20", "3601"], ["5432", "x", "10"], ["5432", "20", "10", "1"]):
            with self.subTest(args=args):
                done = subprocess.run([sys.executable, PROXY] + args, capture_output=True,
                                      timeout=10)
                self.assertEqual(done.returncode, 2)
                self.assertEqual(done.stdout, b"")  # never listened
                self.assertIn(b"delayproxy.py", done.stderr)


if __name__ == "__main__":
    unittest.main()
