#!/usr/bin/env python3
"""Plays against a running game-501-server over HTTP, as curl or a tablet would.

Starts the built server on a free loopback port with known tokens, plays a game while an
event stream follows it, checks every error the API documents, throws malformed and hostile
input at it, and stops it with SIGTERM. Every step is bounded in time.

Usage: server_test.py PATH_TO_GAME_501_SERVER [--churn N]
"""
import argparse
import functools
import http.client
import json
import os
import resource
import socket
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import HOST, JSON, NO_PAUSE, STEP_S, TOKENS, Server, check, run_all  # noqa: E402

AUTH = {"Authorization": "Bearer " + TOKENS[0]}
MAX_CONNECTIONS = 2048
KEPT_FOR_REQUESTS = 128


def raw_exchange(server, data, read_until_close=True, half_close=False):
    """Sends raw bytes and returns what the server answers before it closes."""
    with server.connect() as sock:
        sock.sendall(data)
        if half_close:
            sock.shutdown(socket.SHUT_WR)
        if not read_until_close:
            return b""
        chunks = []
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return b"".join(chunks)
            chunks.append(chunk)


def read_answers(data, methods):
    """Splits pipelined answers, those to HEAD without a body, into (status line, fields, body)."""
    answers = []
    for method in methods:
        head, separator, data = data.partition(b"\r\n\r\n")
        check.assertTrue(head.startswith(b"HTTP/1.1 ") and separator, head[:100])
        lines = head.decode("latin-1").split("\r\n")
        fields = {name.lower(): value for name, _, value in (line.partition(": ") for line in lines[1:])}
        length = 0 if method == "HEAD" else int(fields["content-length"])
        answers.append((lines[0], fields, data[:length]))
        data = data[length:]
    check.assertEqual(data, b"")
    return answers


