#!/usr/bin/env python3
"""Tests the server's journal: restarts, crashes, retries, conditional writes, storage faults
and bad database files. Every server listens on loopback; every step is bounded in time.

Usage: journal_test.py PATH_TO_GAME_501_SERVER
"""
import csv
import functools
import http.client
import io
import json
import os
import random
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import STEP_S, Server, check, exchange, run_all  # noqa: E402

GAME = [("start", {"players": ["Ymma", "Sjörk"]}),
        *[("darts", {"notation": n}) for n in ["T20", "T20", "T20"]], ("clear", None),
        *[("darts", {"notation": n}) for n in ["T19", "S7"]], ("undo", None),
        ("darts", {"notation": "T19"}), ("darts", {"notation": "T20"}), ("clear", None),
        ("darts", {"notation": "T20"}), ("darts", {"notation": "MISS"}), ("undo", None)]
CRASH_KILLS = 5
CRASH_SECONDS = 60


def write_bytes(server, board, action, body=None, headers=None):
    """Returns the Answer, with the body's bytes, to a write with the board's token and `headers`."""
    return server.exchange("POST", f"/api/boards/{board}/{action}", body, server.auth(board) | (headers or {}))


def write_once_writable(server, board, action, body, seconds=10):
    """Returns the status of a write once the server takes writes again: a write that arrives
    while a failed commit is handled is refused (503) too, and after a commit whose outcome it
    cannot know, every write is refused until its journal is open again."""
    deadline = time.monotonic() + seconds
    while True:
        status = write_bytes(server, board, action, body)[0]
        if status != 503 or time.monotonic() > deadline:
            return status
        time.sleep(0.05)


def read(server, target):
    """Returns the body bytes and the ETag of a GET."""
    _, headers, data = server.exchange("GET", target)
    return data, headers["ETag"]


def board_bytes(server, board):
    return read(server, f"/api/boards/{board}")


def test_restarts_rebuild_every_board_exactly(path):
    server = Server(path)
    try:
        # Board 2 plays a first-to-2 match into its second leg.
        visit = [("darts", {"notation": "T20"})] * 3 + [("clear", None)]
        match = ([("start", {"players": ["Ymma", "Sjörk"], "legs": 2})] + visit * 4 +
                 [("darts", {"notation": n}) for n in ["T20", "T19", "D12"]] + [("clear", None)] +
                 [("darts", {"notation": n}) for n in ["T20", "S5"]])
        for board, calls in [(1, GAME), (2, match)]:
            for action, body in calls:
                check.assertEqual(write_bytes(server, board, action, body)[0], 200)
        boards = ["/api/boards/1", "/api/boards/2", "/api/boards/2/match", "/api/boards"]
        before = [read(server, target) for target in boards]
        check.assertEqual(json.loads(before[2][0])["players"][0]["legs"], 1)
        check.assertEqual(server.stop(), 0)
        server = server.again()
        check.assertEqual([read(server, target) for target in boards], before)
        status, headers, body = write_bytes(server, 1, "undo")
        check.assertEqual(int(headers["Event-Id"]), int(before[0][1].strip('"')) + 1)
        check.assertTrue(json.loads(body)["accepted"])  # the undo stack came back too

        # Killed between any two writes, the board comes back as its last answer left it.
        server.kill()
        for action, body in GAME:
            server = server.again()
            status, _, answer = write_bytes(server, 1, action, body)
            check.assertEqual(status, 200)
            expected = json.dumps(json.loads(answer)["game"], ensure_ascii=False,
                                  separators=(",", ":")).encode()
            server.kill()
            server = server.again()
            check.assertEqual(board_bytes(server, 1)[0], expected, action)
            server.kill()
    finally:
        server.kill()


