// Load generator for game-501-server. It starts the server on loopback, puts
// viewers on the boards' event streams and scorers that play real games,
// and reports accepted darts per second, answer and delivery latencies,
// lost events and the server's memory, beside the same darts played in
// process. Every run is bounded in time and stops the server it started.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/beast/http/write.hpp>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "game_501.h"
#include "server_limits.h"

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Limits of the options.
constexpr int kMaxBoardCount = 1000;
constexpr double kMinRate = 0.1;  // darts/s; slower would meet the server's read timeout
constexpr double kMaxRate = 1000;
constexpr double kMinSeconds = 0.1;
constexpr double kMaxSeconds = 3600;
constexpr std::uint64_t kMaxDarts = 10'000'000;
constexpr int kMaxRuns = 20;

// Defaults of a run.
constexpr double kDefaultSeconds = 10;
// How long a --darts run may take at most when no --seconds says otherwise.
constexpr double kDefaultDartsTimeCap = 300;
constexpr double kInProcessSeconds = 2;
// CPUs whose in-process figures differ by more than this share are slowed
// by something outside this machine, and so are the run's figures.
constexpr double kCpuSpreadWarning = 0.20;
constexpr double kSmokeInProcessSeconds = 0.2;

// A load that --scenario or --smoke names; 0 for a rate or darts: none.
struct Scenario {
    const char* name;
    int boards;
    int viewers;
    int scorers;
    double rate;
    double seconds;
    std::uint64_t darts;
};
// The target runs, each taken as the median of this many runs: the
// benchmark machine's speed varies by a third from minute to minute.
constexpr int kScenarioRuns = 5;
constexpr std::array<Scenario, 3> kScenarios = {{
    {"throughput", 100, 0, 100, 0, 10, 0},
    {"delivery", 100, 1000, 100, 10, 20, 0},
    {"memory", 100, 1000, 100, 0, kDefaultSeconds, 100'000},
}};
constexpr Scenario kSmoke = {"smoke", 2, 4, 2, 0, 1, 0};

// Time bounds of the phases of a run.
constexpr std::chrono::seconds kServerStartTime{10};
constexpr std::chrono::seconds kConnectTime{20};
constexpr std::chrono::seconds kRequestTimeout{10};
constexpr std::chrono::seconds kDrainTime{5};
// The server waits kStopGrace for answers in flight; a little more for it to exit.
constexpr std::chrono::seconds kServerStopTime =
    game501_server::kStopGrace + std::chrono::seconds{5};
constexpr std::chrono::seconds kTeardownTime{2};
constexpr std::chrono::seconds kHardTimeoutMargin{30};
constexpr std::chrono::milliseconds kRssSampleInterval{250};
constexpr std::chrono::milliseconds kExitPollInterval{10};
// Shorter loads say nothing about the CPU they used.
constexpr double kMinCpuWindowSeconds = 0.1;

// Memory of the measurements.
constexpr std::size_t kMinLatencySamples = 1024;
constexpr std::size_t kMaxLatencySamples = std::size_t{1} << 21;
constexpr std::uint64_t kSamplingSeed = 1;
// Used only to size the latency vectors of unpaced runs, never as a limit.
constexpr double kAssumedMaxDartsPerSecond = 20'000;
// Each dart comes with at most one clear and rarely a start: events per dart.
constexpr double kEventsPerDartBound = 1.5;
// Events remembered per board for matching answers with viewers: more than
// a viewer may fall behind before the server cuts it off.
constexpr std::size_t kTrackedEventsPerBoard = 4 * game501_server::kMaxQueuedEvents;
constexpr std::size_t kReadChunkBytes = 64 * 1024;
constexpr int kReadsPerWake = 4;
// Enough for any line the generator reads whole ("id: " and 20 digits).
constexpr std::size_t kLinePrefixBytes = 32;
constexpr std::size_t kMaxErrorMessages = 5;
constexpr std::size_t kErrorExcerptBytes = 128;
constexpr std::size_t kMaxServerOutputBytes = 256 * 1024;
constexpr std::size_t kOutputChunkBytes = 4096;

// Exit statuses besides 0 (all well), 1 (errors) and 2 (bad usage).
constexpr int kExecFailedStatus = 127;
constexpr int kHardTimeoutStatus = 3;

// The script of games the scorers play.
constexpr int kScriptGames = 16;
constexpr std::size_t kMaxScriptGameDarts = 400;
constexpr std::uint32_t kScriptSeed = 501;
constexpr int kRollRange = 100;  // where a dart lands is a roll of 0..99
constexpr int kTopTreble = 60;
constexpr int kBull = 50;
constexpr int kTopDouble = 40;
constexpr int kFavouriteDouble = 32;
constexpr int kSegments = 20;
const std::vector<std::string> kPlayers = {"Anna", "Bo"};
const std::string kSource = "load";

// Targets of the three scenarios.
constexpr double kTargetDartsPerSecond = 5000;
constexpr double kTargetAnswerP99Ms = 20;
constexpr double kTargetNetworkShare = 0.25;
constexpr double kTargetDeliveryP99Ms = 100;
constexpr double kTargetIdleViewersMb = 50;
constexpr double kFlatMemoryTolerance = 0.10;
// Memory is judged flat from this share of the load on: before it, the
// boards' engines fill up from empty.
constexpr double kWarmShare = 0.10;

constexpr double kNanosPerMilli = 1e6;
constexpr double kNanosPerSecond = 1e9;
constexpr double kBytesPerKib = 1024;
constexpr double kBytesPerMb = 1e6;
constexpr double kKibPerMib = 1024;

// Answers and events, compact JSON with sorted keys.
constexpr std::string_view kAccepted = R"({"accepted":true)";
constexpr std::string_view kAwaitingClearKey = R"("awaiting_clear":)";
constexpr std::string_view kStatusKey = R"("status":")";
// An answer is read with one system call: room for the largest document.
constexpr std::size_t kAnswerBufferBytes = 32 * 1024;

const char* const kUsage =
    "Usage: game501_server_load [--scenario NAME | --smoke] [--boards B] [--viewers V]\n"
    "                           [--scorers S] [--rate R] [--seconds T | --darts N]\n"
    "                           [--runs K] [--server PATH]\n"
    "\n"
    "Starts game-501-server on 127.0.0.1, spreads V viewers of the event streams\n"
    "and S scorers evenly over B boards, lets the scorers play 2-player games for\n"
    "T seconds or N darts, stops the server, and plays the same darts in process.\n"
    "\n"
    "  --boards B      boards of the server (default 1)\n"
    "  --viewers V     event stream connections (default 0)\n"
    "  --scorers S     scorers, each one keep-alive connection (default 1)\n"
    "  --rate R        darts per second per scorer (default: as fast as answered)\n"
    "  --seconds T     length of the load (default 10)\n"
    "  --darts N       throw N darts instead, in at most --seconds (default 300)\n"
    "  --runs K        repeat the whole run K times and print the medians\n"
    "  --server PATH   the server to start (default: the one of this build)\n"
    "  --scenario NAME one of the target runs, 5 runs each unless --runs says:\n"
    "                    throughput  100 boards, 100 scorers, no viewers, 10 s\n"
    "                    delivery    100 boards, 1000 viewers, 100 scorers at\n"
    "                                10 darts/s, 20 s\n"
    "                    memory      100 boards, 1000 viewers, 100 scorers,\n"
    "                                100,000 darts\n"
    "  --smoke         2 boards, 4 viewers, 2 scorers, 1 s: proof that it works;\n"
    "                  fails unless darts were thrown and every event arrived\n";

struct UsageError {
    std::string message;
};

struct Options {
    int boards = 1;
    int viewers = 0;
    int scorers = 1;
    double rate = 0;  // 0: every scorer throws as soon as its answer comes
    double seconds = kDefaultSeconds;
    bool seconds_given = false;
    std::uint64_t darts = 0;  // 0: the load is bounded by time alone
    int runs = 1;
    std::string server = GAME501_SERVER_PATH;
    std::string scenario;  // empty unless one of kScenarios
    bool smoke = false;
    double in_process_seconds = kInProcessSeconds;

