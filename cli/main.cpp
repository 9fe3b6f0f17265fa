// game-501: scores a game or a match of 501 from commands on standard input,
// one per line, for a person at a terminal or, with --json, for another program that
// drives the game through a pipe. See usage() for the commands.
#include <unistd.h>

#include <cstddef>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ascii.h"
#include "checkout_hint.h"
#include "front_end.h"
#include "game_501.h"
#include "match_501.h"
#include "scoreboard.h"

namespace {

using json = Game501::json;

std::string usage() {
    const auto range = [](int low, int high) {
        return std::to_string(low) + "-" + std::to_string(high);
    };
    return "Användning: game-501 [--json] [--source ETIKETT] [--level NIVÅ]\n"
           "                    [--legs ANTAL] [--sets ANTAL]\n"
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
           range(Match501::kMinLegs, Match501::kMaxLegs) +
           ",\n"
           "                    standard 1, ett vanligt spel); i set: vunna legs per set\n"
           "  --sets ANTAL      spela matchen i set: först till ANTAL vunna set (" +
           range(Match501::kMinSets, Match501::kMaxSets) +
           ",\n"
           "                    standard 1)\n"
           "  --help            visa denna hjälp\n"
           "\n"
           "I en match går kastet vidare: nästa leg börjar med nästa spelare när\n"
           "tavlan är tom efter vinstpilen (\"clear\"), och \"undo\" direkt efter\n"
           "det tar tillbaka vinstpilen i legget före.\n";
}

const char* const kCommands =
    "Kommandon:\n"
    "  start NAMN[, NAMN...]  starta ett nytt spel (eller match) för 1 till 8 spelare\n"
    "  T20 T20 D12            registrera kast (S/D/T 1-20, OUTER, BULL, MISS)\n"
    "  undo                   ångra senaste kastet\n"
    "  clear                  bekräfta att tavlan är tom\n"
    "  reset                  avbryt spelet\n"
    "  state                  visa ställningen\n"
    "  match                  visa matchens ställning och vunna legs\n"
    "  help                   visa kommandona\n"
    "  quit                   avsluta\n";

struct Options {
    bool json_output = false;
    std::string source = "cli";
    const SkillLevel* level = nullptr;  // none: the fixed checkout hint
    Match501::Format format;
};

std::string trim(const std::string& text) { return std::string(ascii::trimmed(text)); }

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
    if (trim(text).empty()) {
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

// Serialises without ever throwing: text that is not valid UTF-8 (a name, a
// notation or a source label exactly as a caller passed it) is replaced by
// U+FFFD instead of failing the whole document.
std::string compactJson(const json& document) {
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

class Session {
public:
    explicit Session(Options options) : options_(std::move(options)) {}

    // Runs one input line; returns false when the session should end.
    bool run(const std::string& raw_line) {
        const std::string line = trim(raw_line);
        if (line.empty()) {
            return true;
        }
        const std::size_t word_end = line.find_first_of(" \t\v\f");
        const std::string word = lowerAscii(line.substr(0, word_end));
        const std::string rest = word_end == std::string::npos ? "" : line.substr(word_end);

        if (word == "start") {
            answer(match_.start(splitNames(rest), options_.format));
        } else if (rest.empty() && word == "undo") {
            answer(match_.undo());
        } else if (rest.empty() && word == "clear") {
            answer(match_.markBoardClear());
        } else if (rest.empty() && word == "reset") {
            answer(match_.reset());
        } else if (rest.empty() && word == "state") {
            showState(match_.state());
        } else if (rest.empty() && word == "match") {
            showMatch();
        } else if (rest.empty() && word == "help") {
            // Standard output of the JSON mode carries only documents.
            if (options_.json_output) {
                std::cerr << kCommands << std::flush;
            } else {
                std::cout << kCommands << '\n' << std::flush;
            }
        } else if (rest.empty() && word == "quit") {
            return false;
        } else {
            throwDarts(line);
        }
        return true;
    }

private:
    // Registers the darts in order and stops at the first refused one: the
    // darts after it were meant to follow it, so registering them would put
    // them in the wrong place of the turn.
    void throwDarts(const std::string& line) {
        std::vector<json> answers;
        for (const std::string& notation : splitWords(line)) {
            answers.push_back(match_.addDart(notation, options_.source));
            if (!answers.back().at("accepted").get<bool>()) {
                break;
            }
        }
        if (answers.empty()) {
            return;
        }
        if (options_.json_output) {
            for (const json& response : answers) {
                std::cout << compactJson(response) << '\n';
            }
            std::cout << std::flush;
            return;
        }
        for (const json& response : answers) {
            std::cout << game501_cli::displayText(response.at("message").get<std::string>())
                      << '\n';
        }
        std::cout << board() << '\n' << std::flush;
    }

    void answer(const json& response) {
        if (options_.json_output) {
            std::cout << compactJson(response) << '\n' << std::flush;
            return;
        }
        std::cout << game501_cli::displayText(response.at("message").get<std::string>()) << '\n'
                  << board() << '\n'
                  << std::flush;
    }

    void showState(const json& state) {
        if (options_.json_output) {
            std::cout << compactJson(state) << '\n' << std::flush;
            return;
        }
        std::cout << board() << '\n' << std::flush;
    }

    // Prints the match document, or for a person every finished leg and the
    // scoreboard.
    void showMatch() {
        const json match = match_.match();
        if (options_.json_output) {
            std::cout << compactJson(match) << '\n' << std::flush;
            return;
        }
        const json& players = match.at("players");
        const auto name = [&players](const json& index) {
            return game501_cli::displayText(
                players.at(index.get<std::size_t>()).at("name").get<std::string>());
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
        std::cout << game501_cli::matchScoreboard(match, options_.level) << '\n' << std::flush;
    }

    // The scoreboard as the match stands; for a match of one leg, the game's.
    std::string board() const {
        return game501_cli::matchScoreboard(match_.match(), options_.level);
    }

    Options options_;
    Match501 match_;
};

int badUsage(const std::string& message) {
    std::cerr << "game-501: " << message << "\nSkriv \"game-501 --help\" för hjälp.\n";
    return 2;
}

// Reads a whole number from `low` to `high`, in decimal digits only.
std::optional<int> parseCount(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 3) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (!ascii::isDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// The level ids as a Swedish list: "beginner, club eller strong".
std::string levelIds() {
    std::string ids;
    const auto& levels = skillLevels();
    for (std::size_t i = 0; i < levels.size(); ++i) {
        ids += std::string(i == 0 ? "" : i + 1 == levels.size() ? " eller " : ", ") + levels[i].id;
    }
    return ids;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage() << '\n' << kCommands;
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
                return badUsage("okänd nivå: " + game501_cli::displayText(id) + " (välj " +
                                levelIds() + ")");
            }
        } else if (arg == "--legs" || arg.rfind("--legs=", 0) == 0 || arg == "--sets" ||
                   arg.rfind("--sets=", 0) == 0) {
            const bool legs = arg.rfind("--legs", 0) == 0;
            const std::string name = legs ? "--legs" : "--sets";
            if (arg == name && i + 1 == args.size()) {
                return badUsage(name + " saknar antal");
            }
            const std::string text = arg == name ? args[++i] : arg.substr(name.size() + 1);
            const int low = legs ? Match501::kMinLegs : Match501::kMinSets;
            const int high = legs ? Match501::kMaxLegs : Match501::kMaxSets;
            const std::optional<int> count = parseCount(text, low, high);
            if (!count) {
                return badUsage(name + " ska vara ett heltal från " + std::to_string(low) +
                                " till " + std::to_string(high) + ": " +
                                game501_cli::displayText(text));
            }
            (legs ? options.format.legs : options.format.sets) = *count;
        } else {
            return badUsage("okänt argument: " + game501_cli::displayText(arg));
        }
    }
    if (options.source.size() > front_end::kMaxSourceBytes) {
        return badUsage("--source får vara högst " + std::to_string(front_end::kMaxSourceBytes) +
                        " byte");
    }

    Session session(options);
    if (!options.json_output && isatty(STDIN_FILENO) != 0) {
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