def test_game_over_http_follows_the_event_stream(server):
    stream = server.events(1)
    first_id, kind, opening = stream.wait_for(1)[0]
    check.assertEqual((kind, opening["board"], opening["checkout"]), ("state", 1, None))
    check.assertEqual(opening["state"], server.request("GET", "/api/boards/1")[2])

    # The last column is the event's checkout: what is left, the darts left of
    # the turn and the hint's route, or None when no game is being played.
    steps = [
        ("start", {"players": ["Zef"]}, True, None, (501, 3, [])),
        ("darts", {"notation": "T20"}, True, None, (441, 2, [])),
        ("reset", None, True, "Spelet nollställdes", None),
        ("start", {"players": ["Ymma"]}, True, "501-spelet har startat", (501, 3, [])),
        ("darts", {"notation": "T20", "source": "kamera-1"}, True, None, (441, 2, [])),
        ("darts", {"notation": "T20", "source": "kamera-1"}, True, None, (381, 1, [])),
        ("darts", {"notation": "T20", "source": "kamera-1"}, True, None, (321, 3, [])),
        ("clear", None, True, "Tavlan är redo för nästa spelare", (321, 3, [])),
        ("darts", {"notation": "t20"}, True, None, (261, 2, [])),
        ("darts", {"notation": "t20"}, True, None, (201, 1, [])),
        ("darts", {"notation": "t20"}, True, None, (141, 3, ["T20", "T19", "D12"])),
        ("clear", None, True, None, (141, 3, ["T20", "T19", "D12"])),
        ("darts", {"notation": "T20"}, True, None, (81, 2, ["T19", "D12"])),
        ("darts", {"notation": "T20"}, True, None, (21, 1, [])),
        ("darts", {"notation": "x"}, False, "Ogiltigt kast: x", (21, 1, [])),
        ("darts", {"notation": "T20"}, True, "Bust – turens poäng återställdes", (141, 3, ["T20", "T19", "D12"])),
        ("undo", None, True, "Senaste kastet ångrades", (21, 1, [])),
        ("darts", {"notation": "S1"}, True, "Tur klar – ta bort pilarna", (20, 3, ["D10"])),
        ("darts", {"notation": "D10"}, False, "Ta bort pilarna och bekräfta att tavlan är tom", (20, 3, ["D10"])),
        ("clear", None, True, None, (20, 3, ["D10"])),
        ("darts", {"notation": "D10"}, True, "Ymma vann med D10", None),
    ]
    answers = []
    for action, body, accepted, message, _ in steps:
        status, headers, answer = server.post(1, action, body)
        check.assertEqual(status, 200, answer)
        check.assertEqual(answer["accepted"], accepted, answer["message"])
        if message:
            check.assertEqual(answer["message"], message)
        answers.append((int(headers["Event-Id"]), action, answer))
        # Writes without the board's token change nothing and make no event.
        for headers, expected in [({}, 401), ({"Authorization": "Bearer " + TOKENS[1]}, 403),
                                  ({"Authorization": "Bearer " + TOKENS[0][:-1]}, 403)]:
            check.assertEqual(server.post(1, "reset", None, headers)[0], expected)
    final = server.request("GET", "/api/boards/1")[2]
    check.assertEqual((final["status"], final["winner"], final["players"][0]["score"]), ("finished", 0, 0))
    check.assertEqual([event_id for event_id, _, _ in answers],
                      list(range(first_id + 1, first_id + 1 + len(steps))))

    events = stream.wait_for(1 + len(steps))[1:]
    check.assertEqual(len(events), len(steps))
    names = {"darts": "dart"}
    for (event_id, kind, data), (answer_id, action, answer), step in zip(events, answers, steps):
        check.assertEqual((event_id, kind, data["operation"]), (answer_id, "update", names.get(action, action)))
        check.assertEqual(data["response"], answer)
        checkout = data["checkout"]
        if checkout is not None:
            checkout = (checkout["remaining"], checkout["darts_left"], checkout["route"])
        check.assertEqual(checkout, step[-1], f"after step {answer_id - first_id}: {action} {step[1]}")
    check.assertEqual((answers[2][2]["game"]["status"], answers[2][2]["game"]["players"]), ("idle", []))
    # Before the third turn's first dart: 141 left, three darts to finish with.
    checkout = events[11][2]["checkout"]
    check.assertEqual((checkout["remaining"], checkout["darts_left"]), (141, 3))
    check.assertTrue(checkout["route"][-1].startswith("D") or checkout["route"][-1] == "BULL")
    # Each level's chance comes written as people read it, by one rule for every front end.
    for advice in checkout["advice"]:
        whole = int(advice["probability"] * 100 + 0.5)
        check.assertEqual(advice["chance"], "< 1 %" if whole == 0 and advice["probability"] > 0 else f"{whole} %")
    check.assertIsNone(events[-1][2]["checkout"])  # the game is over

    stream.close()
    listing = server.request("GET", "/api/boards")[2]
    check.assertEqual(listing["boards"][0], {"board": 1, "format": {"legs": 1, "sets": 1}, "status": "finished",
                                             "players": [{"legs": 1, "name": "Ymma", "score": 0, "sets": 1}]})
    check.assertEqual(listing["boards"][1], {"board": 2, "format": {"legs": 1, "sets": 1}, "status": "idle",
                                             "players": []})
    levels = [{"id": "beginner", "name": "Nybörjare"}, {"id": "club", "name": "Klubbspelare"},
              {"id": "strong", "name": "Stark spelare"}]
    targets = [{"average": average, "name": f"Snitt {average}"} for average in range(30, 111)]
    check.assertEqual(server.request("GET", "/api/rules")[2], {
        "computer": {"levels": levels, "max_average": 110, "min_average": 30, "name": "Datorn",
                     "targets": targets},
        "darts_per_turn": 3, "max_legs": 20, "max_name_bytes": 32, "max_players": 8, "max_sets": 10,
        "max_source_bytes": 1024, "min_legs": 1, "min_players": 1, "min_sets": 1})