    double loadSeconds() const {
        return darts == 0 || seconds_given ? seconds : kDefaultDartsTimeCap;
    }
};

// ---------------------------------------------------------------------------
// Options

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

void apply(const Scenario& scenario, Options& options) {
    options.boards = scenario.boards;
    options.viewers = scenario.viewers;
    options.scorers = scenario.scorers;
    options.rate = scenario.rate;
    options.seconds = scenario.seconds;
    options.darts = scenario.darts;
}

void applyScenario(const std::string& name, Options& options) {
    for (const Scenario& scenario : kScenarios) {
        if (name == scenario.name) {
            apply(scenario, options);
            options.scenario = name;
            options.runs = kScenarioRuns;
            return;
        }
    }
    throw UsageError{"unknown scenario " + name + " (throughput, delivery or memory)"};
}

void applySmoke(Options& options) {
    apply(kSmoke, options);
    options.smoke = true;
    options.runs = 1;
    options.in_process_seconds = kSmokeInProcessSeconds;
}

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
            options.boards = static_cast<int>(
                wholeNumber(valueOf(args, i, "--boards"), "--boards", 1, kMaxBoardCount));
        } else if (is(arg, "--viewers")) {
            options.viewers = static_cast<int>(wholeNumber(
                valueOf(args, i, "--viewers"), "--viewers", 0, game501_server::kMaxConnections));
        } else if (is(arg, "--scorers")) {
            options.scorers = static_cast<int>(wholeNumber(
                valueOf(args, i, "--scorers"), "--scorers", 1, game501_server::kMaxConnections));
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
        } else if (is(arg, "--server")) {
            options.server = valueOf(args, i, "--server");
        } else {
            throw UsageError{"unknown argument: " + arg};
        }
    }
    if (options.viewers + options.scorers > game501_server::kMaxConnections) {
        throw UsageError{"viewers and scorers together may be at most " +
                         std::to_string(game501_server::kMaxConnections) +
                         ", the server's connection limit"};
    }
    return options;
}

// ---------------------------------------------------------------------------
// The games the scorers play

enum class Step { start, dart, clear };

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// What a scorer sends after an answer: a new game after a checkout, the
// board clear after a turn that ended, else the next dart. The game's status
// is its last member of that name, near the end; the clear flag is near the
// start: neither search reads the whole document.
Step nextStep(std::string_view answer) {
    const std::size_t status = answer.rfind(kStatusKey);
    const std::string_view value =
        status == std::string_view::npos ? "" : answer.substr(status + kStatusKey.size());
    if (startsWith(value, "finished\"") || startsWith(value, "idle\"")) {
        return Step::start;
    }
    const std::size_t clear = answer.find(kAwaitingClearKey);
    if (clear != std::string_view::npos &&
        startsWith(answer.substr(clear + kAwaitingClearKey.size()), "true")) {
        return Step::clear;
    }
    return Step::dart;
}

// Where a club player's dart lands with `remaining` points left, for a roll
// of 0..99: the treble 20 to score, a single to leave a double, then the
// double, missed often enough to bust now and then.
std::string throwAt(int remaining, int roll) {
    if (remaining > kTopTreble) {
        return roll < 40 ? "T20" : roll < 85 ? "S20" : roll < 92 ? "S1" : roll < 99 ? "S5" : "MISS";
    }
    if (remaining == kBull) {
        return roll < 35 ? "BULL" : roll < 80 ? "OUTER" : "S3";
    }
    if (remaining <= kTopDouble && remaining % 2 == 0) {
        const std::string segment = std::to_string(remaining / 2);
        return roll < 40   ? "D" + segment
               : roll < 75 ? "S" + segment
               : roll < 90 ? "MISS"
                           : "T" + segment;
    }
    // A single that leaves the top double, or the favourite one or a half
    // of it.
    int leave = kTopDouble;
    if (remaining <= kTopDouble) {
        leave = kFavouriteDouble;
        while (leave >= remaining) {
            leave /= 2;
        }
    }
    const int single = remaining - leave;
    return roll < 80   ? "S" + std::to_string(single)
           : roll < 90 ? "S" + std::to_string(single % kSegments + 1)
                       : "MISS";
}

struct ScriptDart {
    std::string notation;
    std::string body;  // the request body that throws it
};

// A fixed sequence of whole games, the same in every run: the darts each
// game takes to its checkout, as the engine scored them.
struct Script {
    std::vector<std::vector<ScriptDart>> games;
    std::string start_body;
    std::size_t darts = 0;
    std::size_t turns = 0;
    std::size_t busts = 0;
};

Script buildScript() {
    Script script;
    script.start_body = Game501::json{{"players", kPlayers}}.dump();
    std::minstd_rand rng(kScriptSeed);
    Game501 game;
    for (int number = 0; number < kScriptGames; ++number) {
        std::vector<ScriptDart> darts;
        Step step = nextStep(game.start(kPlayers).dump());
        while (step != Step::start) {
            if (step == Step::clear) {
                step = nextStep(game.markBoardClear().dump());
                continue;
            }
            if (darts.size() == kMaxScriptGameDarts) {
                throw std::logic_error("a scripted game does not end");
            }
            const Game501::json state = game.state();
            const int remaining =
                state["players"][state["active_player"].get<std::size_t>()]["score"].get<int>();
            std::string notation =
                throwAt(remaining, static_cast<int>(rng() % static_cast<unsigned>(kRollRange)));
            const Game501::json answer = game.addDart(notation, kSource);
            if (!answer["accepted"].get<bool>()) {
                throw std::logic_error("the engine refused the scripted dart " + notation);
            }
            const Game501::json& history = answer["game"]["history"];
            if (answer["game"]["awaiting_clear"].get<bool>()) {
                ++script.turns;
                script.busts += history.front()["outcome"] == "bust" ? 1 : 0;
            }
            std::string body = Game501::json{{"notation", notation}, {"source", kSource}}.dump();
            darts.push_back({std::move(notation), std::move(body)});
            step = nextStep(answer.dump());
        }
        script.darts += darts.size();
        ++script.turns;  // the checkout's
        script.games.push_back(std::move(darts));
    }
    return script;
}

// ---------------------------------------------------------------------------
// Measurements

// Latencies in nanoseconds, in memory reserved once: past its capacity a
// uniform sample of all values is kept.
class Samples {
public:
    explicit Samples(std::size_t capacity) : capacity_(capacity) { values_.reserve(capacity); }

    void add(std::int64_t value) {
        ++count_;
        if (values_.size() < capacity_) {
            values_.push_back(value);
            return;
        }
        const std::uint64_t slot = rng_() % count_;
        if (slot < capacity_) {
            values_[static_cast<std::size_t>(slot)] = value;
        }
    }

    std::uint64_t count() const { return count_; }

    // Nearest rank; -1 when there is no value.
    double percentileMs(double fraction) {
        if (values_.empty()) {
            return -1;
        }
        const auto rank = static_cast<std::size_t>(
            std::max(1.0, std::ceil(fraction * static_cast<double>(values_.size()))) - 1);
        std::nth_element(values_.begin(), values_.begin() + static_cast<std::ptrdiff_t>(rank),
                         values_.end());
        return static_cast<double>(values_[rank]) / kNanosPerMilli;
    }

private:
    const std::size_t capacity_;
    std::vector<std::int64_t> values_;
    std::uint64_t count_ = 0;
    std::mt19937_64 rng_{kSamplingSeed};
};

// Matches each post with its event on every viewer of its board: the
// delivery latency runs from the post's sending to the moment the last
// viewer of the board holds the whole event. Answers and events arrive in
// either order.
class DeliveryTracker {
public:
    DeliveryTracker(int boards, Samples& samples)
        : boards_(static_cast<std::size_t>(boards)), samples_(samples) {}

    void addViewer(int board) {
        BoardEvents& events = boards_[static_cast<std::size_t>(board)];
        if (events.slots.empty()) {
            events.slots.resize(kTrackedEventsPerBoard);
        }
        ++events.viewers;
    }

