#!/usr/bin/python3
"""Plays a short game in Chromium on a scoring page while a viewing page of
the same board follows it, then stops and restarts the server.

usage: web_test.py SERVER_BINARY OUTPUT_DIR [--docs DIR]
Screenshots at the three sizes go to OUTPUT_DIR, and also to DIR with --docs.
"""

import argparse
import base64
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

# "+", "/" and "=" are allowed in tokens and easily mangled in addresses.
TOKEN = "web+test/token=0123456789abcdef"
DEADLINE_S = 120
WAIT_S = 10
# The advice of the chosen level: one to three aims and the chance of finishing.
ADVISED = re.compile(r"Utgång: \S+( \S+){0,2} \((< 1|\d+) %\)")
SIZES = {"phone": (375, 667), "tablet": (1024, 768), "wall": (1920, 1080)}
CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
    "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--window-size=1920,1080",
]

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
  winner: shown('#winner-banner') ? q('#winner-banner').textContent : '',
  history: [...document.querySelectorAll('#history tbody tr')].map((tr) =>
    [...tr.cells].map((td) => td.textContent).join(' | ')),
  idle: shown('#idle'),
  disconnected: shown('#connection'),
  problem: shown('#problem') ? q('#problem').textContent : '',
};
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
  stacked: q('#pad').getClientRects().length > 0 && rect('#pad').top >= rect('.board').bottom,
};
"""


# Draws the board as it is, with advice by level beside the route.
ADVICE_JS = """
const [level, done] = arguments;
const advice = [
  { level: 'beginner', name: 'Nybörjare', route: ['S19', 'D20'], probability: 0.41 },
  { level: 'club', name: 'Klubb', route: ['T19', 'D12'], probability: 0.625 },
  { level: 'strong', name: 'Stark', route: ['T15', 'D18'], probability: 0.8 },
];
Promise.all([import('/web/view.js'), fetch('/api/boards/1').then((r) => r.json())])
  .then(([{ render }, state]) => {
    const checkout = { darts_left: 2, player: 0, remaining: 81, route: ['T19', 'D12'], advice };
    render(state, { id: -1, checkout, level });
    done([document.querySelector('#route').textContent, document.querySelector('#level').value]);
  });
