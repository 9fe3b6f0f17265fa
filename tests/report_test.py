#!/usr/bin/python3
"""Plays a match of two legs over HTTP and leaves a second one being played,
then reads their reports and the players' careers in Chromium at a phone's,
a tablet's and a wall screen's size.

usage: report_test.py SERVER_BINARY [--docs DIR]
With --docs, screenshots of the report and a career go to DIR.
"""

import argparse
import json
import os
import shutil
import signal
import sqlite3
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

from selenium.common.exceptions import TimeoutException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_test import TOKEN, WAIT_S, Browser, Server  # noqa: E402

DEADLINE_S = 60
SIZES = {"phone": (375, 812), "tablet": (1280, 800), "wall": (1920, 1080)}
# Markup, a slash, a query and a fragment: a name is text, and one segment of an address.
HOSTILE = "<img src=x onerror=alert(1)>/?#"
LONG = "Bertil Långnamn-Svensson"  # wraps, and must not widen a phone's page
MATCH = [  # visits in throwing order; Ymma starts leg 1, Sjörk leg 2
    "T20 T20 T20", "S20 S20 S20", "T20 T20 T20", "S1 S1 S1", "T20 T19 D12",
    "T20 T20 T20", "T20 T20 T20", "T20 T20 T20", "T20 T20 T20", "T20 T20 D20", "T20 T19 D12",
]

# What a report or career page shows, read from its DOM.
PAGE_JS = """
const all = (css, root = document) => [...root.querySelectorAll(css)];
return {
  title: document.querySelector('h1')?.textContent ?? '',
  // A phone widens innerWidth to what overflows; the root's clientWidth stays the screen's.
  overflow: document.documentElement.scrollWidth - document.documentElement.clientWidth,
  figures: all('[data-key]').map((e) => [e.dataset.player, e.dataset.key, e.textContent]),
  charts: all('svg.chart').map((svg) => ({
    lines: all('polyline.line', svg).length,
    markers: all('path.markers', svg).length,
    role: svg.getAttribute('role'),
    title: svg.querySelector('title')?.textContent ?? '',
    desc: svg.querySelector('desc')?.textContent ?? '',
    // The smallest text drawn, in CSS pixels.
    text: Math.min(...all('text', svg).map((t) => t.getBoundingClientRect().height)),
  })),
  visits: all('.leg-report details tbody').map((body) => body.rows.length),
  open: all('.leg-report details tbody').filter((body) => body.getClientRects().length).length,
  rows: all('main tbody tr').length,
  matches: all('main tbody a[href^="/matches/"]').map((a) => a.getAttribute('href')),
  csv: document.querySelector('#csv')?.getAttribute('href') ?? '',
  images: all('img').length,
  errors: window.errors,
};
"""


def api(base, path, body=None):
    request = urllib.request.Request(base + path, method="GET" if body is None else "POST",
                                     data=None if body is None else json.dumps(body).encode())
    if body is not None:
        request.add_header("Authorization", f"Bearer {TOKEN}")
        request.add_header("Content-Type", "application/json")
    with urllib.request.urlopen(request, timeout=WAIT_S) as response:
        return json.load(response)


def throw(base, visits):
    """Throws whole visits, each followed by the board's clear."""
    for visit in visits:
        for notation in visit.split():
            assert api(base, "/api/boards/1/darts", {"notation": notation})["accepted"], notation
        assert api(base, "/api/boards/1/clear", {})["accepted"]


PAGES = [  # path, method, status, the page's <title>
    ("/matches", "GET", 200, "Matcherna"), ("/matches/", "GET", 200, "Matcherna"),
    ("/matches/1-1", "GET", 200, "Matchrapport"),
    ("/matches/no-such-id", "GET", 200, "Matchrapport"),
    ("/players", "HEAD", 200, None), ("/players/Sj%C3%B6rk", "GET", 200, "Spelare"),
    ("/players/a%2Fb", "GET", 200, "Spelare"), ("/players/a/b", "GET", 404, None),
    ("/matches/1-1/darts.csv", "GET", 404, None), ("/matchesx", "GET", 404, None),
    ("/players/Ymma", "POST", 405, None),
]


