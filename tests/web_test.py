#!/usr/bin/python3
"""Plays a short game in Chromium on a scoring page while a viewing page of
the same board follows it, stops and restarts the server, plays a match of
two legs with writes whose answers get lost, then a game against the
computer.

usage: web_test.py SERVER_BINARY OUTPUT_DIR [--docs DIR]
Screenshots at the three sizes go to OUTPUT_DIR, and also to DIR with --docs.
"""

import argparse
import csv
import io
import os
import re
import sys
import time

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import NO_PAUSE, STEP_S, Browser, Server, end_all, run_bounded  # noqa: E402

# "+", "/" and "=" are allowed in tokens and easily mangled in addresses.
TOKEN = "web+test/token=0123456789abcdef"
DEADLINE_S = 120
# The advice of the chosen level: one to three aims and the chance of finishing.
ADVISED = re.compile(r"Utgång: \S+( \S+){0,2} \((< 1|\d+) %\)")
SIZES = {"phone": (375, 812), "tablet": (1024, 768), "wall": (1920, 1080)}
PHONES = [(375, 812), (360, 640)]
# What a page shows, read from its DOM; only visible parts count.
SNAPSHOT_JS = """
const q = (css) => document.querySelector(css);
const shown = (css) => !!q(css) && q(css).getClientRects().length > 0;
const texts = (css) => [...document.querySelectorAll(css)].map((e) => e.textContent);
return {
  players: [...document.querySelectorAll('#players .player')].map((li) =>
    [li.querySelector('.name').textContent, li.querySelector('.score').textContent,
     li.querySelector('.tag').textContent]),
  darts: texts('#turn .dart:not(.empty) .notation'),
  total: shown('#turn .total') ? q('#turn .total').textContent : '',
  route: shown('#route') ? q('#route').textContent : '',
  message: q('#message').textContent,
  clear: shown('#clear-banner'),
  winner: shown('#winner-banner') ? q('#winner-banner .banner-text').textContent.trim() : '',
  next: shown('#banner-next'),
  round: q('#round').textContent,
  standing: [...document.querySelectorAll('#players .player')].map((li) =>
    [[...li.querySelectorAll('.counts span')].map((e) => e.textContent).join(' '),
     !!li.querySelector('.starter-mark')]),
  history: [...document.querySelectorAll('#history tbody tr')].map((tr) =>
    [...tr.cells].map((td) => td.textContent).join(' | ')),
  idle: shown('#idle'),
  disconnected: shown('#connection'),
  problem: shown('#problem') ? q('#problem').textContent : '',
  report: shown('#report-link') ? q('#report-link').getAttribute('href') : '',
};
"""

# Each player's figures as the scoreboard shows them, in the order shown.
FIGURES_JS = """
return [...document.querySelectorAll('#players .player')].map((li) => Object.fromEntries(
  [...li.querySelectorAll('[data-figure]')].map((dd) => [dd.dataset.figure, dd.textContent])));
"""

LAYOUT_JS = """
const q = (css) => document.querySelector(css);
const rect = (css) => q(css).getBoundingClientRect();
const visible = [...document.querySelectorAll('button, select, textarea')]
  .filter((e) => e.getClientRects().length > 0);
return {
  overflow: document.documentElement.scrollWidth - window.innerWidth,
  small: visible.map((e) => [e.textContent.trim(), e.getBoundingClientRect()])
    .filter(([, r]) => r.width < 48 || r.height < 48).map(([t]) => t),
  score: parseFloat(getComputedStyle(q('#players .score')).fontSize),
  pad: q('#pad').getClientRects().length > 0,
  level: q('#level-choice').getClientRects().length > 0,
  note: q('#viewing-note').getClientRects().length > 0,
  scrolls: document.documentElement.scrollHeight - innerHeight,
  stacked: q('#pad').getClientRects().length > 0 && rect('#pad').top >= rect('.board').bottom,
};
"""

# What a phone scorer needs in view during a game: [is a button, left, top,
# right, bottom] of the scores, the turn, the route's place and every pad button.
PAD_JS = """
const parts = document.querySelectorAll('#players .score, #turn .darts, .checkout, ' +
  '#pad .multipliers button, #segments button, #pad .specials button, #pad .actions button');
return [innerWidth, innerHeight, [...parts].map((e) => {
  const r = e.getBoundingClientRect();
  return [e.tagName === 'BUTTON', r.left, r.top, r.right, r.bottom];
})];
"""

# Records what the page hands to speech synthesis instead of speaking it.
RECORD_SPEECH_JS = """
window.spoken = [];
speechSynthesis.speak = (utterance) => window.spoken.push(`${utterance.lang} ${utterance.text}`);
"""
CALLED = ["Uppläsning på", "Hundraåttio!", "Sextiofem", "Hundraåttio!", "Fyrtiofyra",
          "Du behöver 141", "Bust", "Noll", "Du behöver 141", "Ymma vann!"]
NUMBERS = {0: "noll", 1: "ett", 7: "sju", 12: "tolv", 19: "nitton", 20: "tjugo", 21: "tjugoett",
           45: "fyrtiofem", 99: "nittionio", 100: "hundra", 101: "hundraett", 111: "hundraelva",
           120: "hundratjugo", 141: "hundrafyrtioett", 180: "hundraåttio"}
NUMBERS_JS = """
const [numbers, done] = arguments;
import('/web/caller.js').then(({ swedishNumber }) => done(numbers.map(swedishNumber)));
"""

# Taps a pad button twice, `gap` ms apart.
TAP_TWICE_JS = """
const [css, gap, done] = arguments;
const button = document.querySelector(css);
button.click();
setTimeout(() => done(button.click()), gap);
"""

# Draws the board as it is, with advice by level beside the route.
ADVICE_JS = """
const [level, done] = arguments;
const advice = [
  { level: 'beginner', name: 'Nybörjare', route: ['S19', 'D20'], probability: 0.41, chance: '41 %' },
  { level: 'club', name: 'Klubb', route: ['T19', 'D12'], probability: 0.625, chance: '63 %' },
  { level: 'strong', name: 'Stark', route: ['T15', 'D18'], probability: 0.8, chance: '80 %' },
];
Promise.all([import('/web/view.js'), fetch('/api/boards/1').then((r) => r.json())])
  .then(([{ render }, state]) => {
    const checkout = { darts_left: 2, player: 0, remaining: 81, route: ['T19', 'D12'], advice };
    render(state, { id: -1, checkout, level });
    done([document.querySelector('#route').textContent, document.querySelector('#level').value]);
  });
"""


