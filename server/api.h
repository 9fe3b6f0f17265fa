// The HTTP API and pages of game-501-server: one table of routes, each a
// path and what answers it. Reads are plain functions from a request to its
// response; a write goes to its board and is answered once its journal row
// is durable (the one continuation); an event stream is handed to the
// connection. Routing and answering run without a socket.
#pragma once

#include <functional>
#include <string_view>
#include <variant>

#include "answers.h"
#include "board.h"
#include "reports.h"
#include "web_files.h"

namespace game501::server {

// A board's event stream, which the connection carries from now on.
struct EventStream {
    Board* board;
};

// A write for a board, which answers it once its row is durable (Api::write).
struct BoardWrite {
    Board* board;
    Write write;
    unsigned version;  // of the request's HTTP
};

// What a request comes to: its response, an event stream, or a write.
using Routed = std::variant<Response, EventStream, BoardWrite>;

// Thread-safe.
class Api {
public:
    // `web` holds the pages; without it only the API is served.
    Api(Boards& boards, const Reports& reports, const WebFiles* web);

    // Routes a request and answers it, but for a write and an event stream.
    // Writes need the board's token as "Authorization: Bearer TOKEN";
    // everything else is open. HEAD gets what GET would, but the body, on an
    // event stream too. An address below /boards/ that names no board gets
    // a page that says so (404). A page's address answers the same with
    // trailing slashes ("/boards/1/").
    Routed route(const Request& request) const;

    // Hands a write to its board; `reply` is called once with its answer,
    // when its row is durable or failed, perhaps on another thread.
    void write(BoardWrite write, std::function<void(Response)> reply) const;

private:
    struct Route;
    struct Target;
    using Answer = Routed (Api::*)(const Request&, const Target&) const;
    enum class Fit { yes, no, no_board };

    Fit fit(std::string_view pattern, std::string_view path, Target& target) const;

    Routed boards(const Request& request, const Target& target) const;
    Routed boardsLive(const Request& request, const Target& target) const;
    Routed rules(const Request& request, const Target& target) const;
    Routed players(const Request& request, const Target& target) const;
    Routed player(const Request& request, const Target& target) const;
    Routed matches(const Request& request, const Target& target) const;
    Routed match(const Request& request, const Target& target) const;
    Routed dartsCsv(const Request& request, const Target& target) const;
    Routed daysCsv(const Request& request, const Target& target) const;
    Routed boardState(const Request& request, const Target& target) const;
    Routed boardMatch(const Request& request, const Target& target) const;
    Routed events(const Request& request, const Target& target) const;
    Routed boardWrite(const Request& request, const Target& target) const;
    Routed index(const Request& request, const Target& target) const;
    Routed boardPage(const Request& request, const Target& target) const;
    Routed webFile(const Request& request, const Target& target) const;
    Routed reportPage(const Request& request, const Target& target) const;
    // Answers with `file` as a page, or 404 without one; 405 for a method
    // other than GET and HEAD.
    Response page(const Request& request, const WebFile* file,
                  http::status status = http::status::ok) const;

    static const Route kRoutes[];

    Boards& boards_;
    const Reports& reports_;
    const WebFiles* web_;
};

}  // namespace game501::server