def test_every_error_has_its_status_and_code(server):
    big = json.dumps({"players": ["a" * (16 * 1024)]})
    not_json = "Kroppen är inte giltig JSON"
    notation = 'Fältet "notation" ska vara en sträng'
    no_token = 'Token saknas: skicka "Authorization: Bearer TOKEN"'
    nothing = "Det finns inget här"
    wrong_method = "Metoden stöds inte här; se Allow"
    not_json_type = "Kroppen ska vara JSON (Content-Type: application/json)"
    rows = [
        # method, path, body, headers, status, code, message
        ("POST", "/api/boards/1/darts", "{\"notation\":", JSON | AUTH, 400, "bad_json", not_json),
        ("POST", "/api/boards/1/darts", b'{"notation":"\xff"}', JSON | AUTH, 400, "bad_json", not_json),
        ("POST", "/api/boards/1/darts", "{}", JSON | AUTH, 400, "bad_field", notation),
        ("POST", "/api/boards/1/darts", '{"notation": 20}', JSON | AUTH, 400, "bad_field", notation),
        ("POST", "/api/boards/1/darts", '{"notation": 1e999999}', JSON | AUTH, 400, "bad_json", not_json),
        ("POST", "/api/boards/1/darts", '{"notation": 123456789012345678901234567890}', JSON | AUTH, 400, "bad_field", notation),
        ("POST", "/api/boards/1/darts", '{"notation": "T20", "source": 7}', JSON | AUTH, 400, "bad_field",
         'Fältet "source" ska vara en sträng'),
        ("POST", "/api/boards/1/start", '{"players": "Zef"}', JSON | AUTH, 400, "bad_field",
         'Fältet "players" ska vara en lista med namn'),
        ("POST", "/api/boards/1/start", "[" * 5000 + "]" * 5000, JSON | AUTH, 400, "bad_field",
         "Kroppen ska vara ett JSON-objekt"),
        ("POST", "/api/boards/1/darts", json.dumps({"notation": "T20", "source": "s" * 1025}), JSON | AUTH, 400,
         "source_too_long", "Källan får vara högst 1024 byte"),
        ("GET", "/api/boards", None, {"Content-Length": "x"}, 400, "bad_request", "Förfrågan är inte giltig HTTP/1.1"),
        ("POST", "/api/boards/1/undo", None, {}, 401, "unauthorized", no_token),
        ("POST", "/api/boards/1/undo", None, {"Authorization": "Basic " + TOKENS[0]}, 401, "unauthorized", no_token),
        ("POST", "/api/boards/1/undo", None, {"Authorization": "Bearer"}, 401, "unauthorized", no_token),
        ("POST", "/api/boards/1/undo", None, {"Authorization": "Bearer   "}, 401, "unauthorized", no_token),
        ("POST", "/api/boards/1/undo", None, {"Authorization": "Bearer " + TOKENS[1]}, 403, "forbidden",
         "Fel token för tavla 1"),
        ("GET", "/api/boards/3", None, {}, 404, "not_found", "Tavlan finns inte"),
        ("GET", "/api/boards/01", None, {}, 404, "not_found", "Tavlan finns inte"),
        ("POST", "/api/boards/1/bogus", None, AUTH, 404, "not_found", nothing),
        ("GET", "/nowhere", None, {}, 404, "not_found", nothing),
        ("POST", "/nowhere", "{}", JSON, 404, "not_found", nothing),
        ("GET", "/api/boards/1/darts", None, {}, 405, "method_not_allowed", wrong_method),
        ("DELETE", "/api/boards/1", None, AUTH, 405, "method_not_allowed", wrong_method),
        ("POST", "/api/boards/1/start", big, JSON | AUTH, 413, "payload_too_large", "Kroppen får vara högst 16 KiB"),
        ("POST", "/api/boards/1/darts", "T20", {"Content-Type": "text/plain"} | AUTH, 415, "unsupported_media_type",
         not_json_type),
        ("POST", "/api/boards/1/darts", '{"notation": "T20"}', AUTH, 415, "unsupported_media_type", not_json_type),
        ("GET", "/api/boards", None, {"X-Filler": "f" * (8 * 1024)}, 431, "headers_too_large",
         "Huvudena får vara högst 8 KiB"),
    ]
    before = server.request("GET", "/api/boards/1")[2]
    for method, path, body, headers, status, code, message in rows:
        row = f"{method} {path} {headers}"[:200]
        got_status, got_headers, answer = server.request(method, path, body, headers)
        check.assertEqual((got_status, list(answer), sorted(answer["error"])), (status, ["error"], ["code", "message"]), row)
        check.assertEqual((answer["error"]["code"], answer["error"]["message"]), (code, message), row)
        check.assertEqual(got_headers["X-Content-Type-Options"], "nosniff", row)
        if status == 405:
            check.assertIn(got_headers["Allow"], ("GET", "GET, HEAD", "POST"), row)
        if status == 401:
            check.assertEqual(got_headers["WWW-Authenticate"], "Bearer", row)
    check.assertEqual(server.request("GET", "/api/boards/1")[2], before)

    # On one kept-alive connection, a header longer than an idle connection's
    # first read is read on, and the requests after it are read as before.
    connection = http.client.HTTPConnection(HOST, server.port, timeout=STEP_S)
    for filler in (6 * 1024, 0, 6 * 1024, 0):
        connection.request("GET", "/api/boards/1", headers={"X-Filler": "f" * filler})
        response = connection.getresponse()
        check.assertEqual((response.status, json.loads(response.read())), (200, before), filler)
    connection.close()

    # Event streams take all connections but 128, kept for requests; past all
    # of them the connection that has waited longest for a request gives way
    # to a new one. A viewer that leaves frees its own at once. The viewers
    # come from addresses of their own, as phones do, 32 on each.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard < MAX_CONNECTIONS + 64:
        print(f"  503 not checked: this machine allows {hard} open files")
        return
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    stream_request = b"GET /api/boards/1/events HTTP/1.1\r\nHost: x\r\n\r\n"
    streams = []
    try:
        for i in range(MAX_CONNECTIONS - KEPT_FOR_REQUESTS):
            streams.append(socket.create_connection((HOST, server.port), timeout=STEP_S,
                                                    source_address=(f"127.0.1.{1 + i // 32}", 0)))
            streams[-1].sendall(stream_request)
        for stream in streams:
            check.assertTrue(stream.recv(4096).startswith(b"HTTP/1.1 200"))
        answer = raw_exchange(server, stream_request)
        check.assertTrue(answer.startswith(b"HTTP/1.1 503"), answer)
        check.assertIn(b'"code":"too_many_connections"', answer)
        check.assertIn('"message":"För många anslutningar; försök igen om en stund"'.encode(), answer)
        check.assertEqual(server.request("GET", "/api/boards")[0], 200)
        waiting = [server.connect() for _ in range(KEPT_FOR_REQUESTS + 8)]
        streams += waiting
        waiting[-1].sendall(b"GET /api/rules HTTP/1.1\r\nHost: x\r\n\r\n")
        check.assertTrue(waiting[-1].recv(4096).startswith(b"HTTP/1.1 200"))
        check.assertEqual(waiting[0].recv(4096), b"")
    finally:
        for stream in streams:
            stream.close()
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
    deadline = time.monotonic() + 2  # well before the next keep-alive comment
    while True:
        viewer = server.connect()
        viewer.sendall(stream_request)
        if viewer.recv(4096).startswith(b"HTTP/1.1 200"):
            break
        viewer.close()
        check.assertLess(time.monotonic(), deadline, "the streams' connections were not freed")
    viewer.shutdown(socket.SHUT_WR)  # a viewer that closes only its sending side has left too
    while viewer.recv(4096):
        pass
    viewer.close()


