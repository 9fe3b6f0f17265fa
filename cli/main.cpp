// game-501: scores a game or a match of 501 from commands on standard input,
// one per line, for a person at a terminal or, with --json, for another program that
// drives the game through a pipe. See usage() for the commands.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "ascii.h"
#include "checkout_hint.h"
#include "computer_player.h"
#include "front_end.h"
#include "game_501.h"
#include "leg.h"
#include "match.h"
#include "match_501.h"
#include "rules.h"
#include "scoreboard.h"

namespace game501::cli {
namespace {

using json = Game501::json;

// A start entry of this word, alone or followed by ":" or "=", seats the
// computer; any other entry is a person's name.
constexpr std::string_view kComputerWord = "dator";
constexpr std::string_view kDefaultComputerLevel = "club";
// A count of legs or sets is written in at most three digits, leading zeros
// included.
constexpr std::size_t kMaxCountDigits = 3;

// The level ids as a Swedish list: "beginner, club eller strong", or with a
// last item, "beginner, club, strong eller ...".
std::string levelIds(const std::string& last = "") {
    std::vector<std::string> items;
    for (const SkillLevel& level : skillLevels()) {
        items.emplace_back(level.id);
    }
    if (!last.empty()) {
        items.push_back(last);
    }
    std::string ids;
    for (std::size_t i = 0; i < items.size(); ++i) {
        ids += (i == 0 ? "" : i + 1 == items.size() ? " eller " : ", ") + items[i];
    }
    return ids;
}

std::string computerLevels() {
    return levelIds("ett snitt från " + std::to_string(kMinComputerAverage) + " till " +
                    std::to_string(kMaxComputerAverage));
}

std::string usage() {
    const auto range = [](int low, int high) {
        return std::to_string(low) + "-" + std::to_string(high);
    };
    return "Användning: game-501 [--json] [--source ETIKETT] [--level NIVÅ]\n"
           "                    [--legs ANTAL] [--sets ANTAL]\n"
           "                    [--seed TAL] [--computer-pause MS]\n"
           "\n"
           "Räknar ett 501-spel med dubbel-ut, eller en match av flera legs. Läser\n"
           "ett kommando per rad från standard in tills indata tar slut eller \"quit\".\n"
           "\n"
           "Flaggor:\n"
           "  --json            skriv en rad JSON per anrop till motorn, för program\n"
           "  --source ETIKETT  källa som sparas med varje kast, högst " +
           std::to_string(front_end::kMaxSourceBytes) +
           " byte\n"
           "                    (standard: cli)\n"
           "  --level NIVÅ      visa utgången med bäst chans för en spelare på nivån,\n"
           "                    och chansen: beginner (nybörjare), club (klubbspelare)\n"
           "                    eller strong (stark spelare)\n"
           "  --legs ANTAL      spela en match: först till ANTAL vunna legs (" +
           range(Match::kMinLegs, Match::kMaxLegs) +
           ",\n"
           "                    standard 1, ett vanligt spel); i set: vunna legs per set\n"
           "  --sets ANTAL      spela matchen i set: först till ANTAL vunna set (" +
           range(Match::kMinSets, Match::kMaxSets) +
           ",\n"
           "                    standard 1)\n"
           "  --seed TAL        datorns frö (0 och uppåt): samma frö och samma kast\n"
           "                    av personerna ger samma kast av datorn (standard:\n"
           "                    ett slumpat för varje start)\n"
           "  --computer-pause MS\n"
           "                    paus före varje kast av datorn, 0-" +
           std::to_string(kMaxComputerPause.count()) +
           " ms (standard\n"
           "                    " +
           std::to_string(kDefaultComputerPause.count()) +
           " vid en terminal, 0 med --json eller när standard in\n"
           "                    inte är en terminal)\n"
           "  --help            visa denna hjälp\n"
           "\n"
           "I en match går kastet vidare: nästa leg börjar med nästa spelare när\n"
           "tavlan är tom efter vinstpilen (\"clear\"), och \"undo\" direkt efter\n"
           "det tar tillbaka vinstpilen i legget före.\n"
           "\n"
           "Spela mot datorn: posten \"dator\" i start är datorn i stället för en\n"
           "person; \"dator:NIVÅ\" ger den en nivå (" +
           levelIds() +
           ", eller\n"
           "ett snitt från " +
           std::to_string(kMinComputerAverage) + " till " + std::to_string(kMaxComputerAverage) +
           "; standard " + std::string(kDefaultComputerLevel) +
           ") och \"=NAMN\" sist ett namn\n"
           "(standard " +
           std::string(kComputerName) +
           "):\n"
           "  start Ymma, dator:strong=Robban\n"
           "Datorn kastar och bekräftar tom tavla själv när det är dess tur; efter\n"
           "\"undo\" kastar den om det som togs tillbaka. Två datorer spelar matchen\n"
           "till slut.\n";
}

std::string commands() {
    return "Kommandon:\n"
           "  start NAMN[, NAMN...]  starta ett nytt spel (eller match) för " +
           std::to_string(kMinPlayers) + " till " + std::to_string(kMaxPlayers) +
           " spelare\n"
           "  start NAMN, dator      spela mot datorn (nivå och namn: game-501 --help)\n"
           "  T20 T20 D12            registrera kast (S/D/T 1-20, OUTER, BULL, MISS)\n"
           "  undo                   ångra senaste kastet\n"
           "  clear                  bekräfta att tavlan är tom\n"
           "  reset                  avbryt spelet\n"
           "  state                  visa ställningen\n"
           "  match                  visa matchens ställning och vunna legs\n"
           "  help                   visa kommandona\n"
           "  quit                   avsluta\n";
}

struct Options {
    bool json_output = false;
    std::string source = "cli";
    const SkillLevel* level = nullptr;  // none: the fixed checkout hint
    Match::Format format;
    std::optional<std::uint64_t> seed;  // none: a random one for each start
    std::chrono::milliseconds computer_pause{0};
};

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && ascii::isSpace(text[at])) {
            ++at;
        }
        std::size_t end = at;
        while (end < text.size() && !ascii::isSpace(text[end])) {
            ++end;
        }
        if (end > at) {
            words.push_back(text.substr(at, end - at));
        }
        at = end;
    }
    return words;
}