    // A viewer gone no longer holds up the events it will never see.
    void removeViewer(int board) {
        BoardEvents& events = boards_[static_cast<std::size_t>(board)];
        --events.viewers;
        for (Slot& slot : events.slots) {
            completeIfHeld(events, slot);
        }
    }

    void onSent(int board, std::uint64_t id, std::int64_t sent_ns) {
        BoardEvents& events = boards_[static_cast<std::size_t>(board)];
        if (events.viewers == 0) {
            return;
        }
        Slot& slot = slotFor(events, id);
        slot.sent_ns = sent_ns;
        completeIfHeld(events, slot);
    }

    void onHeld(int board, std::uint64_t id, std::int64_t held_ns) {
        BoardEvents& events = boards_[static_cast<std::size_t>(board)];
        Slot& slot = slotFor(events, id);
        ++slot.holders;
        slot.held_ns = std::max(slot.held_ns, held_ns);
        completeIfHeld(events, slot);
    }

private:
    struct Slot {
        std::uint64_t id = 0;
        std::int64_t sent_ns = -1;
        std::int64_t held_ns = 0;
        int holders = 0;
        bool done = false;
    };
    struct BoardEvents {
        std::vector<Slot> slots;
        int viewers = 0;
    };

    Slot& slotFor(BoardEvents& events, std::uint64_t id) {
        Slot& slot = events.slots[static_cast<std::size_t>(id % events.slots.size())];
        if (slot.id != id) {
            slot = Slot{};
            slot.id = id;
        }
        return slot;
    }

    void completeIfHeld(const BoardEvents& events, Slot& slot) {
        if (slot.id == 0 || slot.done || slot.sent_ns < 0 || slot.holders == 0 ||
            slot.holders < events.viewers) {
            return;
        }
        slot.done = true;
        samples_.add(slot.held_ns - slot.sent_ns);
    }

    std::vector<BoardEvents> boards_;
    Samples& samples_;
};

// ---------------------------------------------------------------------------
// The server as a child process

std::string describeStatus(int status) {
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "killed by signal " + std::to_string(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

// A directory of its own for the tokens file, removed with everything in it.
class TempDir {
public:
    TempDir() {
        const char* const base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/game501-load-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        }
        path_ = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { remove(); }

    void remove() const {
        for (const std::string& file : files_) {
            unlink(file.c_str());
        }
        rmdir(path_.c_str());
    }

    std::string write(const std::string& name, const std::string& text) {
        const std::string file = path_ + "/" + name;
        files_.push_back(file);
        std::ofstream out(file, std::ios::binary);
        out << text;
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + file);
        }
        return file;
    }

private:
    std::string path_;
    std::vector<std::string> files_;
};

std::vector<std::string> makeTokens(int boards) {
    std::random_device device;
    std::vector<std::string> tokens;
    const std::string_view digits = "0123456789abcdef";
    constexpr int kTokenDigits = 32;
    for (int board = 0; board < boards; ++board) {
        std::string token;
        for (int i = 0; i < kTokenDigits; ++i) {
            token += digits[device() % digits.size()];
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

class ServerProcess {
public:
    // Starts the server; its standard output comes back through a pipe.
    ServerProcess(const std::string& path, const std::vector<std::string>& args) {
        std::array<int, 2> pipe_fds{};
        if (pipe2(pipe_fds.data(), O_CLOEXEC) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe");
        }
        std::vector<std::string> words{path};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0) {
            throw std::system_error(errno, std::generic_category(), "fork");
        }
        if (pid_ == 0) {
            // Only async-signal-safe calls until exec. The server dies with
            // the generator, however the generator ends.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) {
                _exit(kExecFailedStatus);
            }
            dup2(pipe_fds[1], STDOUT_FILENO);
            execv(path.c_str(), argv.data());
            const char message[] = "game501_server_load: cannot run the server\n";
            [[maybe_unused]] const ssize_t ignored =
                ::write(STDERR_FILENO, message, sizeof message - 1);
            _exit(kExecFailedStatus);
        }
        close(pipe_fds[1]);
        output_ = pipe_fds[0];
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // A server still running when a run fails is stopped as at the end.
    ~ServerProcess() {
        if (running()) {
            stop();
        }
        if (output_ >= 0) {
            close(output_);
        }
    }

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && !status_; }

    // Reads the server's output up to its last board's line and returns the
    // port it listens on. Throws if it exits or says nothing in time.
    unsigned short waitForPort(int boards, Clock::time_point deadline) {
        const std::string last_board = "Tavla " + std::to_string(boards) + "\n";
        const std::string_view address = "http://127.0.0.1:";
        std::string text;
        std::optional<unsigned short> port;
        while (!port || text.find(last_board) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 || text.size() > kMaxServerOutputBytes) {
                throw std::runtime_error("the server did not print its port and boards in time");
            }
            pollfd ready{output_, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
                throw std::system_error(errno, std::generic_category(), "poll");
            }
            std::array<char, kOutputChunkBytes> chunk{};
            const ssize_t bytes =
                ready.revents != 0 ? read(output_, chunk.data(), chunk.size()) : 0;
            if (ready.revents != 0 && bytes <= 0) {
                throw std::runtime_error("the server ended before it listened: " + stop());
            }
            text.append(chunk.data(), static_cast<std::size_t>(std::max<ssize_t>(bytes, 0)));
            const std::size_t at = text.find(address);
            const std::size_t line_end = text.find('\n', at);
            if (!port && at != std::string::npos && line_end != std::string::npos) {
                unsigned value = 0;
                const char* const first = text.data() + at + address.size();
                const auto [stop_at, error] = std::from_chars(first, text.data() + line_end, value);
                if (error != std::errc() || stop_at != text.data() + line_end || value == 0 ||
                    value > std::numeric_limits<unsigned short>::max()) {
                    throw std::runtime_error("cannot read the server's port");
                }
                port = static_cast<unsigned short>(value);
            }
        }
        return *port;
    }

    // Stops the server with SIGTERM and returns how it ended; kills it if it
    // has not ended within `grace`.
    std::string stop(std::chrono::seconds grace = kServerStopTime) {
        if (!running()) {
            return status_ ? describeStatus(*status_) : "not started";
        }
        kill(pid_, SIGTERM);
        const Clock::time_point deadline = Clock::now() + grace;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                status_ = status;
                return describeStatus(status) + " (did not stop within " +
                       std::to_string(grace.count()) + " s of SIGTERM)";
            }
            std::this_thread::sleep_for(kExitPollInterval);
        }
        status_ = status;
        return describeStatus(status);
    }

    bool exitedCleanly() const {
        return status_ && WIFEXITED(*status_) && WEXITSTATUS(*status_) == 0;
    }

    // Resident memory in KiB, or -1 when it cannot be read.
    long rssKib() const {
        std::ifstream file("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(file, line)) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::strtol(line.c_str() + std::strlen("VmRSS:"), nullptr, 10);
            }
        }
        return -1;
    }

    // User and system time used so far, in seconds.
    double cpuSeconds() const {
        std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
        std::string text;
        std::getline(file, text);
        const std::size_t name_end = text.rfind(')');
        if (name_end == std::string::npos) {
            return 0;
        }
        std::istringstream fields(text.substr(name_end + 1));
        // After the name: state, then 10 fields before utime and stime.
        constexpr int kFieldsBeforeUtime = 11;
        std::string skipped;
        for (int i = 0; i < kFieldsBeforeUtime; ++i) {
            fields >> skipped;
        }
        double user = 0;
        double system = 0;
        fields >> user >> system;
        return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::optional<int> status_;
};

double ownCpuSeconds() {
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / kNanosPerSecond;
}

// Ends everything if a run outlives its hard deadline, even when the server
// or the generator hangs: the server is killed, the temporary files go and
// the generator exits.
class Watchdog {
public:
    Watchdog(Clock::time_point deadline, pid_t server, const TempDir& dir)
        : server_(server), dir_(dir) {
        thread_ = std::thread([this, deadline] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_cv_.wait_until(lock, deadline, [this] { return done_; })) {
                std::cerr << "game501_server_load: the run passed its hard time limit; "
                             "killing the server\n";
                kill(server_, SIGKILL);
                waitpid(server_, nullptr, 0);
                dir_.remove();
                _exit(kHardTimeoutStatus);
            }
        });
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    ~Watchdog() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_one();
        thread_.join();
    }