def check_routes(base):
    for path, method, status, title in PAGES:
        request = urllib.request.Request(base + path, method=method)
        try:
            response = urllib.request.urlopen(request, timeout=WAIT_S)
        except urllib.error.HTTPError as error:
            response = error
        with response:
            body = response.read().decode()
            assert response.status == status, f"{method} {path}: {response.status}"
            if status == 200:
                assert response.headers["Content-Security-Policy"].startswith("default-src 'self'")
                assert response.headers["Content-Type"] == "text/html; charset=utf-8", path
                assert title is None or f"<title>{title}</title>" in body, f"{path}: {body[:200]}"


def shown(key, figures):
    """A figure as the page writes it in Swedish."""
    value = figures[key]
    decimal = lambda v: "–" if v is None else f"{v:.2f}".replace(".", ",")  # noqa: E731
    if key == "checkout_percent":
        percent = "–" if value is None else decimal(value) + "\u00a0%"
        return f"{percent} ({figures['checkout_text']})"
    if key.endswith("average"):
        return decimal(value)
    return "–" if value is None else str(value)


def wait_for(page, step, ready):
    last = {}

    def check(driver):
        last.update(driver.execute_script(PAGE_JS))
        return ready(last)

    try:
        WebDriverWait(page.driver, WAIT_S, poll_frequency=0.05).until(check)
    except TimeoutException:
        raise AssertionError(f"{step}: the page shows {last}") from None
    return last


def check_figures(step, shown_figures, players):
    wanted = sorted([str(i), key, shown(key, p["figures"])]
                    for i, p in enumerate(players) for key in p["figures"]
                    if key in {k for _, k, _ in shown_figures})
    assert sorted(shown_figures) == wanted, f"{step}: {shown_figures} != {wanted}"


def check_report(page, base, match_id, name):
    report = api(base, f"/api/matches/{match_id}")
    visits = [sum(len(p["visits"]) for p in leg["players"]) for leg in report["legs"]]
    page.driver.get(f"{base}/matches/{match_id}")
    shown_page = wait_for(page, f"report at {name}",
                          lambda p: p["visits"] == visits and len(p["charts"]) == len(visits))
    assert shown_page["title"] == " – ".join(p["name"] for p in report["players"])
    # The visits as tables: shown when asked for, and not wider than the page.
    # At once: a report being played may be drawn again in between.
    page.driver.execute_script(
        "document.querySelectorAll('.leg-report summary').forEach((s) => s.click())")
    opened = page.driver.execute_script(PAGE_JS)
    assert opened["open"] == len(visits) and opened["overflow"] <= 0, f"report at {name}: {opened}"
    assert shown_page["csv"] == f"/api/matches/{match_id}/darts.csv"
    assert shown_page["errors"] == [], f"report at {name}: {shown_page['errors']}"
    check_figures(f"report at {name}", shown_page["figures"], report["players"])
    assert len(shown_page["figures"]) == 11 * len(report["players"])
    for chart, leg in zip(shown_page["charts"], report["legs"]):
        assert chart["lines"] == len(report["players"]), chart
        assert chart["markers"] == len([p for p in leg["players"] if p["visits"]]), chart
        assert chart["role"] == "img" and chart["title"] and chart["desc"].startswith("Kvar"), chart
        assert chart["text"] >= 11, f"report at {name}: chart text of {chart['text']} px"
    return report


def check_career(page, base, player, name):
    career = api(base, "/api/players/" + urllib.parse.quote(player, safe=""))
    page.driver.get(f"{base}/players/" + urllib.parse.quote(player, safe=""))
    shown_page = wait_for(page, f"career at {name}",
                          lambda p: len(p["matches"]) == len(career["matches"]) and p["charts"])
    assert shown_page["title"] == player and shown_page["overflow"] <= 0, f"career at {name}"
    assert shown_page["errors"] == [], f"career at {name}: {shown_page['errors']}"
    assert shown_page["matches"] == [f"/matches/{m['id']}" for m in career["matches"]]
    check_figures(f"career at {name}", shown_page["figures"], [career])
    [chart] = shown_page["charts"]
    assert chart["lines"] == chart["markers"] == 1 and chart["desc"].startswith("Snitt"), chart
    assert chart["text"] >= 11, f"career at {name}: chart text of {chart['text']} px"