def test_every_kind_of_answer_has_its_headers_and_head_has_no_body(server):
    data = {"content-type": "application/json", "cache-control": "no-store", "x-content-type-options": "nosniff"}
    page = {"cache-control": "no-cache", "x-content-type-options": "nosniff", "referrer-policy": "no-referrer",
            "content-security-policy": "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'"}
    kinds = [
        ("/api/boards/1", "200 OK", data),
        ("/api/rules", "200 OK", data),
        ("/nowhere", "404 Not Found", data),
        ("/boards/1", "200 OK", page | {"content-type": "text/html; charset=utf-8"}),
        ("/web/app.css", "200 OK", page | {"content-type": "text/css; charset=utf-8"}),
    ]
    # Each path by GET and then by HEAD on one connection: HEAD gets the same
    # head, and the next answer starts where that head ends.
    methods = [method for _ in kinds for method in ("GET", "HEAD")]
    wire = b"".join(f"{method} {path} HTTP/1.1\r\nHost: x\r\n\r\n".encode()
                    for path, _, _ in kinds for method in ("GET", "HEAD"))
    answers = read_answers(raw_exchange(server, wire + b"GET /api/rules HTTP/1.1\r\nConnection: close\r\n\r\n"),
                           methods + ["GET"])
    for (path, status, headers), got, head in zip(kinds, answers[0::2], answers[1::2]):
        check.assertEqual(got[0], "HTTP/1.1 " + status, path)
        check.assertEqual({name: got[1].get(name) for name in headers}, headers, path)
        check.assertGreater(len(got[2]), 0, path)
        check.assertEqual(head, (got[0], got[1], b""), path)


