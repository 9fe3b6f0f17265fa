#!/usr/bin/env python3
"""Tests the server's journal: restarts, crashes, retries, conditional writes, storage faults
and bad database files. Every server listens on loopback; every step is bounded in time.

Usage: journal_test.py PATH_TO_GAME_501_SERVER
"""
import csv
import http.client
import io
import json
import os
import random
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from server_test import JSON, STEP_TIMEOUT, TOKENS, Server, check  # noqa: E402

GAME = [("start", {"players": ["Ymma", "Sjörk"]}),
        *[("darts", {"notation": n}) for n in ["T20", "T20", "T20"]], ("clear", None),
        *[("darts", {"notation": n}) for n in ["T19", "S7"]], ("undo", None),
        ("darts", {"notation": "T19"}), ("darts", {"notation": "T20"}), ("clear", None),
        ("darts", {"notation": "T20"}), ("darts", {"notation": "MISS"}), ("undo", None)]
CRASH_KILLS = 5
CRASH_SECONDS = 60


def free_port():
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


def start(path, data, port):
    return Server(path, data=data, listen=f"127.0.0.1:{port}")


def auth(board):
    return {"Authorization": "Bearer " + TOKENS[board - 1]}


def write(server, board, action, body=None, headers=None):
    """Returns (status, headers, body bytes) of one write."""
    merged = auth(board)
    merged.update(headers or {})
    if body is not None:
        merged.update(JSON)
        body = json.dumps(body)
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=STEP_TIMEOUT)
    try:
        connection.request("POST", f"/api/boards/{board}/{action}", body=body, headers=merged)
        response = connection.getresponse()
        return response.status, response.headers, response.read()
    finally:
        connection.close()


def read(server, target):
    """Returns the body bytes and the ETag of a GET."""
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=STEP_TIMEOUT)
    try:
        connection.request("GET", target)
        response = connection.getresponse()
        return response.read(), response.getheader("ETag")
    finally:
        connection.close()


def board_bytes(server, board):
    return read(server, f"/api/boards/{board}")


def test_restarts_rebuild_every_board_exactly(path):
    port = free_port()
    with tempfile.TemporaryDirectory() as directory:
        data = f"{directory}/game501.db"
        server = start(path, data, port)
        try:
            # Board 2 plays a first-to-2 match into its second leg.
            visit = [("darts", {"notation": "T20"})] * 3 + [("clear", None)]
            match = ([("start", {"players": ["Ymma", "Sjörk"], "legs": 2})] + visit * 4 +
                     [("darts", {"notation": n}) for n in ["T20", "T19", "D12"]] + [("clear", None)] +
                     [("darts", {"notation": n}) for n in ["T20", "S5"]])
            for board, calls in [(1, GAME), (2, match)]:
                for action, body in calls:
                    check.assertEqual(write(server, board, action, body)[0], 200)
            boards = ["/api/boards/1", "/api/boards/2", "/api/boards/2/match", "/api/boards"]
            before = [read(server, target) for target in boards]
            check.assertEqual(json.loads(before[2][0])["players"][0]["legs"], 1)
            check.assertEqual(server.stop(), 0)
            server = start(path, data, port)
            check.assertEqual([read(server, target) for target in boards], before)
            status, headers, body = write(server, 1, "undo")
            check.assertEqual(int(headers["Event-Id"]), int(before[0][1].strip('"')) + 1)
            check.assertTrue(json.loads(body)["accepted"])  # the undo stack came back too

            # Killed between any two writes, the board comes back as its last answer left it.
            server.process.kill()
            server.process.wait()
            for action, body in GAME:
                server = start(path, data, port)
                status, _, answer = write(server, 1, action, body)
                check.assertEqual(status, 200)
                expected = json.dumps(json.loads(answer)["game"], ensure_ascii=False,
                                      separators=(",", ":")).encode()
                server.process.kill()
                server.process.wait()
                server = start(path, data, port)
                check.assertEqual(board_bytes(server, 1)[0], expected, action)
                server.process.kill()
                server.process.wait()
        finally:
            if server.process.poll() is None:
                server.process.kill()


def test_retries_and_conditions(path):
    port = free_port()
    with tempfile.TemporaryDirectory() as directory:
        data = f"{directory}/game501.db"
        server = start(path, data, port)
        try:
            first = write(server, 1, "start", {"players": ["Zef"]}, {"Idempotency-Key": "k-start"})
            again = write(server, 1, "start", {"players": ["Zef"]}, {"Idempotency-Key": "k-start"})
            check.assertEqual((first[0], first[2], first[1]["Event-Id"]),
                              (again[0], again[2], again[1]["Event-Id"]))
            dart = write(server, 1, "darts", {"notation": "T20"}, {"Idempotency-Key": "k-dart"})
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
                got = write(server, 1, "darts", body, headers)
                check.assertEqual((got[0], json.loads(got[2])["error"]["code"]), (status, code), headers)
                check.assertEqual(board_bytes(server, 1)[1], etag, headers)  # nothing changed
            check.assertEqual(write(server, 1, "darts", {"notation": "S1"}, {"If-Match": f'"0", {etag}'})[0], 200)
            check.assertEqual(write(server, 1, "darts", {"notation": "S1"}, {"If-Match": "*"})[0], 200)

            # After a restart the keys and the tags still hold.
            _, current = board_bytes(server, 1)
            check.assertEqual(server.stop(), 0)
            server = start(path, data, port)
            retried = write(server, 1, "darts", {"notation": "T20"}, {"Idempotency-Key": "k-dart"})
            check.assertEqual((retried[0], retried[2], retried[1]["Event-Id"]),
                              (dart[0], dart[2], dart[1]["Event-Id"]))
            check.assertEqual(board_bytes(server, 1)[1], current)
            check.assertEqual(write(server, 1, "darts", {"notation": "T19"},
                                    {"Idempotency-Key": "k-start"})[0], 422)
            check.assertEqual(write(server, 1, "clear", None, {"If-Match": current})[0], 200)
            check.assertEqual(write(server, 1, "clear", None, {"If-Match": current})[0], 412)
            check.assertEqual(server.stop(), 0)
        finally:
            if server.process.poll() is None:
                server.process.kill()