# Fails the page's next write once, as `fault` says, and records the
# Idempotency-Key of every write from now on.
FAULT_JS = """
const [fault] = arguments;
window.realFetch ??= window.fetch;
window.keys = [];
let next = fault;
const reply = (body, status, type) =>
  new Response(body, { status, headers: { 'Content-Type': type } });
window.fetch = async (url, init = {}) => {
  if (init.method !== 'POST') return window.realFetch(url, init);
  window.keys.push(new Headers(init.headers).get('Idempotency-Key'));
  const now = next;
  next = null;
  if (now === 'lost') {
    await window.realFetch(url, init);
    throw new TypeError('Failed to fetch');
  }
  if (now === 'gateway') return reply('<h1>502 Bad Gateway</h1>', 502, 'text/html');
  if (now === 'storage') {
    const error = { code: 'storage_unavailable', message: 'Journalen kan inte skrivas just nu' };
    return reply(JSON.stringify({ error }), 503, 'application/json');
  }
  return window.realFetch(url, init);
};
"""
KEY = re.compile(r"[0-9a-f]{32}")

# The form's lines and the players of the start they make.
PLAYERS_JS = """
const [lines, done] = arguments;
Promise.all([import('/web/new_game.js'), fetch('/api/rules').then((r) => r.json())])
  .then(([{ readPlayers }, rules]) => done(lines.map((text) => readPlayers(text, rules.computer))));
"""
PLAYER_LINES = {
    " Ymma \n\nSjörk": ["Ymma", "Sjörk"],
    "Datorn · Klubbspelare": [{"computer": "club", "name": "Datorn"}],
    "Robban · snitt 70\n · Stark spelare": [{"computer": 70, "name": "Robban"}, "· Stark spelare"],
    "Ymma · Snitt 29\nYmma · Snitt 111\nYmma · Proffs": ["Ymma · Snitt 29", "Ymma · Snitt 111",
                                                         "Ymma · Proffs"],
}


# A typical leg of a club night, visits in throwing order, Ymma first: a
# bust at 50, then a checkout in two darts.
LEG = ["T20 S20 S5", "S20 S1 S5", "S20 T20 S1", "S19 S7 S19", "T20 S20 S20", "S5 S20 S1",
       "S20 T19 S3", "T20 MISS S20", "S20 S20 S20", "S19 S19 S3", "S20 S5 S20", "S20 T20 S20",
       "S20 S20 S20", "OUTER S20 S5", "S10 D20"]
# Counts the taps on buttons and on the darts of the visit, from now on.
COUNT_TAPS_JS = """
window.taps = 0;
if (!window.countingTaps) {
  window.countingTaps = true;
  document.addEventListener('click', (event) => {
    if (event.target.closest('button, [data-index]')) window.taps += 1;
  }, true);
}
"""
# Records every row of darts the turn shows, from now on.
RECORD_TURNS_JS = """
window.turns = [];
const read = () => [...document.querySelectorAll('#turn .dart:not(.empty) .notation')]
  .map((e) => e.textContent).join(' ');
new MutationObserver(() => {
  const now = read();
  if (window.turns[window.turns.length - 1] !== now) window.turns.push(now);
}).observe(document.querySelector('#turn'), { childList: true, subtree: true });
"""
# The legs won of each match the list shows, once it shows the list.
MATCH_LEGS_JS = """
if (!document.querySelector('.none-yet, main tbody')) return null;
return [...document.querySelectorAll('main tbody tr')].map((tr) => tr.cells[2].textContent);
"""
QUEUED_JS = "return [...document.querySelectorAll('#turn .dart-queued .notation')].map((e) => e.textContent)"
SHOWN_JS = "return [...arguments].map((css) => !!document.querySelector(css)?.getClientRects().length)"
# Each board of /wall: how far its content overflows it, the parts that lie
# outside it, and the font sizes of its scores and names.
WALL_JS = """
return [...document.querySelectorAll('.wall-board')].map((cell) => {
  const box = cell.getBoundingClientRect();
  const parts = cell.querySelectorAll('header, h2, p, ol, li, .name, .wall-legs, .wall-score, ' +
    '.wall-visit, .wall-darts, .wall-note');
  const outside = [...parts].filter((e) => {
    const r = e.getBoundingClientRect();
    return r.width > 0 && (r.left < box.left - 1 || r.right > box.right + 1 ||
      r.top < box.top - 1 || r.bottom > box.bottom + 1);
  }).map((e) => e.className);
  const sizes = (css) => [...cell.querySelectorAll(css)].map((e) => parseFloat(getComputedStyle(e).fontSize));
  return {
    board: cell.querySelector('h2').textContent,
    overflow: [cell.scrollWidth - cell.clientWidth, cell.scrollHeight - cell.clientHeight],
    outside,
    scores: [...cell.querySelectorAll('.wall-score')].map((e) => e.textContent),
    names: [...cell.querySelectorAll('.name-text')].map((e) => e.textContent),
    score: Math.min(...sizes('.wall-score')),
    name: Math.min(...sizes('.wall-player .name')),
    format: cell.querySelector('.wall-format')?.textContent ?? '',
    visit: cell.querySelector('.wall-visit')?.textContent ?? '',
  };
});
"""


def start_server(binary, port=0):
    """Starts the server with a database of its own, so that a restart begins idle."""
    return Server(binary, [TOKEN], port=port, extra=NO_PAUSE)


def snapshot(page):
    return page.driver.execute_script(SNAPSHOT_JS)


def expect(pages, step, **wanted):
    """Waits until every page shows what is wanted."""
    def ready(shown):
        return all(value.fullmatch(shown[key]) if isinstance(value, re.Pattern) else shown[key] == value
                   for key, value in wanted.items())

    for page in pages:
        page.wait(lambda: snapshot(page), ready, lambda shown: (
            f"{step}: wanted {wanted}, the page shows {({key: shown.get(key) for key in wanted})}"))


def expect_figures(pages, step, server):
    """Waits until every page shows each player's figures as the API has them:
    the leg's three-dart average and darts, and in a match its average."""
    match = server.get("/api/boards/1/match")
    in_match = match["format"]["legs"] > 1 or match["format"]["sets"] > 1
    average = lambda value: "–" if value is None else f"{value:.2f}".replace(".", ",")  # noqa: E731
    wanted = []
    # A match shows its players in starting order, a single game in throwing order.
    for index in range(len(match["players"])) if in_match else match["throwing_order"]:
        figures = match["players"][index]["figures"]
        wanted.append({"leg-average": average(figures["leg"]["three_dart_average"]),
                       "leg-darts": str(figures["leg"]["darts"])}
                      | ({"match-average": average(figures["match"]["three_dart_average"])}
                         if in_match else {}))
    for page in pages:
        page.wait(lambda: page.driver.execute_script(FIGURES_JS), lambda shown: shown == wanted,
                  lambda shown: f"{step}: wanted figures {wanted}, the page shows {shown}")
    return match


