#!/usr/bin/env python3
"""One client cannot lock the scorers out: connections held open from 127.0.0.2, idle or with a
header that never ends, while a scorer on 127.0.0.1 throws darts with its token, each on a new
connection. Prints the scorer's dart latency with and without them. Every step is bounded.

Usage: lockout_test.py PATH_TO_GAME_501_SERVER [--held N] [--darts N]
"""
import argparse
import functools
import os
import resource
import select
import socket
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import HOST, STEP_S, Server, check, run_all  # noqa: E402

ATTACKER = "127.0.0.2"
MAX_CONNECTIONS = 2048
PER_ADDRESS = 64
# A header that never ends: its last field waits for the rest of its value.
ENDLESS_HEADER = b"GET /api/boards HTTP/1.1\r\nHost: x\r\nX-Wait: "


def hold(server, count):
    """Returns `count` sockets connected from ATTACKER, every other one in an endless header."""
    held = []
    for i in range(count):
        held.append(socket.create_connection((HOST, server.port), timeout=STEP_S,
                                             source_address=(ATTACKER, 0)))
        if i % 2:
            held[-1].sendall(ENDLESS_HEADER)
    return held


def untouched(held):
    """Returns how many of `held` the server has neither answered nor closed."""
    poller = select.poll()
    for sock in held:
        poller.register(sock, select.POLLIN)
    return len(held) - len(poller.poll(0))


def settle(held, most):
    """Waits until the server holds at most `most` of `held`, and returns how many it holds."""
    deadline = time.monotonic() + STEP_S
    while (count := untouched(held)) > most and time.monotonic() < deadline:
        time.sleep(0.05)
    return count


def throw_darts(server, count):
    """Throws `count` singles on board 1 from 127.0.0.1 with its token, a new connection each,
    clearing after every third; returns each dart's latency in milliseconds."""
    check.assertTrue(server.write(1, "start", {"players": ["Ymma", "Sjörk"]})["accepted"])
    latencies = []
    for i in range(count):
        started = time.perf_counter()
        status, _, answer = server.post(1, "darts", {"notation": "S1"})
        latencies.append((time.perf_counter() - started) * 1000)
        check.assertEqual((status, answer.get("accepted")), (200, True), f"dart {i}: {answer}")
        if i % 3 == 2:
            check.assertTrue(server.write(1, "clear")["accepted"])
    return latencies


def figure(name, latencies):
    p99 = statistics.quantiles(latencies, n=100)[98] if len(latencies) > 1 else latencies[0]
    print(f"  {name}: p50 {statistics.median(latencies):.2f} ms, p99 {p99:.2f} ms, "
          f"{len(latencies)} darts")


def test_a_header_has_less_time_than_an_idle_connection(path):
    server = Server(path)
    try:
        keep_alive = server.connect()
        keep_alive.sendall(b"GET /api/rules HTTP/1.1\r\nHost: x\r\n\r\n")
        check.assertTrue(keep_alive.recv(65536).startswith(b"HTTP/1.1 200"))
        # Closed without an answer once its header is overdue ...
        with server.connect() as slow:
            slow.sendall(ENDLESS_HEADER)
            check.assertEqual(slow.recv(4096), b"")
        # ... while the connection idle for as long is still served.
        keep_alive.sendall(b"GET /api/rules HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        check.assertTrue(keep_alive.recv(65536).startswith(b"HTTP/1.1 200"))
        keep_alive.close()
    finally:
        server.stop()


def test_held_connections_never_lock_the_scorer_out(path, held_count, darts):
    """With the bound of an address, and with it lifted so that the one address takes every
    place: the scorer's connections take the places of those that waited longest."""
    for extra, most, name in [((), PER_ADDRESS, f"default bound of {PER_ADDRESS}"),
                              (("--connections-per-address", str(MAX_CONNECTIONS)), MAX_CONNECTIONS,
                               "bound lifted, every place taken")]:
        server = Server(path, extra=extra)
        held = []
        try:
            if not extra:
                figure("no connections held", throw_darts(server, darts))
            held = hold(server, held_count)
            check.assertLessEqual(settle(held, most), most, name)
            figure(f"{held_count} connections held from {ATTACKER}, {name}", throw_darts(server, darts))
            # A viewer still gets the board's events.
            server.events(1).close()
        finally:
            for sock in held:
                sock.close()
            server.stop()


def test_an_address_at_its_bound_is_refused_only_when_none_of_its_own_waits(path):
    server = Server(path)
    streams = []
    try:
        request = b"GET /api/boards/1/events HTTP/1.1\r\nHost: x\r\n\r\n"
        for _ in range(PER_ADDRESS):
            streams.append(socket.create_connection((HOST, server.port), timeout=STEP_S,
                                                    source_address=(ATTACKER, 0)))
            streams[-1].sendall(request)
            check.assertTrue(streams[-1].recv(4096).startswith(b"HTTP/1.1 200"))
        with socket.create_connection((HOST, server.port), timeout=STEP_S,
                                      source_address=(ATTACKER, 0)) as one_more:
            answer = one_more.recv(4096)
        check.assertTrue(answer.startswith(b"HTTP/1.1 503"), answer)
        check.assertIn(b'"code":"too_many_connections"', answer)
        check.assertEqual(server.request("GET", "/api/boards")[0], 200)
    finally:
        for stream in streams:
            stream.close()
        server.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("server")
    parser.add_argument("--held", type=int, default=2200, help="connections held from one address")
    parser.add_argument("--darts", type=int, default=30, help="darts thrown in each phase")
    args = parser.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard < args.held + 256:
        print(f"skipped: this machine allows {hard} open files")
        return
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    partial = functools.partial
    run_all([
        partial(test_a_header_has_less_time_than_an_idle_connection, args.server),
        partial(test_held_connections_never_lock_the_scorer_out, args.server, args.held, args.darts),
        partial(test_an_address_at_its_bound_is_refused_only_when_none_of_its_own_waits, args.server),
    ])


if __name__ == "__main__":
    main()
