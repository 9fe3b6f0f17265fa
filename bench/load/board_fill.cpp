#include "board_fill.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "beds.h"
#include "script.h"

namespace game501::load {
namespace {

constexpr std::size_t kErrorExcerptBytes = 128;

// Plays the calls of every `stride`-th board from `first` (from 0).
void fillShare(unsigned short port, const std::vector<std::string>& tokens, int calls,
               std::size_t first, std::size_t stride, Clock::time_point deadline) {
    HttpClient client(port);
    for (std::size_t board = first; board < tokens.size(); board += stride) {
        const int number = static_cast<int>(board) + 1;
        BoardCall call{"start", startBody(kPlayers, {})};
        for (int i = 0; i < calls; ++i) {
            if (Clock::now() >= deadline) {
                throw std::runtime_error("the boards were not filled in time");
            }
            call = missAfter(sendAccepted(client, number, tokens[board], call).body);
            if (call.action == "start") {
                throw std::logic_error("a game of missed darts ended on board " +
                                       std::to_string(number));
            }
        }
    }
}

}  // namespace

// Read as the answer to a clear, a finished game asks for a new one too.
BoardCall missAfter(std::string_view document) {
    switch (nextStep(document, Step::clear)) {
        case Step::start:
            return {"start", startBody(kPlayers, {})};
        case Step::clear:
            return {"clear", ""};
        case Step::dart:
            break;
    }
    return {"darts", dartBody(beds::bedNotation(beds::kMissBed))};
}

std::string boardPath(int number, const std::string& action) {
    const std::string path = "/api/boards/" + std::to_string(number);
    return action.empty() ? path : path + "/" + action;
}

HttpAnswer sendAccepted(HttpClient& client, int number, const std::string& token,
                        const BoardCall& call) {
    HttpAnswer answer = client.post(boardPath(number, call.action), token, call.body);
    if (answer.status != kHttpOk || !startsWith(answer.body, kAccepted)) {
        throw std::runtime_error("board " + std::to_string(number) + " answered " + call.action +
                                 " with HTTP " + std::to_string(answer.status) + ": " +
                                 answer.body.substr(0, kErrorExcerptBytes));
    }
    return answer;
}

void runShares(int connections,
               const std::function<void(std::size_t first, std::size_t stride)>& share) {
    const auto stride = static_cast<std::size_t>(connections);
    std::mutex mutex;
    std::string first_error;
    std::vector<std::thread> threads;
    for (std::size_t first = 0; first < stride; ++first) {
        threads.emplace_back([&, first] {
            try {
                share(first, stride);
            } catch (const std::exception& error) {
                const std::lock_guard<std::mutex> lock(mutex);
                if (first_error.empty()) {
                    first_error = error.what();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (!first_error.empty()) {
        throw std::runtime_error(first_error);
    }
}

void fillBoards(unsigned short port, const std::vector<std::string>& tokens, int calls,
                int connections, Clock::time_point deadline) {
    const int used = std::min(connections, static_cast<int>(tokens.size()));
    runShares(used, [&](std::size_t first, std::size_t stride) {
        fillShare(port, tokens, calls, first, stride, deadline);
    });
}

}  // namespace game501::load