def players(ymma, sjork, active):
    tags = ["Kastar" if index == active else "" for index in range(2)]
    return [["Ymma", str(ymma), tags[0]], ["Sjörk", str(sjork), tags[1]]]


def phone_pad(scorer, step):
    """Returns, per phone size, where the pad's buttons lie, once every part a
    scorer needs lies inside the viewport with buttons of at least 48 px."""
    places = {}
    for width, height in PHONES:
        scorer.resize(width, height)
        # As a phone scorer holds the page, whatever a click at another size scrolled.
        scorer.driver.execute_script("window.scrollTo(0, 0)")

        def fits(pad):
            w, h, parts = pad
            return all(0 <= left and right <= w and 0 <= top and bottom <= h
                       for _, left, top, right, bottom in parts)

        last = scorer.wait(lambda: scorer.driver.execute_script(PAD_JS), fits,
                           lambda pad: f"{step} at {width}x{height}: outside the screen: {pad}")
        buttons = [part for part in last[2] if part[0]]
        small = [part for part in buttons if part[3] - part[1] < 48 or part[4] - part[2] < 48]
        assert len(buttons) == 3 + 20 + 3 + 2 and not small, f"{step}: {small or buttons}"
        places[(width, height)] = [part[1:] for part in buttons]
    scorer.resize(*SIZES["tablet"])
    return places


def check_sizes(scorer, viewer, outputs):
    for name, (width, height) in SIZES.items():
        for page in (scorer, viewer):
            page.resize(width, height)
        score, view = scorer.driver.execute_script(LAYOUT_JS), viewer.driver.execute_script(LAYOUT_JS)
        for label, layout in (("scoring", score), ("viewing", view)):
            assert layout["overflow"] <= 0, f"{name}: the {label} page scrolls sideways"
        assert not score["small"], f"{name}: buttons under 48 px: {score['small']}"
        assert score["pad"] and not view["pad"], f"{name}: the pad is on the wrong page"
        assert view["note"] and not score["note"], f"{name}: the viewing note is on the wrong page"
        assert not view["level"], f"{name}: the viewing page offers levels"
        if name == "phone":
            assert score["stacked"], "phone: the pad is not below the board"
        if name == "wall":
            assert view["score"] >= 120, f"wall: scores are {view['score']} px"
        shots = {name: viewer.screenshot() if name == "wall" else scorer.screenshot(whole=name == "phone")}
        if name == "phone":
            shots["phone-pad"] = scorer.screenshot()
        for directory in outputs:
            for shot, png in shots.items():
                with open(os.path.join(directory, f"board-{shot}.png"), "wb") as file:
                    file.write(png)
    scorer.resize(*SIZES["tablet"])
    viewer.resize(*SIZES["wall"])