def test_retries_and_conditions(path):
    server = Server(path)
    try:
        first = write_bytes(server, 1, "start", {"players": ["Zef"]}, {"Idempotency-Key": "k-start"})
        again = write_bytes(server, 1, "start", {"players": ["Zef"]}, {"Idempotency-Key": "k-start"})
        check.assertEqual((first[0], first[2], first[1]["Event-Id"]),
                          (again[0], again[2], again[1]["Event-Id"]))
        dart = write_bytes(server, 1, "darts", {"notation": "T20"}, {"Idempotency-Key": "k-dart"})
        etag = dart[1]["ETag"]
        check.assertEqual(etag, f'"{dart[1]["Event-Id"]}"')
        rows = [  # headers, body, status, code
            ({"Idempotency-Key": "k-dart"}, {"notation": "T19"}, 422, "idempotency_key_reused"),
            ({"Idempotency-Key": ""}, {"notation": "T19"}, 400, "bad_idempotency_key"),
            ({"Idempotency-Key": "k" * 256}, {"notation": "T19"}, 400, "bad_idempotency_key"),
            ({"Idempotency-Key": "a b"}, {"notation": "T19"}, 400, "bad_idempotency_key"),
            ({"If-Match": '"1"'}, {"notation": "T19"}, 412, "precondition_failed"),
            ({"If-Match": f"W/{etag}"}, {"notation": "T19"}, 412, "precondition_failed"),
        ]
        for headers, body, status, code in rows:
            got = write_bytes(server, 1, "darts", body, headers)
            check.assertEqual((got[0], json.loads(got[2])["error"]["code"]), (status, code), headers)
            check.assertEqual(board_bytes(server, 1)[1], etag, headers)  # nothing changed
        check.assertEqual(write_bytes(server, 1, "darts", {"notation": "S1"}, {"If-Match": f'"0", {etag}'})[0], 200)
        check.assertEqual(write_bytes(server, 1, "darts", {"notation": "S1"}, {"If-Match": "*"})[0], 200)

        # After a restart the keys and the tags still hold.
        _, current = board_bytes(server, 1)
        check.assertEqual(server.stop(), 0)
        server = server.again()
        retried = write_bytes(server, 1, "darts", {"notation": "T20"}, {"Idempotency-Key": "k-dart"})
        check.assertEqual((retried[0], retried[2], retried[1]["Event-Id"]),
                          (dart[0], dart[2], dart[1]["Event-Id"]))
        check.assertEqual(board_bytes(server, 1)[1], current)
        check.assertEqual(write_bytes(server, 1, "darts", {"notation": "T19"},
                                {"Idempotency-Key": "k-start"})[0], 422)
        check.assertEqual(write_bytes(server, 1, "clear", None, {"If-Match": current})[0], 200)
        check.assertEqual(write_bytes(server, 1, "clear", None, {"If-Match": current})[0], 412)
        check.assertEqual(server.stop(), 0)
    finally:
        server.kill()


class Scorer(threading.Thread):
    """Plays S1 S1 S1 clear on one board with a fresh key per write, retrying what got no answer."""

    def __init__(self, board, port, writes, auth):
        super().__init__(daemon=True)
        self.board, self.port, self.writes, self.auth = board, port, writes, auth
        self.sent, self.event_ids, self.retries = [], [], 0

    def post(self, action, body, key):
        headers = self.auth | {"Idempotency-Key": key}
        deadline = time.monotonic() + CRASH_SECONDS
        while time.monotonic() < deadline:
            try:
                status, answer_headers, _ = exchange(self.port, "POST", f"/api/boards/{self.board}/{action}",
                                                     body, headers, timeout=5)
                if status == 200:
                    return int(answer_headers["Event-Id"])
            except (OSError, http.client.HTTPException):
                pass
            self.retries += 1
            time.sleep(0.02)
        raise TimeoutError("no answer")

    def run(self):
        calls = [("start", {"players": ["Ymma", "Sjörk"]})]
        while len(calls) < self.writes:
            calls += [("darts", {"notation": "S1"})] * 3 + [("clear", None)]
        for number, (action, body) in enumerate(calls[:self.writes]):
            self.event_ids.append(self.post(action, body, f"b{self.board}-{number}"))
            self.sent.append((action, body))


