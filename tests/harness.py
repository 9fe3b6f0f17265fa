"""Starts and drives the built game-501-server, and Chromium, for the Python tests.

A server listens on loopback only, with tokens the test chooses and a database in a temporary
directory unless the test brings its own; its port and tokens are read from its banner. Every
wait is bounded: a request, a start, a stop and a page's change take at most STEP_S seconds.
Uses the standard library, and selenium for the browser.
"""
import base64
import http.client
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import unittest
from typing import NamedTuple

try:
    from selenium import webdriver
    from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:  # the server tests also run where no browser is installed
    webdriver = None

STEP_S = 10
# Loopback only: nothing outside this machine reaches a server under test.
HOST = "127.0.0.1"
TOKENS = ["0123456789abcdef0123456789abcdef", "fedcba9876543210fedcba9876543210"]
ORGANISER = "0a1b2c3d4e5f60718293a4b5c6d7e8f9"
JSON = {"Content-Type": "application/json"}
# A computer that throws at once, so that a test waits for nothing but the server.
NO_PAUSE = ("--computer-pause", "0")
CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
    "--disable-quic", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--window-size=1920,1080",
]
BANNER = re.compile(r"lyssnar på (http://[^\s/]+:(\d+))\n")
BANNER_TOKEN = re.compile(r"/boards/\d+#token=(\S+)")
BANNER_ORGANISER = re.compile(r"/organiser#token=(\S+)")
check = unittest.TestCase()
check.maxDiff = None


class Answer(NamedTuple):
    status: int
    headers: http.client.HTTPMessage
    body: object  # bytes, or the parsed JSON document (None without a body)


def exchange(port, method, path, body=None, headers=None, timeout=STEP_S):
    """Returns the Answer, with the body's bytes, to one request on a connection of its own.
    A dict or list body goes as JSON, with its Content-Type unless `headers` name another."""
    headers = dict(headers or {})
    if isinstance(body, (dict, list)):
        body = json.dumps(body)
        headers = JSON | headers
    connection = http.client.HTTPConnection(HOST, port, timeout=timeout)
    try:
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        return Answer(response.status, response.headers, response.read())
    finally:
        connection.close()