"""


class Timeout(Exception):
    pass


def on_alarm(signum, frame):
    raise Timeout(f"the test ran longer than {DEADLINE_S} s")


class Server:
    def __init__(self, binary, tokens, listen="127.0.0.1:0"):
        # Each start has a database of its own, so that a restart begins idle.
        self.data = tempfile.TemporaryDirectory()
        self.process = subprocess.Popen(
            [binary, "--listen", listen, "--tokens", tokens, "--data", f"{self.data.name}/game501.db"],
            stdout=subprocess.PIPE)
        ready, _, _ = select.select([self.process.stdout], [], [], WAIT_S)
        first = self.process.stdout.readline().decode() if ready else ""
        if "http://" not in first:
            self.stop()
            raise RuntimeError(f"the server did not start: {first!r}")
        self.base = first.split()[-1]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(WAIT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        return self.process.returncode


class Browser:
    def __init__(self, profile):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in CHROMIUM_FLAGS + [f"--user-data-dir={profile}"]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        # Its own process group, so that a failed run still ends every browser process.
        self.service = Service("/usr/bin/chromedriver", popen_kw={"start_new_session": True})
        self.driver = webdriver.Chrome(service=self.service, options=options)
        self.driver.set_script_timeout(WAIT_S)

    def quit(self):
        try:
            self.driver.quit()
        finally:
            if self.service.process:
                try:
                    os.killpg(self.service.process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass

    def resize(self, width, height):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})

    def screenshot(self, whole=False):
        """Takes the viewport, or the whole page as it scrolls."""
        if not whole:
            return self.driver.get_screenshot_as_png()
        width, height = self.driver.execute_script(
            "return [innerWidth, document.documentElement.scrollHeight]")
        shot = self.driver.execute_cdp_cmd("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": True,
            "clip": {"x": 0, "y": 0, "width": width, "height": height, "scale": 1}})
        return base64.b64decode(shot["data"])

    def snapshot(self):
        return self.driver.execute_script(SNAPSHOT_JS)

    def type(self, keys):
        ActionChains(self.driver).send_keys(keys).perform()

    def press(self, css):
        self.driver.find_element(By.CSS_SELECTOR, css).click()

    def console_errors(self, expected=lambda message: False):
        return [entry["message"] for entry in self.driver.get_log("browser")
                if entry["level"] == "SEVERE" and not expected(entry["message"])]


def expect(pages, step, **wanted):
    """Waits until every page shows what is wanted."""
    for page in pages:
        last = {}

        def matches(_):
            last.update(page.snapshot())
            return all(value.fullmatch(last[key]) if isinstance(value, re.Pattern) else last[key] == value
                       for key, value in wanted.items())

        try:
            WebDriverWait(page.driver, WAIT_S, poll_frequency=0.05).until(matches)
        except TimeoutException:
            shown = {key: last.get(key) for key in wanted}
            raise AssertionError(f"{step}: wanted {wanted}, the page shows {shown}") from None


def post_dart(base, notation):
    body = json.dumps({"notation": notation, "source": "test"}).encode()
    request = urllib.request.Request(f"{base}/api/boards/1/darts", data=body, method="POST")
    request.add_header("Authorization", f"Bearer {TOKEN}")
    request.add_header("Content-Type", "application/json")
    with urllib.request.urlopen(request, timeout=WAIT_S) as response:
        assert json.load(response)["accepted"]


def players(ymma, sjork, active):
    tags = ["Kastar" if index == active else "" for index in range(2)]
    return [["Ymma", str(ymma), tags[0]], ["Sjörk", str(sjork), tags[1]]]


def check_sizes(scorer, viewer, outputs):
    for name, (width, height) in SIZES.items():
        for page in (scorer, viewer):
            page.resize(width, height)
        score, view = scorer.driver.execute_script(LAYOUT_JS), viewer.driver.execute_script(LAYOUT_JS)
        for label, layout in (("scoring", score), ("viewing", view)):
            assert layout["overflow"] <= 0, f"{name}: the {label} page scrolls sideways"
        assert not score["small"], f"{name}: buttons under 48 px: {score['small']}"
        assert score["pad"] and not view["pad"], f"{name}: the pad is on the wrong page"
        if name == "phone":
            assert score["stacked"], "phone: the pad is not below the board"
        if name == "wall":
            assert view["score"] >= 120, f"wall: scores are {view['score']} px"
        png = viewer.screenshot() if name == "wall" else scorer.screenshot(whole=name == "phone")
        for directory in outputs:
            with open(os.path.join(directory, f"board-{name}.png"), "wb") as file:
                file.write(png)
    scorer.resize(*SIZES["tablet"])
    viewer.resize(*SIZES["wall"])


def play(binary, tokens, outputs, scratch):
    server = Server(binary, tokens)
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

        scorer.driver.find_element(By.ID, "names").send_keys("Ymma\nSjörk")
        scorer.press("#start")
        expect(both, "start", players=players(501, 501, 0), message="501-spelet har startat")

        # The focus is still on the start button: Enter must register the dart.
        scorer.type("t20" + Keys.ENTER)
        expect(both, "keyboard dart", players=players(441, 501, 0), darts=["T20"], total="Summa 60")
        scorer.type("t20" + Keys.ENTER + "t20" + Keys.ENTER)
        expect(both, "full turn", players=players(321, 501, 1), clear=True,
               darts=["T20", "T20", "T20"], history=["1 | Ymma | T20 T20 T20 | 180 | 321"])
        assert not viewer.driver.find_element(By.ID, "banner-clear").is_displayed()
        scorer.type("t20" + Keys.ENTER)
        expect(both, "dart before the clear", players=players(321, 501, 1), clear=True,
               message="Ta bort pilarna och bekräfta att tavlan är tom")
        scorer.press("#banner-clear")
        expect(both, "clear", clear=False, darts=[], message="Tavlan är redo för nästa spelare")

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

        post_dart(base, "T20")
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
        expect(both, "bust", players=players(141, 392, 1), clear=True,
               history=["3 | Ymma | T20 T20 T20 | Bust | 141",
                        "2 | Sjörk | MISS OUTER S19 | 44 | 392",
                        "2 | Ymma | T20 T20 T20 | 180 | 141",
                        "1 | Sjörk | T20 S5 MISS | 65 | 436",
                        "1 | Ymma | T20 T20 T20 | 180 | 321"])
        scorer.press("#banner-clear")
        scorer.type("m" + Keys.ENTER + "m" + Keys.ENTER + "m" + Keys.ENTER)
        expect(both, "three misses", players=players(141, 392, 0), clear=True)
        scorer.press("#banner-clear")
        scorer.type("t20" + Keys.ENTER)
        expect(both, "route", players=players(81, 392, 0), route=ADVISED)

        check_sizes(scorer, viewer, outputs)

        scorer.press('[data-multiplier="T"]')
        scorer.press('[data-segment="19"]')
        scorer.type("d12" + Keys.ENTER)
        expect(both, "checkout", winner="Ymma vann!", route="", clear=False,
               darts=["T20", "T19", "D12"], message="Ymma vann med D12")
        for page in both:
            assert not page.console_errors(), f"console errors: {page.console_errors()}"

        # A page opened with a wrong token says so and changes nothing.
        viewer.driver.get("about:blank")
        viewer.driver.get(f"{base}/boards/1#token=wrong-token-0123456789abcdef")
        expect([viewer], "wrong token page", winner="Ymma vann!")
        viewer.press("#undo")
        expect([viewer], "wrong token", winner="Ymma vann!", problem=(
            "Fel eller saknad token: öppna poängräkningsadressen för den här tavlan igen"))
        assert not viewer.console_errors(lambda message: "/undo" in message and "403" in message)
        viewer.driver.get(f"{base}/boards/1")
        expect([viewer], "viewer again", winner="Ymma vann!")

        port = base.rsplit(":", 1)[1]
        assert server.stop() == 0, "the server did not stop cleanly"
        expect(both, "server stopped", disconnected=True)
        server = Server(binary, tokens, f"127.0.0.1:{port}")
        expect(both, "server back", disconnected=False, idle=True, players=[], winner="")
        scorer.driver.find_element(By.ID, "names").clear()
        scorer.driver.find_element(By.ID, "names").send_keys("Ada")
        scorer.press("#start")
        expect(both, "new game after restart", players=[["Ada", "501", "Kastar"]])

        run_advice = lambda level: viewer.driver.execute_async_script(ADVICE_JS, level)  # noqa: E731
        assert run_advice(None) == ["Utgång: T19 D12 (63 %)", "club"]
        Select(viewer.driver.find_element(By.ID, "level")).select_by_visible_text("Nybörjare")
        level = viewer.driver.execute_script("return localStorage.getItem('game501.level')")
        assert run_advice(level) == ["Utgång: S19 D20 (41 %)", "beginner"], "level not kept"

        refused = lambda message: "/events" in message and "net::ERR_" in message  # noqa: E731
        for page in both:
            errors = page.console_errors(refused)
            assert not errors, f"console errors: {errors}"
    finally:
        # Every part is ended, even when another one hangs or fails.
        signal.alarm(WAIT_S)
        for end in [page.quit for page in (scorer, viewer) if page] + [server.stop]:
            try:
                end()
            except Exception as error:
                print(f"while cleaning up: {error!r}", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("server")
    parser.add_argument("output")
    parser.add_argument("--docs")
    args = parser.parse_args()
    outputs = [args.output] + ([args.docs] if args.docs else [])
    for directory in outputs:
        os.makedirs(directory, exist_ok=True)

    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(DEADLINE_S)
    started = time.monotonic()
    scratch = tempfile.mkdtemp(prefix="game501-web-")
    try:
        tokens = os.path.join(scratch, "tokens.txt")
        with open(tokens, "w") as file:
            file.write(TOKEN + "\n")
        play(args.server, tokens, outputs, scratch)
    finally:
        signal.alarm(0)
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"web test passed in {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    sys.exit(main())