def play(binary, outputs, scratch):
    server = start_server(binary)
    base = server.base
    scorer = viewer = None
    try:
        scorer = Browser(os.path.join(scratch, "scorer"))
        viewer = Browser(os.path.join(scratch, "viewer"))
        both = (scorer, viewer)
        scorer.resize(*SIZES["tablet"])
        viewer.resize(*SIZES["wall"])
        scorer.driver.get(f"{base}/boards/1#token={TOKEN}")
        viewer.driver.get(f"{base}/boards/1")
        expect(both, "idle board", idle=True, disconnected=False)
        assert "token" not in scorer.driver.current_url, "the token stays in the address bar"
        # This game confirms every clear by hand; the automatic clear is tried later.
        assert scorer.driver.find_element(By.ID, "auto-clear").is_selected(), "not on by default"
        scorer.press("#auto-clear")
        for page in both:
            page.driver.execute_script(RECORD_SPEECH_JS)
            assert page.driver.find_element(By.ID, "caller").get_attribute("aria-pressed") == "false"
            page.press("#caller")

        scorer.driver.find_element(By.ID, "names").send_keys("Ymma\nSjörk")
        scorer.press("#start")
        expect(both, "start", players=players(501, 501, 0), message="501-spelet har startat",
               standing=[["", False], ["", False]], round="Runda 1")
        phone_pad(scorer, "start")

        # The focus is still on the start button: Enter must register the dart.
        scorer.type("t20" + Keys.ENTER)
        expect(both, "keyboard dart", players=players(441, 501, 0), darts=["T20"], total="Summa 60")
        during_turn = phone_pad(scorer, "during a turn")
        scorer.type("t20" + Keys.ENTER + "t20" + Keys.ENTER)
        expect(both, "full turn", players=players(321, 501, 1), clear=True,
               darts=["T20", "T20", "T20"], history=["1 | Ymma | T20 T20 T20 | 180 | 321"])
        assert phone_pad(scorer, "banner") == during_turn, "the banner moved the pad"
        assert not viewer.driver.find_element(By.ID, "banner-clear").is_displayed()
        scorer.type("t20" + Keys.ENTER)
        expect(both, "dart before the clear", players=players(321, 501, 1), clear=True,
               message="Ta bort pilarna och bekräfta att tavlan är tom")
        scorer.driver.find_element(By.ID, "names").clear()
        scorer.press("#start")
        expect([scorer], "no names", problem=re.compile(r"Skriv \d+ till \d+ namn, ett per rad"))
        assert phone_pad(scorer, "problem") == during_turn, "a problem moved the pad"
        scorer.driver.find_element(By.ID, "names").send_keys("Ymma\nSjörk")
        scorer.press("#banner-clear")
        expect(both, "clear", clear=False, darts=[], message="Tavlan är redo för nästa spelare",
               problem="")

        scorer.press('[data-multiplier="T"]')
        assert scorer.driver.find_element(
            By.CSS_SELECTOR, '[data-multiplier="T"]').get_attribute("aria-pressed") == "true"
        scorer.press('[data-segment="20"]')
        scorer.press('[data-segment="5"]')
        expect(both, "pad darts", players=players(321, 436, 1), darts=["T20", "S5"])
        scorer.press('[data-dart="MISS"]')
        expect(both, "pad turn", players=players(321, 436, 0), clear=True)
        scorer.driver.find_element(By.ID, "clear").send_keys(Keys.ENTER)
        expect(both, "clear by keyboard", clear=False)

        server.throw(1, "T20", "test")
        expect(both, "dart over HTTP", players=players(261, 436, 0), darts=["T20"])
        scorer.type("t20" + Keys.ENTER + "t20" + Keys.ENTER)
        expect(both, "second turn", players=players(141, 436, 1), clear=True)
        scorer.press("#banner-clear")
        scorer.type("bull" + Keys.ENTER)
        expect(both, "bull", players=players(141, 386, 1), darts=["BULL"])
        scorer.press("#undo")
        expect(both, "undo", players=players(141, 436, 1), darts=[],
               message="Senaste kastet ångrades")
        scorer.type("t21" + Keys.ENTER)
        expect(both, "refused dart", players=players(141, 436, 1), darts=[],
               message="Ogiltigt kast: T21")
        scorer.type("m" + Keys.ENTER + "25" + Keys.ENTER + "s2" + Keys.BACKSPACE + "19" + Keys.ENTER)
        expect(both, "typed misses", players=players(141, 392, 0), clear=True, route=ADVISED)
        scorer.press("#banner-clear")
        scorer.type("t20" + Keys.ENTER + "t20" + Keys.ENTER + "t20" + Keys.ENTER)
        expect(both, "bust", players=players(141, 392, 1), clear=True, total="Summa 0 (bust)",
               history=["3 | Ymma | T20 T20 T20 | Bust | 141",
                        "2 | Sjörk | MISS OUTER S19 | 44 | 392",
                        "2 | Ymma | T20 T20 T20 | 180 | 141",
                        "1 | Sjörk | T20 S5 MISS | 65 | 436",
                        "1 | Ymma | T20 T20 T20 | 180 | 321"])
        wall = viewer.driver.execute_script(LAYOUT_JS)
        assert wall["scrolls"] <= 0, f"wall: the banner adds a scrollbar of {wall['scrolls']} px"
        scorer.press("#banner-clear")
        scorer.type("m" + Keys.ENTER + "m" + Keys.ENTER + "m" + Keys.ENTER)
        expect(both, "three misses", players=players(141, 392, 0), clear=True)
        scorer.press("#banner-clear")
        scorer.type("t20" + Keys.ENTER)
        expect(both, "route", players=players(81, 392, 0), route=ADVISED)

        scorer.press('[data-multiplier="T"]')
        scorer.press('[data-segment="19"]')
        scorer.type("d12" + Keys.ENTER)
        expect(both, "checkout", winner="Ymma vann!", route="", clear=False,
               darts=["T20", "T19", "D12"], message="Ymma vann med D12")
        single = expect_figures(both, "single game", server)
        expect(both, "report of a single game", report=f"/matches/{single['id']}")
        for page in both:
            assert not page.console_errors(), f"console errors: {page.console_errors()}"
            WebDriverWait(page.driver, STEP_S).until(
                lambda driver: len(driver.execute_script("return spoken")) >= len(CALLED))
            assert page.driver.execute_script("return spoken") == [f"sv-SE {text}" for text in CALLED]
        numbers = viewer.driver.execute_async_script(NUMBERS_JS, list(NUMBERS))
        assert dict(zip(NUMBERS, numbers)) == NUMBERS, numbers

        # A page opened with a wrong token says so and changes nothing.
        viewer.driver.get("about:blank")
        viewer.driver.get(f"{base}/boards/1#token=wrong-token-0123456789abcdef")
        expect([viewer], "wrong token page", winner="Ymma vann!")
        viewer.press("#undo")
        expect([viewer], "wrong token", winner="Ymma vann!", problem=(
            "Fel eller saknad token: öppna poängräkningsadressen för den här tavlan igen"))
        assert not viewer.console_errors(lambda message: "/undo" in message and "403" in message)
        assert server.write(1, "clear")["accepted"]
        expect([viewer], "problem outdated by a change", problem="")
        viewer.driver.execute_script("sessionStorage.clear()")
        viewer.driver.get(f"{base}/boards/1")
        expect([viewer], "viewer again", winner="Ymma vann!")
        assert viewer.driver.find_element(By.ID, "caller").get_attribute("aria-pressed") == "true"

        assert server.stop() == 0, "the server did not stop cleanly"
        expect(both, "server stopped", disconnected=True)
        server = start_server(binary, server.port)
        expect(both, "server back", disconnected=False, idle=True, players=[], winner="")
        assert scorer.driver.execute_script("return spoken.length") == len(CALLED), "called again"
        scorer.driver.find_element(By.ID, "names").clear()
        scorer.driver.find_element(By.ID, "names").send_keys("Ada")
        scorer.press("#start")
        expect(both, "new game after restart", players=[["Ada", "501", "Kastar"]])

        run_advice = lambda level: scorer.driver.execute_async_script(ADVICE_JS, level)  # noqa: E731
        assert run_advice(None) == ["Utgång: T19 D12 (63 %)", "club"]
        Select(scorer.driver.find_element(By.ID, "level")).select_by_visible_text("Nybörjare")
        level = scorer.driver.execute_script("return localStorage.getItem('game501.level')")
        assert run_advice(level) == ["Utgång: S19 D20 (41 %)", "beginner"], "level not kept"

        # A bouncing touch screen taps twice within 100 ms; a person takes longer.
        scorer.driver.execute_async_script(TAP_TWICE_JS, '[data-segment="1"]', 30)
        scorer.driver.execute_async_script(TAP_TWICE_JS, '[data-segment="2"]', 300)
        expect(both, "taps", players=[["Ada", "496", "Kastar"]], darts=["S1", "S2", "S2"])
        # A reload keeps scoring; a typed visit stops at its first refused dart.
        scorer.driver.refresh()
        expect([scorer], "reload", players=[["Ada", "496", "Kastar"]], clear=True)
        assert scorer.driver.find_element(By.ID, "pad").is_displayed(), "a reload lost the token"
        scorer.press("#banner-clear")
        scorer.type("t20 t21 t20" + Keys.ENTER)
        expect(both, "line", darts=["T20"], message="Ogiltigt kast: T21")
        scorer.type("s1 s1" + Keys.ENTER)
        expect(both, "line after", players=[["Ada", "434", "Kastar"]], darts=["T20", "S1", "S1"])

        play_match(server, scorer, viewer, outputs, during_turn)
        play_computer(server, scorer, viewer)

        refused = lambda message: "/events" in message and "net::ERR_" in message  # noqa: E731
        for page in both:
            errors = page.console_errors(refused)
            assert not errors, f"console errors: {errors}"
    finally:
        end_all([page.quit for page in (scorer, viewer) if page] + [server.stop])


