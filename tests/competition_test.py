#!/usr/bin/python3
"""A club night run by the server: computers play a groups-then-knockout competition on the
boards of its pool, a SIGKILL and a restart in the middle; people play a called match on a
board; results by hand, walkovers and a correction refused; the API's refusals; and the
upgrade of a database that the previous version wrote.

usage: competition_test.py SERVER_BINARY
"""
import functools
import os
import sqlite3
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (  # noqa: E402
    NO_PAUSE, ORGANISER, STEP_S, TOKENS, EventStream, Server, check, run_all)

# The first player checks out in nine darts; the second scores three a visit.
NINE = ["T20 T20 T20", "S1 S1 S1", "T20 T20 T20", "S1 S1 S1", "T20 T19 D12"]
FOUR = ["0123456789abcdef0123456789abcde" + str(n) for n in range(4)]
LEVELS = ["beginner", "club", "strong", 70]
# The whole night of computers may take this long.
NIGHT_S = 60


def organiser(server):
    return {"Authorization": "Bearer " + server.organiser}


def create(server, body):
    return server.request("POST", "/api/competitions", body, organiser(server))


def result(server, competition, match, body):
    return server.request("POST", f"/api/competitions/{competition}/matches/{match}/result", body,
                          organiser(server))


def register(server, names):
    for name in names:
        check.assertEqual(server.correct("/api/players", {"name": name}).status, 200, name)


def wait_until(server, competition, done, seconds=NIGHT_S):
    """Returns the competition's document once done(document) holds."""
    deadline = time.monotonic() + seconds
    while True:
        document = server.get(f"/api/competitions/{competition}")
        if done(document):
            return document
        check.assertLess(time.monotonic(), deadline, "the night did not get there in time")
        time.sleep(0.05)


def finished(document):
    return [match for match in document["matches"] if match["status"] == "finished"]


def callable_matches(document):
    """Returns the waiting matches whose players are known and play nowhere."""
    playing = {name for match in document["matches"] if match["status"] == "playing"
               for name in match["players"]}
    return [match for match in document["matches"] if match["status"] == "waiting"
            and None not in match["players"] and not playing & set(match["players"])]


def check_the_night(documents, boards, calls=True):
    """Each document as the stream gave it: nobody on two boards, no board twice, and (with
    `calls`) a board of the pool left free while a match could be called only until the next
    change."""
    for before, after in zip(documents, documents[1:]):
        playing = [match for match in before["matches"] if match["status"] == "playing"]
        names = [name for match in playing for name in match["players"]]
        check.assertEqual(len(names), len(set(names)), "a player on two boards")
        check.assertEqual(len({m["board"] for m in playing}), len(playing), "two matches on a board")
        if calls and len(playing) < len(boards) and callable_matches(before):
            now = [match for match in after["matches"] if match["status"] == "playing"]
            check.assertGreater(len(now), len(playing), "a free board was left idle")


def test_computers_play_a_night_on_the_pool(path):
    players = [{"name": f"Dator {n + 1}", "computer": LEVELS[n % 4]} for n in range(8)]
    server = Server(path, FOUR[:3], extra=NO_PAUSE)
    try:
        status, _, document = create(server, {
            "name": "Klubbkväll", "players": players, "format": "groups_knockout", "groups": 2,
            "advance": 2, "legs": 1, "boards": [1, 2, 3], "seed": 29})
        check.assertEqual(status, 201, document)
        competition = document["id"]
        stream = EventStream(server.port, None, f"/api/competitions/{competition}/events")
        # Half the night, then a SIGKILL: the server comes back and the night goes on.
        halfway = wait_until(server, competition, lambda d: len(finished(d)) >= 6)
        stream.close()
        documents = [data for _, kind, data in stream.events if kind == "competition"]
        check_the_night(documents, [1, 2, 3])
        server.kill()
        server = server.again()
        after = server.get(f"/api/competitions/{competition}")
        for match in finished(halfway):
            check.assertIn(match, after["matches"])
        stream = EventStream(server.port, None, f"/api/competitions/{competition}/events")
        last = wait_until(server, competition, lambda d: d["status"] == "finished")
        time.sleep(0.2)
        stream.close()
        # A restart takes in what the boards did before it calls: only the first rule holds.
        check_the_night([data for _, kind, data in stream.events if kind == "competition"], [1, 2, 3],
                        calls=False)
        # Every match played once, on a board of the pool, each its own match in the archive.
        check.assertEqual({m["status"] for m in last["matches"]}, {"finished"})
        archived = [m["match"] for m in last["matches"]]
        check.assertEqual(len(set(archived)), 15)
        for match in last["matches"]:
            check.assertIn(match["board"], [1, 2, 3])
            report = server.get(f"/api/matches/{match['match']}")
            check.assertEqual([p["name"] for p in report["players"]], match["players"])
        final = last["matches"][-1]
        check.assertEqual(last["winner"], final["players"][final["winner"]])
        check.assertEqual(last["bracket"][-1][0]["match"], final["id"])
        # Nothing more is called, and the document stays as it is.
        check.assertEqual(server.request("GET", f"/api/competitions/{competition}").body, last)
        with sqlite3.connect(f"file:{server.data}?mode=ro", uri=True) as database:
            begins = database.execute(
                "SELECT count(*) FROM competition_events WHERE event LIKE '%\"kind\":\"begin\"%'"
            ).fetchone()[0]
        check.assertGreaterEqual(begins, 15)
        check.assertEqual(server.stop(), 0)
    finally:
        server.kill()


