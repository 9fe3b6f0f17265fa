"""Sorts the server's samples in `perf script` output by what a dart's CPU goes to.

Usage: perf script -i FILE | python3 bench/load/perf_categories.py [COMMAND]

Takes the samples of COMMAND (game-501-server unless given) and names each by
the innermost frame of its stack that a category below matches, so that the
JSON library's work counts where it is done (serialising, destroying) and the
rest where it was called from. Prints each category's share of the samples and
the share spent in malloc and free under it. Needs whole stacks: record with
--call-graph dwarf (frame pointers stop at the C library's malloc).
"""
import collections
import re
import sys

CATEGORIES = [
    ("serialising documents", r"serializer<.*>::dump|dump_escaped|dump_integer|basic_json.*::dump\b"),
    ("destroying documents", r"json_value::destroy|~basic_json"),
    ("the leg's state document", r"Game501::stateDocument|dartsJson|dartJson|Game501::stateText|Game501::responseText"),
    ("the standing, figures and facts as documents",
     r"standingDocument|withFigures|statistics::toJson|addBoardFacts|standingAndFigures|statistics::figures\b"),
    ("the checkout advice", r"checkoutFor|checkoutAdvice|checkoutHint"),
    ("a display's typed records", r"Display::of|Match::overview|Match::figures|legCounts|Match::standing"),
    ("the engine: dart, record, undo point",
     r"game501::Leg::|game501::Match::add|game501::Match::record|parseBed|game501::parseDart"),
    ("the journal: the row and its commit",
     r"sqlite3|Journal::commit|Journal::writeLoop|argumentsJson|archive::Writer|SQLite::"),
    ("reading the request (JSON body, headers)",
     r"readWrite|readCommand|detail::parser<|detail::lexer<|json_sax_dom|bearerToken|idempotencyKey|precondition\b"),
    ("the board's bookkeeping (pending writes, answers, events)",
     r"Board::|RecentKeys|MatchFollower|BoardView::|JournalRow|Journal::append|Journal::tellLoop"),
    ("HTTP and sockets (Beast, Asio)", r"boost::beast|boost::asio|Session|network"),
]
MALLOC = re.compile(r"malloc|_int_free|\bfree\b|cfree|operator new|operator delete|consolidate|realloc")


def category(frames):
    for frame in frames:
        for name, pattern in COMPILED:
            if pattern.search(frame):
                return name
    return "kernel, other" if frames and "[kernel.kallsyms]" in frames[0] else "other"


COMPILED = [(name, re.compile(pattern)) for name, pattern in CATEGORIES]


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else "game-501-server"
    counts = collections.Counter()
    in_malloc = collections.Counter()
    samples = 0
    header, frames = None, []

    def count():
        nonlocal samples
        if header is None or not header.startswith(command):
            return
        samples += 1
        name = category(frames)
        counts[name] += 1
        if frames and MALLOC.search(frames[0]):
            in_malloc[name] += 1

    for line in sys.stdin:
        line = line.rstrip("\n")
        if line.startswith((" ", "\t")):
            frames.append(line.strip())
            continue
        count()
        header, frames = (line or None), []
    count()
    print(f"{samples} samples of {command}")
    if samples == 0:
        return
    print("| where | share | of which malloc and free |")
    print("|---|---:|---:|")
    for name, n in counts.most_common():
        print(f"| {name} | {100.0 * n / samples:.1f} % | {100.0 * in_malloc[name] / samples:.1f} % |")
    print(f"| all | 100 % | {100.0 * sum(in_malloc.values()) / samples:.1f} % |")


if __name__ == "__main__":
    main()
