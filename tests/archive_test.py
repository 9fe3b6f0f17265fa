#!/usr/bin/python3
"""A damaged match in the archive over HTTP: its counts cell overwritten behind the server's
back, every read that shows it (the report, the darts, the list, a career, the players) answers
as before from the journal's rows and logs it; with the rows gone too, the reads answer 500
damaged_match. The server never goes down. Under AddressSanitizer, this is what runs the
reports' reads.

usage: archive_test.py SERVER_BINARY
"""
import functools
import os
import sqlite3
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Server, check, run_all  # noqa: E402

# The first player checks out in nine darts; the second scores three a visit.
NINE = ["T20 T20 T20", "S1 S1 S1", "T20 T20 T20", "S1 S1 S1", "T20 T19 D12"]
# Cells that hold no counts per seat: not JSON, too few, too many, not arrays.
DAMAGED = ["inte json", "[]", "[[9,501]]", "[[1],[2],[3]]", "[1,2]"]


def log(server):
    """Returns what the server has written to standard error so far, leaving its offset alone."""
    return os.pread(server.error_file.fileno(), 1 << 20, 0).decode("utf-8")


def damage(server, statement, *arguments):
    with sqlite3.connect(server.data) as database:
        check.assertGreater(database.execute(statement, arguments).rowcount, 0, statement)
    database.close()


def test_a_damaged_match_is_read_from_the_journal(path):
    server = Server(path)
    try:
        # Board 2's match begins at event 3 and is no longer its board's, whose counts are
        # newer than the archive's; Ymma plays on both boards.
        server.post(2, "darts", {"notation": "T20"})
        server.post(2, "undo")
        for board, players in [(2, ["Ymma", "Sjörk"]), (1, ["Åsa", "Ymma"])]:
            server.write(board, "start", {"players": players})
            server.play(board, NINE)
        server.write(2, "start", {"players": ["Åsa"]})
        match = "2-3"
        reads = [f"/api/matches/{match}", f"/api/matches/{match}/darts.csv", "/api/matches",
                 "/api/players/Ymma", "/api/players/Sj%C3%B6rk", "/api/players"]
        before = [server.exchange("GET", target)[2] for target in reads]
        named = "arkivets siffror för matchen på tavla 2, start 3 är skadade"
        for cell in DAMAGED:
            damage(server, "UPDATE matches SET counts = ? WHERE board = 2 AND start_event = 3", cell)
            for target, body in zip(reads, before):
                logged = log(server).count(named)
                status, _, answer = server.exchange("GET", target)
                check.assertEqual((status, answer), (200, body), f"{cell}: {target}")
                check.assertEqual(log(server).count(named) - logged, 1, f"{cell}: {target}")

        # With the match's rows gone too, nothing is made up.
        damage(server, "DELETE FROM journal WHERE board = 2")
        for target in [f"/api/matches/{match}", "/api/matches", "/api/players/Ymma", "/api/players"]:
            status, _, answer = server.request("GET", target)
            check.assertEqual((status, answer["error"]["code"]), (500, "damaged_match"), target)
        check.assertEqual(server.get("/api/boards/1")["status"], "finished")
        check.assertEqual(server.stop(), 0)
    finally:
        server.kill()


def main():
    run_all([functools.partial(test, sys.argv[1]) for test in [
        test_a_damaged_match_is_read_from_the_journal]])


if __name__ == "__main__":
    main()