def test_people_play_a_called_match_and_a_restart_changes_nothing(path):
    server = Server(path, TOKENS[:1])
    try:
        register(server, ["Ymma", "Sjörk", "Tove"])
        status, _, document = create(server, {
            "name": "Liga", "players": ["ymma", "Sjörk", "Tove"], "legs": 1, "boards": [1],
            "seeded": True})
        check.assertEqual(status, 201, document)
        check.assertEqual([p["name"] for p in document["players"]], ["Ymma", "Sjörk", "Tove"])
        competition = document["id"]
        called = wait_until(server, competition, lambda d: any(m["board"] == 1 for m in d["matches"]), STEP_S)
        [match] = [m for m in called["matches"] if m["status"] == "playing"]
        # The competition calls the match before the board's start is written.
        deadline = time.monotonic() + STEP_S
        while (board := server.get("/api/boards/1/match"))["players"] == []:
            check.assertLess(time.monotonic(), deadline, "the board did not start the match")
            time.sleep(0.05)
        check.assertEqual([p["name"] for p in board["players"]], match["players"])
        check.assertEqual(board["competition"], {"id": competition, "match": match["id"]})
        # The first player wins; the board takes the winning dart back and the second wins.
        server.play(1, NINE[:-1])
        for notation in NINE[-1].split():
            server.throw(1, notation)
        number = match["id"]
        won = wait_until(server, competition, lambda d: d["matches"][number - 1]["status"] == "finished",
                         STEP_S)["matches"][number - 1]
        check.assertEqual((won["winner"], won["legs"]), (0, [1, 0]))
        check.assertTrue(server.write(1, "undo")["accepted"])
        server.throw(1, "M")
        check.assertTrue(server.write(1, "clear")["accepted"])
        server.play(1, ["T20 T20 T20", "M M M", "T20 T20 T20", "M M M", "T20 T15 D15"])
        after = wait_until(server, competition, lambda d: d["matches"][number - 1]["winner"] == 1, STEP_S)
        check.assertEqual(after["matches"][number - 1]["legs"], [0, 1])
        check.assertEqual(after["tables"][0]["rows"][0]["player"], match["players"][1])
        # A reset over the next called match puts it back in the queue; it is called again.
        second = wait_until(server, competition, lambda d: sum(m["status"] == "playing" for m in d["matches"]) == 1,
                            STEP_S)
        first_start = server.get("/api/boards/1/match")["id"]
        check.assertTrue(server.write(1, "reset")["accepted"])
        deadline = time.monotonic() + STEP_S
        while server.get("/api/boards/1/match")["id"] in (first_start, None):
            check.assertLess(time.monotonic(), deadline, "the match was not called again")
            time.sleep(0.05)
        again = server.get(f"/api/competitions/{competition}")
        [requeued] = [m["id"] for m in second["matches"] if m["status"] == "playing"]
        check.assertEqual(again["returned"], [{"board": 1, "match": requeued}])
        check.assertEqual(again | {"returned": []}, second)
        check.assertEqual(server.get("/api/boards/1/match")["competition"]["id"], competition)
        before = server.exchange("GET", f"/api/competitions/{competition}").body
        server.kill()
        server = server.again()
        check.assertEqual(server.exchange("GET", f"/api/competitions/{competition}").body, before)
        check.assertEqual(server.get("/api/competitions")["competitions"],
                          [{"boards": [1], "format": "round_robin", "id": competition, "name": "Liga",
                            "status": "playing", "winner": None}])
        check.assertEqual(server.stop(), 0)
    finally:
        server.kill()


