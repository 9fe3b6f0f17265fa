// The HTTP API of game-501-server as plain functions from a request to its
// answer, so that routing and handling run without a socket.
#pragma once

#include <boost/beast/core/error.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "answers.h"
#include "board.h"
#include "reports.h"
#include "web_files.h"

namespace game501::server {

// The answer to a request: a response, or, for an event stream, the board
// whose events the connection is to carry (then `response` is unused).
struct Routed {
    Response response;
    Board* events = nullptr;
};

class Api {
public:
    using Reply = std::function<void(Routed)>;

    // `web` holds the pages; without it only the API is served.
    Api(Boards& boards, const Reports& reports, const WebFiles* web);

    // Routes and answers one request by calling `reply` once: at once, or
    // for a write that reaches a board's engine once its journal row is
    // durable, perhaps on another thread. Mutating requests need the
    // board's token as "Authorization: Bearer TOKEN"; everything else is
    // open. HEAD gets what GET would, but the body, on an event stream too.
    // An address below /boards/ that names no board gets a page that says so
    // (404).
    void handle(const Request& request, Reply reply) const;

private:
    // Returns the answer to a request of the API, or nothing when it is a
    // write that went to a board, which answers it through `reply`.
    std::optional<Routed> handleApi(const Request& request, std::string_view path,
                                    const Reply& reply) const;
    Response page(const Request& request, std::string_view path) const;
    Response listBoards(const Request& request) const;
    // Answers a write through `reply`, or returns the answer to a request
    // that never reaches the board.
    std::optional<Response> mutate(const Request& request, Board& board, const Action& action,
                                   const Reply& reply) const;

    Boards& boards_;
    const Reports& reports_;
    const WebFiles* web_;
};

// Returns the answer to a connection over a limit, ready for the wire: 503
// with the error code "too_many_connections", and the connection closes.
Response tooManyConnections(unsigned version);

// Returns the answer for a request that the HTTP parser refused, or nothing
// when the failure leaves no one to answer (the peer closed or timed out).
std::optional<Response> parseFailureResponse(const boost::beast::error_code& error);

// Returns the header block that opens an event stream, as HEAD also answers
// it.
const std::string& eventStreamHeader();

// Prepares a response for the wire: length (none for the head of an event
// stream), and whether the connection stays open.
void finish(Response& response, bool keep_alive);

}  // namespace game501::server