// Names are separated by commas so that a name may hold spaces; the engine
// trims them and names blank ones.
std::vector<std::string> splitNames(const std::string& text) {
    std::vector<std::string> names;
    if (ascii::trimmed(text).empty()) {
        return names;
    }
    std::size_t at = 0;
    for (std::size_t comma = text.find(','); comma != std::string::npos;
         comma = text.find(',', at)) {
        names.push_back(text.substr(at, comma - at));
        at = comma + 1;
    }
    names.push_back(text.substr(at));
    return names;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        c = ascii::toLower(c);
    }
    return text;
}

// One entry of a start: a person, or the computer as
// "dator[:NIVÅ][=NAMN]" (the word in any case, the level exact).
struct Seat {
    std::string name;
    bool computer = false;
    std::optional<ComputerLevel> level;  // a computer's; none when its level is unknown
    std::string level_text;              // as written, for the refusal
};

Seat readSeat(const std::string& entry) {
    const std::string text = ascii::trim(entry);
    const std::size_t word = kComputerWord.size();
    std::size_t mark = word;  // where ":" or "=" may follow the word
    while (mark < text.size() && ascii::isSpace(text[mark])) {
        ++mark;
    }
    if (lowerAscii(text.substr(0, word)) != kComputerWord ||
        (mark < text.size() && text[mark] != ':' && text[mark] != '=')) {
        return Seat{entry, false, std::nullopt, ""};
    }
    Seat seat;
    seat.computer = true;
    const std::size_t equals = text.find('=', mark);
    const bool with_level = mark < text.size() && text[mark] == ':';
    if (with_level) {
        seat.level_text = ascii::trim(
            text.substr(mark + 1, equals == std::string::npos ? equals : equals - mark - 1));
    }
    seat.name = equals == std::string::npos ? "" : ascii::trim(text.substr(equals + 1));
    if (seat.name.empty()) {
        seat.name = std::string(kComputerName);
    }
    seat.level =
        parseComputerLevel(with_level ? std::string_view(seat.level_text) : kDefaultComputerLevel);
    return seat;
}