class Scorer(threading.Thread):
    """Plays S1 S1 S1 clear on one board with a fresh key per write, retrying what got no answer."""

    def __init__(self, board, port, writes):
        super().__init__(daemon=True)
        self.board, self.port, self.writes = board, port, writes
        self.sent, self.event_ids, self.retries = [], [], 0

    def post(self, action, body, key):
        headers = dict(auth(self.board), **{"Idempotency-Key": key})
        if body is not None:
            headers.update(JSON)
        deadline = time.monotonic() + CRASH_SECONDS
        while time.monotonic() < deadline:
            try:
                connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=5)
                connection.request("POST", f"/api/boards/{self.board}/{action}",
                                   body=None if body is None else json.dumps(body), headers=headers)
                response = connection.getresponse()
                response.read()
                connection.close()
                if response.status == 200:
                    return int(response.headers["Event-Id"])
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
    port = free_port()
    with tempfile.TemporaryDirectory() as directory:
        data = f"{directory}/game501.db"
        server = start(path, data, port)
        scorers = [Scorer(board, port, 400) for board in (1, 2)]
        for scorer in scorers:
            scorer.start()
        kills = 0
        deadline = time.monotonic() + CRASH_SECONDS
        try:
            while kills < CRASH_KILLS and time.monotonic() < deadline:
                time.sleep(random.uniform(0.2, 0.6))
                server.process.kill()
                server.process.wait()
                kills += 1
                server = start(path, data, port)
            for scorer in scorers:
                scorer.join(max(1, deadline - time.monotonic()))
                check.assertFalse(scorer.is_alive(), "a scorer did not finish")
            check.assertEqual(server.stop(), 0)
        finally:
            if server.process.poll() is None:
                server.process.kill()
        with sqlite3.connect(data) as database:
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
    port = free_port()
    with tempfile.TemporaryDirectory() as mount:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", mount], check=True)
        server = None
        try:
            data = f"{mount}/game501.db"
            server = start(path, data, port)
            check.assertEqual(write(server, 1, "start", {"players": ["Zef"]})[0], 200)
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
                status, _, body = write(server, 1, "darts", {"notation": "S1"})
                if status != 200:
                    break
            check.assertEqual((status, json.loads(body)["error"]["code"]), (503, "storage_unavailable"))
            check.assertEqual(board_bytes(server, 1), before)
            os.remove(f"{mount}/filler")
            check.assertEqual(write(server, 1, "darts", {"notation": "S1"})[0], 200)

            # Read-only: refused until it is writable again.
            before = board_bytes(server, 1)
            os.chmod(data, 0o400)
            check.assertEqual(write(server, 1, "darts", {"notation": "S1"})[0], 503)
            check.assertEqual(board_bytes(server, 1), before)
            os.chmod(data, 0o600)
            check.assertEqual(write(server, 1, "darts", {"notation": "S1"})[0], 200)
            after = board_bytes(server, 1)
            check.assertEqual(server.stop(), 0)
            server = start(path, data, port)
            check.assertEqual(board_bytes(server, 1), after)
            check.assertEqual(server.stop(), 0)
        finally:
            if server is not None and server.process.poll() is None:
                server.process.kill()
                server.process.wait()
            subprocess.run(["umount", mount], check=False)


def test_figures_and_darts_survive_a_restart(path):
    labels = ["plain", "a,b", 'sa "hej"', "rad\nbrytning", "=1+1", "+SUM(A1)", "-2", "@x", "\tflik"]
    port = free_port()
    with tempfile.TemporaryDirectory() as directory:
        data = f"{directory}/game501.db"
        server = start(path, data, port)
        try:
            write(server, 1, "start", {"players": ["Ymma", "=Sjörk"]})
            visits = [["T20", "T20", "T20"], ["S1", "S1", "S1"], ["T20", "T20", "T20"], ["T20", "S5", "T20"],
                      ["T20", "T19", "D12"]]
            thrown = []
            for visit in visits:
                for notation in visit:
                    source = labels[len(thrown) % len(labels)]
                    write(server, 1, "darts", {"notation": notation, "source": source})
                    thrown.append((notation, source))
                write(server, 1, "clear")
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
            server = start(path, data, port)
            check.assertEqual([read(server, target)[0] for target in targets], before)
            check.assertEqual(server.stop(), 0)
        finally:
            if server.process.poll() is None:
                server.process.kill()


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
        server = start(path, real, free_port())
        for action, body in GAME:
            write(server, 1, action, body)
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
                                  capture_output=True, text=True, timeout=STEP_TIMEOUT)
            check.assertEqual(done.returncode, 2, data)
            check.assertIn(message, done.stderr, data)
        check.assertEqual(os.stat(real).st_mode & 0o777, 0o600)


def main():
    path = sys.argv[1]
    tests = [test_restarts_rebuild_every_board_exactly, test_retries_and_conditions,
             test_crashes_under_load_lose_and_double_nothing,
             test_storage_faults_refuse_writes_and_change_nothing,
             test_figures_and_darts_survive_a_restart,
             test_bad_database_files_exit_with_status_two]
    failed = 0
    for test in tests:
        try:
            test(path)
            print(f"{test.__name__} ok")
        except Exception:  # report every failure, then go on
            failed += 1
            print(f"{test.__name__} FAILED")
            traceback.print_exc()
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