private:
    const pid_t server_;
    const TempDir& dir_;
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

// ---------------------------------------------------------------------------
// Clients

class LoadRun;

// One scorer: one keep-alive connection to one board, on which it plays the
// script's games, one request at a time.
class Scorer {
public:
    Scorer(net::io_context& io, LoadRun& run, int board, std::size_t first_game);

    void connect(const tcp::endpoint& endpoint);
    // Throws the first dart at `first_due` when paced, else at once.
    void begin(Clock::time_point first_due);
    void stop();
    void close();
    bool connected() const { return connected_; }
    bool busy() const { return busy_; }

private:
    void sendNext();
    void send(Step step);
    void onAnswer(const beast::error_code& error);
    void fail(const std::string& what);

    LoadRun& run_;
    const int board_;
    // A plain socket: a stream with timeouts costs a timer on every operation,
    // and the run's phases bound every wait anyway.
    tcp::socket socket_;
    net::steady_timer pacer_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> start_request_;
    http::request<http::string_body> dart_request_;
    http::request<http::string_body> clear_request_;
    http::response<http::string_body> answer_;
    Step next_ = Step::start;
    Step in_flight_ = Step::start;
    std::size_t game_;
    std::size_t dart_ = 0;
    std::int64_t sent_ns_ = 0;
    Clock::time_point next_due_;
    Clock::duration period_{};
    bool connected_ = false;
    bool busy_ = false;
    bool stopping_ = false;
};

// One viewer of a board's event stream. It checks that ids follow each
// other and reports every event it holds whole.
class Viewer {
public:
    Viewer(net::io_context& io, LoadRun& run, int board);

    void connect(const tcp::endpoint& endpoint);
    void close();
    bool ready() const { return ready_; }
    bool alive() const { return ready_ && !gone_; }
    int board() const { return board_; }
    std::uint64_t lastId() const { return last_id_; }
    std::uint64_t gaps() const { return gaps_; }

private:
    void onHeader(const beast::error_code& error);
    void waitReadable();
    void onReadable(const beast::error_code& error);
    void consume(const char* data, std::size_t size);
    void onLine();
    void onEvent(std::uint64_t id, bool state);
    void fail(const std::string& what);
    // Stops reading; a stream that the server ended is no error, whose
    // missing events count as lost.
    void end(const std::optional<std::string>& error);

    LoadRun& run_;
    const int board_;
    tcp::socket socket_;
    http::request<http::empty_body> request_;
    beast::flat_buffer header_buffer_;
    std::optional<http::response_parser<http::empty_body>> parser_;
    std::string line_prefix_;
    std::size_t line_bytes_ = 0;
    std::optional<std::uint64_t> event_id_;
    bool event_is_state_ = false;
    std::uint64_t last_id_ = 0;
    std::uint64_t gaps_ = 0;
    bool ready_ = false;
    bool gone_ = false;
};

// Figures of one run.
struct RunFigures {
    double load_seconds = 0;
    std::uint64_t darts = 0;
    std::uint64_t refused = 0;
    double darts_per_second = 0;
    double answer_p50_ms = -1;
    double answer_p99_ms = -1;
    double delivery_p99_ms = -1;
    std::uint64_t delivery_samples = 0;
    std::uint64_t events_held = 0;
    std::uint64_t events_lost = 0;
    std::uint64_t viewers_gone = 0;
    std::uint64_t late_darts = 0;
    double rss_start_mib = -1;
    double rss_viewers_mib = -1;
    double rss_warm_mib = -1;
    double rss_peak_mib = -1;
    double rss_end_mib = -1;
    double server_cores = -1;
    double generator_cores = -1;
    double in_process_darts_per_second = 0;  // on the fastest CPU
    std::vector<std::pair<int, double>> in_process_by_cpu;
    double network_share = 0;
    std::uint64_t errors = 0;
    std::vector<std::string> error_messages;
    std::string server_exit;
    bool server_clean = false;
    bool viewers_all_ready = true;
};

class LoadRun {
public:
    LoadRun(const Options& options, const Script& script, const ServerProcess& server,
            unsigned short port, std::vector<std::string> tokens)
        : options_(options),
          script_(script),
          server_(server),
          endpoint_(net::ip::make_address("127.0.0.1"), port),
          host_("127.0.0.1:" + std::to_string(port)),
          tokens_(std::move(tokens)),
          epoch_(Clock::now()),
          guard_(net::make_work_guard(io_)),
          signals_(io_, SIGINT, SIGTERM),
          answer_latency_(latencyCapacity(options, 1)),
          delivery_latency_(
              latencyCapacity(options, options.viewers > 0 ? kEventsPerDartBound : 0)),
          tracker_(options.boards, delivery_latency_),
          board_last_id_(static_cast<std::size_t>(options.boards), 0),
          scratch_(kReadChunkBytes) {
        signals_.async_wait([this](const beast::error_code& signal_error, int) {
            if (!signal_error) {
                interrupted_ = true;
            }
        });
    }

    ~LoadRun() {
        closing_ = true;
        for (const std::unique_ptr<Viewer>& viewer : viewers_) {
            viewer->close();
        }
        for (const std::unique_ptr<Scorer>& scorer : scorers_) {
            scorer->close();
        }
        beast::error_code ignored;
        signals_.cancel(ignored);
        guard_.reset();
        io_.run_for(kTeardownTime);
    }

    // Connects the viewers, then the scorers, plays, drains the viewers and
    // returns the figures measured on the network.
    RunFigures run() {
        RunFigures figures;
        figures.rss_start_mib = rssMib();
        peak_rss_mib_ = figures.rss_start_mib;

        for (int i = 0; i < options_.viewers; ++i) {
            viewers_.push_back(std::make_unique<Viewer>(io_, *this, i % options_.boards));
            viewers_.back()->connect(endpoint_);
        }
        runUntil(Clock::now() + kConnectTime,
                 [this] { return viewers_ready_ + failures_ == options_.viewers; });
        figures.viewers_all_ready = viewers_ready_ == options_.viewers;
        if (!figures.viewers_all_ready) {
            error("only " + std::to_string(viewers_ready_) + " of " +
                  std::to_string(options_.viewers) + " viewers connected");
        }
        figures.rss_viewers_mib = rssMib();

        for (int i = 0; i < options_.scorers; ++i) {
            scorers_.push_back(
                std::make_unique<Scorer>(io_, *this, i % options_.boards,
                                         static_cast<std::size_t>(i) % script_.games.size()));
            scorers_.back()->connect(endpoint_);
        }
        runUntil(Clock::now() + kConnectTime, [this] {
            return std::all_of(scorers_.begin(), scorers_.end(),
                               [](const std::unique_ptr<Scorer>& scorer) {
                                   return scorer->connected() || !scorer->busy();
                               });
        });

        play(figures);

        // Every viewer should now catch up with the last event of its board.
        runUntil(Clock::now() + kDrainTime, [this] {
            return std::all_of(
                viewers_.begin(), viewers_.end(), [this](const std::unique_ptr<Viewer>& viewer) {
                    return !viewer->alive() ||
                           viewer->lastId() >=
                               board_last_id_[static_cast<std::size_t>(viewer->board())];
                });
        });
        for (const std::unique_ptr<Viewer>& viewer : viewers_) {
            const std::uint64_t last = board_last_id_[static_cast<std::size_t>(viewer->board())];
            figures.events_lost +=
                viewer->gaps() + (last > viewer->lastId() ? last - viewer->lastId() : 0);
        }
        figures.rss_end_mib = rssMib();
        peak_rss_mib_ = std::max(peak_rss_mib_, figures.rss_end_mib);
        figures.rss_peak_mib = peak_rss_mib_;
        figures.rss_warm_mib = rss_warm_mib_;

        figures.darts = darts_accepted_;
        figures.refused = darts_refused_;
        figures.darts_per_second = figures.load_seconds > 0
                                       ? static_cast<double>(darts_accepted_) / figures.load_seconds
                                       : 0;
        figures.answer_p50_ms = answer_latency_.percentileMs(0.50);
        figures.answer_p99_ms = answer_latency_.percentileMs(0.99);
        figures.delivery_p99_ms = delivery_latency_.percentileMs(0.99);
        figures.delivery_samples = delivery_latency_.count();
        figures.events_held = events_held_;
        figures.viewers_gone = viewers_gone_;
        figures.late_darts = late_darts_;
        figures.errors = errors_;
        figures.error_messages = error_messages_;
        return figures;
    }