// Marks a computer on the scoreboard: "Datorn (Klubbspelare)", and for a
// name that does not say so, "Robban (dator, Stark spelare)".
std::string computerTag(const Seat& seat) {
    return " (" + std::string(seat.name == kComputerName ? "" : "dator, ") + seat.level->name + ")";
}

class Session {
public:
    explicit Session(Options options) : options_(std::move(options)) {}

    // Runs one input line; returns false when the session should end.
    bool run(const std::string& raw_line) {
        const std::string line = ascii::trim(raw_line);
        if (line.empty()) {
            return true;
        }
        const std::size_t word_end = line.find_first_of(" \t\v\f");
        const std::string word = lowerAscii(line.substr(0, word_end));
        const std::string rest = word_end == std::string::npos ? "" : line.substr(word_end);

        if (word == "start") {
            start(rest);
        } else if (rest.empty() && word == "undo") {
            respond(match_.undo());
        } else if (rest.empty() && word == "clear") {
            respond(match_.markBoardClear());
        } else if (rest.empty() && word == "reset") {
            respond(match_.reset());
        } else if (rest.empty() && word == "state") {
            showState();
        } else if (rest.empty() && word == "match") {
            showMatch();
        } else if (rest.empty() && word == "help") {
            // Standard output of the JSON mode carries only documents.
            if (options_.json_output) {
                std::cerr << commands() << std::flush;
            } else {
                std::cout << commands() << '\n' << std::flush;
            }
        } else if (rest.empty() && word == "quit") {
            return false;
        } else {
            throwDarts(line);
        }
        followComputers();
        return true;
    }

private:
    // Starts with the computers the entries seat, each with its own seed.
    // Refuses the whole start, changing nothing, at a computer's unknown
    // level.
    void start(const std::string& entries) {
        const std::uint64_t seed = options_.seed ? *options_.seed : randomSeed();
        std::vector<std::string> names;
        std::vector<std::optional<ComputerLevel>> levels;
        std::vector<std::string> tags;
        for (const std::string& entry : splitNames(entries)) {
            const Seat seat = readSeat(entry);
            if (seat.computer && !seat.level) {
                respond(Answer{false,
                               "Okänd nivå för datorn: \"" + seat.level_text + "\" (välj " +
                                   computerLevels() + ")",
                               match_.leg().status()});
                return;
            }
            names.push_back(seat.name);
            levels.push_back(seat.level);
            tags.push_back(seat.level ? computerTag(seat) : "");
        }
        const Answer answer = match_.start(names, options_.format);
        if (answer.accepted) {
            const bool any = std::any_of(levels.begin(), levels.end(),
                                         [](const auto& level) { return level.has_value(); });
            // Without a computer the game prints what it always has.
            computers_ = any ? seatComputers(levels, seed) : decltype(computers_)();
            levels_ = std::move(levels);
            tags_ = std::move(tags);
        }
        respond(answer);
    }

    // Lets the computers move while one is to: its darts and clears go
    // through the calls a person's do and are shown the same way, so an undo
    // that takes back a computer's dart is simply thrown again.
    void followComputers() {
        if (computers_.empty()) {
            return;
        }
        for (;;) {
            const ComputerMove move = nextComputerMove(match_, computers_);
            if (move.kind == ComputerMove::Kind::none) {
                return;
            }
            if (move.kind == ComputerMove::Kind::clear) {
                respond(match_.markBoardClear());
                continue;
            }
            if (options_.computer_pause.count() > 0) {
                std::this_thread::sleep_for(options_.computer_pause);
            }
            const Answer answer = match_.addDart(move.dart, std::string(kComputerSource));
            respond(answer);
            // The same move would be refused again, for ever.
            if (!answer.accepted) {
                return;
            }
        }
    }