def play_match(server, scorer, viewer, outputs, during_turn):
    """A first-to-2 match from the form: the players keep their places while
    the throw and the start of the leg pass on."""
    base = server.base
    both = (scorer, viewer)
    for page in both:
        page.driver.execute_script(RECORD_SPEECH_JS)
    Select(scorer.driver.find_element(By.ID, "legs")).select_by_value("2")
    scorer.driver.find_element(By.ID, "names").clear()
    scorer.driver.find_element(By.ID, "names").send_keys("Ymma\nSjörk")
    # Ada's game is on: the first press only asks for a second.
    scorer.press("#start")
    scorer.press("#start")
    expect(both, "match", players=players(501, 501, 0), round="Leg 1 · Runda 1",
           standing=[["Legs 0", True], ["Legs 0", False]])
    server.play(1, ["T20 T20 T20", "M M M", "T20 T20 T20", "M M M"], "test")
    scorer.type("t20 t19 d12" + Keys.ENTER)
    leg_won = dict(winner="Ymma vann leget! 1–0", standing=[["Legs 1", True], ["Legs 0", False]],
                   report="")
    expect(both, "leg won", **leg_won, round="Leg 1 · Runda 3")
    expect([scorer], "next leg offered", next=True)
    expect([viewer], "next leg for scorers only", next=False)
    assert phone_pad(scorer, "leg won") == during_turn, "the match moved the pad"
    wall = viewer.driver.execute_script(LAYOUT_JS)
    assert wall["scrolls"] <= 0, f"wall: the leg's banner adds a scrollbar of {wall['scrolls']} px"

    second_leg = dict(players=players(501, 501, 1), round="Leg 2 · Runda 1", winner="",
                      standing=[["Legs 1", False], ["Legs 0", True]])
    scorer.press("#banner-next")
    expect(both, "second leg", **second_leg)
    scorer.press("#undo")
    expect(both, "undo across the leg's end", players=players(24, 501, 0), darts=["T20", "T19"],
           winner="", round="Leg 1 · Runda 3", standing=[["Legs 0", True], ["Legs 0", False]])
    scorer.type("d12" + Keys.ENTER)
    expect(both, "leg won again", **leg_won)
    scorer.press("#banner-next")
    expect(both, "second leg again", **second_leg)

    # Each dart's first try fails in its own way; its retry, under the same
    # key, counts it once.
    keys = []
    for fault, sjork in (("lost", 441), ("gateway", 381), ("storage", 321)):
        scorer.driver.execute_script(FAULT_JS, fault)
        scorer.type("t20" + Keys.ENTER)
        WebDriverWait(scorer.driver, STEP_S).until(
            lambda driver: len(driver.execute_script("return keys")) > 1, f"{fault}: not sent again")
        active = 1 if sjork > 321 else 0
        expect([scorer], f"retry after {fault}", players=players(501, sjork, active), problem="")
        sent = scorer.driver.execute_script("return keys")
        assert len(sent) == 2 and sent[0] == sent[1] and KEY.fullmatch(sent[0]), f"{fault}: {sent}"
        keys.append(sent[0])
    assert len(set(keys)) == len(keys), f"a key used for two darts: {keys}"
    expect(both, "retried darts", players=players(501, 321, 0), clear=True,
           darts=["T20", "T20", "T20"], history=["1 | Sjörk | T20 T20 T20 | 180 | 321"])
    assert server.write(1, "clear")["accepted"]
    server.play(1, ["T20 T20 T20", "M M M", "T20 T20 T20", "M M M"], "test")
    scorer.type("t20" + Keys.ENTER)
    expect(both, "finish on", players=players(81, 321, 0), route=ADVISED,
           standing=[["Legs 1", False], ["Legs 0", True]])
    figures = expect_figures(both, "second leg", server)["players"][0]["figures"]
    assert figures["leg"]["darts"] == 7 and figures["match"]["darts"] == 16, figures

    check_sizes(scorer, viewer, outputs)

    scorer.type("t19 d12" + Keys.ENTER)
    match_id = server.get("/api/boards/1/match")["id"]
    assert re.fullmatch(r"1-\d+", match_id), match_id
    expect(both, "match won", winner="Ymma vann matchen! 2–0", next=False,
           standing=[["Legs 2", False], ["Legs 0", True]], report=f"/matches/{match_id}")
    for page in both:
        wins = [text for text in page.driver.execute_script("return spoken") if " vann" in text]
        assert wins == [f"sv-SE Ymma vann {what}!" for what in ("leget", "leget", "matchen")], wins
    viewer.driver.get(f"{base}/web/index.html")
    WebDriverWait(viewer.driver, STEP_S).until(
        lambda driver: driver.find_elements(By.CLASS_NAME, "board-link"))
    listed = viewer.driver.find_element(By.ID, "boards").text.splitlines()
    assert listed == ["Tavla 1", "Avslutat · Först till 2 legs",
                      "Ymma 0 (legs 2) · Sjörk 321 (legs 0)"], listed