def test_hostile_input_never_stops_the_server(server, churn):
    answer = raw_exchange(server, b"GET\x00/ HTTP/9.9\r\n\r\n")
    check.assertTrue(answer.startswith(b"HTTP/1.1 400"), answer)
    # Pipelined requests are answered in order on the one connection.
    pipelined = b"".join(f"GET /api/boards/{n} HTTP/1.1\r\nHost: x\r\n\r\n".encode() for n in (1, 2, 1))
    answer = raw_exchange(server, pipelined + b"GET /api/boards HTTP/1.1\r\nConnection: close\r\n\r\n")
    check.assertEqual(answer.count(b"HTTP/1.1 200 OK"), 4)
    # A body cut short, a request that stops halfway, and a client that only connects.
    raw_exchange(server, b"POST /api/boards/1/undo HTTP/1.1\r\nContent-Length: 100\r\n\r\n{", False)
    raw_exchange(server, b"GET /api/bo", False)
    # A client that closes its side before its request is whole has left: no answer.
    for partial in (b"", b"GET /api/bo"):
        check.assertEqual(raw_exchange(server, partial, half_close=True), b"", partial)
    started = time.monotonic()
    for _ in range(churn):
        server.connect().close()
    print(f"  {churn} connections opened and dropped in {time.monotonic() - started:.1f} s")
    check.assertEqual(server.request("GET", "/api/boards")[0], 200)
    status, headers, body = server.request("HEAD", "/api/boards/1")
    check.assertEqual((status, body), (200, None))
    check.assertGreater(int(headers["Content-Length"]), 0)
    # curl sends "Expect: 100-continue" before a large body.
    status, _, answer = server.post(2, "start", '{"players": ["x"]' + " " * 2000 + "}",
                                    server.auth(2) | JSON | {"Expect": "100-continue"})
    check.assertEqual((status, answer["accepted"]), (200, True))


