#include "server_process.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <limits>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

namespace game501::load {
namespace {

// The child's status when exec fails.
constexpr int kExecFailedStatus = 127;
constexpr std::chrono::milliseconds kExitPollInterval{10};
constexpr std::size_t kMaxServerOutputBytes = 256 * 1024;
constexpr std::size_t kOutputChunkBytes = 4096;

std::string describeStatus(int status) {
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "killed by signal " + std::to_string(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

// Appends what the program writes next to `text`, waiting for it until
// `deadline`, and returns false at the end of its output.
bool readMore(int output, Clock::time_point deadline, std::string& text) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd ready{output, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::max<long>(left.count(), 0))) < 0 && errno != EINTR) {
        throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (ready.revents == 0) {
        return true;
    }
    std::array<char, kOutputChunkBytes> chunk{};
    const ssize_t bytes = read(output, chunk.data(), chunk.size());
    text.append(chunk.data(), static_cast<std::size_t>(std::max<ssize_t>(bytes, 0)));
    return bytes > 0;
}

constexpr const char* kDatabaseName = "journal.db";
constexpr const char* kInMemory = ":memory:";

double fileBytes(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? static_cast<double>(status.st_size) : -1;
}

// Returns the server's --data for a run: a file in `dir`, or ":memory:".
std::string journalData(JournalKind kind, TempDir& dir) {
    if (kind == JournalKind::memory) {
        return kInMemory;
    }
    // The log and shared memory of WAL mode, and the rollback journal of the
    // schema's first transaction: a server killed midway leaves them behind.
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        dir.adopt(std::string(kDatabaseName) + suffix);
    }
    return dir.adopt(kDatabaseName);
}

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

constexpr std::chrono::seconds kHelpTime{10};

}  // namespace

std::string TempDir::base() {
    const char* const tmpdir = std::getenv("TMPDIR");
    return tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
}

TempDir::TempDir() {
    std::string pattern = base() + "/game501-load-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    path_ = pattern;
}

void TempDir::remove() const {
    for (const std::string& file : files_) {
        unlink(file.c_str());
    }
    rmdir(path_.c_str());
}

std::string TempDir::adopt(const std::string& name) {
    files_.push_back(path_ + "/" + name);
    return files_.back();
}

std::string TempDir::write(const std::string& name, const std::string& text) {
    const std::string file = adopt(name);
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file);
    }
    return file;
}

JournalBytes journalBytes(const std::string& data) {
    if (data == kInMemory) {
        return {};
    }
    return {fileBytes(data), fileBytes(data + "-wal")};
}

bool onTmpfs(const std::string& path) {
    struct statfs status {};
    return statfs(path.c_str(), &status) == 0 && status.f_type == TMPFS_MAGIC;
}

// The option as a word of its own, "--data FILE", not "--database" or
// "--data-dir".
bool helpNamesData(const std::string& help) {
    static const std::regex option(R"((^|[^-\w])--data($|[\s=,\]]))");
    return std::regex_search(help, option);
}

ServerProgram probeServer(const std::string& path) {
    ServerProcess help(path, {"--help"});
    return {path, helpNamesData(help.outputUntilExit(Clock::now() + kHelpTime))};
}

ServerSetup prepareServer(const Options& options, const ServerProgram& program, JournalKind journal,
                          TempDir& dir) {
    ServerSetup setup;
    setup.tokens = makeTokens(options.boards);
    std::string token_lines;
    for (const std::string& token : setup.tokens) {
        token_lines += token + "\n";
    }
    const std::string tokens_file = dir.write("tokens", token_lines);
    setup.args = {"--listen", "127.0.0.1:0", "--boards", std::to_string(options.boards),
                  "--tokens", tokens_file};
    if (program.takes_data) {
        setup.data = journalData(journal, dir);
        setup.args.insert(setup.args.end(), {"--data", setup.data});
    }
    setup.args.insert(setup.args.end(), options.server_args.begin(), options.server_args.end());
    return setup;
}

ServerProcess::ServerProcess(const std::string& path, const std::vector<std::string>& args) {
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

ServerProcess::~ServerProcess() {
    if (running()) {
        stop();
    }
    if (output_ >= 0) {
        close(output_);
    }
}

unsigned short ServerProcess::waitForPort(int boards, Clock::time_point deadline) {
    const std::string last_board = "Tavla " + std::to_string(boards) + "\n";
    const std::string_view address = "http://127.0.0.1:";
    std::string text;
    std::optional<unsigned short> port;
    while (!port || text.find(last_board) == std::string::npos) {
        if (Clock::now() >= deadline || text.size() > kMaxServerOutputBytes) {
            throw std::runtime_error("the server did not print its port and boards in time");
        }
        if (!readMore(output_, deadline, text)) {
            throw std::runtime_error("the server ended before it listened: " + stop());
        }
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

std::string ServerProcess::outputUntilExit(Clock::time_point deadline) {
    std::string text;
    do {
        if (Clock::now() >= deadline || text.size() > kMaxServerOutputBytes) {
            throw std::runtime_error("the program did not end its output in time: " + stop());
        }
    } while (readMore(output_, deadline, text));
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            throw std::runtime_error("the program did not end in time: " + stop());
        }
        std::this_thread::sleep_for(kExitPollInterval);
    }
    status_ = status;
    return text;
}

std::string ServerProcess::stop(std::chrono::seconds grace) {
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

bool ServerProcess::exitedCleanly() const {
    return status_ && WIFEXITED(*status_) && WEXITSTATUS(*status_) == 0;
}

long ServerProcess::rssKib() const {
    std::ifstream file("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + std::strlen("VmRSS:"), nullptr, 10);
        }
    }
    return -1;
}

double ServerProcess::cpuSeconds() const {
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

Watchdog::Watchdog(Clock::time_point deadline, pid_t server, const TempDir& dir)
    : server_(server), dir_(dir) {
    thread_ = std::thread([this, deadline] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!done_cv_.wait_until(lock, deadline, [this] { return done_; })) {
            std::cerr << "game501_server_load: the run passed its hard time limit; "
                         "killing the server\n";
            const pid_t watched = server_;
            if (watched > 0) {
                kill(watched, SIGKILL);
                waitpid(watched, nullptr, 0);
            }
            dir_.remove();
            _exit(kHardTimeoutStatus);
        }
    });
}

void Watchdog::watch(pid_t server) { server_ = server; }

Watchdog::~Watchdog() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
}

}  // namespace game501::load
