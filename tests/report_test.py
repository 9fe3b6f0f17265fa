#!/usr/bin/python3
"""Plays a match of two legs over HTTP and leaves a second one being played,
then reads their reports and the players' careers in Chromium at a phone's,
a tablet's and a wall screen's size.

usage: report_test.py SERVER_BINARY [--docs DIR]
With --docs, screenshots of the report and a career go to DIR.
"""

import argparse
import os
import sqlite3
import sys
import time
import urllib.parse

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import NO_PAUSE, TOKENS, Browser, Server, end_all, run_bounded  # noqa: E402

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
  // Each leg's chart, and apart the chart of the chances to win.
  chances: all('.chance-report svg.chart').map((svg) => svg.querySelector('desc')?.textContent),
  charts: all('svg.chart:not(.chance-report svg)').map((svg) => ({
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


def start_server(binary, data):
    return Server(binary, TOKENS[:1], data=data, extra=NO_PAUSE)


PAGES = [  # path, method, status, the page's <title>
    ("/matches", "GET", 200, "Matcherna"), ("/matches/", "GET", 200, "Matcherna"),
    ("/matches/1-1", "GET", 200, "Matchrapport"),
    ("/matches/no-such-id", "GET", 200, "Matchrapport"),
    ("/players", "HEAD", 200, None), ("/players/Sj%C3%B6rk", "GET", 200, "Spelare"),
    ("/players/a%2Fb", "GET", 200, "Spelare"), ("/players/a/b", "GET", 404, None),
    ("/matches/1-1/darts.csv", "GET", 404, None), ("/matchesx", "GET", 404, None),
    ("/players/Ymma", "POST", 405, None),
]


def check_routes(server):
    for path, method, status, title in PAGES:
        got, headers, body = server.exchange(method, path)
        body = body.decode()
        assert got == status, f"{method} {path}: {got}"
        if status == 200:
            assert headers["Content-Security-Policy"].startswith("default-src 'self'")
            assert headers["Content-Type"] == "text/html; charset=utf-8", path
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
    return page.wait(lambda: page.driver.execute_script(PAGE_JS), ready,
                     lambda shown: f"{step}: the page shows {shown}")


def check_figures(step, shown_figures, players):
    wanted = sorted([str(i), key, shown(key, p["figures"])]
                    for i, p in enumerate(players) for key in p["figures"]
                    if key in {k for _, k, _ in shown_figures})
    assert sorted(shown_figures) == wanted, f"{step}: {shown_figures} != {wanted}"


def check_report(page, server, match_id, name):
    base = server.base
    report = server.get(f"/api/matches/{match_id}")
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
    two = len(report["players"]) == 2
    assert [d.startswith("Chansen") for d in shown_page["chances"]] == [True] * two, shown_page
    return report


def check_career(page, server, player, name):
    career = server.get("/api/players/" + urllib.parse.quote(player, safe=""))
    # The matches that count, then those listed apart.
    listed = [m for key in ("matches", "abandoned", "practice", "other") for m in career[key]]
    page.driver.get(f"{server.base}/players/" + urllib.parse.quote(player, safe=""))
    shown_page = wait_for(page, f"career at {name}", lambda p: len(p["matches"]) == len(listed)
                          and len(p["charts"]) == (1 if career["matches"] else 0))
    assert shown_page["title"] == player and shown_page["overflow"] <= 0, f"career at {name}"
    assert shown_page["errors"] == [], f"career at {name}: {shown_page['errors']}"
    assert shown_page["matches"] == [f"/matches/{m['id']}" for m in listed]
    check_figures(f"career at {name}", shown_page["figures"], [career])
    for chart in shown_page["charts"]:
        assert chart["lines"] == chart["markers"] == 1 and chart["desc"].startswith("Snitt"), chart
        assert chart["text"] >= 11, f"career at {name}: chart text of {chart['text']} px"


def check_organiser(page, server, played):
    """The organiser's page: a player renamed and a match struck, as the API then has them."""
    page.driver.get(f"{server.base}/organiser#token={server.organiser}")
    rows = ".organiser-players tbody tr"
    page.wait(lambda: len(page.driver.find_elements(By.CSS_SELECTOR, rows)), lambda count: count == 4,
              lambda count: f"the organiser's page lists {count} players")
    assert "#token" not in page.driver.current_url, "the token stays in the address bar"
    [rename] = [field for field in page.driver.find_elements(By.CSS_SELECTOR, "input.rename-name")
                if field.get_attribute("value") == "Sjörk"]
    rename.clear()
    rename.send_keys("Sjörk Ek" + Keys.ENTER)
    page.wait(lambda: [p["name"] for p in server.get("/api/players")["players"]],
              lambda names: "Sjörk Ek" in names, lambda names: f"no rename: {names}")
    page.wait(lambda: page.driver.find_element(By.CSS_SELECTOR, f'button[data-match="{played}"]'),
              lambda button: button.text == "Stryk", lambda button: "no button to strike the match")
    page.driver.find_element(By.CSS_SELECTOR, f'button[data-match="{played}"]').click()
    page.wait(lambda: server.get(f"/api/matches/{played}"), lambda report: report["void"],
              lambda report: "the match was not struck")
    page.wait(lambda: page.driver.find_element(By.CSS_SELECTOR, f'button[data-match="{played}"]').text,
              lambda text: text == "Räkna igen", lambda text: f"the button says {text}")
    assert server.get("/api/players/Ymma")["matches"] == []


def season(binary, data):
    """For the pictures: more matches, their starts moved a week apart in the
    archive while the server is stopped, as a season would spread them."""
    server = start_server(binary, data)
    for misses in [3, 1, 4, 0, 2, 5, 1]:
        server.write(1, "start", {"players": ["Ymma", "Sjörk"]})
        server.play(1, ["T20 T20 T20", "S1 S1 S1"] + ["MISS MISS MISS", "S20 S20 S20"] * misses
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
    return start_server(binary, data)


def run(binary, docs, scratch):
    data = os.path.join(scratch, "game501.db")
    server = start_server(binary, data)
    base = server.base
    page = None
    try:
        server.write(1, "start", {"players": ["Ymma", "Sjörk"], "legs": 2})
        server.play(1, MATCH)
        server.write(1, "start", {"players": ["Ymma", HOSTILE, LONG]})
        server.play(1, ["T20 T20 T20"])
        server.write(1, "darts", {"notation": "S1"})
        played, playing = [m["id"] for m in reversed(server.get("/api/matches")["matches"])]

        check_routes(server)
        page = Browser(os.path.join(scratch, "browser"))
        # Errors that never reach the console, such as a resize observer's loop.
        page.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": (
            "window.errors = []; addEventListener('error', (e) => errors.push(e.message));")})
        for name, size in SIZES.items():
            page.resize(*size)
            report = check_report(page, server, played, name)
            if docs and name != "tablet":
                with open(os.path.join(docs, f"report-{name}.png"), "wb") as file:
                    file.write(page.screenshot(whole=name == "phone"))
            check_career(page, server, "Ymma", name)
        assert report["status"] == "finished"
        assert [leg["winner"] for leg in report["legs"]] == [0, 0]

        # A match being played: its open visit, and the next dart without a reload.
        page.resize(*SIZES["phone"])
        check_report(page, server, playing, "phone, playing")
        server.write(1, "darts", {"notation": "S1"})
        wait_for(page, "the report follows the match",
                 lambda p: ["1", "darts", "2"] in p["figures"] and p["visits"] == [2])
        page.driver.find_element(By.CSS_SELECTOR, "h1 a:nth-of-type(2)").click()
        check_career(page, server, HOSTILE, "phone, linked")
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

        check_organiser(page, server, played)
        errors = page.console_errors(lambda message: "404" in message and "/api/" in message)
        assert not errors, f"console errors: {errors}"

        if docs:
            assert server.stop() == 0
            server = season(binary, data)
            page.resize(*SIZES["tablet"])
            check_career(page, server, "Ymma", "tablet, a season")
            with open(os.path.join(docs, "player-tablet.png"), "wb") as file:
                file.write(page.screenshot())
    finally:
        end_all(([page.quit] if page else []) + [server.stop])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("server")
    parser.add_argument("--docs")
    args = parser.parse_args()
    if args.docs:
        os.makedirs(args.docs, exist_ok=True)

    started = time.monotonic()
    run_bounded(DEADLINE_S, "game501-report-", lambda scratch: run(args.server, args.docs, scratch))
    print(f"report test passed in {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    sys.exit(main())