def test_board_pages_and_the_head_of_a_stream(server):
    # A board the server lacks is a page in Swedish that leads to the boards; /api stays JSON.
    connection = http.client.HTTPConnection(HOST, server.port, timeout=STEP_S)
    # A page's address answers the same with trailing slashes; the API's do not.
    for path, status in [("/boards/2", 200), ("/boards/3", 404), ("/boards/x", 404), ("/boards/2/", 200),
                         ("/boards/2//", 200), ("/boards/3/", 404), ("/wall/", 200), ("/matches/1-1/", 200)]:
        connection.request("GET", path)
        response = connection.getresponse()
        body = response.read().decode()
        check.assertEqual((response.status, response.getheader("Content-Type")),
                          (status, "text/html; charset=utf-8"), path)
        check.assertIn('<html lang="sv">', body, path)
        check.assertEqual('<a class="board-link" href="/">' in body, status == 404, path)
    connection.close()
    check.assertEqual(server.request("GET", "/api/boards/1/")[0], 404)
    # HEAD of a stream gets GET's head without a body, and the connection goes on.
    with server.connect() as stream:
        stream.sendall(b"GET /api/boards/1/events HTTP/1.1\r\nHost: x\r\n\r\n")
        opened = b""
        while b"\r\n\r\n" not in opened:
            opened += stream.recv(4096)
    answer = raw_exchange(server, b"HEAD /api/boards/1/events HTTP/1.1\r\nHost: x\r\n\r\n"
                                  b"GET /api/boards/2 HTTP/1.1\r\nConnection: close\r\n\r\n")
    head, _, rest = answer.partition(b"\r\n\r\n")
    check.assertEqual(head, opened.partition(b"\r\n\r\n")[0])
    check.assertTrue(rest.startswith(b"HTTP/1.1 200 OK\r\n") and rest.endswith(b"}"), rest)


def test_bad_command_lines_exit_with_status_two(server, path):
    with tempfile.NamedTemporaryFile("w", suffix=".txt") as weak, \
            tempfile.TemporaryDirectory() as directory:
        weak.write("short\n")
        weak.flush()
        data = ["--data", f"{directory}/game501.db"]
        rows = [
            (["--bogus"], 2, "okänt argument: --bogus"),
            (["--boards", "101"], 2, "--boards ska vara ett tal från 1 till 100"),
            (["--connections-per-address", "0"], 2,
             "--connections-per-address ska vara ett tal från 1 till 2048"),
            (["--listen", "localhost"], 2, "--listen ska vara ADRESS:PORT"),
            (["--tokens", weak.name], 2, "token 1 är kortare än 22 tecken"),
            (["--tokens", "/nonexistent/tokens"], 2, "kan inte läsa /nonexistent/tokens"),
            ([*data, "--listen", f"127.0.0.1:{server.port}"], 2, "kan inte lyssna på 127.0.0.1:"),
            (["--data", server.data, "--listen", "127.0.0.1:0"], 2,
             "används redan av en annan game-501-server"),
            (["--help"], 0, ""),
        ]
        for args, status, message in rows:
            done = subprocess.run([path, *args], capture_output=True, text=True, timeout=STEP_S)
            check.assertEqual(done.returncode, status, args)
            check.assertIn(message, done.stderr, args)
            check.assertEqual(done.stdout.startswith("Användning: game-501-server"), status == 0, args)


def test_match_over_http(server):
    """A first-to-2 match on board 2: legs and the throw passing on, the match document and events."""
    rows = [  # body, code
        ({"players": ["A"], "legs": 0}, "bad_field"), ({"players": ["A"], "legs": 21}, "bad_field"),
        ({"players": ["A"], "sets": 11}, "bad_field"), ({"players": ["A"], "legs": "3"}, "bad_field"),
        ({"players": ["A"], "legs": 2.5}, "bad_field"), ({"players": ["A"], "sets": None}, "bad_field"),
        ({"players": ["A"], "leg": 3}, "unknown_field"), ({"notation": "T20", "players": ["A"]}, "unknown_field"),
    ]
    for body, code in rows:
        status, _, answer = server.post(2, "start", body)
        check.assertEqual((status, answer["error"]["code"]), (400, code), body)
    check.assertEqual(server.post(2, "darts", {"notation": "T20", "sorce": "x"})[2]["error"]["code"],
                      "unknown_field")

    stream = server.events(2)
    check.assertIn("throwing_order", stream.wait_for(1)[0][2]["match"])
    check.assertTrue(server.post(2, "start", {"players": ["Ymma", "Sjörk"], "legs": 2})[2]["accepted"])
    leg = ["T20", "T20", "T20", "clear", "S1", "S1", "S1", "clear"] * 2 + ["T20", "T19", "D12"]
    for move in leg:
        if move == "clear":
            server.post(2, "clear")
        else:
            server.post(2, "darts", {"notation": move})
    status, _, match = server.request("GET", "/api/boards/2/match")
    check.assertEqual((match["players"][0]["legs"], match["finished_legs"][0]["darts"]), (1, 9))
    # The next leg begins at the clear, thrown first by the other player.
    answer = server.post(2, "clear")[2]
    check.assertEqual(answer["game"]["players"][0]["name"], "Sjörk")
    events = stream.wait_for(1 + 1 + len(leg) + 1)
    check.assertEqual(events[-1][2]["match"]["starter"], 1)
    check.assertNotIn("game", events[-1][2]["match"])  # the event carries the leg beside it
    check.assertEqual(server.request("GET", "/api/boards/2/match")[2]["game"], answer["game"])
    stream.close()


