#!/usr/bin/env python3
"""Logons against a large account file: what a logon costs and what other clients wait.

  bench/accounts.py SERVER [--accounts N] [--tries N]

Writes a users.txt of N accounts (password "ab") into a fresh directory, starts the server
headless with validation on, and times from a logon packet sent to the first byte of the answer:
the first logon after start, logons of existing accounts, wrong passwords (each from its own
loopback address, so that the guess throttle does not answer for the file) and new accounts
(appended to the file). Meanwhile one watcher sends a chat line every 10 ms and another one times
its arrival: the longest wait is what the account work cost everybody else.
"""
import argparse
import os
import shutil
import socket
import statistics
import subprocess
import tempfile
import threading
import time


def frame(packet_id, *fields):
    payload = b"\0".join(f.encode() for f in fields)
    return bytes([packet_id]) + str(len(payload)).encode() + b"\0" + payload


def connect(port, source="127.0.0.1"):
    s = socket.socket()
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def logon_ms(port, name, password, source="127.0.0.1"):
    s = connect(port, source)
    start = time.perf_counter()
    s.sendall(frame(1, name, password, "1"))
    s.recv(256)
    took = (time.perf_counter() - start) * 1000
    s.close()
    return took


def watch(port, stop, waits):
    sender, receiver = connect(port), connect(port)
    sender.sendall(frame(1, "watchsend", "ab", "1"))
    receiver.sendall(frame(1, "watchrecv", "ab", "1"))
    time.sleep(0.5)
    receiver.setblocking(False)
    seen, number = b"", 0
    while not stop.is_set():
        mark = "mark%d." % number
        sender.sendall(frame(2, "watchsend", mark))
        start = time.perf_counter()
        while mark.encode() not in seen:
            try:
                seen = (seen + receiver.recv(65536))[-4096:]
            except BlockingIOError:
                time.sleep(0.0002)
        waits.append((time.perf_counter() - start) * 1000)
        number += 1
        time.sleep(0.01)


def main():
    options = argparse.ArgumentParser()
    options.add_argument("server")
    options.add_argument("--accounts", type=int, default=1_000_000)
    options.add_argument("--tries", type=int, default=60)
    args = options.parse_args()
    directory = tempfile.mkdtemp(prefix="murmur-accounts.")
    port = 27811
    with open(os.path.join(directory, "MMConf.ini"), "w", newline="") as f:
        f.write("[Server]\r\nPort=%d\r\n[Settings]\r\nAuthentication=Y\r\n"
                "[Spam Control]\r\nEnabled=N\r\n[Load Control]\r\nEnabled=N\r\n" % port)
    # "d\" is what the server stores for the password "ab".
    with open(os.path.join(directory, "users.txt"), "w", newline="") as f:
        f.write("".join("user%d:d\\\r\n" % i for i in range(args.accounts)))
        f.write("watchsend:d\\\r\nwatchrecv:d\\\r\n")
    old = time.time() - 10
    os.utime(os.path.join(directory, "users.txt"), (old, old))
    # On disk already, as a file of a running service would be: the first new account's fsync
    # would otherwise write out the whole file.
    os.sync()
    server = subprocess.Popen([args.server, "--headless", "--dir", directory, "--color", "never",
                               "--max-per-address", "0"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
    try:
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", port)).close()
                break
            except OSError:
                time.sleep(0.05)
        # The port takes connections before start-up has read the files; the first logon is timed
        # once it has.
        time.sleep(1)
        print("%d accounts" % args.accounts)
        print("first logon after start-up: %.2f ms" % logon_ms(port, "user5", "ab"))
        stop, waits = threading.Event(), []
        watcher = threading.Thread(target=watch, args=(port, stop, waits))
        watcher.start()
        time.sleep(1)
        step = max(1, args.accounts // args.tries)
        cases = [
            ("existing account", lambda i: logon_ms(port, "user%d" % (i * step), "ab")),
            ("wrong password", lambda i: logon_ms(port, "user%d" % (i * step), "zz", "127.0.%d.%d" % (1 + i // 250, 2 + i % 250))),
            ("new account", lambda i: logon_ms(port, "fresh%d" % i, "ab")),
        ]
        for label, case in cases:
            times = [case(i) for i in range(args.tries)]
            print("%s: median %.2f ms, max %.2f ms" % (label, statistics.median(times), max(times)))
        stop.set()
        watcher.join()
        print("another client's chat line meanwhile: median %.2f ms, max %.2f ms (%d lines)"
              % (statistics.median(waits), max(waits), len(waits)))
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
