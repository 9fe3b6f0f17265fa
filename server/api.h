// The HTTP API and pages of game-501-server: one table of routes, each a
// path and what answers it. Reads are plain functions from a request to its
// response; a write goes to its board, or an organiser's correction to the
// journal, and is answered once it is durable (the one continuation); an
// event stream is handed to the connection. Routing and answering run
// without a socket.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <variant>

#include "answers.h"
#include "board.h"
#include "competition_request.h"
#include "competitions.h"
#include "correction.h"
#include "organiser.h"
#include "read_queue.h"
#include "reports.h"
#include "web_files.h"

namespace game501::server {

// An event stream (a board's or a competition's), which the connection
// carries from now on: `subscribe` registers its viewer and returns the
// event that opens it.
using Subscribe = std::function<EventText(const std::shared_ptr<EventQueue>&)>;
struct EventStream {
    Subscribe subscribe;
};

// A write for a board, which answers it once its row is durable (Api::write).
struct BoardWrite {
    Board* board;
    Write write;
    unsigned version;  // of the request's HTTP
};

// An organiser's correction, which the journal answers once it is durable
// (Api::write).
struct OrganiserWrite {
    Correction correction;
    unsigned version;  // of the request's HTTP
};

// An organiser's write to the competitions, which they answer once it is
// durable (Api::write): a new competition, or a change of competition `id`.
struct CompetitionWrite {
    std::optional<NewCompetition> made;
    int id = 0;
    competition::Event change;
    unsigned version;  // of the request's HTTP
};

// A read of the archive, which the server's ReadQueue answers
// (Api::answerLater).
struct ArchiveRead {
    std::function<Response()> answer;
    unsigned version;  // of the request's HTTP
    bool head;         // HEAD: the answer without its body
};

// What a request comes to: its response, an event stream, a write, or a
// read of the archive.
using Routed =
    std::variant<Response, EventStream, BoardWrite, OrganiserWrite, CompetitionWrite, ArchiveRead>;

// Returns whether `routed` is a write, which Api::write answers.
inline bool isWrite(const Routed& routed) {
    return std::holds_alternative<BoardWrite>(routed) ||
           std::holds_alternative<OrganiserWrite>(routed) ||
           std::holds_alternative<CompetitionWrite>(routed);
}

// Returns whether `routed` is answered later, by Api::answerLater: a write
// or a read of the archive.
inline bool answeredLater(const Routed& routed) {
    return isWrite(routed) || std::holds_alternative<ArchiveRead>(routed);
}

// Thread-safe.
class Api {
public:
    // `web` holds the pages; without it only the API is served. `reads`
    // answers the reads of the archive; without it route() answers them
    // itself.
    Api(Boards& boards, const Reports& reports, const Organiser& organiser,
        Competitions& competitions, const WebFiles* web, ReadQueue* reads = nullptr);

    // Routes a request and answers it, but for a write and an event stream.
    // Writes need the board's token as "Authorization: Bearer TOKEN", and
    // corrections the organiser's; everything else is open. HEAD gets what
    // GET would, but the body, on an event stream too. An address below
    // /boards/ that names no board gets a page that says so (404). A method
    // that no route of the path takes is 405, with the methods they take. A
    // page's address answers the same with trailing slashes ("/boards/1/").
    Routed route(const Request& request) const;

    // Hands a write (isWrite) to its board or a correction to the journal;
    // `reply` is called once with its answer, when it is durable or failed,
    // perhaps on another thread.
    void write(Routed write, std::function<void(Response)> reply) const;

    // Answers what route() left for later (answeredLater): a write as write()
    // does, a read of the archive on the ReadQueue. A read that finds the
    // queue full is answered at once, 503 "too_many_reads" with Retry-After.
    // `reply` is called once, perhaps on another thread.
    void answerLater(Routed routed, std::function<void(Response)> reply) const;

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
    Routed addPlayer(const Request& request, const Target& target) const;
    Routed renamePlayer(const Request& request, const Target& target) const;
    Routed mergePlayer(const Request& request, const Target& target) const;
    Routed voidMatch(const Request& request, const Target& target) const;
    Routed correction(const Request& request, Correction::Kind kind, std::string_view named) const;
    Routed competitionList(const Request& request, const Target& target) const;
    Routed createCompetition(const Request& request, const Target& target) const;
    Routed competitionDocument(const Request& request, const Target& target) const;
    Routed competitionEvents(const Request& request, const Target& target) const;
    Routed openRounds(const Request& request, const Target& target) const;
    Routed competitionResult(const Request& request, const Target& target) const;
    // Hands a change read from the request to competition {segment}.
    Routed competitionChange(const Request& request, const Target& target,
                             std::variant<competition::Event, Response> change) const;
    Routed index(const Request& request, const Target& target) const;
    Routed boardPage(const Request& request, const Target& target) const;
    Routed webFile(const Request& request, const Target& target) const;
    Routed reportPage(const Request& request, const Target& target) const;
    // Returns a read of the archive that `answer` makes, for the ReadQueue;
    // or its answer now when there is none.
    Routed archiveRead(const Request& request, std::function<Response()> answer) const;
    // Answers with `file` as a page, or 404 without one; 405 for a method
    // other than GET and HEAD.
    Response page(const Request& request, const WebFile* file,
                  http::status status = http::status::ok) const;

    static const Route kRoutes[];

    Boards& boards_;
    const Reports& reports_;
    const Organiser& organiser_;
    Competitions& competitions_;
    const WebFiles* web_;
    ReadQueue* reads_;
};

}  // namespace game501::server