    // Registers the darts in order and stops at the first refused one: the
    // darts after it were meant to follow it, so registering them would put
    // them in the wrong place of the turn.
    void throwDarts(const std::string& line) {
        for (const std::string& notation : splitWords(line)) {
            const Answer answer = match_.addDart(notation, options_.source);
            // The leg just won stays on the board until it is cleared.
            if (!answer.accepted && !options_.json_output && betweenLegs()) {
                std::cout << "Nästa leg börjar när tavlan är tom\n";
            } else {
                show(answer);
            }
            if (!answer.accepted) {
                break;
            }
        }
        showBoard();
    }

    // Whether a leg is won and the match goes on at the board clear.
    bool betweenLegs() const {
        return match_.leg().status() == GameStatus::finished &&
               match_.standing().status == GameStatus::playing;
    }

    // Shows an answer and then the board.
    void respond(const Answer& answer) {
        show(answer);
        showBoard();
    }

    // Shows an answer as the game stands right after it: its response
    // document, or for a person its message.
    void show(const Answer& answer) const {
        if (options_.json_output) {
            std::cout << front_end::serialise(Game501::responseDocument(answer, match_.leg()))
                      << '\n';
        } else {
            std::cout << displayText(answer.message) << '\n';
        }
    }

    // Shows a person the scoreboard; a program has it in each document.
    void showBoard() const {
        if (!options_.json_output) {
            std::cout << board() << '\n';
        }
        std::cout << std::flush;
    }

    void showState() const {
        if (options_.json_output) {
            std::cout << front_end::serialise(Game501::stateDocument(match_.leg())) << '\n'
                      << std::flush;
            return;
        }
        std::cout << board() << '\n' << std::flush;
    }

    // Prints the match document, or for a person every finished leg and the
    // scoreboard.
    void showMatch() const {
        json match = Match501::matchDocument(match_);
        if (options_.json_output) {
            if (!computers_.empty()) {
                json& players = match.at("players");
                for (std::size_t player = 0; player < players.size(); ++player) {
                    players[player]["computer"] = player < levels_.size() && levels_[player]
                                                      ? computerLevelJson(*levels_[player])
                                                      : json(nullptr);
                }
            }
            std::cout << front_end::serialise(match) << '\n' << std::flush;
            return;
        }
        const json& players = match.at("players");
        const auto name = [&players](const json& index) {
            return displayText(players.at(index.get<std::size_t>()).at("name").get<std::string>());
        };
        for (const json& leg : match.at("finished_legs")) {
            const std::string where =
                match.at("format").at("sets").get<int>() > 1
                    ? "Set " + leg.at("set").dump() + ", leg " + leg.at("leg").dump()
                    : "Leg " + leg.at("leg").dump();
            std::cout << where << ": " << name(leg.at("winner")) << " vann på "
                      << leg.at("darts").dump() << " pilar (" << name(leg.at("starter"))
                      << " började)\n";
        }
        std::cout << matchScoreboard(match, options_.level, tags_) << '\n' << std::flush;
    }

    // The scoreboard as the match stands; for a match of one leg, the game's.
    std::string board() const {
        return matchScoreboard(Match501::matchDocument(match_), options_.level, tags_);
    }

    Options options_;
    Match match_;
    // By the match's players in their starting order; computers_ is empty
    // without a computer at the board.
    std::vector<std::optional<ComputerThrower>> computers_;
    std::vector<std::optional<ComputerLevel>> levels_;
    std::vector<std::string> tags_;
};

int badUsage(const std::string& message) {
    std::cerr << "game-501: " << message << "\nSkriv \"game-501 --help\" för hjälp.\n";
    return 2;
}

