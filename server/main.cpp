// game-501-server: the boards of a club on the network. Each board is one
// game engine with a JSON API and a live event stream; writing to a board
// takes its token, reading and following it does not.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/system/system_error.hpp>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "api.h"
#include "board.h"
#include "competitions.h"
#include "computer_player.h"
#include "computer_turns.h"
#include "journal.h"
#include "network.h"
#include "organiser.h"
#include "parsing.h"
#include "read_queue.h"
#include "reports.h"
#include "server_limits.h"
#include "tokens.h"
#include "web_files.h"

namespace {

using namespace game501::server;

const std::string kUsage =
    "Användning: game-501-server [--listen ADRESS:PORT] [--boards N] [--tokens FIL]\n"
    "                            [--organiser-token FIL] [--data FIL]\n"
    "                            [--computer-pause MS]\n"
    "                            [--connections-per-address N]\n"
    "\n"
    "Ställer tavlornas 501-spel på nätet: ett JSON-API, händelser i realtid och\n"
    "en sida per tavla. Att ändra en tavla kräver dess token; att läsa och följa\n"
    "den gör det inte.\n"
    "\n"
    "Flaggor:\n"
    "  --listen ADRESS:PORT  var servern lyssnar (standard: 127.0.0.1:8501);\n"
    "                        0.0.0.0:8501 för klubbens nät, [::1]:8501 för IPv6\n"
    "  --boards N            antal tavlor, 1 till " +
    std::to_string(kMaxBoards) +
    " (standard: 1, eller så många\n"
    "                        som databasen har; fler läggs till, färre nekas)\n"
    "  --tokens FIL          tavlornas token, en per rad, tavla 1 först\n"
    "                        (standard: databasens, och nya slumpade för nya tavlor)\n"
    "  --organiser-token FIL arrangörens token, som ändrar spelarregistret och\n"
    "                        rättar matcher (standard: databasens, eller en ny\n"
    "                        slumpad)\n"
    "  --data FIL            databasen med tavlornas journal och token\n"
    "                        (standard: game501.db i arbetskatalogen)\n"
    "  --computer-pause MS   datorns paus före varje kast, 0 till " +
    std::to_string(game501::kMaxComputerPause.count()) +
    " ms\n"
    "                        (standard: " +
    std::to_string(game501::kDefaultComputerPause.count()) +
    ")\n"
    "  --connections-per-address N\n"
    "                        högst så många anslutningar från en adress, 1 till " +
    std::to_string(kMaxConnectionsPerAddress) +
    "\n                        (standard: " + std::to_string(kDefaultConnectionsPerAddress) +
    "; höj den bakom en proxy eller NAT)\n"
    "  --help                visa denna hjälp\n";

struct Options {
    std::string host = "127.0.0.1";
    unsigned short port = 8501;
    std::optional<int> boards;  // none: as many as the database has, or one
    std::optional<std::string> tokens_file;
    std::optional<std::string> organiser_token_file;
    std::string data = "game501.db";
    std::chrono::milliseconds computer_pause = game501::kDefaultComputerPause;
    int connections_per_address = kDefaultConnectionsPerAddress;
};

struct UsageError {
    std::string message;
};

std::string valueOf(const std::vector<std::string>& args, std::size_t& i, const std::string& flag) {
    const std::string& arg = args[i];
    if (arg.size() > flag.size() && arg.compare(0, flag.size() + 1, flag + "=") == 0) {
        return arg.substr(flag.size() + 1);
    }
    if (i + 1 == args.size()) {
        throw UsageError{flag + " saknar värde"};
    }
    return args[++i];
}

// Reads a whole decimal number from `min` to `max`, or nothing.
std::optional<long> number(const std::string& text, long min, long max) {
    const std::optional<std::uint64_t> value = decimal(text, kMaxOptionDigits);
    if (!value || static_cast<long>(*value) < min || static_cast<long>(*value) > max) {
        return std::nullopt;
    }
    return static_cast<long>(*value);
}

// Returns the value of the option `flag`, a whole number from `min` to `max`.
// Throws UsageError.
long numberOption(const std::vector<std::string>& args, std::size_t& i, const std::string& flag,
                  long min, long max) {
    const std::optional<long> value = number(valueOf(args, i, flag), min, max);
    if (!value) {
        throw UsageError{flag + " ska vara ett tal från " + std::to_string(min) + " till " +
                         std::to_string(max)};
    }
    return *value;
}

void parseListen(const std::string& text, Options& options) {
    const std::size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? "" : text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::optional<long> port =
        colon == std::string::npos ? std::nullopt : number(text.substr(colon + 1), 0, 65535);
    boost::system::error_code error;
    boost::asio::ip::make_address(host, error);
    if (host.empty() || !port || error) {
        throw UsageError{"--listen ska vara ADRESS:PORT, till exempel 127.0.0.1:8501"};
    }
    options.host = host;
    options.port = static_cast<unsigned short>(*port);
}

// Returns the options, or nothing when --help asked for the usage.
std::optional<Options> parseOptions(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto is = [&arg](const std::string& flag) {
            return arg == flag || arg.rfind(flag + "=", 0) == 0;
        };
        if (arg == "--help" || arg == "-h") {
            return std::nullopt;
        } else if (is("--listen")) {
            parseListen(valueOf(args, i, "--listen"), options);
        } else if (is("--boards")) {
            options.boards = static_cast<int>(numberOption(args, i, "--boards", 1, kMaxBoards));
        } else if (is("--tokens")) {
            options.tokens_file = valueOf(args, i, "--tokens");
        } else if (is("--organiser-token")) {
            options.organiser_token_file = valueOf(args, i, "--organiser-token");
        } else if (is("--computer-pause")) {
            options.computer_pause = std::chrono::milliseconds(
                numberOption(args, i, "--computer-pause", 0, game501::kMaxComputerPause.count()));
        } else if (is("--connections-per-address")) {
            options.connections_per_address = static_cast<int>(
                numberOption(args, i, "--connections-per-address", 1, kMaxConnectionsPerAddress));
        } else if (is("--data")) {
            options.data = valueOf(args, i, "--data");
            if (options.data.empty()) {
                throw UsageError{"--data saknar fil"};
            }
        } else {
            throw UsageError{"okänt argument: " + arg};
        }
    }
    return options;
}

