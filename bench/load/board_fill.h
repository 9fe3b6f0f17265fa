// Boards filled with games that never end, as fast as the server takes the
// calls: what a restart has to rebuild.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "http_client.h"
#include "units.h"

namespace game501::load {

// One write to a board: its action ("start", "darts", "clear") and body.
struct BoardCall {
    std::string action;
    std::string body;
};

// Returns the call that follows `document`, an answer or state document: a
// new game when there is none, the clear after a turn, else a missed dart.
BoardCall missAfter(std::string_view document);

// Returns the path of board `number`'s document, or of one of its actions.
std::string boardPath(int number, const std::string& action = "");

// Sends `call` to board `number` and returns the answer. Throws
// std::runtime_error unless the engine accepted it.
HttpAnswer sendAccepted(HttpClient& client, int number, const std::string& token,
                        const BoardCall& call);

// Runs `share(first, stride)` on `connections` threads at once, `first` from
// 0 to `connections` − 1, each to write to every `stride`-th board from
// `first`; throws the first error any of them threw, once all have ended.
void runShares(int connections,
               const std::function<void(std::size_t first, std::size_t stride)>& share);

// Plays `calls` calls on every board, over `connections` connections at
// once, each connection its share of the boards: a start, then turns of
// missed darts each followed by a clear, so that no game ends. Throws
// std::runtime_error when a call fails or `deadline` passes.
void fillBoards(unsigned short port, const std::vector<std::string>& tokens, int calls,
                int connections, Clock::time_point deadline);

}  // namespace game501::load