def test_viewers_that_leave_a_quiet_board_are_forgotten(path, sanitized):
    if sanitized:
        print("  viewers' memory not checked: a sanitizer's allocator holds on to freed memory")
        return
    # A server of its own, whose memory no earlier test has grown.
    server = Server(path)
    request = b"GET /api/boards/1/events HTTP/1.1\r\nHost: x\r\n\r\n"

    def come_and_go(count):
        for _ in range(count):
            with server.connect() as viewer:
                viewer.sendall(request)
                opening = b""
                while not opening.endswith(b"}\n\n"):
                    chunk = viewer.recv(65536)
                    check.assertTrue(chunk, opening)
                    opening += chunk
        return server.resident_kib()

    try:
        # Nothing is played, so only joining prunes the board's list of
        # viewers; one kept would hold about 200 bytes. The first round lets
        # buffers and allocator reach their working size.
        come_and_go(2000)
        before = come_and_go(0)
        grown_kib = come_and_go(2000) - before
    finally:
        server.stop()
    check.assertLess(grown_kib, 2000 * 50 // 1024, "KiB more after 2000 viewers came and went")


def test_refused_darts_leave_a_board_as_large_as_it_was(path, sanitized):
    """A scorer stuck sending darts on a board not yet cleared (a camera, say): every dart is
    refused and journalled, and the board keeps nothing of them."""
    if sanitized:
        print("  memory after refused darts not checked: a sanitizer's allocator holds on to freed memory")
        return
    server = Server(path)

    def refuse(count, scorers=32):
        def scorer(darts):
            connection = http.client.HTTPConnection(HOST, server.port, timeout=STEP_S)
            try:
                for _ in range(darts):
                    connection.request("POST", "/api/boards/1/darts", b'{"notation":"S1"}', AUTH | JSON)
                    response = connection.getresponse()
                    answer = json.loads(response.read())
                    check.assertEqual((response.status, answer["accepted"]), (200, False))
            finally:
                connection.close()

        with ThreadPoolExecutor(scorers) as pool:
            for done in [pool.submit(scorer, count // scorers) for _ in range(scorers)]:
                done.result()
        return server.resident_kib()

    try:
        server.write(1, "start", {"players": ["Ymma", "Sjörk"]})
        for _ in range(3):
            server.throw(1, "T20")
        # The first round lets buffers, the allocator and the database's cache grow towards
        # their working size; 20,000 darts kept as journal rows would take about 9 MB.
        before = refuse(2000)
        grown_kib = refuse(20000) - before
        check.assertEqual(server.get("/api/boards/1")["players"][0]["score"], 321)
    finally:
        server.stop()
    print(f"  {grown_kib} KiB more after 20000 refused darts")
    check.assertLess(grown_kib, 3 * 1024, "KiB more after 20000 refused darts")


def test_computer_over_http(path):
    """A person against the computer, then two computers, on a server whose computer does not pause."""
    server = Server(path, extra=NO_PAUSE)
    try:
        for body, code in [({"players": [{"computer": "pro"}]}, "bad_field"),
                           ({"players": [{"computer": 29}]}, "bad_field"),
                           ({"players": [{"computer": 70.5}]}, "bad_field"),
                           ({"players": [{"name": "X"}]}, "bad_field"),
                           ({"players": [{"computer": "club", "nivå": 1}]}, "unknown_field"),
                           ({"players": [{"computer": "club"}], "seed": -1}, "bad_field")]:
            status, _, answer = server.post(1, "start", body)
            check.assertEqual((status, answer["error"]["code"]), (400, code), body)

        def settled(board, until):
            deadline = time.monotonic() + STEP_S
            while time.monotonic() < deadline:
                match = server.request("GET", f"/api/boards/{board}/match")[2]
                if until(match):
                    return match
                time.sleep(0.05)
            raise AssertionError(f"board {board} did not settle: {match['game']}")

        start = {"players": ["Ymma", {"computer": "strong"}], "seed": 5}
        check.assertTrue(server.post(1, "start", start)[2]["accepted"])
        check.assertEqual(server.request("GET", "/api/boards/1/match")[2]["players"][1]["computer"], "strong")
        for notation in ["T20", "T20", "T20"]:
            server.post(1, "darts", {"notation": notation})
        server.post(1, "clear")
        # The computer throws its three darts and clears the board by itself.
        person_to_throw = lambda m: m["game"]["active_player"] == 0 and not m["game"]["awaiting_clear"]  # noqa: E731
        thrown = settled(1, person_to_throw)["game"]["history"][0]
        check.assertEqual((thrown["player"], [d["source"] for d in thrown["darts"]]), ("Datorn", ["dator"] * 3))
        # Undo takes back its last dart, which it throws again, the same with the same seed.
        check.assertTrue(server.post(1, "undo")[2]["accepted"])
        again = settled(1, person_to_throw)["game"]["history"][0]
        check.assertEqual([d["notation"] for d in again["darts"]], [d["notation"] for d in thrown["darts"]])

        computers = {"players": [{"computer": "strong"}, {"computer": 90, "name": "Robot"}], "legs": 2}
        check.assertTrue(server.post(2, "start", computers)[2]["accepted"])
        match = settled(2, lambda m: m["status"] == "finished")
        check.assertEqual(max(p["legs"] for p in match["players"]), 2)
    finally:
        server.stop()


def test_stop_closes_streams_and_exits_zero(server):
    stream = server.events(2)
    stream.wait_for(1)
    check.assertEqual(server.stop(), 0)
    check.assertTrue(stream.ended.wait(STEP_S))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("server")
    parser.add_argument("--churn", type=int, default=100000)
    parser.add_argument("--sanitized", action="store_true", help="the server runs under a sanitizer")
    args = parser.parse_args()
    server = Server(args.server)
    check.assertIn(f"#token={TOKENS[0]}", server.banner)
    partial = functools.partial
    tests = [
        partial(test_game_over_http_follows_the_event_stream, server),
        partial(test_every_error_has_its_status_and_code, server),
        partial(test_every_kind_of_answer_has_its_headers_and_head_has_no_body, server),
        partial(test_hostile_input_never_stops_the_server, server, args.churn),
        partial(test_board_pages_and_the_head_of_a_stream, server),
        partial(test_bad_command_lines_exit_with_status_two, server, args.server),
        partial(test_match_over_http, server),
        partial(test_viewers_that_leave_a_quiet_board_are_forgotten, args.server, args.sanitized),
        partial(test_refused_darts_leave_a_board_as_large_as_it_was, args.server, args.sanitized),
        partial(test_computer_over_http, args.server),
        partial(test_stop_closes_streams_and_exits_zero, server),
    ]
    try:
        run_all(tests)
    finally:
        server.kill()


if __name__ == "__main__":
    main()