def test_crashes_under_load_lose_and_double_nothing(path):
    server = Server(path)
    scorers = [Scorer(board, server.port, 400, server.auth(board)) for board in (1, 2)]
    for scorer in scorers:
        scorer.start()
    kills = 0
    deadline = time.monotonic() + CRASH_SECONDS
    try:
        while kills < CRASH_KILLS and time.monotonic() < deadline:
            time.sleep(random.uniform(0.2, 0.6))
            server.kill()
            kills += 1
            server = server.again()
        for scorer in scorers:
            scorer.join(max(1, deadline - time.monotonic()))
            check.assertFalse(scorer.is_alive(), "a scorer did not finish")
        check.assertEqual(server.stop(), 0)
    finally:
        server.kill()
    with sqlite3.connect(server.data) as database:
        for scorer in scorers:
            rows = database.execute(
                "SELECT event_id, operation, arguments FROM journal WHERE board = ? ORDER BY event_id",
                (scorer.board,)).fetchall()
            journalled = [(operation, json.loads(arguments)) for _, operation, arguments in rows]
            journalled_as = {"start": lambda body: {"legs": 1, "sets": 1, **body},
                             "darts": lambda body: {"source": "api", **body}}
            expected = [("dart" if action == "darts" else action,
                         journalled_as.get(action, lambda body: {})(body))
                        for action, body in scorer.sent]
            check.assertEqual(journalled, expected)  # none lost, none twice, in order
            check.assertEqual(scorer.event_ids, [event_id for event_id, _, _ in rows])
    print(f"crash: {kills} kills, {sum(len(s.sent) for s in scorers)} acknowledged writes, "
          f"{sum(s.retries for s in scorers)} retries, 0 lost, 0 doubled")


def test_storage_faults_refuse_writes_and_change_nothing(path):
    if os.geteuid() != 0:
        print("storage faults: skipped, mounting a small file system needs root")
        return
    with tempfile.TemporaryDirectory() as mount:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", mount], check=True)
        server = None
        try:
            data = f"{mount}/game501.db"
            server = Server(path, data=data)
            check.assertEqual(write_bytes(server, 1, "start", {"players": ["Zef"]})[0], 200)
            # Full: a filler takes what is left, and a write is refused sooner or later.
            with open(f"{mount}/filler", "wb") as filler:
                try:
                    while True:
                        filler.write(b"\0" * 65536)
                        filler.flush()
                except OSError:
                    pass
            for _ in range(5000):
                before = board_bytes(server, 1)
                status, _, body = write_bytes(server, 1, "darts", {"notation": "S1"})
                if status != 200:
                    break
            check.assertEqual((status, json.loads(body)["error"]["code"]), (503, "storage_unavailable"))
            check.assertEqual(board_bytes(server, 1), before)
            # A player added while it is full is no member once the next write is in.
            check.assertEqual(server.correct("/api/players", {"name": "Kim"})[0], 503)
            os.remove(f"{mount}/filler")
            check.assertEqual(write_once_writable(server, 1, "darts", {"notation": "S1"}), 200)
            check.assertEqual(write_bytes(server, 1, "start", {"players": ["kim"]})[0], 200)
            check.assertEqual(server.get("/api/boards/1")["players"][0]["name"], "kim")

            # Read-only: refused until it is writable again.
            before = board_bytes(server, 1)
            os.chmod(data, 0o400)
            check.assertEqual(write_bytes(server, 1, "darts", {"notation": "S1"})[0], 503)
            check.assertEqual(board_bytes(server, 1), before)
            os.chmod(data, 0o600)
            check.assertEqual(write_once_writable(server, 1, "darts", {"notation": "S1"}), 200)
            after = board_bytes(server, 1)
            check.assertEqual(server.stop(), 0)
            server = server.again()
            check.assertEqual(board_bytes(server, 1), after)
            check.assertEqual(server.stop(), 0)
        finally:
            if server is not None:
                server.kill()
            subprocess.run(["umount", mount], check=False)