    bool interrupted() const { return interrupted_; }

    // For the clients.
    const Options& options() const { return options_; }
    const Script& script() const { return script_; }
    const std::string& host() const { return host_; }
    const std::string& token(int board) const { return tokens_[static_cast<std::size_t>(board)]; }
    std::vector<char>& scratch() { return scratch_; }
    bool closing() const { return closing_; }
    bool stopping() const { return stopping_; }
    std::int64_t nowNs() const {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - epoch_).count();
    }

    bool takeDartTicket() {
        if (options_.darts != 0 && darts_issued_ >= options_.darts) {
            return false;
        }
        ++darts_issued_;
        return true;
    }

    void onAnswered(int board, std::uint64_t event_id, std::int64_t sent_ns) {
        std::uint64_t& last = board_last_id_[static_cast<std::size_t>(board)];
        last = std::max(last, event_id);
        tracker_.onSent(board, event_id, sent_ns);
    }

    void onDart(bool accepted, std::int64_t latency_ns) {
        answer_latency_.add(latency_ns);
        ++(accepted ? darts_accepted_ : darts_refused_);
    }

    void onLateDart() { ++late_darts_; }

    void onViewerReady(int board) {
        ++viewers_ready_;
        tracker_.addViewer(board);
    }

    void onEventHeld(int board, std::uint64_t id) {
        ++events_held_;
        tracker_.onHeld(board, id, nowNs());
    }

    void onViewerGone(int board) {
        ++viewers_gone_;
        tracker_.removeViewer(board);
    }

    // Counts an error and keeps the first few messages.
    void error(const std::string& message) {
        ++errors_;
        if (error_messages_.size() < kMaxErrorMessages) {
            error_messages_.push_back(message);
        }
    }

    void onConnectFailed() { ++failures_; }

private:
    static std::size_t latencyCapacity(const Options& options, double per_dart) {
        const double darts = options.darts != 0 ? static_cast<double>(options.darts)
                             : options.rate > 0
                                 ? options.rate * options.scorers * options.loadSeconds()
                                 : kAssumedMaxDartsPerSecond * options.loadSeconds();
        const double wanted = std::ceil(darts * per_dart);
        return per_dart == 0 ? 0
                             : std::clamp(static_cast<std::size_t>(wanted), kMinLatencySamples,
                                          kMaxLatencySamples);
    }

    double rssMib() const {
        const long kib = server_.rssKib();
        return kib < 0 ? -1 : static_cast<double>(kib) / kKibPerMib;
    }

    // Runs the clients until `done` holds, the deadline passes or a signal
    // interrupts, sampling the server's memory on the way.
    template <typename Done>
    void runUntil(Clock::time_point deadline, Done done) {
        while (!done() && !interrupted_) {
            const Clock::time_point now = Clock::now();
            if (now >= next_rss_sample_) {
                peak_rss_mib_ = std::max(peak_rss_mib_, rssMib());
                next_rss_sample_ = now + kRssSampleInterval;
            }
            if (rss_warm_mib_ < 0 && (darts_accepted_ >= warm_darts_ || now >= warm_time_)) {
                rss_warm_mib_ = rssMib();
            }
            if (now >= deadline) {
                return;
            }
            io_.run_one_until(std::min(deadline, next_rss_sample_));
        }
    }

    bool scorersIdle() const {
        return std::none_of(scorers_.begin(), scorers_.end(),
                            [](const std::unique_ptr<Scorer>& scorer) { return scorer->busy(); });
    }

    void play(RunFigures& figures) {
        const double server_cpu = server_.cpuSeconds();
        const double own_cpu = ownCpuSeconds();
        const Clock::time_point start = Clock::now();
        const auto length =
            std::chrono::duration_cast<Clock::duration>(Seconds(options_.loadSeconds()));
        if (options_.darts != 0) {
            warm_darts_ =
                static_cast<std::uint64_t>(static_cast<double>(options_.darts) * kWarmShare);
        } else {
            warm_time_ = start + std::chrono::duration_cast<Clock::duration>(length * kWarmShare);
        }
        for (std::size_t i = 0; i < scorers_.size(); ++i) {
            // Paced scorers start spread over one period, not all at once.
            const double offset =
                options_.rate > 0
                    ? static_cast<double>(i) / static_cast<double>(scorers_.size()) / options_.rate
                    : 0;
            scorers_[i]->begin(start +
                               std::chrono::duration_cast<Clock::duration>(Seconds(offset)));
        }
        runUntil(start + length, [this] { return scorersIdle(); });
        stopping_ = true;
        for (const std::unique_ptr<Scorer>& scorer : scorers_) {
            scorer->stop();
        }
        runUntil(Clock::now() + kRequestTimeout, [this] { return scorersIdle(); });
        const Clock::time_point end = Clock::now();
        const auto stuck =
            std::count_if(scorers_.begin(), scorers_.end(),
                          [](const std::unique_ptr<Scorer>& scorer) { return scorer->busy(); });
        if (stuck > 0 && !interrupted_) {
            error(std::to_string(stuck) + " scorers had no answer " +
                  std::to_string(kRequestTimeout.count()) + " s after the load ended");
        }
        figures.load_seconds = Seconds(end - start).count();
        if (figures.load_seconds >= kMinCpuWindowSeconds) {
            figures.server_cores = (server_.cpuSeconds() - server_cpu) / figures.load_seconds;
            figures.generator_cores = (ownCpuSeconds() - own_cpu) / figures.load_seconds;
        }
    }

    const Options& options_;
    const Script& script_;
    const ServerProcess& server_;
    const tcp::endpoint endpoint_;
    const std::string host_;
    const std::vector<std::string> tokens_;
    const Clock::time_point epoch_;
    // Declared before the clients, so that their sockets go first.
    net::io_context io_;
    net::executor_work_guard<net::io_context::executor_type> guard_;
    net::signal_set signals_;
    Samples answer_latency_;
    Samples delivery_latency_;
    DeliveryTracker tracker_;
    std::vector<std::uint64_t> board_last_id_;  // the newest event id answered per board
    std::vector<char> scratch_;                 // what viewers read, one at a time
    std::vector<std::unique_ptr<Viewer>> viewers_;
    std::vector<std::unique_ptr<Scorer>> scorers_;
    Clock::time_point next_rss_sample_{};
    double peak_rss_mib_ = -1;
    double rss_warm_mib_ = -1;
    std::uint64_t warm_darts_ = std::numeric_limits<std::uint64_t>::max();
    Clock::time_point warm_time_ = Clock::time_point::max();
    std::uint64_t darts_issued_ = 0;
    std::uint64_t darts_accepted_ = 0;
    std::uint64_t darts_refused_ = 0;
    std::uint64_t late_darts_ = 0;
    std::uint64_t events_held_ = 0;
    std::uint64_t viewers_gone_ = 0;
    std::uint64_t errors_ = 0;
    std::vector<std::string> error_messages_;
    int viewers_ready_ = 0;
    int failures_ = 0;
    bool stopping_ = false;
    bool closing_ = false;
    bool interrupted_ = false;
};

// --- Scorer

