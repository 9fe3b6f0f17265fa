#!/usr/bin/python3
"""The chances to win over HTTP: the match document's "win_chance" (per player, adding to 1,
null where it has no meaning), the same in the events, and the match report's course of them.

usage: win_chance_server_test.py SERVER_BINARY
"""
import functools
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import TOKENS, Server, check, run_all  # noqa: E402

# The first player checks out in nine darts; the second scores three a visit.
NINE = ["T20 T20 T20", "S1 S1 S1", "T20 T20 T20", "S1 S1 S1", "T20 T19 D12"]


def chances(server):
    return server.get("/api/boards/1/match")["win_chance"]


def check_adds_up(win_chance):
    check.assertEqual(len(win_chance), 2)
    for key in ("leg", "match"):
        check.assertAlmostEqual(sum(player[key] for player in win_chance), 1.0, places=9, msg=key)
        check.assertTrue(all(0 <= player[key] <= 1 for player in win_chance), key)


def test_two_players_chances_follow_the_match(binary):
    server = Server(binary, TOKENS[:1])
    try:
        stream = server.events(1)
        server.write(1, "start", {"players": ["Ymma", "Sjörk"], "legs": 2})
        start = chances(server)
        check_adds_up(start)
        # Equal accuracy: throwing first is worth more than half the leg.
        check.assertEqual([player["estimated"] for player in start], [True, True])
        check.assertGreater(start[0]["leg"], 0.5)
        # One dart counts at once; a visit that scores 3 hands the leg over.
        server.throw(1, "T20")
        check.assertGreater(chances(server)[0]["leg"], start[0]["leg"])
        server.play(1, ["T20 T20"])
        server.play(1, ["S1 S1 S1"])
        after = chances(server)
        check_adds_up(after)
        check.assertGreater(after[0]["match"], start[0]["match"])
        # Every event carries the document that GET answers: the opening one, the start,
        # four darts and a clear, three and a clear.
        events = stream.wait_for(10)
        stream.close()
        check.assertEqual(events[-1][2]["match"]["win_chance"], after)
        check.assertIsNone(events[0][2]["match"]["win_chance"])  # idle
        # The first leg won: the second begins with the throw passed on.
        server.play(1, NINE[2:])
        between = chances(server)
        check_adds_up(between)
        check.assertGreater(between[0]["match"], after[0]["match"])
        server.write(1, "clear")
        check.assertEqual(chances(server), between)
        server.play(1, ["S1 S1 S1"] + NINE)
        check.assertIsNone(chances(server))  # the match is over
    finally:
        server.stop()


def test_a_computer_is_not_estimated(binary):
    server = Server(binary, TOKENS[:1])
    try:
        server.write(1, "start", {"players": ["Ymma", {"computer": "strong"}], "seed": 1})
        win_chance = chances(server)
        check_adds_up(win_chance)
        check.assertEqual([player["estimated"] for player in win_chance], [True, False])
        # A strong computer against the stand-in level.
        check.assertLess(win_chance[0]["match"], 0.2)
    finally:
        server.stop()


NO_CHANCE = [  # (case, players)
    ("one player", ["Ymma"]),
    ("three players", ["Ymma", "Sjörk", "Zef"]),
]


def test_the_chance_is_null_where_it_means_nothing(binary):
    server = Server(binary, TOKENS[:1])
    try:
        for case, players in NO_CHANCE:
            server.write(1, "start", {"players": players})
            check.assertIsNone(chances(server), case)
        server.write(1, "reset")
        check.assertIsNone(chances(server), "idle")
    finally:
        server.stop()


def test_the_report_draws_the_course(binary):
    server = Server(binary, TOKENS[:1])
    try:
        server.write(1, "start", {"players": ["Ymma", "Sjörk"]})
        match_id = server.get("/api/boards/1/match")["id"]
        server.play(1, NINE)
        course = server.get(f"/api/matches/{match_id}")["win_chance"]
        check.assertEqual(course["estimated"], [True, True])
        points = course["points"]
        # The start and the five visits.
        check.assertEqual([(p["set"], p["leg"], p["visit"]) for p in points],
                          [(1, 1, visit) for visit in range(6)])
        check.assertEqual(points[-1]["match"], [1, 0])
        for point in points:
            check.assertAlmostEqual(sum(point["match"]), 1.0, places=9)
        # A single game: its one leg is the match.
        check.assertGreater(points[0]["match"][0], 0.5)
        server.write(1, "start", {"players": ["Ymma"]})
        solo = server.get("/api/boards/1/match")["id"]
        check.assertIsNone(server.get(f"/api/matches/{solo}")["win_chance"])
    finally:
        server.stop()


if __name__ == "__main__":
    tests = [test_two_players_chances_follow_the_match, test_a_computer_is_not_estimated,
             test_the_chance_is_null_where_it_means_nothing, test_the_report_draws_the_course]
    run_all([functools.partial(test, sys.argv[1]) for test in tests])