// Reads the tokens of a tokens file, before anything else is touched.
std::vector<std::string> readTokensFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    if (file) {
        text.resize(kMaxTokensFileBytes + 1);
        file.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(file.gcount()));
    }
    if (!file && !file.eof()) {
        throw UsageError{"kan inte läsa " + path};
    }
    if (text.size() > kMaxTokensFileBytes) {
        throw UsageError{path + " är större än " + std::to_string(kMaxTokensFileBytes / 1024) +
                         " KiB"};
    }
    std::string error;
    std::optional<std::vector<std::string>> tokens = parseTokens(text, error);
    if (!tokens) {
        throw UsageError{path + ": " + error};
    }
    return std::move(*tokens);
}

// Reads the organiser's token file, which holds one token.
std::optional<std::string> readOrganiserToken(const Options& options) {
    if (!options.organiser_token_file) {
        return std::nullopt;
    }
    std::vector<std::string> tokens = readTokensFile(*options.organiser_token_file);
    if (tokens.size() != 1) {
        throw UsageError{*options.organiser_token_file + ": filen ska ha en token, inte " +
                         std::to_string(tokens.size())};
    }
    return std::move(tokens.front());
}

// Returns the organiser's token: the file's, or the one the database keeps,
// or a new one; never a board's, which would let a board's scorer correct.
std::string organiserToken(std::optional<std::string> from_file, std::optional<std::string> stored,
                           const std::vector<std::string>& boards) {
    std::string token = from_file ? std::move(*from_file)
                        : stored  ? std::move(*stored)
                                  : makeToken();
    const auto same = std::find(boards.begin(), boards.end(), token);
    if (same != boards.end()) {
        throw UsageError{"arrangörens token är densamma som tavla " +
                         std::to_string(same - boards.begin() + 1) + "s"};
    }
    return token;
}