Scorer::Scorer(net::io_context& io, LoadRun& run, int board, std::size_t first_game)
    : run_(run), board_(board), socket_(io), pacer_(io), game_(first_game) {
    buffer_.reserve(kAnswerBufferBytes);
    const std::string target = "/api/boards/" + std::to_string(board + 1) + "/";
    const std::string authorization = "Bearer " + run.token(board);
    const auto prepare = [&](http::request<http::string_body>& request, const char* action) {
        request.method(http::verb::post);
        request.target(target + action);
        request.version(11);
        request.set(http::field::host, run.host());
        request.set(http::field::authorization, authorization);
    };
    prepare(start_request_, "start");
    start_request_.set(http::field::content_type, "application/json");
    start_request_.body() = run.script().start_body;
    start_request_.prepare_payload();
    prepare(dart_request_, "darts");
    dart_request_.set(http::field::content_type, "application/json");
    prepare(clear_request_, "clear");
    clear_request_.prepare_payload();
    if (run.options().rate > 0) {
        period_ = std::chrono::duration_cast<Clock::duration>(Seconds(1 / run.options().rate));
    }
}

void Scorer::connect(const tcp::endpoint& endpoint) {
    busy_ = true;
    socket_.async_connect(endpoint, [this](const beast::error_code& error) {
        busy_ = false;
        if (error) {
            return fail("scorer cannot connect: " + error.message());
        }
        connected_ = true;
        beast::error_code ignored;
        socket_.set_option(tcp::no_delay(true), ignored);
    });
}

void Scorer::begin(Clock::time_point first_due) {
    if (!connected_) {
        return;
    }
    busy_ = true;
    next_due_ = first_due;
    sendNext();
}

void Scorer::stop() {
    stopping_ = true;
    pacer_.cancel();
}

void Scorer::close() {
    stopping_ = true;
    pacer_.cancel();
    beast::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

void Scorer::sendNext() {
    if (stopping_ || run_.stopping()) {
        busy_ = false;
        return;
    }
    if (next_ != Step::dart) {
        return send(next_);
    }
    if (!run_.takeDartTicket()) {
        busy_ = false;
        return;
    }
    if (period_ == Clock::duration::zero()) {
        return send(Step::dart);
    }
    const Clock::time_point now = Clock::now();
    if (next_due_ + period_ < now) {
        // More than one period behind: keep the rate, not the schedule.
        run_.onLateDart();
        next_due_ = now;
    }
    const Clock::time_point due = next_due_;
    next_due_ += period_;
    if (due <= now) {
        return send(Step::dart);
    }
    pacer_.expires_at(due);
    pacer_.async_wait([this](const beast::error_code& error) {
        if (error || stopping_ || run_.stopping()) {
            busy_ = false;
            return;
        }
        send(Step::dart);
    });
}

void Scorer::send(Step step) {
    in_flight_ = step;
    http::request<http::string_body>* request = &clear_request_;
    if (step == Step::start) {
        request = &start_request_;
        dart_ = 0;
    } else if (step == Step::dart) {
        request = &dart_request_;
        dart_request_.body() = run_.script().games[game_][dart_].body;
        dart_request_.prepare_payload();
    }
    sent_ns_ = run_.nowNs();
    http::async_write(socket_, *request, [this](const beast::error_code& error, std::size_t) {
        if (error) {
            return fail("scorer cannot send: " + error.message());
        }
        // Reading only once the answer is there spares a read that would
        // find nothing yet.
        socket_.async_wait(tcp::socket::wait_read, [this](const beast::error_code& wait_error) {
            if (wait_error) {
                return fail("scorer got no answer: " + wait_error.message());
            }
            answer_ = {};
            http::async_read(
                socket_, buffer_, answer_,
                [this](const beast::error_code& read_error, std::size_t) { onAnswer(read_error); });
        });
    });
}

void Scorer::onAnswer(const beast::error_code& error) {
    if (error) {
        return fail("scorer got no answer: " + error.message());
    }
    const std::int64_t now = run_.nowNs();
    if (answer_.result() != http::status::ok) {
        return fail("scorer got HTTP " + std::to_string(answer_.result_int()) + ": " +
                    answer_.body().substr(0, kErrorExcerptBytes));
    }
    const auto field = answer_["Event-Id"];
    std::uint64_t event_id = 0;
    const auto [end, parse_error] =
        std::from_chars(field.data(), field.data() + field.size(), event_id);
    if (parse_error != std::errc() || end != field.data() + field.size() || event_id == 0) {
        return fail("scorer got an answer without a valid Event-Id");
    }
    run_.onAnswered(board_, event_id, sent_ns_);
    const std::string_view body = answer_.body();
    if (in_flight_ == Step::dart) {
        run_.onDart(startsWith(body, kAccepted), now - sent_ns_);
        ++dart_;
    }
    next_ = nextStep(body);
    const std::size_t game_darts = run_.script().games[game_].size();
    if ((next_ == Step::start && in_flight_ != Step::start) ||
        (next_ == Step::dart && dart_ == game_darts)) {
        // The script's game ended, or ran out where others throw on the same board.
        game_ = (game_ + 1) % run_.script().games.size();
        next_ = Step::start;
    }
    sendNext();
}

void Scorer::fail(const std::string& what) {
    busy_ = false;
    if (run_.closing()) {
        return;
    }
    if (!connected_) {
        run_.onConnectFailed();
    }
    connected_ = false;
    run_.error(what);
    beast::error_code ignored;
    socket_.close(ignored);
}

// --- Viewer

Viewer::Viewer(net::io_context& io, LoadRun& run, int board)
    : run_(run), board_(board), socket_(io) {
    request_.method(http::verb::get);
    request_.target("/api/boards/" + std::to_string(board + 1) + "/events");
    request_.version(11);
    request_.set(http::field::host, run.host());
    request_.set(http::field::accept, "text/event-stream");
    line_prefix_.reserve(kLinePrefixBytes);
}

void Viewer::connect(const tcp::endpoint& endpoint) {
    socket_.async_connect(endpoint, [this](const beast::error_code& error) {
        if (error) {
            return fail("viewer cannot connect: " + error.message());
        }
        http::async_write(
            socket_, request_, [this](const beast::error_code& write_error, std::size_t) {
                if (write_error) {
                    return fail("viewer cannot send: " + write_error.message());
                }
                parser_.emplace();
                http::async_read_header(socket_, header_buffer_, *parser_,
                                        [this](const beast::error_code& read_error, std::size_t) {
                                            onHeader(read_error);
                                        });
            });
    });
}

void Viewer::close() {
    beast::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

void Viewer::onHeader(const beast::error_code& error) {
    if (error) {
        return fail("viewer got no stream: " + error.message());
    }
    if (parser_->get().result() != http::status::ok) {
        return fail("viewer got HTTP " + std::to_string(parser_->get().result_int()));
    }
    // What came with the header already belongs to the stream.
    const auto leftover = header_buffer_.data();
    consume(static_cast<const char*>(leftover.data()), leftover.size());
    header_buffer_ = beast::flat_buffer();
    parser_.reset();
    if (gone_) {
        return;
    }
    beast::error_code ignored;
    socket_.non_blocking(true, ignored);
    waitReadable();
}

// A viewer holds no buffer of its own: it waits until its socket is
// readable and reads into the run's one scratch buffer.
void Viewer::waitReadable() {
    socket_.async_wait(tcp::socket::wait_read,
                       [this](const beast::error_code& error) { onReadable(error); });
}

void Viewer::onReadable(const beast::error_code& error) {
    if (error) {
        return fail("viewer stream failed: " + error.message());
    }
    std::vector<char>& scratch = run_.scratch();
    for (int i = 0; i < kReadsPerWake; ++i) {
        beast::error_code read_error;
        const std::size_t bytes = socket_.read_some(net::buffer(scratch), read_error);
        if (read_error == net::error::would_block) {
            break;
        }
        if (read_error == net::error::eof) {
            return end(std::nullopt);
        }
        if (read_error) {
            return fail("viewer stream failed: " + read_error.message());
        }
        consume(scratch.data(), bytes);
        if (gone_) {
            return;
        }
    }
    waitReadable();
}

void Viewer::consume(const char* data, std::size_t size) {
    const char* const end = data + size;
    while (data < end && !gone_) {
        const char* const newline =
            static_cast<const char*>(std::memchr(data, '\n', static_cast<std::size_t>(end - data)));
        const char* const stop = newline != nullptr ? newline : end;
        const auto length = static_cast<std::size_t>(stop - data);
        if (line_prefix_.size() < kLinePrefixBytes) {
            line_prefix_.append(data, std::min(length, kLinePrefixBytes - line_prefix_.size()));
        }
        line_bytes_ += length;
        if (newline == nullptr) {
            return;
        }
        onLine();
        line_prefix_.clear();
        line_bytes_ = 0;
        data = newline + 1;
    }
}

void Viewer::onLine() {
    const std::string_view line = line_prefix_;
    if (line_bytes_ == 0) {
        if (event_id_) {
            onEvent(*event_id_, event_is_state_);
        }
        event_id_.reset();
        event_is_state_ = false;
        return;
    }
    const std::string_view id_field = "id: ";
    if (line.substr(0, id_field.size()) == id_field) {
        std::uint64_t id = 0;
        const char* const last = line.data() + line.size();
        const auto [stop, error] = std::from_chars(line.data() + id_field.size(), last, id);
        if (error != std::errc() || stop != last || line_bytes_ != line.size()) {
            return fail("viewer got a bad id line");
        }
        event_id_ = id;
    } else if (line == "event: state") {
        event_is_state_ = true;
    }
}

void Viewer::onEvent(std::uint64_t id, bool state) {
    if (!ready_) {
        if (!state) {
            return fail("viewer's stream did not open with the state event");
        }
        ready_ = true;
        last_id_ = id;
        run_.onViewerReady(board_);
        return;
    }
    if (state || id <= last_id_) {
        return fail("viewer got event " + std::to_string(id) + " after " +
                    std::to_string(last_id_));
    }
    gaps_ += id - last_id_ - 1;
    last_id_ = id;
    run_.onEventHeld(board_, id);
}

void Viewer::fail(const std::string& what) { end(what); }

void Viewer::end(const std::optional<std::string>& error) {
    if (gone_) {
        return;
    }
    gone_ = true;
    beast::error_code ignored;
    socket_.close(ignored);
    if (run_.closing()) {
        return;
    }
    if (!ready_) {
        run_.onConnectFailed();
        run_.error(error.value_or("viewer's stream ended before its first event"));
        return;
    }
    run_.onViewerGone(board_);
    if (error) {
        run_.error(*error);
    }
}

// ---------------------------------------------------------------------------
// The same darts in process

// Plays the script on one engine, on this thread, like a scorer does, and
// returns accepted darts per second of addDart plus serialising its answer.
double inProcessDartsPerSecond(const Script& script, double seconds) {
    Game501 game;
    const auto budget = std::chrono::duration_cast<Clock::duration>(Seconds(seconds));
    const Clock::time_point stop = Clock::now() + budget;
    Clock::duration spent{};
    std::uint64_t accepted = 0;
    std::size_t game_index = 0;
    std::size_t dart = 0;
    Step step = Step::start;
    while (Clock::now() < stop) {
        if (step == Step::start) {
            dart = 0;
            step = nextStep(game.start(kPlayers).dump());
        } else if (step == Step::clear) {
            step = nextStep(game.markBoardClear().dump());
        } else {
            const ScriptDart& next = script.games[game_index][dart++];
            const Clock::time_point before = Clock::now();
            const std::string answer = game.addDart(next.notation, kSource).dump();
            spent += Clock::now() - before;
            accepted += startsWith(answer, kAccepted) ? 1 : 0;
            step = nextStep(answer);
            if (step == Step::start) {
                game_index = (game_index + 1) % script.games.size();
            }
        }
    }
    const double timed = Seconds(spent).count();
    return timed > 0 ? static_cast<double>(accepted) / timed : 0;
}

// The same darts on each CPU the generator may use, one after the other:
// virtual CPUs can differ in speed, and the engine's figure should not
// depend on where the scheduler put it. The affinity is restored after.
std::vector<std::pair<int, double>> inProcessByCpu(const Script& script, double seconds) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        return {{-1, inProcessDartsPerSecond(script, seconds)}};
    }
    const int count = CPU_COUNT(&allowed);
    std::vector<std::pair<int, double>> figures;
    for (int cpu = 0; cpu < CPU_SETSIZE && static_cast<int>(figures.size()) < count; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) {
            continue;
        }
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) {
            continue;
        }
        figures.emplace_back(cpu, inProcessDartsPerSecond(script, seconds / count));
    }
    sched_setaffinity(0, sizeof allowed, &allowed);
    return figures;
}

