#!/usr/bin/python3
"""Each member's accuracy over HTTP: two computers of known sigmas play a match, their darts are
typed again under two members' names, and each member's accuracy is then near the sigma whose
darts they got; the board's own advice and a computer seated like a member use it.

usage: accuracy_test.py SERVER_BINARY
"""
import csv
import functools
import io
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import NO_PAUSE, STEP_S, TOKENS, Server, check, run_all  # noqa: E402

# The skill levels' sigmas (checkout_hint.cpp): the computer of each throws with it.
LEVELS = {"strong": 8.5, "club": 19.0}
# The match whose darts the members get: enough legs for some 150 usable darts each.
LEGS = 12
# How far an estimate from darts of so few legs may be from the true sigma.
TOLERANCE = 0.25


def settled(server, board, done):
    """Returns the board's match document once `done` holds, within STEP_S * 6."""
    deadline = time.monotonic() + STEP_S * 6
    while time.monotonic() < deadline:
        match = server.get(f"/api/boards/{board}/match")
        if done(match):
            return match
        time.sleep(0.1)
    raise AssertionError(f"board {board} did not settle")


def visits_of(server, match_id):
    """Returns the match's visits in throwing order, each a list of notations."""
    text = server.exchange("GET", f"/api/matches/{match_id}/darts.csv").body.decode("utf-8")
    visits, key = [], None
    for row in csv.DictReader(io.StringIO(text)):
        row_key = (row["set"], row["leg"], row["visit"], row["player"])
        if row_key != key:
            visits.append([])
            key = row_key
        visits[-1].append(row["notation"])
    return visits


def board_sigma(server, name):
    return {p["name"]: p["sigma_mm"] for p in server.get("/api/players")["players"]}[name]


def opening_checkout(server, board):
    stream = server.events(board)
    try:
        return stream.wait_for(1)[0][2]["checkout"]
    finally:
        stream.close()


def test_a_members_accuracy_is_learnt_from_their_darts(path):
    server = Server(path, TOKENS, extra=NO_PAUSE)
    try:
        players = [{"computer": level, "name": f"Dator {level}"} for level in LEVELS]
        check.assertTrue(server.write(1, "start", {"players": players, "legs": LEGS, "seed": 7})["accepted"])
        match_id = settled(server, 1, lambda m: m["status"] == "finished")["id"]

        check.assertTrue(server.write(2, "start", {"players": ["Anna", "Bert"], "legs": LEGS})["accepted"])
        for visit in visits_of(server, match_id):
            for notation in visit:
                server.throw(2, notation)
            check.assertTrue(server.write(2, "clear")["accepted"])
        check.assertEqual(server.get("/api/boards/2/match")["status"], "finished")

        sigmas = {}
        for name, level in zip(["Anna", "Bert"], LEVELS):
            player = server.get("/api/players/" + name)
            accuracy = player["accuracy"]
            check.assertEqual(sorted(accuracy), ["best_aim", "darts", "high_mm", "low_mm", "points_per_dart",
                                                 "points_per_dart_t20", "sigma_mm"])
            check.assertLess(abs(accuracy["sigma_mm"] / LEVELS[level] - 1), TOLERANCE, (name, accuracy))
            check.assertLessEqual(accuracy["low_mm"], accuracy["sigma_mm"])
            check.assertLessEqual(accuracy["sigma_mm"], accuracy["high_mm"])
            check.assertGreaterEqual(accuracy["darts"], 60)
            check.assertGreaterEqual(accuracy["points_per_dart"], accuracy["points_per_dart_t20"])
            [month] = player["accuracy_history"]
            check.assertEqual((month["darts"], month["sigma_mm"]), (accuracy["darts"], accuracy["sigma_mm"]))
            sigmas[name] = accuracy["sigma_mm"]
        # The boards use the sigma to 0.1 mm, once the server's thread has it.
        deadline = time.monotonic() + STEP_S
        while time.monotonic() < deadline:
            listed = {p["name"]: p["sigma_mm"] for p in server.get("/api/players")["players"]}
            if listed.get("Anna") is not None and listed.get("Bert") is not None:
                break
            time.sleep(0.1)
        for name, sigma in sigmas.items():
            check.assertAlmostEqual(listed[name], sigma, delta=0.051)
            check.assertEqual(listed[name], round(listed[name], 1))
        sigmas = {name: listed[name] for name in sigmas}

        # A match that ends adds its darts to what the boards use: nine perfect darts of Anna's.
        check.assertTrue(server.write(2, "start", {"players": ["Anna", "Bert"]})["accepted"])
        server.play(2, ["T20 T20 T20", "MISS MISS MISS", "T20 T20 T20", "MISS MISS MISS", "T20 T19 D12"])
        deadline = time.monotonic() + STEP_S
        while board_sigma(server, "Anna") == sigmas["Anna"]:
            check.assertLess(time.monotonic(), deadline, "the boards did not learn of the match")
            time.sleep(0.1)
        sigmas["Anna"] = board_sigma(server, "Anna")
        learnt = server.get("/api/players/Anna")["accuracy"]["sigma_mm"]
        check.assertAlmostEqual(sigmas["Anna"], learnt, delta=0.051)

        # The active player's own advice at the board, for a member with an estimate only.
        check.assertTrue(server.write(2, "start", {"players": ["Anna", "Cilla"]})["accepted"])
        # Anna's chances to win come from her own sigma, Cilla's stand in for hers.
        check.assertEqual([p["estimated"] for p in server.get("/api/boards/2/match")["win_chance"]], [False, True])
        own = opening_checkout(server, 2)["own"]
        check.assertEqual((sorted(own), round(own["sigma_mm"], 1)),
                          (["chance", "probability", "route", "sigma_mm"], sigmas["Anna"]))
        server.play(2, ["S1 S1 S1"])
        check.assertIsNone(opening_checkout(server, 2)["own"])

        # A computer that throws like Anna, with her sigma kept in its start.
        for body, code in [({"computer": {"like": "Cilla"}}, "no_accuracy"),
                           ({"computer": {"like": "Anna", "as": 1}}, "unknown_field")]:
            status, _, answer = server.post(1, "start", {"players": ["Bert", body]})
            check.assertEqual((status, answer["error"]["code"]), (400, code))
        start = {"players": ["Bert", {"computer": {"like": "anna"}}], "seed": 3}
        check.assertTrue(server.write(1, "start", start)["accepted"])
        seat = server.get("/api/boards/1/match")["players"][1]
        check.assertEqual((seat["name"], seat["computer"]),
                          ("Som Anna", {"like": "Anna", "sigma_mm": sigmas["Anna"]}))
        server.play(1, ["S1 S1 S1"])
        thrown = settled(server, 1, lambda m: len(m["game"]["history"]) == 2 and m["game"]["active_player"] == 0
                         and not m["game"]["awaiting_clear"])["game"]["history"]
        # A restart plays the start's row again: the same sigma, the same darts.
        server.stop()
        server = server.again()
        again = server.get("/api/boards/1/match")
        check.assertEqual((again["game"]["history"], again["players"][1]["computer"]),
                          (thrown, seat["computer"]))
    finally:
        server.stop()


def main():
    path = sys.argv[1]
    run_all([functools.partial(test_a_members_accuracy_is_learnt_from_their_darts, path)])


if __name__ == "__main__":
    main()
