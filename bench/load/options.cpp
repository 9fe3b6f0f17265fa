#include "options.h"

#include <charconv>
#include <cstddef>
#include <initializer_list>
#include <sstream>
#include <system_error>

#include "scenarios.h"
#include "script.h"
#include "server_limits.h"

namespace game501::load {
namespace {

constexpr double kMinRate = 0.1;  // darts/s; slower would meet the server's read timeout
constexpr double kMaxRate = 1000;
constexpr double kMinSeconds = 0.1;
constexpr double kMaxSeconds = 3600;
constexpr std::uint64_t kMaxDarts = 10'000'000;
constexpr int kMaxRuns = 20;
constexpr double kSmokeInProcessSeconds = 0.2;

std::string valueOf(const std::vector<std::string>& args, std::size_t& i, const std::string& flag) {
    const std::string& arg = args[i];
    if (arg.size() > flag.size() && arg[flag.size()] == '=') {
        return arg.substr(flag.size() + 1);
    }
    if (i + 1 == args.size()) {
        throw UsageError{flag + " needs a value"};
    }
    return args[++i];
}

long wholeNumber(const std::string& text, const std::string& flag, long min, long max) {
    long value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < min || value > max) {
        throw UsageError{flag + " must be a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max)};
    }
    return value;
}

std::string shortNumber(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

double realNumber(const std::string& text, const std::string& flag, double min, double max) {
    std::istringstream stream(text);
    double value = 0;
    if (!(stream >> value) || !stream.eof() || !(value >= min && value <= max)) {
        throw UsageError{flag + " must be a number from " + shortNumber(min) + " to " +
                         shortNumber(max)};
    }
    return value;
}

void apply(const Load& load, Options& options) {
    options.boards = load.boards;
    options.viewers = load.viewers;
    options.scorers = load.scorers;
    options.rate = load.rate;
    options.seconds = load.seconds;
    options.darts = load.darts;
    options.format = load.format;
}

void applyScenario(const std::string& name, Options& options) {
    const Scenario* const scenario = findScenario(name);
    if (scenario == nullptr) {
        throw UsageError{"unknown scenario " + name + " (" + scenarioNames() + ")"};
    }
    apply(scenario->load, options);
    options.server_args.clear();
    if (scenario->server_option.flag != nullptr) {
        options.server_args = {scenario->server_option.flag, scenario->server_option.value};
    }
    options.scenario = scenario;
    options.runs = kScenarioRuns;
    options.journals = {JournalKind::disk};
    if (scenario->journals == JournalPlan::both) {
        options.journals.push_back(JournalKind::memory);
    }
    options.against_single_game = scenario->formats == FormatPlan::against_single_game;
}

JournalKind journalKind(const std::string& name) {
    for (const JournalKind kind : {JournalKind::disk, JournalKind::memory}) {
        if (name == journalName(kind)) {
            return kind;
        }
    }
    throw UsageError{"--journal must be disk or memory"};
}

bool sameFormat(const Match501::Format& a, const Match501::Format& b) {
    return a.legs == b.legs && a.sets == b.sets;
}

void applySmoke(Options& options) {
    apply(kSmoke, options);
    options.smoke = true;
    options.runs = 1;
    options.in_process_seconds = kSmokeInProcessSeconds;
}

}  // namespace

const char* journalName(JournalKind kind) { return kind == JournalKind::disk ? "disk" : "memory"; }

// A scenario or --smoke sets its values first, whatever the order, so that
// the other flags can change them.
std::optional<Options> parseOptions(const std::vector<std::string>& args) {
    Options options;
    const auto is = [](const std::string& arg, const std::string& flag) {
        return arg == flag || arg.rfind(flag + "=", 0) == 0;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            return std::nullopt;
        }
        if (is(args[i], "--scenario")) {
            applyScenario(valueOf(args, i, "--scenario"), options);
        } else if (args[i] == "--smoke") {
            applySmoke(options);
        }
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (is(arg, "--scenario")) {
            valueOf(args, i, "--scenario");  // applied above
        } else if (arg == "--smoke") {
            continue;  // applied above
        } else if (is(arg, "--boards")) {
            options.boards = static_cast<int>(wholeNumber(valueOf(args, i, "--boards"), "--boards",
                                                          1, game501::server::kMaxBoards));
        } else if (is(arg, "--viewers")) {
            options.viewers = static_cast<int>(wholeNumber(
                valueOf(args, i, "--viewers"), "--viewers", 0, game501::server::kMaxConnections));
        } else if (is(arg, "--scorers")) {
            options.scorers = static_cast<int>(wholeNumber(
                valueOf(args, i, "--scorers"), "--scorers", 1, game501::server::kMaxConnections));
        } else if (is(arg, "--rate")) {
            options.rate = realNumber(valueOf(args, i, "--rate"), "--rate", kMinRate, kMaxRate);
        } else if (is(arg, "--seconds")) {
            options.seconds =
                realNumber(valueOf(args, i, "--seconds"), "--seconds", kMinSeconds, kMaxSeconds);
            options.seconds_given = true;
        } else if (is(arg, "--darts")) {
            options.darts = static_cast<std::uint64_t>(wholeNumber(
                valueOf(args, i, "--darts"), "--darts", 1, static_cast<long>(kMaxDarts)));
        } else if (is(arg, "--runs")) {
            options.runs =
                static_cast<int>(wholeNumber(valueOf(args, i, "--runs"), "--runs", 1, kMaxRuns));
        } else if (is(arg, "--journal")) {
            options.journals = {journalKind(valueOf(args, i, "--journal"))};
        } else if (is(arg, "--legs")) {
            options.format.legs = static_cast<int>(wholeNumber(
                valueOf(args, i, "--legs"), "--legs", Match501::kMinLegs, Match501::kMaxLegs));
        } else if (is(arg, "--sets")) {
            options.format.sets = static_cast<int>(wholeNumber(
                valueOf(args, i, "--sets"), "--sets", Match501::kMinSets, Match501::kMaxSets));
        } else if (is(arg, "--server")) {
            options.server = valueOf(args, i, "--server");
        } else if (is(arg, "--compare-server")) {
            options.compare_server = valueOf(args, i, "--compare-server");
            if (options.compare_server.empty()) {
                throw UsageError{"--compare-server needs a path"};
            }
        } else {
            throw UsageError{"unknown argument: " + arg};
        }
    }
    if (options.viewers + options.scorers > game501::server::kMaxConnections) {
        throw UsageError{"viewers and scorers together may be at most " +
                         std::to_string(game501::server::kMaxConnections) +
                         ", the server's connection limit"};
    }
    if (options.scenario != nullptr && options.scenario->journals == JournalPlan::disk &&
        options.journals != std::vector<JournalKind>{JournalKind::disk}) {
        throw UsageError{std::string("--scenario ") + options.scenario->name +
                         " needs the journal on disk"};
    }
    if (options.scenario != nullptr && options.scenario->runner != nullptr &&
        !options.compare_server.empty()) {
        throw UsageError{
            std::string("--compare-server compares loads of scorers, which --scenario ") +
            options.scenario->name + " is not"};
    }
    return options;
}

std::string usage() {
    return "Usage: game501_server_load [--scenario NAME | --smoke] [--boards B] [--viewers V]\n"
           "                           [--scorers S] [--rate R] [--seconds T | --darts N]\n"
           "                           [--runs K] [--journal disk|memory] [--legs L] [--sets S]\n"
           "                           [--server PATH] [--compare-server PATH]\n"
           "\n"
           "Starts game-501-server on 127.0.0.1, spreads V viewers of the event streams\n"
           "and S scorers evenly over B boards, lets the scorers play " +
           std::to_string(kPlayers.size()) +
           "-player matches for\n"
           "T seconds or N darts, stops the server, and plays the same darts in process.\n"
           "Every run has a journal of its own, removed after it. Runs of different\n"
           "journals, formats or servers take turns and their medians are compared.\n"
           "\n"
           "  --boards B      boards of the server (default 1)\n"
           "  --viewers V     event stream connections (default 0)\n"
           "  --scorers S     scorers, each one keep-alive connection (default 1)\n"
           "  --rate R        darts per second per scorer (default: as fast as answered)\n"
           "  --seconds T     length of the load (default 10)\n"
           "  --darts N       throw N darts instead, in at most --seconds (default 300)\n"
           "  --runs K        repeat the whole run K times (with each journal, format and\n"
           "                  server) and print the medians\n"
           "  --journal J     disk: the server's journal is a file in the run's temporary\n"
           "                  directory ($TMPDIR or /tmp), measured after the run (default);\n"
           "                  memory: --data :memory:, for comparisons of speed only\n"
           "  --legs L        the scorers play matches of first to L legs (default 1: a\n"
           "                  single game)\n"
           "  --sets S        ... in sets: first to S sets of L legs (default 1)\n"
           "  --server PATH   the server to start (default: the one of this build)\n"
           "  --compare-server PATH\n"
           "                  another server (an older build, say) whose runs take turns\n"
           "                  with those of --server under the same load; prints the\n"
           "                  medians of each and this server's over the other's; a\n"
           "                  server whose --help names no --data is started without it\n"
           "                  and keeps nothing\n"
           "  --scenario NAME one of the target runs, " +
           std::to_string(kScenarioRuns) +
           " runs of each kind (restarts for\n"
           "                  restart) unless --runs says:\n" +
           scenarioHelp() +
           "  --smoke         2 boards, 4 viewers, 2 scorers, first to 2 legs, 1 s: proof\n"
           "                  that it works; fails unless darts were thrown, none refused,\n"
           "                  and every event arrived\n";
}

bool sameKind(const RunKind& a, const RunKind& b) {
    return a.journal == b.journal && sameFormat(a.format, b.format) &&
           a.other_server == b.other_server;
}

std::vector<Match501::Format> runFormats(const Options& options) {
    if (options.against_single_game && !isSingleGame(options.format)) {
        return {Match501::Format{}, options.format};
    }
    return {options.format};
}

std::vector<RunKind> runKinds(const Options& options) {
    std::vector<RunKind> kinds;
    for (const bool other : {false, true}) {
        if (other && options.compare_server.empty()) {
            continue;
        }
        for (const Match501::Format& format : runFormats(options)) {
            for (const JournalKind journal : options.journals) {
                kinds.push_back({journal, format, other});
            }
        }
    }
    return kinds;
}

std::string formatName(const Match501::Format& format) {
    if (isSingleGame(format)) {
        return "a single game";
    }
    const std::string legs = std::to_string(format.legs) + (format.legs == 1 ? " leg" : " legs");
    return format.sets == 1 ? "first to " + legs
                            : "first to " + std::to_string(format.sets) + " sets of " + legs;
}

std::string kindName(const RunKind& kind, const Options& options, KindPart leave_out) {
    std::string name = std::string("journal ") + journalName(kind.journal);
    const bool formats_differ = runFormats(options).size() > 1;
    if (leave_out != KindPart::format && (formats_differ || !isSingleGame(kind.format))) {
        name += ", " + formatName(kind.format);
    }
    if (leave_out != KindPart::server && !options.compare_server.empty()) {
        name += kind.other_server ? ", the other server" : ", this server";
    }
    return name;
}

}  // namespace game501::load