def play_computer(server, scorer, viewer):
    """A player of the match just finished, suggested by the form, against the
    computer, whose visit and board clear come by themselves."""
    both = (scorer, viewer)
    viewer.driver.get(f"{server.base}/boards/1")
    assert scorer.driver.execute_async_script(PLAYERS_JS, list(PLAYER_LINES)) == list(
        PLAYER_LINES.values())
    name = scorer.driver.find_element(By.ID, "add-name")
    name.click()
    WebDriverWait(scorer.driver, STEP_S).until(
        lambda driver: driver.find_elements(By.CSS_SELECTOR, '#known-names option[value="Sjörk"]'),
        "the form does not suggest a player of the finished match")
    # What the form says of a name as it is typed, and of the lines it has.
    long = "Anna-Karin Åkerström-Lindqvist Bergström"
    for typed, note in [("sjörk", "6/32 byte"), ("Kim", "3/32 byte · ny spelare"), (long, "43/32 byte")]:
        name.clear()
        name.send_keys(typed)
        assert scorer.driver.find_element(By.ID, "add-name-note").text == note, typed
    name.clear()
    scorer.driver.find_element(By.ID, "names").clear()
    scorer.driver.find_element(By.ID, "names").send_keys(f"SJÖRK\nKim\n{long}")
    assert scorer.driver.find_element(By.ID, "names-note").text == (
        f"SJÖRK: ny spelare · Kim: ny spelare · {long}: 43 byte, högst 32")
    scorer.press("#start")
    expect([scorer], "a name too long", problem="Ett namn får vara högst 32 byte; " + long + " är 43")
    scorer.driver.find_element(By.ID, "names").clear()
    # Enter adds the name and starts nothing.
    name.send_keys("Sjörk" + Keys.ENTER)
    Select(scorer.driver.find_element(By.ID, "computer-level")).select_by_visible_text("Stark spelare")
    scorer.press("#add-computer")
    assert scorer.driver.find_element(By.ID, "names").get_attribute("value") == (
        "Sjörk\nDatorn · Stark spelare")
    Select(scorer.driver.find_element(By.ID, "legs")).select_by_value("1")
    scorer.press("#start")
    expect(both, "against the computer", report="", winner="", players=[
        ["Sjörk", "501", "Kastar"], ["Datorn · Stark spelare", "501", ""]])
    server.play(1, ["T20 T20 T20"], "test")

    def computer_done(shown):
        return (len(shown["history"]) == 2 and shown["history"][0].startswith("1 | Datorn | ")
                and not shown["clear"] and shown["players"][0][2] == "Kastar")

    viewer.wait(lambda: snapshot(viewer), computer_done,
                lambda shown: f"the computer did not throw its visit: {shown}")
    match = expect_figures(both, "against the computer", server)
    assert [player["computer"] for player in match["players"]] == [None, "strong"], match["players"]
    darts = match["game"]["history"][0]["darts"]
    assert [dart["source"] for dart in darts] == ["dator"] * 3, darts


def tap_dart(scorer, notation):
    """Taps a dart on the pad: its multiplier first unless it is a single."""
    if notation in ("OUTER", "BULL", "MISS"):
        scorer.press(f'[data-dart="{notation}"]')
    else:
        if notation[0] != "S":
            scorer.press(f'[data-multiplier="{notation[0]}"]')
        scorer.press(f'[data-segment="{notation[1:]}"]')
    time.sleep(0.12)  # two taps on one key are never a bounce


def score_leg(server, scorer, auto_clear):
    """Scores LEG on the pad, with or without the automatic clear, and returns
    the taps it took. Without it every visit but the last is cleared by hand."""
    if scorer.driver.find_element(By.ID, "auto-clear").is_selected() != auto_clear:
        scorer.press("#auto-clear")
    server.write(1, "start", {"players": ["Ymma", "Sjörk"]})
    expect([scorer], "leg start", players=players(501, 501, 0))
    scorer.driver.execute_script(COUNT_TAPS_JS)
    for number, visit in enumerate(LEG, 1):
        for notation in visit.split():
            tap_dart(scorer, notation)
        if not auto_clear and number < len(LEG):
            expect([scorer], f"visit {number}", clear=True)
            scorer.press("#clear")
    expect([scorer], "leg won", winner="Ymma vann!", players=[["Ymma", "0", "Vinnare"],
                                                              ["Sjörk", "133", ""]])
    history = server.get("/api/boards/1")["history"]
    assert [" ".join(d["notation"] for d in turn["darts"]) for turn in reversed(history)] == LEG
    return scorer.driver.execute_script("return taps")


def correct_two_back(server, scorer):
    """A visit's first dart corrected after its third: undone back to it and
    thrown again in one move, drawn once, and with the first undo's answer
    lost on the way counted once."""
    server.write(1, "start", {"players": ["Ymma", "Sjörk"]})
    for notation in ("S20", "T20", "T20"):
        tap_dart(scorer, notation)
    expect([scorer], "visit to correct", darts=["S20", "T20", "T20"], clear=True)
    before = server.get("/api/boards/1/match")
    scorer.driver.execute_script(RECORD_TURNS_JS)
    scorer.driver.execute_script(FAULT_JS, "lost")
    scorer.press('#turn [data-index="0"]')
    assert scorer.driver.find_element(By.ID, "fixing").text == "Rätta pil 1 (S20): tryck på rätt fält"
    tap_dart(scorer, "T20")
    expect([scorer], "corrected", darts=["T20", "T20", "T20"], clear=True,
           players=players(321, 501, 1), message="Pil 1 rättad: S20 blev T20")
    state = server.get("/api/boards/1")
    assert [d["notation"] for d in state["history"][0]["darts"]] == ["T20"] * 3, state["history"]
    assert state["history"][0]["darts"][1]["source"] == "knappsats"
    turns = scorer.driver.execute_script("return turns")
    assert set(turns) <= {"S20 T20 T20", "T20 T20 T20"}, f"drawn in between: {turns}"
    # Three undos and three darts, the first undo sent twice under its key.
    keys = scorer.driver.execute_script("return keys")
    assert len(keys) == 7 and keys[0] == keys[1] and len(set(keys)) == 6, keys
    after = server.get("/api/boards/1/match")
    assert after["players"][0]["figures"]["leg"]["darts"] == 3, after["players"][0]
    assert before["id"] == after["id"]


def queue_while_stopped(server, scorer):
    """Darts tapped while the server is stopped are greyed in the visit and
    the pad says so; they count once the server is back."""
    server.write(1, "start", {"players": ["Ymma", "Sjörk"]})
    expect([scorer], "before the stop", players=players(501, 501, 0), darts=[])
    assert server.stop() == 0
    expect([scorer], "stopped", disconnected=True)
    for notation in ("T20", "S5"):
        tap_dart(scorer, notation)
    assert scorer.driver.execute_script(SHOWN_JS, "#offline") == [True], "the pad says nothing"
    scorer.wait(lambda: scorer.driver.execute_script(QUEUED_JS), lambda q: q == ["T20", "S5"],
                lambda q: f"queued darts shown as {q}")
    server = server.again()
    expect([scorer], "back", disconnected=False, darts=["T20", "S5"], players=players(436, 501, 0))
    assert scorer.driver.execute_script(QUEUED_JS) == []
    assert scorer.driver.execute_script(SHOWN_JS, "#offline") == [False]
    return server