def test_results_by_hand_walkovers_and_a_correction_refused(path):
    server = Server(path, TOKENS[:1])
    try:
        register(server, ["A", "B", "C", "D"])
        status, _, cup = create(server, {"name": "Cup", "players": ["A", "B", "C", "D"],
                                         "format": "knockout", "legs": 2, "boards": [],
                                         "seeded": True})
        check.assertEqual(status, 201, cup)
        semis = [m["id"] for m in cup["matches"] if m["round"] == 1]
        final = cup["matches"][-1]["id"]
        for match, body, want in [
                (semis[0], {"winner": 0, "legs": [2, 1]}, 200),
                (semis[1], {"walkover": 1}, 200),
                (semis[0], {"winner": 1, "legs": [1, 2]}, 200),  # corrected before the final began: D
                (semis[0], {"winner": 0, "legs": [2, 2]}, 409),  # not a possible end
                (99, {"winner": 0, "legs": [2, 0]}, 409),
                (final, {"winner": 0, "legs": [2, 0]}, 200),
                (semis[0], {"winner": 0, "legs": [2, 0]}, 409)]:
            status, _, answer = result(server, cup["id"], match, body)
            check.assertEqual(status, want, (match, body, answer))
        check.assertEqual(answer["error"]["message"],
                          f"Resultatet i match {semis[0]} kan inte ändras: match {final}, som beror på det, "
                          "har redan börjat.")
        document = server.get(f"/api/competitions/{cup['id']}")
        check.assertEqual((document["status"], document["winner"]), ("finished", "D"))
        check.assertEqual(document["matches"][semis[1] - 1]["status"], "walkover")
        check.assertEqual(document["matches"][semis[1] - 1]["legs"], [0, 2])
        check.assertEqual(server.stop(), 0)
    finally:
        server.kill()


def test_refusals(path):
    server = Server(path, TOKENS[:1])
    try:
        register(server, ["A", "B"])
        good = {"name": "N", "players": ["A", "B"], "boards": [1]}
        for body, headers, status, code in [
                (good, {}, 401, "unauthorized"),
                (good, server.auth(1), 403, "forbidden"),
                (good | {"colour": "red"}, None, 400, "unknown_field"),
                (good | {"players": ["A", "Okänd"]}, None, 404, "unknown_player"),
                (good | {"boards": [2]}, None, 400, "bad_field"),
                (good | {"boards": [1, 1]}, None, 400, "bad_field"),
                (good | {"format": "swiss"}, None, 400, "bad_field"),
                (good | {"groups": 2}, None, 400, "invalid_competition"),
                (good | {"players": ["A", "a"]}, None, 400, "invalid_competition"),
                (good | {"tiebreakers": ["points", "points"]}, None, 400, "bad_field")]:
            answer = server.request("POST", "/api/competitions", body,
                                    organiser(server) if headers is None else headers)
            check.assertEqual((answer.status, answer.body["error"]["code"]), (status, code), body)
        for method, address, status in [("GET", "/api/competitions/1", 404),
                                        ("GET", "/api/competitions/x", 404),
                                        ("GET", "/api/competitions/1/events", 404),
                                        ("POST", "/api/competitions/1/rounds", 404)]:
            answer = server.request(method, address, {"open": [1]}, organiser(server))
            check.assertEqual(answer.status, status, address)
        status, _, league = create(server, good | {"players": ["A", "B"]})
        answer = server.request("POST", f"/api/competitions/{league['id']}/rounds", {"open": [1]},
                                organiser(server))
        check.assertEqual((answer.status, answer.body["error"]["code"]), (409, "refused"))
        check.assertEqual(server.stop(), 0)
    finally:
        server.kill()


def test_a_database_of_the_previous_version_opens(path):
    with tempfile.TemporaryDirectory() as directory:
        data = os.path.join(directory, "game501.db")
        server = Server(path, TOKENS[:1], data=data)
        check.assertEqual(server.stop(), 0)
        # The previous version's schema: this one's without the competitions.
        with sqlite3.connect(data) as database:
            database.executescript("DROP TABLE competition_events; DROP TABLE competitions;"
                                   "PRAGMA user_version = 2;")
        server = Server(path, TOKENS[:1], data=data)
        try:
            register(server, ["A", "B"])
            status, _, _ = create(server, {"name": "N", "players": ["A", "B"], "boards": [1]})
            check.assertEqual(status, 201)
            check.assertEqual(server.stop(), 0)
        finally:
            server.kill()
        with sqlite3.connect(f"file:{data}?mode=ro", uri=True) as database:
            check.assertEqual(database.execute("PRAGMA user_version").fetchone()[0], 3)
            check.assertEqual(database.execute("SELECT count(*) FROM competitions").fetchone()[0], 1)


def main():
    run_all([functools.partial(test, sys.argv[1]) for test in [
        test_computers_play_a_night_on_the_pool,
        test_people_play_a_called_match_and_a_restart_changes_nothing,
        test_results_by_hand_walkovers_and_a_correction_refused, test_refusals,
        test_a_database_of_the_previous_version_opens]])


if __name__ == "__main__":
    main()