// ---------------------------------------------------------------------------
// Runs and report

void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string firstLineOf(const std::string& path, const std::string& prefix) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(prefix, 0) == 0) {
            const std::size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one;
    std::string five;
    std::string fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string fixed(double value, int decimals) {
    if (value < 0) {
        return "n/a";
    }
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(decimals);
    out << value;
    return out.str();
}

RunFigures runOnce(const Options& options, const Script& script) {
    const Clock::time_point begin = Clock::now();
    TempDir dir;
    std::vector<std::string> tokens = makeTokens(options.boards);
    std::string token_lines;
    for (const std::string& token : tokens) {
        token_lines += token + "\n";
    }
    const std::string tokens_file = dir.write("tokens", token_lines);

    ServerProcess server(options.server, {"--listen", "127.0.0.1:0", "--boards",
                                          std::to_string(options.boards), "--tokens", tokens_file});
    // The most every phase may take, and a margin.
    const Clock::duration hard_limit =
        kServerStartTime + 2 * kConnectTime +
        std::chrono::duration_cast<Clock::duration>(Seconds(options.loadSeconds())) +
        kRequestTimeout + kDrainTime + kTeardownTime + kServerStopTime +
        std::chrono::duration_cast<Clock::duration>(Seconds(options.in_process_seconds)) +
        kHardTimeoutMargin;
    const Watchdog watchdog(begin + hard_limit, server.pid(), dir);
    const unsigned short port = server.waitForPort(options.boards, begin + kServerStartTime);

    RunFigures figures;
    {
        LoadRun load(options, script, server, port, std::move(tokens));
        figures = load.run();
        if (load.interrupted()) {
            figures.server_exit = server.stop();
            throw std::runtime_error("interrupted");
        }
    }
    figures.server_exit = server.stop();
    figures.server_clean = server.exitedCleanly();
    if (!figures.server_clean) {
        ++figures.errors;
        figures.error_messages.push_back("the server ended with " + figures.server_exit);
    }

    figures.in_process_by_cpu = inProcessByCpu(script, options.in_process_seconds);
    for (const auto& [cpu, darts_per_second] : figures.in_process_by_cpu) {
        figures.in_process_darts_per_second =
            std::max(figures.in_process_darts_per_second, darts_per_second);
    }
    figures.network_share = figures.in_process_darts_per_second > 0
                                ? figures.darts_per_second / figures.in_process_darts_per_second
                                : 0;
    return figures;
}

void printFigures(const Options& options, const RunFigures& f) {
    std::cout << "  accepted darts       " << f.darts << " in " << fixed(f.load_seconds, 2)
              << " s = " << fixed(f.darts_per_second, 0) << " darts/s (refused " << f.refused
              << (options.rate > 0 ? ", late " + std::to_string(f.late_darts) : "") << ")\n"
              << "  answer latency       p50 " << fixed(f.answer_p50_ms, 2) << " ms, p99 "
              << fixed(f.answer_p99_ms, 2) << " ms (darts)\n";
    if (options.viewers > 0) {
        std::cout << "  delivery latency     p99 " << fixed(f.delivery_p99_ms, 2) << " ms ("
                  << f.delivery_samples << " posts seen by every viewer of their board)\n"
                  << "  events               " << f.events_held << " held, " << f.events_lost
                  << " lost, " << f.viewers_gone << " viewers disconnected\n";
    }
    std::cout << "  server memory        start " << fixed(f.rss_start_mib, 1)
              << " MiB, viewers connected " << fixed(f.rss_viewers_mib, 1) << " MiB, after "
              << kWarmShare * 100 << " % of the load " << fixed(f.rss_warm_mib, 1) << " MiB, peak "
              << fixed(f.rss_peak_mib, 1) << " MiB, end " << fixed(f.rss_end_mib, 1) << " MiB\n"
              << "  CPU during the load  server " << fixed(f.server_cores, 2)
              << " cores, generator " << fixed(f.generator_cores, 2) << " cores\n"
              << "  in process           " << fixed(f.in_process_darts_per_second, 0)
              << " darts/s (addDart + dump, one thread, fastest CPU";
    for (const auto& [cpu, darts_per_second] : f.in_process_by_cpu) {
        std::cout << (cpu == f.in_process_by_cpu.front().first ? ": " : ", ") << "cpu" << cpu << " "
                  << fixed(darts_per_second, 0);
    }
    std::cout << "); network/in-process "
              << (options.rate > 0 ? "n/a (paced)" : fixed(f.network_share, 3)) << "\n";
    if (f.in_process_by_cpu.size() > 1) {
        double slowest = f.in_process_darts_per_second;
        for (const auto& [cpu, darts_per_second] : f.in_process_by_cpu) {
            slowest = std::min(slowest, darts_per_second);
        }
        if (slowest < f.in_process_darts_per_second * (1 - kCpuSpreadWarning)) {
            std::cout << "  note                 one CPU ran the same darts "
                      << fixed(100 * (1 - slowest / f.in_process_darts_per_second), 0)
                      << " % slower: the host is busy and this run's figures may be low\n";
        }
    }
    if (!f.server_exit.empty()) {
        std::cout << "  server               " << f.server_exit << " after SIGTERM\n";
    }
    if (f.errors > 0) {
        std::cout << "  errors               " << f.errors << "\n";
        for (const std::string& message : f.error_messages) {
            std::cout << "    " << message << "\n";
        }
    }
}

template <typename Value>
Value median(const std::vector<RunFigures>& runs, Value RunFigures::*field) {
    std::vector<Value> values;
    for (const RunFigures& run : runs) {
        values.push_back(run.*field);
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle]
                                  : static_cast<Value>((values[middle - 1] + values[middle]) / 2);
}

// Every figure the median of its own values over the runs.
RunFigures medianFigures(const std::vector<RunFigures>& runs) {
    RunFigures f;
    for (auto field :
         {&RunFigures::load_seconds, &RunFigures::darts_per_second, &RunFigures::answer_p50_ms,
          &RunFigures::answer_p99_ms, &RunFigures::delivery_p99_ms, &RunFigures::rss_start_mib,
          &RunFigures::rss_viewers_mib, &RunFigures::rss_warm_mib, &RunFigures::rss_peak_mib,
          &RunFigures::rss_end_mib, &RunFigures::server_cores, &RunFigures::generator_cores,
          &RunFigures::in_process_darts_per_second, &RunFigures::network_share}) {
        f.*field = median(runs, field);
    }
    for (auto field : {&RunFigures::darts, &RunFigures::refused, &RunFigures::delivery_samples,
                       &RunFigures::events_held, &RunFigures::events_lost,
                       &RunFigures::viewers_gone, &RunFigures::late_darts, &RunFigures::errors}) {
        f.*field = median(runs, field);
    }
    return f;
}

std::string verdict(bool met) { return met ? "met" : "MISSED"; }

// The targets of a scenario, judged on the medians; they never change the
// exit status.
void printTargets(const Options& options, const std::vector<RunFigures>& runs,
                  const RunFigures& f) {
    std::uint64_t lost = 0;
    for (const RunFigures& run : runs) {
        lost += run.events_lost;
    }
    if (options.scenario == "throughput") {
        std::cout << "targets\n"
                  << "  >= " << kTargetDartsPerSecond
                  << " darts/s: " << verdict(f.darts_per_second >= kTargetDartsPerSecond)
                  << "\n  answer p99 <= " << kTargetAnswerP99Ms << " ms: "
                  << verdict(f.answer_p99_ms >= 0 && f.answer_p99_ms <= kTargetAnswerP99Ms)
                  << "\n  network >= " << kTargetNetworkShare
                  << " of in process: " << verdict(f.network_share >= kTargetNetworkShare) << "\n";
    } else if (options.scenario == "delivery") {
        std::cout << "targets\n"
                  << "  no event lost in any run: " << verdict(lost == 0)
                  << "\n  delivery p99 <= " << kTargetDeliveryP99Ms << " ms: "
                  << verdict(f.delivery_p99_ms >= 0 && f.delivery_p99_ms <= kTargetDeliveryP99Ms)
                  << "\n";
    } else if (options.scenario == "memory") {
        const double viewers_mb = f.rss_viewers_mib * kKibPerMib * kBytesPerKib / kBytesPerMb;
        std::cout << "targets\n"
                  << "  " << options.viewers << " idle viewers <= " << kTargetIdleViewersMb
                  << " MB: " << verdict(viewers_mb >= 0 && viewers_mb <= kTargetIdleViewersMb)
                  << " (" << fixed(viewers_mb, 1) << " MB)\n"
                  << "  flat (end within " << kFlatMemoryTolerance * 100 << " % of the RSS after "
                  << kWarmShare * 100 << " % of the load): "
                  << verdict(f.rss_warm_mib >= 0 &&
                             f.rss_end_mib <= f.rss_warm_mib * (1 + kFlatMemoryTolerance))
                  << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<Options> options;
    try {
        options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (!options) {
            std::cout << kUsage;
            return 0;
        }
        if (access(options->server.c_str(), X_OK) != 0) {
            throw UsageError{"cannot run the server " + options->server + " (see --server)"};
        }
    } catch (const UsageError& error) {
        std::cerr << "game501_server_load: " << error.message
                  << "\nRun \"game501_server_load --help\" for help.\n";
        return 2;
    }
    raiseDescriptorLimit();

    std::cout << "game501_server_load";
    for (int i = 1; i < argc; ++i) {
        std::cout << " " << argv[i];
    }
    std::cout << "\nmachine: " << std::thread::hardware_concurrency() << " cores, "
              << firstLineOf("/proc/cpuinfo", "model name") << "\n"
              << "server: " << options->server << "\n"
              << "load: " << options->boards << " boards, " << options->viewers << " viewers, "
              << options->scorers << " scorers, "
              << (options->rate > 0 ? fixed(options->rate, 1) + " darts/s each"
                                    : std::string("unpaced"))
              << ", "
              << (options->darts != 0 ? std::to_string(options->darts) + " darts (at most " +
                                            fixed(options->loadSeconds(), 0) + " s)"
                                      : fixed(options->seconds, 1) + " s")
              << "\n";

    std::vector<RunFigures> runs;
    try {
        const Script script = buildScript();
        std::cout << "script: " << script.games.size() << " games of 2 players, " << script.darts
                  << " darts, " << script.turns << " turns, " << script.busts << " busts\n";
        for (int run = 1; run <= options->runs; ++run) {
            std::cout << "run " << run << " of " << options->runs
                      << " (load average before: " << loadAverage() << ")" << std::endl;
            runs.push_back(runOnce(*options, script));
            printFigures(*options, runs.back());
        }
    } catch (const std::exception& error) {
        std::cerr << "game501_server_load: " << error.what() << "\n";
        return 1;
    }
    if (runs.size() > 1 || !options->scenario.empty()) {
        const RunFigures medians = medianFigures(runs);
        std::cout << "median of " << runs.size() << " runs\n";
        printFigures(*options, medians);
        printTargets(*options, runs, medians);
    }

    bool ok = true;
    for (const RunFigures& run : runs) {
        ok = ok && run.errors == 0 && run.server_clean && run.viewers_all_ready && run.darts > 0;
        // A smoke run is small enough that any lost event is the generator's
        // or the server's fault, never the machine's.
        ok = ok && (!options->smoke ||
                    (run.events_lost == 0 && (options->viewers == 0 || run.events_held > 0)));
    }
    if (!ok) {
        std::cerr << "game501_server_load: the run had errors (see above)\n";
    }
    return ok ? 0 : 1;
}