class Server:
    """The built server on HOST, with one board per token in `tokens`, on `port` (any free
    one by default) and with the database `data` (a new one in a directory of its own by
    default, so that a restart on the same port begins idle); the organiser's token is
    `organiser`, or the database's (or a new one) when it is None. A server built before
    the organiser takes organiser=None."""

    def __init__(self, binary, tokens=TOKENS, data=None, port=0, extra=(), organiser=ORGANISER):
        self.arguments = binary, tokens, extra, organiser
        self.token_file = tempfile.NamedTemporaryFile("w", suffix=".txt")
        self.token_file.write("\n".join(tokens) + "\n")
        self.token_file.flush()
        self.organiser_file = tempfile.NamedTemporaryFile("w", suffix=".txt")
        self.organiser_file.write(f"{organiser}\n")
        self.organiser_file.flush()
        if organiser is not None:
            extra = ("--organiser-token", self.organiser_file.name, *extra)
        self.directory = tempfile.TemporaryDirectory() if data is None else None
        self.data = data or f"{self.directory.name}/game501.db"
        # A file, not a pipe: a sanitizer's report must never block the server.
        self.error_file = tempfile.TemporaryFile("w+")
        self.closed = False
        self.process = subprocess.Popen(
            [binary, "--listen", f"{HOST}:{port}", "--boards", str(len(tokens)),
             "--tokens", self.token_file.name, "--data", self.data, *extra],
            stdout=subprocess.PIPE, stderr=self.error_file, bufsize=0)
        self.banner = self._read_banner()
        found = BANNER.search(self.banner)
        if not found:
            self.kill()
            raise RuntimeError(f"the server did not start: {self.banner!r}")
        self.base, self.port = found[1], int(found[2])
        self.tokens = BANNER_TOKEN.findall(self.banner)
        organiser_token = BANNER_ORGANISER.search(self.banner)
        self.organiser = organiser_token[1] if organiser_token else None

    def _read_banner(self):
        """Returns what the server wrote up to the banner's last line, which says how to stop
        it, or up to its end or STEP_S seconds, whichever comes first."""
        text = b""
        deadline = time.monotonic() + STEP_S
        while not re.search(rb"(^|\n)Stoppa[^\n]*\n\Z", text):
            ready, _, _ = select.select([self.process.stdout], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(self.process.stdout.fileno(), 4096) if ready else b""
            if not chunk:
                break
            text += chunk
        return text.decode("utf-8", "replace")

    def again(self):
        """Returns the server started again as this one was, on its port and with its database,
        once this one has ended (stopped or killed). The database stays as long as the new one."""
        binary, tokens, extra, organiser = self.arguments
        successor = Server(binary, tokens, data=self.data, port=self.port, extra=extra,
                           organiser=organiser)
        successor.directory = self.directory
        return successor

    def auth(self, board):
        """Returns the header that proves a scorer of `board`."""
        return {"Authorization": "Bearer " + self.tokens[board - 1]}

    def correct(self, path, body):
        """Returns the Answer to an organiser's correction at `path`, with the organiser's token."""
        return self.request("POST", path, body, {"Authorization": "Bearer " + self.organiser})

    def connect(self):
        """Returns a socket connected to the server, for what a client library would not send."""
        return socket.create_connection((HOST, self.port), timeout=STEP_S)

    def exchange(self, method, path, body=None, headers=None):
        """Returns the Answer, with the body's bytes, to one request."""
        return exchange(self.port, method, path, body, headers)

    def request(self, method, path, body=None, headers=None):
        """Returns the Answer, with the body as parsed JSON, to one request."""
        status, headers, data = self.exchange(method, path, body, headers)
        return Answer(status, headers, json.loads(data) if data else None)

    def post(self, board, action, body=None, headers=None):
        """Returns the Answer to a write on `board`, by default with the board's token."""
        return self.request("POST", f"/api/boards/{board}/{action}", body,
                            self.auth(board) if headers is None else headers)

    def get(self, path):
        """Returns the document that a GET of `path` answers with 200."""
        status, _, document = self.request("GET", path)
        check.assertEqual(status, 200, path)
        return document

    def write(self, board, action, body=None):
        """Returns the answer of a write on `board` with its token, answered with 200."""
        status, _, answer = self.post(board, action, body)
        check.assertEqual(status, 200, f"{action} {body}: {answer}")
        return answer

    def throw(self, board, notation, source=None):
        """Throws one dart on `board`, which must be accepted."""
        dart = {"notation": notation} | ({"source": source} if source else {})
        check.assertTrue(self.write(board, "darts", dart)["accepted"], notation)

    def play(self, board, visits, source=None):
        """Throws whole visits ("T20 T20 T20") on `board`, each followed by the board's clear."""
        for visit in visits:
            for notation in visit.split():
                self.throw(board, notation, source)
            check.assertTrue(self.write(board, "clear")["accepted"])

    def events(self, board):
        """Returns the board's event stream, read on a thread of its own."""
        return EventStream(self.port, board)

    def resident_kib(self):
        """Returns the server's resident memory in KiB (VmRSS)."""
        with open(f"/proc/{self.process.pid}/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))

    def stop(self):
        """Stops the server with SIGTERM, or SIGKILL after STEP_S; returns its exit status."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(STEP_S)
            except subprocess.TimeoutExpired:
                pass
        self.kill()
        return self.process.returncode

    def kill(self):
        """Ends the server with SIGKILL if it still runs, as a crash would, and shows what it
        wrote to standard error."""
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(STEP_S)
        if self.closed:
            return
        self.closed = True
        self.process.stdout.close()
        self.token_file.close()
        self.organiser_file.close()
        self.error_file.seek(0)
        errors = self.error_file.read()
        self.error_file.close()
        if errors:
            print("the server's standard error:\n" + errors)


class EventStream:
    """Reads a board's event stream, or the one at `path`, on a thread of its own."""

    def __init__(self, port, board, path=None):
        self.events = []
        self.ended = threading.Event()
        self.changed = threading.Condition()
        self.connection = http.client.HTTPConnection(HOST, port, timeout=60)
        self.connection.request("GET", path or f"/api/boards/{board}/events")
        self.sock = self.connection.sock  # the connection lets go of it for a response without length
        self.response = self.connection.getresponse()
        check.assertEqual(self.response.status, 200)
        check.assertEqual(self.response.getheader("Content-Type"), "text/event-stream")
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        event = {}
        try:
            for raw in self.response:
                line = raw.decode("utf-8").rstrip("\n")
                if line:
                    field, _, value = line.partition(": ")
                    event[field] = value
                    continue
                if "data" in event:
                    with self.changed:
                        self.events.append((int(event["id"]), event["event"], json.loads(event["data"])))
                        self.changed.notify_all()
                event = {}
        except (OSError, ValueError):
            pass
        self.ended.set()

    def close(self):
        self.sock.shutdown(socket.SHUT_RDWR)
        check.assertTrue(self.ended.wait(STEP_S))

    def wait_for(self, count):
        """Returns the events once there are `count` of them."""
        with self.changed:
            check.assertTrue(self.changed.wait_for(lambda: len(self.events) >= count, STEP_S),
                             f"{len(self.events)} events of {count}")
            return list(self.events)


class Browser:
    """Headless Chromium with a profile of its own in the directory `profile`."""

    def __init__(self, profile):
        if webdriver is None:
            raise RuntimeError("the browser tests need python3-selenium")
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in CHROMIUM_FLAGS + [f"--user-data-dir={profile}"]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        # Its own process group, so that a failed run still ends every browser process.
        self.service = Service("/usr/bin/chromedriver", popen_kw={"start_new_session": True})
        self.driver = webdriver.Chrome(service=self.service, options=options)
        self.driver.set_script_timeout(STEP_S)

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

    def wait(self, read, ready, failure):
        """Reads the page with `read()` until `ready` holds of what it read, and returns that;
        after STEP_S raises AssertionError with `failure` of the last reading."""
        last = []

        def holds(_):
            last[:] = [read()]
            return ready(last[0])

        try:
            # A page that redraws between a reading's find and its use is read again.
            WebDriverWait(self.driver, STEP_S, poll_frequency=0.05,
                          ignored_exceptions=[StaleElementReferenceException]).until(holds)
        except TimeoutException:
            raise AssertionError(failure(last[0] if last else None)) from None
        return last[0]

    def type(self, keys):
        ActionChains(self.driver).send_keys(keys).perform()

    def press(self, css):
        self.driver.find_element(By.CSS_SELECTOR, css).click()

    def console_errors(self, expected=lambda message: False):
        return [entry["message"] for entry in self.driver.get_log("browser")
                if entry["level"] == "SEVERE" and not expected(entry["message"])]


def run_all(tests):
    """Runs every test, reports each failure and goes on; exits 1 if any failed."""
    failed = 0
    for test in tests:
        name = getattr(test, "func", test).__name__
        try:
            test()
            print(f"{name} ok")
        except Exception:  # report every failure, then go on
            failed += 1
            print(f"{name} FAILED")
            traceback.print_exc()
    sys.exit(1 if failed else 0)


def run_bounded(seconds, prefix, body):
    """Runs body(scratch) with a scratch directory that goes afterwards. A run longer than
    `seconds` raises TimeoutError, so that a hung browser fails the test and leaves no process."""

    def on_alarm(signum, frame):
        raise TimeoutError(f"the test ran longer than {seconds} s")

    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(seconds)
    scratch = tempfile.mkdtemp(prefix=prefix)
    try:
        body(scratch)
    finally:
        signal.alarm(0)
        shutil.rmtree(scratch, ignore_errors=True)


def end_all(ends):
    """Calls every one of `ends` within STEP_S more, even when one of them hangs or fails."""
    signal.alarm(STEP_S)
    for end in ends:
        try:
            end()
        except Exception as error:
            print(f"while cleaning up: {error!r}", file=sys.stderr)