def test_figures_and_darts_survive_a_restart(path):
    labels = ["plain", "a,b", 'sa "hej"', "rad\nbrytning", "=1+1", "+SUM(A1)", "-2", "@x", "\tflik"]
    server = Server(path)
    try:
        write_bytes(server, 1, "start", {"players": ["Ymma", "=Sjörk"]})
        visits = [["T20", "T20", "T20"], ["S1", "S1", "S1"], ["T20", "T20", "T20"], ["T20", "S5", "T20"],
                  ["T20", "T19", "D12"]]
        thrown = []
        for visit in visits:
            for notation in visit:
                source = labels[len(thrown) % len(labels)]
                write_bytes(server, 1, "darts", {"notation": notation, "source": source})
                thrown.append((notation, source))
            write_bytes(server, 1, "clear")
        listed = json.loads(read(server, "/api/matches")[0])["matches"]
        check.assertEqual([(m["players"], m["status"]) for m in listed], [(["Ymma", "=Sjörk"], "finished")])
        targets = [f"/api/matches/{listed[0]['id']}", f"/api/matches/{listed[0]['id']}/darts.csv",
                   "/api/players/Ymma", "/api/players/%3DSj%C3%B6rk", "/api/players"]
        before = [read(server, target)[0] for target in targets]
        report = json.loads(before[0])
        live = json.loads(read(server, "/api/boards/1/match")[0])
        check.assertEqual([p["figures"] for p in report["players"]],
                          [p["figures"]["match"] for p in live["players"]])
        ymma = report["players"][0]["figures"]
        check.assertEqual((ymma["darts"], ymma["three_dart_average"], ymma["checkout_text"]), (9, 167.0, "1/1"))
        check.assertEqual(json.loads(before[2])["matches"][0]["result"], "won")
        check.assertEqual(json.loads(before[3])["matches"][0]["opponents"], ["Ymma"])

        rows = list(csv.reader(io.StringIO(before[1].decode("utf-8"), newline="")))
        check.assertEqual(rows[0], ["match", "set", "leg", "visit", "player", "dart", "notation", "points",
                                    "remaining", "bust", "source", "time"])
        guarded = lambda text: "'" + text if text[:1] in "=+-@\t\r" else text  # noqa: E731
        check.assertEqual([(row[6], row[10]) for row in rows[1:]],
                          [(notation, guarded(source)) for notation, source in thrown])
        check.assertEqual({row[4] for row in rows[1:]}, {"Ymma", "'=Sjörk"})
        check.assertEqual(rows[1][8], "501")

        check.assertEqual(server.stop(), 0)
        server = server.again()
        check.assertEqual([read(server, target)[0] for target in targets], before)
        check.assertEqual(server.stop(), 0)
    finally:
        server.kill()


def test_bad_database_files_exit_with_status_two(path):
    with tempfile.TemporaryDirectory() as directory:
        def other(name, *statements):
            database = sqlite3.connect(f"{directory}/{name}")
            for statement in statements:
                database.execute(statement)
            database.commit()
            database.close()
            return f"{directory}/{name}"

        with open(f"{directory}/text.db", "w") as text:
            text.write("inte en databas\n" * 100)
        real = f"{directory}/real.db"
        server = Server(path, data=real)
        for action, body in GAME:
            write_bytes(server, 1, action, body)
        check.assertEqual(server.stop(), 0)
        with open(real, "rb") as whole, open(f"{directory}/cut.db", "wb") as cut:
            cut.write(whole.read()[:4096 + 100])
        rows = [
            (f"{directory}/text.db", [], "är ingen SQLite-databas"),
            (other("other.db", "CREATE TABLE t (x)"), [], "är inte en databas för game-501-server"),
            (other("future.db", "PRAGMA application_id = 1194668081", "PRAGMA user_version = 99",
                   "CREATE TABLE t (x)"), [], "har schemaversion 99"),
            (f"{directory}/cut.db", [], "skadad"),
            (real, ["--boards", "1"], "har 2 tavlor; --boards kan inte ta bort tavlor"),
        ]
        for data, extra, message in rows:
            done = subprocess.run([path, "--listen", "127.0.0.1:0", "--data", data, *extra],
                                  capture_output=True, text=True, timeout=STEP_S)
            check.assertEqual(done.returncode, 2, data)
            check.assertIn(message, done.stderr, data)
        check.assertEqual(os.stat(real).st_mode & 0o777, 0o600)


def main():
    run_all([functools.partial(test, sys.argv[1]) for test in [
        test_restarts_rebuild_every_board_exactly, test_retries_and_conditions,
        test_crashes_under_load_lose_and_double_nothing,
        test_storage_faults_refuse_writes_and_change_nothing,
        test_figures_and_darts_survive_a_restart,
        test_bad_database_files_exit_with_status_two]])


if __name__ == "__main__":
    main()