def keep_format(server, scorer, size):
    """The form's format is kept across a reload and shown in the bar; the
    first thrower is picked from the names."""
    Select(scorer.driver.find_element(By.ID, "legs")).select_by_value("3")
    scorer.driver.refresh()
    expect([scorer], "reloaded", players=players(436, 501, 0))
    assert Select(scorer.driver.find_element(By.ID, "legs")).first_selected_option.text == "3"
    names = scorer.driver.find_element(By.ID, "names")
    names.clear()
    names.send_keys("Ymma\nSjörk")
    Select(scorer.driver.find_element(By.ID, "first")).select_by_visible_text("Sjörk")
    scorer.press("#start")
    scorer.press("#start")
    expect([scorer], f"bull-off at {size}", round="Leg 1 · Runda 1",
           players=[["Sjörk", "501", "Kastar"], ["Ymma", "501", ""]])
    scorer.driver.refresh()
    expect([scorer], "reloaded in a match", round="Leg 1 · Runda 1")
    assert Select(scorer.driver.find_element(By.ID, "legs")).first_selected_option.text == "3"
    assert scorer.driver.execute_script(SHOWN_JS, "#format") == [True], f"no format at {size}"
    assert scorer.driver.find_element(By.ID, "format").text == "Först till 3 legs"
    Select(scorer.driver.find_element(By.ID, "legs")).select_by_value("1")


def quicker(binary, outputs, scratch):
    """What saves a scorer taps and second tries, at a phone's size and a
    tablet's; returns the taps of LEG before and after the automatic clear."""
    server = start_server(binary)
    scorer = viewer = None
    try:
        scorer = Browser(os.path.join(scratch, "quick-scorer"))
        taps = {}
        for size in ("tablet", "phone"):
            scorer.resize(*SIZES[size])
            scorer.driver.get(f"{server.base}/boards/1#token={TOKEN}")
            expect([scorer], f"scorer at {size}", disconnected=False)
            if size == "tablet":
                taps["before"] = score_leg(server, scorer, auto_clear=False)
            taps[size] = score_leg(server, scorer, auto_clear=True)
            correct_two_back(server, scorer)
            server = queue_while_stopped(server, scorer)
            keep_format(server, scorer, size)
        clears = len(LEG) - 1
        assert taps["tablet"] == taps["phone"] == taps["before"] - clears, taps
        print(f"taps for the scripted leg: {taps['before']} before, {taps['tablet']} after")

        # A viewing page: its note once and closable, its address with a
        # trailing slash, and the scoring address pasted into it.
        viewer = Browser(os.path.join(scratch, "quick-viewer"))
        viewer.resize(*SIZES["phone"])
        viewer.driver.get(f"{server.base}/boards/1/")
        expect([viewer], "viewer", round="Leg 1 · Runda 1", disconnected=False)
        assert viewer.driver.title == "Tavla 1"
        assert viewer.driver.execute_script(SHOWN_JS, "#viewing-note", ".board-nav a") == [True, True]
        viewer.press("#close-note")
        viewer.driver.execute_script("sessionStorage.clear()")
        viewer.driver.refresh()
        expect([viewer], "viewer again", round="Leg 1 · Runda 1")
        assert viewer.driver.execute_script(SHOWN_JS, "#viewing-note", "#pad") == [False, False]
        match_id = server.get("/api/boards/1/match")["id"]
        links = viewer.driver.execute_script(
            "return [...document.querySelectorAll('.board-nav a')].map((a) => a.getAttribute('href'))")
        assert links[:4] == ["/", "/matches", "/players", f"/matches/{match_id}"], links
        viewer.driver.get(f"{server.base}/boards/1")
        expect([viewer], "viewer without the slash", round="Leg 1 · Runda 1")
        # The same page with the fragment: no new page, a change of the fragment.
        viewer.driver.get(f"{server.base}/boards/1#token={TOKEN}")
        viewer.wait(lambda: viewer.driver.execute_script(SHOWN_JS, "#pad"), lambda shown: shown == [True],
                    lambda shown: "the pasted scoring address did not make a scorer")
        assert "token" not in viewer.driver.current_url, "the pasted token stays in the address bar"
        for page in (scorer, viewer):
            errors = page.console_errors(lambda message: "net::ERR_" in message)
            assert not errors, f"console errors: {errors}"
        return taps
    finally:
        end_all([page.quit for page in (scorer, viewer) if page] + [server.stop])


def wall(binary, outputs, scratch):
    """/wall with eight boards at 1920 x 1080: every board's scores, visit
    and format, nothing outside its box, and the next dart without a reload."""
    tokens = [f"wall-token-{number:02d}-0123456789abcdef" for number in range(1, 9)]
    server = Server(binary, tokens, extra=NO_PAUSE)
    page = None
    starts = [["Ymma", "Sjörk"], ["Åsa Sjöström", "Bertil Långnamn-Svensson"], ["Ada", "Bo", "Cid"],
              ["Eva", "Lo"], None, ["Fia", "Gun", "Hans", "Ida"],
              [f"Spelare {n}" for n in range(1, 9)], ["Jon", "Kim"]]
    try:
        for board, players_ in enumerate(starts, 1):
            if players_:
                server.write(board, "start", {"players": players_, "legs": 1 + board % 3,
                                              "sets": 2 if board == 8 else 1})
                server.play(board, ["T20 T20 T20"])
                server.throw(board, "S20")
        server.play(2, ["S20 S20", "T20 T20 T20", "S20 S20 S20"])
        server.throw(2, "T20")  # 81 left: a route
        page = Browser(os.path.join(scratch, "wall"))
        page.resize(*SIZES["wall"])
        page.driver.get(f"{server.base}/wall")
        cells = page.wait(lambda: page.driver.execute_script(WALL_JS), lambda cells: len(cells) == 8,
                          lambda cells: f"the wall shows {cells}")
        scroll = page.driver.execute_script(
            "return [document.documentElement.scrollWidth - innerWidth, document.documentElement.scrollHeight - innerHeight]")
        assert scroll == [0, 0], f"the wall scrolls by {scroll}"
        boards = server.get("/api/boards")["boards"]
        for cell, board in zip(cells, boards):
            assert cell["overflow"] == [0, 0] and not cell["outside"], cell
            assert cell["scores"] == [str(p["score"]) for p in board["players"]], (cell, board)
            if board["status"] != "idle" and board["format"]["legs"] > 1:
                assert cell["format"].startswith("Först till"), cell
            if len(board["players"]) == 2:
                assert cell["score"] >= 64 and cell["name"] >= 32, f"too small at 3 m: {cell}"
        # Whole, or the last name whole and the others by their initials.
        assert cells[1]["names"] in (["Åsa Sjöström", "Bertil Långnamn-Svensson"],
                                     ["Åsa Sjöström", "B. Långnamn-Svensson"],
                                     ["Å. Sjöström", "B. Långnamn-Svensson"]), cells[1]
        assert "Utgång:" in cells[1]["visit"], cells[1]
        assert cells[4]["visit"] == "" and cells[4]["scores"] == [], cells[4]
        server.throw(1, "T20")
        page.wait(lambda: page.driver.execute_script(WALL_JS)[0]["scores"], lambda s: s == ["321", "421"],
                  lambda s: f"the wall does not follow board 1: {s}")
        assert not page.console_errors()
        for directory in outputs:
            with open(os.path.join(directory, "wall.png"), "wb") as file:
                file.write(page.screenshot())
    finally:
        end_all(([page.quit] if page else []) + [server.stop])


