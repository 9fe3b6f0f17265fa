#!/usr/bin/python3
"""The reports of matches over HTTP: a match being played reported from its board, the same
report once the match is over (made from the journal, then kept), entity tags and 304, and
reads answered while scorers write.

usage: reads_test.py SERVER_BINARY
"""
import functools
import os
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Server, check, exchange, run_all  # noqa: E402

# First to two legs: Ymma wins the first leg in nine darts, its winning dart is taken back by
# an undo after the clear and thrown again, then the second leg is played on.
NINE = ["T20 T20 T20", "S1 S1 S1", "T20 T20 T20", "S1 S1 S1", "T20 T19 D12"]
REPORT = "/api/matches/1-1"
CSV = "/api/matches/1-1/darts.csv"


def legs_and_darts(server):
    """Returns the report's legs and the file of darts, and the report's entity tag."""
    status, headers, report = server.request("GET", REPORT)
    check.assertEqual(status, 200)
    status, _, csv = server.exchange("GET", CSV)
    check.assertEqual(status, 200)
    return report["legs"], csv, headers["ETag"]


def test_report_is_the_same_from_the_board_from_the_journal_and_kept(binary):
    server = Server(binary)
    try:
        server.write(1, "start", {"players": ["Ymma", "Sjörk"], "legs": 2})
        server.play(1, NINE)
        check.assertTrue(server.write(1, "undo")["accepted"])  # the winning dart, after the clear
        server.throw(1, "D12")
        check.assertTrue(server.write(1, "clear")["accepted"])
        server.throw(1, "S20")  # Sjörk begins the second leg
        live, live_csv, live_tag = legs_and_darts(server)
        check.assertEqual([[len(player["visits"]) for player in leg["players"]] for leg in live],
                          [[3, 2], [0, 1]])
        check.assertEqual(live[0]["players"][0]["visits"][-1]["darts"], ["T20", "T19", "D12"])
        check.assertEqual(live[1]["players"][1]["visits"][0]["darts"], ["S20"])
        check.assertEqual(live_csv.count(b"\r\n"), 1 + 9 + 6 + 1)

        server.write(1, "start", {"players": ["Ymma", "Sjörk"]})  # the first match is over
        made, made_csv, made_tag = legs_and_darts(server)
        kept, kept_csv, kept_tag = legs_and_darts(server)
        check.assertEqual(made, live)
        check.assertEqual(kept, live)
        check.assertEqual((made_csv, kept_csv), (live_csv, live_csv))
        check.assertEqual(kept_tag, made_tag)
        check.assertNotEqual(made_tag, live_tag)  # "abandoned" now, not "playing"
    finally:
        server.stop()


def test_an_unchanged_report_is_answered_304(binary):
    server = Server(binary)
    try:
        server.write(1, "start", {"players": ["Ymma", "Sjörk"]})
        server.throw(1, "T20")
        status, headers, _ = server.exchange("GET", REPORT)
        tag = headers["ETag"]
        rows = [  # If-None-Match, then whether the report is the same
            (tag, 304), (f'W/{tag}, "other"', 304), ("*", 304), ('"other"', 200), (None, 200)]
        for field, expected in rows:
            status, headers, body = server.exchange(
                "GET", REPORT, headers={"If-None-Match": field} if field else {})
            check.assertEqual((status, headers["ETag"]), (expected, tag), field)
            check.assertEqual(body == b"", expected == 304, field)
        server.throw(1, "T20")
        status, headers, _ = server.exchange("GET", REPORT, headers={"If-None-Match": tag})
        check.assertEqual(status, 200)
        check.assertNotEqual(headers["ETag"], tag)
    finally:
        server.stop()


def test_reads_in_a_crowd_are_answered_or_refused_with_retry_after(binary):
    server = Server(binary, extra=("--connections-per-address", "512"))
    try:
        server.write(1, "start", {"players": ["Ymma", "Sjörk"]})
        server.play(1, NINE[:4] * 10)
        answers = []

        def read():
            try:
                status, headers, _ = exchange(server.port, "GET", CSV)
                answers.append((status, headers["Retry-After"]))
            except OSError as error:
                answers.append((0, repr(error)))

        readers = [threading.Thread(target=read) for _ in range(200)]
        for reader in readers:
            reader.start()
        server.throw(1, "T20")  # a write among them is answered
        for reader in readers:
            reader.join(10)
        check.assertEqual(len(answers), 200)
        for status, retry_after in answers:
            check.assertIn((status, retry_after), [(200, None), (503, "1")])
    finally:
        server.stop()


if __name__ == "__main__":
    BINARY = sys.argv[1]
    run_all([functools.partial(test, BINARY) for test in [
        test_report_is_the_same_from_the_board_from_the_journal_and_kept,
        test_an_unchanged_report_is_answered_304,
        test_reads_in_a_crowd_are_answered_or_refused_with_retry_after,
    ]])