// Returns the tokens of `count` boards: those of the tokens file, or those
// the database keeps and new ones for boards it does not have yet.
std::vector<std::string> boardTokens(const Options& options, int count,
                                     std::optional<std::vector<std::string>> from_file,
                                     std::vector<std::string> stored) {
    if (!from_file) {
        while (stored.size() < static_cast<std::size_t>(count)) {
            stored.push_back(makeToken());
        }
        return stored;
    }
    if (from_file->size() != static_cast<std::size_t>(count)) {
        throw UsageError{*options.tokens_file + ": filen har " + std::to_string(from_file->size()) +
                         " token för " + std::to_string(count) + " tavlor"};
    }
    return std::move(*from_file);
}

// Every connection holds a descriptor, event streams for as long as they are
// open. Returns how many connections the descriptors allow, at most
// kMaxConnections, keeping a few for the server itself.
int raiseDescriptorLimit() {
    constexpr auto kOwn = static_cast<rlim_t>(kOwnDescriptors);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return kMaxConnections;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur >= static_cast<rlim_t>(kMaxConnections) + kOwn) {
        return kMaxConnections;
    }
    const int allowed =
        limit.rlim_cur > 2 * kOwn ? static_cast<int>(limit.rlim_cur - kOwn) : kOwnDescriptors;
    std::cerr << "game-501-server: systemet tillåter bara " << limit.rlim_cur
              << " öppna filer, så högst " << allowed << " anslutningar\n";
    return allowed;
}

std::string hostForAddresses(const Options& options) {
    if (options.host == "0.0.0.0" || options.host == "::") {
        // Every address of the machine: print one that other machines can use.
        std::array<char, 256> name{};
        if (gethostname(name.data(), name.size() - 1) == 0 && name[0] != '\0') {
            return name.data();
        }
        return "localhost";
    }
    return options.host.find(':') == std::string::npos ? options.host : "[" + options.host + "]";
}

