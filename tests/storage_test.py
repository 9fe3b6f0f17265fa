#!/usr/bin/env python3
"""Tests what the server answers when its storage fails or changes behind its back: a commit's
fsync or log write failing with EIO (a shim preloaded into the server fails them on command),
across a restart and with keyed retries, and what the operator is told; the database
overwritten or truncated while the server runs; a database missing beside its log. Every server
listens on loopback; every step is bounded.

Usage: storage_test.py PATH_TO_GAME_501_SERVER PATH_TO_SHIM [--sanitized]
"""
import contextlib
import functools
import json
import os
import sqlite3
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import STEP_S, Server, check, run_all  # noqa: E402

SANITIZED = "--sanitized" in sys.argv


def dart(server, notation, key):
    return server.post(1, "darts", {"notation": notation}, server.auth(1) | {"Idempotency-Key": key})


def until_answered(send):
    """Returns the first answer of send() that is not 503 storage_unavailable, within STEP_S."""
    deadline = time.monotonic() + STEP_S
    while True:
        answer = send()
        if answer.status != 503 or answer.body["error"]["code"] != "storage_unavailable":
            return answer
        check.assertLess(time.monotonic(), deadline, "writes were refused for too long")
        time.sleep(0.1)


def errors(server):
    """Returns what the server has written to standard error so far, leaving the file's offset."""
    return os.pread(server.error_file.fileno(), 1 << 20, 0).decode()


def journal(data):
    with sqlite3.connect(data) as database:
        return database.execute("SELECT event_id, operation, arguments FROM journal ORDER BY event_id").fetchall()


def command(directory, faults, on):
    """Commands the shim's `faults` (names separated by spaces) in `directory`, or ends them."""
    for name in faults.split():
        if on:
            open(f"{directory}/{name}", "w").close()
        else:
            os.remove(f"{directory}/{name}")


def test_a_failed_commit_is_answered_unknown_and_a_keyed_retry_counts_once(path, shim):
    rows = [  # the faults, whether the server is killed while they last, whether the file kept the row,
        # why the file cannot be opened again while they last (after its name), told once
        ("sync", True, True, None),
        ("sync", False, True, "-wal: Input/output error"),
        ("sync open-wal", False, True, "-wal: Input/output error"),
        ("sync open-shm", False, True, "-shm kan inte skrivas: Input/output error"),
        ("write", False, False, None),
    ]
    for fault, killed, kept, told in rows:
        with tempfile.TemporaryDirectory() as faults:
            os.environ.update(LD_PRELOAD=shim, GAME501_FAULTS=faults)
            server = None
            try:
                server = Server(path)
                check.assertEqual(server.post(1, "start", {"players": ["Ymma", "Sjörk"]}).status, 200)
                check.assertEqual(dart(server, "T20", "k-1").status, 200)
                command(faults, fault, True)
                failed = dart(server, "T19", "k-2")
                if SANITIZED and failed.status == 200:
                    print(f"{fault}: skipped, the sanitized server does not take the preloaded shim")
                    return
                check.assertEqual((failed.status, failed.body["error"]["code"]), (503, "outcome_unknown"), fault)
                check.assertIn("samma Idempotency-Key", failed.body["error"]["message"])
                check.assertEqual(failed.headers["Retry-After"], "1")
                if told:
                    told = f"game-501-server: journalen kan inte öppnas igen ({server.data}{told});"
                    deadline = time.monotonic() + STEP_S
                    while told not in errors(server):
                        check.assertLess(time.monotonic(), deadline, f"never told: {told}")
                        time.sleep(0.1)
                    time.sleep(1.5)  # the server tries again every half second
                    check.assertEqual(errors(server).count("kan inte öppnas igen"), 1)
                if killed:
                    server.kill()
                    command(faults, fault, False)
                    server = server.again()
                else:
                    command(faults, fault, False)
                    if kept:  # opened again, the server shows what the file holds
                        until_answered(lambda: dart(server, "T20", "k-1"))
                        check.assertEqual(server.exchange("GET", "/api/boards/1").headers["ETag"], '"3"')
                retried = until_answered(lambda: dart(server, "T19", "k-2"))
                again = dart(server, "T19", "k-2")
                check.assertEqual((retried.status, retried.headers["Event-Id"]), (200, "3"), (fault, killed))
                check.assertEqual((again.status, again.body, again.headers["Event-Id"]),
                                  (200, retried.body, "3"))
                check.assertEqual(dart(server, "S1", "k-3").headers["Event-Id"], "4")
                server.kill()
                server = server.again()
                check.assertEqual(dart(server, "T19", "k-2").body, retried.body)
                check.assertEqual(server.stop(), 0)
                check.assertEqual([(event_id, operation, json.loads(arguments).get("notation"))
                                   for event_id, operation, arguments in journal(server.data)],
                                  [(1, "start", None), (2, "dart", "T20"), (3, "dart", "T19"),
                                   (4, "dart", "S1")], (fault, killed))
            except RuntimeError:
                if not SANITIZED:
                    raise
                print(f"{fault}: skipped, the sanitized server does not start with the preloaded shim")
                return
            finally:
                del os.environ["LD_PRELOAD"], os.environ["GAME501_FAULTS"]
                if server is not None:
                    server.kill()


@contextlib.contextmanager
def shimmed(path, shim, extra=()):
    """Yields a server that takes the shim's faults, and the directory that commands them."""
    with tempfile.TemporaryDirectory() as faults:
        os.environ.update(LD_PRELOAD=shim, GAME501_FAULTS=faults)
        server = None
        try:
            server = Server(path, extra=extra)
            yield server, faults
        finally:
            del os.environ["LD_PRELOAD"], os.environ["GAME501_FAULTS"]
            if server is not None:
                server.kill()