// Reads a whole number from `low` to `high`, written in decimal digits alone.
template <typename Number>
std::optional<Number> parseWhole(const std::string& text, Number low, Number high) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), ascii::isDigit)) {
        return std::nullopt;
    }
    Number value{};
    const char* const end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, value);
    if (read.ec != std::errc() || read.ptr != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// Reads the options, then plays what standard input says; returns the exit
// status.
int run(int argc, char** argv) {
    Options options;
    std::optional<std::chrono::milliseconds> computer_pause;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage() << '\n' << commands();
            return 0;
        } else if (arg == "--json") {
            options.json_output = true;
        } else if (arg == "--source") {
            if (i + 1 == args.size()) {
                return badUsage("--source saknar etikett");
            }
            options.source = args[++i];
        } else if (arg.rfind("--source=", 0) == 0) {
            options.source = arg.substr(std::string("--source=").size());
        } else if (arg == "--level" || arg.rfind("--level=", 0) == 0) {
            if (arg == "--level" && i + 1 == args.size()) {
                return badUsage("--level saknar nivå");
            }
            const std::string id =
                arg == "--level" ? args[++i] : arg.substr(std::string("--level=").size());
            options.level = findSkillLevel(id);
            if (options.level == nullptr) {
                return badUsage("okänd nivå: " + displayText(id) + " (välj " + levelIds() + ")");
            }
        } else if (arg == "--legs" || arg.rfind("--legs=", 0) == 0 || arg == "--sets" ||
                   arg.rfind("--sets=", 0) == 0) {
            const bool legs = arg.rfind("--legs", 0) == 0;
            const std::string name = legs ? "--legs" : "--sets";
            if (arg == name && i + 1 == args.size()) {
                return badUsage(name + " saknar antal");
            }
            const std::string text = arg == name ? args[++i] : arg.substr(name.size() + 1);
            const int low = legs ? Match::kMinLegs : Match::kMinSets;
            const int high = legs ? Match::kMaxLegs : Match::kMaxSets;
            const std::optional<int> count =
                text.size() <= kMaxCountDigits ? parseWhole(text, low, high) : std::nullopt;
            if (!count) {
                return badUsage(name + " ska vara ett heltal från " + std::to_string(low) +
                                " till " + std::to_string(high) + ": " + displayText(text));
            }
            (legs ? options.format.legs : options.format.sets) = *count;
        } else if (arg == "--seed" || arg.rfind("--seed=", 0) == 0 || arg == "--computer-pause" ||
                   arg.rfind("--computer-pause=", 0) == 0) {
            const bool seed = arg.rfind("--seed", 0) == 0;
            const std::string name = seed ? "--seed" : "--computer-pause";
            if (arg == name && i + 1 == args.size()) {
                return badUsage(name + (seed ? " saknar tal" : " saknar millisekunder"));
            }
            const std::string text = arg == name ? args[++i] : arg.substr(name.size() + 1);
            const std::uint64_t high = seed ? std::numeric_limits<std::uint64_t>::max()
                                            : static_cast<std::uint64_t>(kMaxComputerPause.count());
            const std::optional<std::uint64_t> value = parseWhole<std::uint64_t>(text, 0, high);
            if (!value) {
                return badUsage(name + " ska vara ett heltal från 0 till " + std::to_string(high) +
                                ": " + displayText(text));
            }
            if (seed) {
                options.seed = *value;
            } else {
                computer_pause = std::chrono::milliseconds(static_cast<std::int64_t>(*value));
            }
        } else {
            return badUsage("okänt argument: " + displayText(arg));
        }
    }
    if (options.source.size() > front_end::kMaxSourceBytes) {
        return badUsage("--source får vara högst " + std::to_string(front_end::kMaxSourceBytes) +
                        " byte");
    }

    const bool at_terminal = !options.json_output && isatty(STDIN_FILENO) != 0;
    // A program or a test reading the output never waits for the computer.
    options.computer_pause =
        computer_pause.value_or(at_terminal ? kDefaultComputerPause : std::chrono::milliseconds(0));

    Session session(options);
    if (at_terminal) {
        std::cout << "game-501: skriv \"help\" för kommandon, \"quit\" för att avsluta.\n";
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!session.run(line)) {
            break;
        }
    }
    return 0;
}

}  // namespace
}  // namespace game501::cli

int main(int argc, char** argv) { return game501::cli::run(argc, argv); }