int badUsage(const std::string& message) {
    std::cerr << "game-501-server: " << message
              << "\nSkriv \"game-501-server --help\" för hjälp.\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<Options> options;
    std::optional<std::vector<std::string>> file_tokens;
    std::optional<std::string> file_organiser_token;
    try {
        options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (!options) {
            std::cout << kUsage;
            return 0;
        }
        if (options->tokens_file) {
            file_tokens = readTokensFile(*options->tokens_file);
        }
        file_organiser_token = readOrganiserToken(*options);
    } catch (const UsageError& error) {
        return badUsage(error.message);
    }

    std::string problem;
    std::unique_ptr<Journal> journal = Journal::open(options->data, problem);
    if (!journal) {
        std::cerr << "game-501-server: " << problem << "\n";
        return 2;
    }
    Boards boards;
    std::unique_ptr<Competitions> competitions;
    std::string organiser_token;
    try {
        std::vector<std::string> stored = journal->tokens();
        const int count =
            options->boards.value_or(stored.empty() ? 1 : static_cast<int>(stored.size()));
        if (static_cast<std::size_t>(count) < stored.size()) {
            throw UsageError{options->data + " har " + std::to_string(stored.size()) +
                             " tavlor; --boards kan inte ta bort tavlor (inget togs bort)"};
        }
        const std::vector<std::string> tokens =
            boardTokens(*options, count, std::move(file_tokens), std::move(stored));
        organiser_token =
            organiserToken(std::move(file_organiser_token), journal->organiserToken(), tokens);
        journal->setTokens(tokens);
        journal->setOrganiserToken(organiser_token);
        for (int number = 1; number <= count; ++number) {
            boards.push_back(std::make_unique<Board>(
                number, tokens[static_cast<std::size_t>(number - 1)], *journal));
            boards.back()->restore();
        }
        competitions = std::make_unique<Competitions>(*journal, boards);
        competitions->restore();
    } catch (const UsageError& error) {
        return badUsage(error.message);
    } catch (const std::exception& error) {
        std::cerr << "game-501-server: kan inte läsa " << options->data << ": " << error.what()
                  << "\n";
        return 2;
    }
    journal->onReopened([&boards] {
        for (const std::unique_ptr<Board>& board : boards) {
            board->reload();
        }
    });
    journal->start();
    std::string web_problem;
    const std::optional<WebFiles> web = WebFiles::locate(web_problem);
    if (!web) {
        std::cerr << "game-501-server: hittar inte sidorna (" << web_problem
                  << "); bara API:t svarar\n";
    }
    const Reports reports(journal->reader(), boards, journal->accuracies());
    const Organiser organiser(std::move(organiser_token), *journal);
    // Every read of the archive is answered before io.run() returns (each
    // holds the io_context's work until then), so none outlives the Api.
    auto reads = std::make_unique<ReadQueue>(kReadThreads, kMaxQueuedReads);
    const Api api(boards, reports, organiser, *competitions, web ? &*web : nullptr, reads.get());
    const int max_connections = raiseDescriptorLimit();

    boost::asio::io_context io;
    std::unique_ptr<Server> server;
    try {
        server = std::make_unique<Server>(
            io, tcp::endpoint(boost::asio::ip::make_address(options->host), options->port), api,
            max_connections, options->connections_per_address);
    } catch (const boost::system::system_error& error) {
        std::cerr << "game-501-server: kan inte lyssna på " << options->host << ":" << options->port
                  << ": " << error.code().message() << "\n";
        return 2;
    }

    // Caught before the banner says the server is up, so that a stop asked
    // for at once is a clean one.
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    ComputerTurns computers(io, boards, options->computer_pause);
    signals.async_wait([&server, &computers](const boost::system::error_code& error, int) {
        if (!error) {
            computers.stop();
            server->stop();
        }
    });

    const std::string base =
        "http://" + hostForAddresses(*options) + ":" + std::to_string(server->endpoint().port());
    std::cout << "game-501-server lyssnar på " << base << "\n";
    if (journal->created()) {
        std::cout << "Skapade en ny databas: " << options->data << "\n";
    }
    for (const std::unique_ptr<Board>& board : boards) {
        const std::string page = base + "/boards/" + std::to_string(board->number());
        std::cout << "Tavla " << board->number() << "\n"
                  << "  poängräkning: " << page << "#token=" << board->token() << "\n"
                  << "  visning:      " << page << "\n";
    }
    std::cout << "Arrangör\n"
              << "  spelare och rättelser: " << base << "/organiser#token=" << organiser.token()
              << "\n"
              << "  tävlingar:             " << base << "/competitions#token=" << organiser.token()
              << "\n";
    std::cout << "Stoppa med Ctrl+C." << std::endl;

    server->start();
    computers.start();
    competitions->start();

    // A handler that throws (memory exhausted, say) loses its own connection,
    // not the server.
    const auto run = [&io] {
        while (true) {
            try {
                io.run();
                return;
            } catch (const std::exception& error) {
                std::cerr << "game-501-server: " << error.what() << "\n";
            }
        }
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 2U, kMaxThreads);
    std::vector<std::thread> pool;
    for (unsigned i = 1; i < threads; ++i) {
        pool.emplace_back(run);
    }
    run();
    for (std::thread& thread : pool) {
        thread.join();
    }
    // Every answer has gone out, so no row is left to write; the writer
    // stops before the boards it reports to. A reader or the writer may
    // still be letting go of the last of a connection, whose socket belongs
    // to the io_context: both stop before it goes.
    reads.reset();
    journal.reset();
    return 0;
}