def season(binary, tokens, data):
    """For the pictures: more matches, their starts moved a week apart in the
    archive while the server is stopped, as a season would spread them."""
    server = Server(binary, tokens, data=data)
    for misses in [3, 1, 4, 0, 2, 5, 1]:
        api(server.base, "/api/boards/1/start", {"players": ["Ymma", "Sjörk"]})
        throw(server.base, ["T20 T20 T20", "S1 S1 S1"] + ["MISS MISS MISS", "S20 S20 S20"] * misses
              + ["T20 T20 T20", "S1 S1 S1", "T20 T19 D12"])
    assert server.stop() == 0
    with sqlite3.connect(data) as database:
        starts = database.execute(
            "SELECT board, start_event FROM matches ORDER BY started DESC").fetchall()
        now = time.time() * 1000
        for weeks, (board, start) in enumerate(starts):
            database.execute("UPDATE matches SET started = ? WHERE board = ? AND start_event = ?",
                             (now - weeks * 7 * 86_400_000, board, start))
    database.close()
    return Server(binary, tokens, data=data)


def run(binary, tokens, docs, scratch):
    data = os.path.join(scratch, "game501.db")
    server = Server(binary, tokens, data=data)
    base = server.base
    page = None
    try:
        api(base, "/api/boards/1/start", {"players": ["Ymma", "Sjörk"], "legs": 2})
        throw(base, MATCH)
        api(base, "/api/boards/1/start", {"players": ["Ymma", HOSTILE, LONG]})
        throw(base, ["T20 T20 T20"])
        api(base, "/api/boards/1/darts", {"notation": "S1"})
        played, playing = [m["id"] for m in reversed(api(base, "/api/matches")["matches"])]

        check_routes(base)
        page = Browser(os.path.join(scratch, "browser"))
        # Errors that never reach the console, such as a resize observer's loop.
        page.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": (
            "window.errors = []; addEventListener('error', (e) => errors.push(e.message));")})
        for name, size in SIZES.items():
            page.resize(*size)
            report = check_report(page, base, played, name)
            if docs and name != "tablet":
                with open(os.path.join(docs, f"report-{name}.png"), "wb") as file:
                    file.write(page.screenshot(whole=name == "phone"))
            check_career(page, base, "Ymma", name)
        assert report["status"] == "finished"
        assert [leg["winner"] for leg in report["legs"]] == [0, 0]

        # A match being played: its open visit, and the next dart without a reload.
        page.resize(*SIZES["phone"])
        check_report(page, base, playing, "phone, playing")
        api(base, "/api/boards/1/darts", {"notation": "S1"})
        wait_for(page, "the report follows the match",
                 lambda p: ["1", "darts", "2"] in p["figures"] and p["visits"] == [2])
        page.driver.find_element(By.CSS_SELECTOR, "h1 a:nth-of-type(2)").click()
        check_career(page, base, HOSTILE, "phone, linked")
        assert page.driver.execute_script(PAGE_JS)["images"] == 0, "a name became markup"

        for path, title in [("/matches/9-999", "Matchen finns inte"),
                            ("/players/Ingen%20alls", "Spelaren finns inte")]:
            page.driver.get(base + path)
            wait_for(page, path, lambda p: p["title"] == title)
        page.driver.get(f"{base}/players")
        wait_for(page, "players", lambda p: p["rows"] == 4)
        page.driver.get(f"{base}/matches")
        wait_for(page, "matches",
                 lambda p: p["matches"] == [f"/matches/{playing}", f"/matches/{played}"])

        errors = page.console_errors(lambda message: "404" in message and "/api/" in message)
        assert not errors, f"console errors: {errors}"

        if docs:
            assert server.stop() == 0
            server = season(binary, tokens, data)
            page.resize(*SIZES["tablet"])
            check_career(page, server.base, "Ymma", "tablet, a season")
            with open(os.path.join(docs, "player-tablet.png"), "wb") as file:
                file.write(page.screenshot())
    finally:
        signal.alarm(WAIT_S)
        for end in ([page.quit] if page else []) + [server.stop]:
            try:
                end()
            except Exception as error:
                print(f"while cleaning up: {error!r}", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("server")
    parser.add_argument("--docs")
    args = parser.parse_args()
    if args.docs:
        os.makedirs(args.docs, exist_ok=True)

    def on_alarm(signum, frame):
        raise TimeoutError(f"the test ran longer than {DEADLINE_S} s")

    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(DEADLINE_S)
    started = time.monotonic()
    scratch = tempfile.mkdtemp(prefix="game501-report-")
    try:
        tokens = os.path.join(scratch, "tokens.txt")
        with open(tokens, "w") as file:
            file.write(TOKEN + "\n")
        run(args.server, tokens, args.docs, scratch)
    finally:
        signal.alarm(0)
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"report test passed in {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    sys.exit(main())