def night(binary, scratch):
    """The day's darts as one CSV file, read back with Python's csv, and the
    list of matches by day and player with their legs won."""
    server = start_server(binary)
    page = None
    try:
        server.write(1, "start", {"players": ["Ymma", "Sjörk"], "legs": 2})
        server.play(1, ["T20 T20 T20", "M M M", "T20 T20 T20", "M M M", "T20 T19 D12",
                        "M M M", "T20 T20 T20", "M M M", "T20 T20 T20", "M M M", "T20 T19 D12"])
        server.write(1, "start", {"players": ["Ymma", "=Zef, \"Z\""]})
        server.play(1, ["S1 S2 S3"])
        server.throw(1, "S4")
        day = time.strftime("%Y-%m-%d")
        status, headers, body = server.exchange("GET", f"/api/matches.csv?from={day}&to={day}")
        assert status == 200 and headers["Content-Type"].startswith("text/csv"), (status, headers)
        rows = list(csv.reader(io.StringIO(body.decode("utf-8"), newline="")))
        matches = [m["id"] for m in reversed(server.get("/api/matches")["matches"])]
        each = [list(csv.reader(io.StringIO(server.exchange("GET", f"/api/matches/{m}/darts.csv")[2]
                                           .decode("utf-8"), newline=""))) for m in matches]
        assert rows[0] == each[0][0] == ["match", "set", "leg", "visit", "player", "dart", "notation",
                                          "points", "remaining", "bust", "source", "time"]
        assert rows[1:] == each[0][1:] + each[1][1:], rows
        assert len(rows) == 1 + 33 + 4 and rows[-1][4] == "'=Zef, \"Z\"", rows[-1]
        for query in ("from=2026-02-30", "from=2026-01-02&to=2026-01-01", "to=2026-01-01",
                      "from=2026-01-01&to=2026-03-01"):
            assert server.exchange("GET", f"/api/matches.csv?{query}")[0] == 400, query
        assert server.get(f"/api/matches?from={day}")["matches"][1]["legs_won"] == [2, 0]

        page = Browser(os.path.join(scratch, "night"))
        page.resize(*SIZES["phone"])
        for query, legs in ((f"day={day}", ["0–0", "2–0"]), ("player=Sj%C3%B6rk", ["2–0"]),
                            ("day=2001-01-01", [])):
            page.driver.get(f"{server.base}/matches/?{query}")
            page.wait(lambda: page.driver.execute_script(MATCH_LEGS_JS), lambda shown: shown == legs,
                      lambda shown: f"{query}: legs {shown}")
        assert page.driver.find_element(By.ID, "csv").get_attribute("href").endswith(
            "/api/matches.csv?from=2001-01-01&to=2001-01-01")
        assert not page.console_errors()
    finally:
        end_all(([page.quit] if page else []) + [server.stop])


CALLS_JS = "return [...document.querySelectorAll('.competition-call-pair')].map((e) => e.textContent)"
SCROLLS_JS = "return document.documentElement.scrollWidth - innerWidth"


def competitions(binary, scratch):
    """A competition made on the organiser's form at phone size, its calls live on
    /competitions/ID at phone and wall size without a sideways scroll, and the board's page
    and the wall naming the competition and round of the called match."""
    server = start_server(binary)
    page = None
    try:
        for name in ("Ymma", "Sjörk", "Tove", "Alva"):
            assert server.correct("/api/players", {"name": name}).status == 200
        page = Browser(os.path.join(scratch, "competitions"))
        page.resize(*SIZES["phone"])
        page.driver.get(f"{server.base}/competitions#token={server.organiser}")
        page.wait(lambda: len(page.driver.find_elements(By.CSS_SELECTOR, 'input[name="player"]')),
                  lambda count: count == 4, lambda count: f"{count} players on the form")
        page.driver.find_element(By.ID, "name").send_keys("Klubbkväll")
        for box in page.driver.find_elements(By.CSS_SELECTOR, 'input[name="player"], input[name="board"]'):
            box.click()
        page.driver.find_element(By.CSS_SELECTOR, "#create button").click()
        page.wait(lambda: page.driver.current_url, lambda url: url.endswith("/competitions/1"),
                  lambda url: f"the form led to {url}")
        for size in ("phone", "wall"):
            page.resize(*SIZES[size])
            calls = page.wait(lambda: page.driver.execute_script(CALLS_JS), lambda shown: len(shown) == 1,
                              lambda shown: f"{size}: the calls are {shown}")
            assert calls[0].startswith("Tavla 1: "), calls
            assert page.driver.execute_script(SCROLLS_JS) <= 0, f"{size}: the page scrolls sideways"
        page.driver.get(f"{server.base}/boards/1")
        page.wait(lambda: page.driver.find_element(By.ID, "competition").text,
                  lambda text: text.startswith("Klubbkväll · Omgång 1"), lambda text: f"the board says {text!r}")
        page.driver.get(f"{server.base}/wall")
        page.wait(lambda: [e.text for e in page.driver.find_elements(By.CSS_SELECTOR, ".wall-competition")],
                  lambda texts: texts == ["Klubbkväll · Omgång 1"], lambda texts: f"the wall says {texts}")
        assert not page.console_errors()
    finally:
        end_all(([page.quit] if page else []) + [server.stop])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("server")
    parser.add_argument("output")
    parser.add_argument("--docs")
    args = parser.parse_args()
    outputs = [args.output] + ([args.docs] if args.docs else [])
    for directory in outputs:
        os.makedirs(directory, exist_ok=True)

    started = time.monotonic()
    run_bounded(DEADLINE_S, "game501-web-", lambda scratch: play(args.server, outputs, scratch))
    run_bounded(2 * DEADLINE_S, "game501-quick-", lambda scratch: quicker(args.server, outputs, scratch))
    run_bounded(DEADLINE_S, "game501-wall-", lambda scratch: wall(args.server, outputs, scratch))
    run_bounded(DEADLINE_S, "game501-night-", lambda scratch: night(args.server, scratch))
    run_bounded(DEADLINE_S, "game501-competitions-", lambda scratch: competitions(args.server, scratch))
    print(f"web test passed in {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    sys.exit(main())