def test_a_computer_goes_on_from_the_move_a_failed_commit_kept(path, shim):
    if SANITIZED:
        print("computer: skipped, the sanitized server does not take the preloaded shim")
        return
    with shimmed(path, shim, ("--computer-pause", "500")) as (server, faults):
        start = {"players": ["Ymma", {"computer": "strong"}], "seed": 5}
        check.assertTrue(server.post(1, "start", start).body["accepted"])
        for notation in ["T20", "T20", "T20"]:
            server.post(1, "darts", {"notation": notation})
        server.post(1, "clear")
        command(faults, "sync", True)  # the computer's first dart fails, kept in the file
        deadline = time.monotonic() + STEP_S
        while "kan inte öppnas igen" not in errors(server):
            check.assertLess(time.monotonic(), deadline, "the reopen never failed")
            time.sleep(0.1)
        command(faults, "sync", False)
        # Opened again, the computer throws the rest of its visit, each dart once, and clears.
        while True:
            game = server.get("/api/boards/1")
            if game["active_player"] == 0 and not game["awaiting_clear"]:
                break
            check.assertLess(time.monotonic(), deadline + STEP_S, "the computer stopped")
            time.sleep(0.1)
        check.assertEqual([d["source"] for d in game["history"][0]["darts"]], ["dator"] * 3)
        check.assertEqual(server.stop(), 0)


def test_a_player_whose_failed_commit_was_kept_is_a_member_once_the_file_is_open_again(path, shim):
    if SANITIZED:
        print("player: skipped, the sanitized server does not take the preloaded shim")
        return
    with shimmed(path, shim) as (server, faults):
        command(faults, "sync", True)
        check.assertEqual(server.correct("/api/players", {"name": "Kim"}).body["error"]["code"], "outcome_unknown")
        command(faults, "sync", False)
        # A start names a member as the register spells the name.
        until_answered(lambda: server.post(1, "start", {"players": ["kim"]}))
        check.assertEqual(server.get("/api/boards/1")["players"][0]["name"], "Kim")
        check.assertEqual(server.stop(), 0)


def test_a_database_changed_behind_the_servers_back_takes_no_write(path):
    def overwrite(data):
        other = data + ".other"
        with sqlite3.connect(other) as database:
            database.execute("CREATE TABLE t (x)")
        with open(other, "rb") as source, open(data, "r+b") as target:
            target.write(source.read())
            target.truncate()

    rows = [("overwritten", overwrite), ("truncated", lambda data: os.truncate(data, 0))]
    for name, change in rows:
        server = Server(path)
        try:
            server.write(1, "start", {"players": ["Zef"]})
            server.throw(1, "T20")
            board = lambda: (lambda answer: (answer.body, answer.headers["ETag"]))(  # noqa: E731
                server.exchange("GET", "/api/boards/1"))
            before = board()
            change(server.data)
            with open(server.data, "rb") as changed:
                left = changed.read()
            refused = dart(server, "T19", "k-1")
            check.assertEqual((refused.status, refused.body["error"]["code"]), (503, "storage_unavailable"), name)
            check.assertEqual(board(), before, name)
            check.assertEqual(server.stop(), 0)
            # The server wrote nothing into the changed file and left its log, which holds the
            # acknowledged rows.
            with open(server.data, "rb") as changed:
                check.assertEqual(changed.read(), left, name)
            check.assertGreater(os.path.getsize(server.data + "-wal"), 0, name)
        finally:
            server.kill()


def test_a_database_missing_beside_its_log_is_refused(path):
    server = Server(path)
    try:
        server.write(1, "start", {"players": ["Zef"]})
        server.kill()  # leaves the log and its index
        data = server.data
        os.remove(data)
        rows = [  # the files left beside the missing database
            ([data + "-wal", data + "-shm"], f"{data}-wal och {data}-shm finns kvar"),
            ([data + "-shm"], f"{data}-shm finns kvar"),
        ]
        for left, message in rows:
            for name in {data + "-wal", data + "-shm"} - set(left):
                if os.path.exists(name):
                    os.remove(name)
            done = subprocess.run([path, "--listen", "127.0.0.1:0", "--data", data],
                                  capture_output=True, text=True, timeout=STEP_S)
            check.assertEqual(done.returncode, 2, left)
            check.assertIn(f"{data} saknas, men {message}", done.stderr)
            check.assertIn("flytta först undan", done.stderr)
            check.assertFalse(os.path.exists(data), "a new database was made")
        os.remove(data + "-shm")
        server = server.again()
        check.assertIn(f"Skapade en ny databas: {data}", server.banner)
        check.assertEqual(server.stop(), 0)
        server = server.again()
        check.assertNotIn("Skapade", server.banner)
        check.assertEqual(server.stop(), 0)
    finally:
        server.kill()


def main():
    path, shim = sys.argv[1], sys.argv[2]
    run_all([functools.partial(test_a_failed_commit_is_answered_unknown_and_a_keyed_retry_counts_once, path, shim),
             functools.partial(test_a_computer_goes_on_from_the_move_a_failed_commit_kept, path, shim),
             functools.partial(test_a_player_whose_failed_commit_was_kept_is_a_member_once_the_file_is_open_again,
                               path, shim),
             functools.partial(test_a_database_changed_behind_the_servers_back_takes_no_write, path),
             functools.partial(test_a_database_missing_beside_its_log_is_refused, path)])


if __name__ == "__main__":
    main()
