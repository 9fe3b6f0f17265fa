#include "api.h"

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/verb.hpp>
#include <string>
#include <utility>

#include "event_stream.h"
#include "front_end.h"
#include "parsing.h"
#include "write_request.h"

namespace game501::server {

namespace {

using json = Game501::json;

// Every method: the answer looks for what the path names before it checks
// the method (a page that is missing is 404 whatever the method).
constexpr std::string_view kAnyMethod = "";
constexpr std::string_view kWriteMethod = "POST";

bool isRead(const Request& request) {
    return request.method() == http::verb::get || request.method() == http::verb::head;
}

// Returns `path` without trailing slashes when it is a page's, so that
// "/boards/1/" is "/boards/1"; the API's and the files' paths stay as they are.
std::string_view pagePath(std::string_view path) {
    if (path.rfind("/api/", 0) == 0 || path.rfind("/web/", 0) == 0) {
        return path;
    }
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    return path;
}

// Returns every value of the request's `field`, one list.
std::string allValues(const Request& request, http::field field) {
    std::string values;
    const auto [first, last] = request.equal_range(field);
    for (auto value = first; value != last; ++value) {
        values += (values.empty() ? "" : ",") + std::string(value->value());
    }
    return values;
}

// Leaves the answer to a HEAD request what a GET would get, without its body.
void withoutBody(Response& response) {
    if (!isEventStream(response) && response.result() != http::status::not_modified) {
        response.content_length(response.body().size());
    }
    response.body().clear();
}

bool allows(std::string_view allow, const Request& request) {
    if (allow == kReadMethods) {
        return isRead(request);
    }
    return allow == kAnyMethod || (allow == kWriteMethod && request.method() == http::verb::post);
}

}  // namespace

// A path pattern, the methods it takes, and what answers it. A pattern is
// literal text with captures: {board} a board's number, {action} a write's
// path (kActions), {segment} and {item} one non-empty segment each, and
// {rest} everything up to the pattern's literal end.
struct Api::Route {
    std::string_view pattern;
    std::string_view allow;
    Answer answer;
    const char* page = nullptr;  // the file of a report's page
};

// What a path names.
struct Api::Target {
    const Route* route = nullptr;
    Board* board = nullptr;
    const Action* action = nullptr;
    std::string_view text;  // {segment} or {rest}
    std::string_view item;  // {item}: a second segment
};

// Tried in order; the first that fits and takes the method answers. A path
// below /api/boards/ whose board is not one is "Tavlan finns inte"; any
// other that none fits is 404.
const Api::Route Api::kRoutes[] = {
    {"/api/boards", kReadMethods, &Api::boards},
    {"/api/boards/live", kReadMethods, &Api::boardsLive},
    {"/api/boards/{board}", kReadMethods, &Api::boardState},
    {"/api/boards/{board}/match", kReadMethods, &Api::boardMatch},
    {"/api/boards/{board}/events", kReadMethods, &Api::events},
    {"/api/boards/{board}/{action}", kWriteMethod, &Api::boardWrite},
    {"/api/rules", kReadMethods, &Api::rules},
    {"/api/players", kReadMethods, &Api::players},
    {"/api/players", kWriteMethod, &Api::addPlayer},
    {"/api/players/{rest}/rename", kWriteMethod, &Api::renamePlayer},
    {"/api/players/{rest}/merge", kWriteMethod, &Api::mergePlayer},
    {"/api/players/{rest}", kReadMethods, &Api::player},
    {"/api/matches", kReadMethods, &Api::matches},
    {"/api/matches.csv", kReadMethods, &Api::daysCsv},
    {"/api/matches/{rest}/darts.csv", kReadMethods, &Api::dartsCsv},
    {"/api/matches/{rest}/void", kWriteMethod, &Api::voidMatch},
    {"/api/matches/{rest}", kReadMethods, &Api::match},
    {"/api/competitions", kReadMethods, &Api::competitionList},
    {"/api/competitions", kWriteMethod, &Api::createCompetition},
    {"/api/competitions/{segment}", kReadMethods, &Api::competitionDocument},
    {"/api/competitions/{segment}/events", kReadMethods, &Api::competitionEvents},
    {"/api/competitions/{segment}/rounds", kWriteMethod, &Api::openRounds},
    {"/api/competitions/{segment}/matches/{item}/result", kWriteMethod, &Api::competitionResult},
    {"/", kAnyMethod, &Api::index},
    {"/boards/{rest}", kAnyMethod, &Api::boardPage},
    {"/web/{rest}", kAnyMethod, &Api::webFile},
    {"/matches", kAnyMethod, &Api::reportPage, "matches.html"},
    {"/matches/{segment}", kAnyMethod, &Api::reportPage, "match.html"},
    {"/players", kAnyMethod, &Api::reportPage, "players.html"},
    {"/players/{segment}", kAnyMethod, &Api::reportPage, "player.html"},
    {"/organiser", kAnyMethod, &Api::reportPage, "organiser.html"},
    {"/wall", kAnyMethod, &Api::reportPage, "wall.html"},
    {"/competitions", kAnyMethod, &Api::reportPage, "competitions.html"},
    {"/competitions/{segment}", kAnyMethod, &Api::reportPage, "competition.html"},
};

Api::Api(Boards& boards, const Reports& reports, const Organiser& organiser,
         Competitions& competitions, const WebFiles* web, ReadQueue* reads)
    : boards_(boards),
      reports_(reports),
      organiser_(organiser),
      competitions_(competitions),
      web_(web),
      reads_(reads) {}

Routed Api::route(const Request& request) const {
    const unsigned version = request.version();
    const std::string_view target = request.target();
    const std::string_view path = pagePath(target.substr(0, target.find('?')));
    std::optional<Routed> routed;  // a 404 is made only when no route fits
    bool no_board = false;
    std::string allow;  // the methods of the routes that fit, but not the request's
    for (const Route& route : kRoutes) {
        Target found;
        found.route = &route;
        const Fit fits = fit(route.pattern, path, found);
        no_board = no_board || fits == Fit::no_board;
        if (fits != Fit::yes) {
            continue;
        }
        no_board = false;
        if (!allows(route.allow, request)) {
            allow += (allow.empty() ? "" : ", ") + std::string(route.allow);
            continue;
        }
        routed = (this->*route.answer)(request, found);
        allow.clear();
        break;
    }
    if (!allow.empty()) {
        routed = methodNotAllowed(allow, version);
    }
    if (no_board) {
        routed = errorResponse(http::status::not_found, "not_found", "Tavlan finns inte", version);
    }
    if (!routed) {
        routed = notFound(version);
    }
    if (request.method() == http::verb::head) {
        if (Response* response = std::get_if<Response>(&*routed)) {
            withoutBody(*response);
        } else if (ArchiveRead* read = std::get_if<ArchiveRead>(&*routed)) {
            read->head = true;
        }
    }
    return std::move(*routed);
}

Api::Fit Api::fit(std::string_view pattern, std::string_view path, Target& target) const {
    while (true) {
        const std::size_t open = pattern.find('{');
        const std::string_view literal = pattern.substr(0, open);
        if (path.substr(0, literal.size()) != literal) {
            return Fit::no;
        }
        path.remove_prefix(literal.size());
        if (open == std::string_view::npos) {
            return path.empty() ? Fit::yes : Fit::no;
        }
        const std::size_t close = pattern.find('}', open);
        const std::string_view capture = pattern.substr(open + 1, close - open - 1);
        pattern.remove_prefix(close + 1);
        if (capture == "rest") {
            // The pattern ends in literal text.
            if (path.size() < pattern.size() ||
                path.substr(path.size() - pattern.size()) != pattern) {
                return Fit::no;
            }
            target.text = path.substr(0, path.size() - pattern.size());
            return Fit::yes;
        }
        const std::string_view segment = path.substr(0, path.find('/'));
        path.remove_prefix(segment.size());
        if (capture == "board") {
            const std::size_t number = boardNumber(segment, boards_.size());
            if (number == 0) {
                return Fit::no_board;
            }
            target.board = boards_[number - 1].get();
        } else if (capture == "action") {
            target.action = findAction(segment);
            if (target.action == nullptr) {
                return Fit::no;
            }
        } else if (segment.empty()) {
            return Fit::no;
        } else if (capture == "item") {
            target.item = segment;
        } else {
            target.text = segment;
        }
    }
}

void Api::write(Routed routed, std::function<void(Response)> reply) const {
    if (CompetitionWrite* const write = std::get_if<CompetitionWrite>(&routed)) {
        const bool created = write->made.has_value();
        Competitions::Done done = [reply = std::move(reply), created,
                                   version = write->version](CompetitionResult result) {
            reply(competitionAnswer(std::move(result), created, version));
        };
        if (created) {
            competitions_.create(std::move(write->made->facts), write->made->settings,
                                 std::move(done));
        } else {
            competitions_.change(write->id, write->change, std::move(done));
        }
        return;
    }
    if (OrganiserWrite* const write = std::get_if<OrganiserWrite>(&routed)) {
        organiser_.correct(
            std::move(write->correction),
            [reply = std::move(reply), version = write->version](CorrectionResult result) {
                reply(correctionAnswer(std::move(result), version));
            });
        return;
    }
    BoardWrite& write = std::get<BoardWrite>(routed);
    write.board->apply(std::move(write.write),
                       [reply = std::move(reply), version = write.version](WriteResult result) {
                           reply(writeAnswer(std::move(result), version));
                       });
}

void Api::answerLater(Routed routed, std::function<void(Response)> reply) const {
    ArchiveRead* const read = std::get_if<ArchiveRead>(&routed);
    if (read == nullptr) {
        return write(std::move(routed), std::move(reply));
    }
    const unsigned version = read->version;
    const bool posted = reads_->post([answer = std::move(read->answer), head = read->head, reply] {
        Response response = answer();
        if (head) {
            withoutBody(response);
        }
        reply(std::move(response));
    });
    if (!posted) {
        reply(unavailable("too_many_reads", "För många läsningar just nu; försök igen om en stund",
                          version));
    }
}

Routed Api::archiveRead(const Request& request, std::function<Response()> answer) const {
    if (reads_ == nullptr) {
        return answer();
    }
    return ArchiveRead{std::move(answer), request.version(), false};
}

Routed Api::boards(const Request& request, const Target&) const {
    json list = json::array();
    for (const std::unique_ptr<Board>& board : boards_) {
        list.push_back(board->view().summary());
    }
    return jsonResponse(serialise({{"boards", std::move(list)}}), request.version());
}

Routed Api::boardsLive(const Request& request, const Target&) const {
    std::string list;
    for (const std::unique_ptr<Board>& board : boards_) {
        list += (list.empty() ? "" : ",") + *board->view().opening().json;
    }
    return jsonResponse("{\"boards\":[" + list + "]}", request.version());
}

Routed Api::rules(const Request& request, const Target&) const {
    return jsonResponse(serialise(front_end::rules()), request.version());
}

// Each read of the archive takes what it needs of the request with it: the
// request is gone by the time a reader answers.

Routed Api::players(const Request& request, const Target&) const {
    return archiveRead(request,
                       [this, version = request.version()] { return reports_.players(version); });
}

Routed Api::player(const Request& request, const Target& target) const {
    std::optional<std::string> name = percentDecoded(target.text, false);
    if (!name) {
        return notFound(request.version());
    }
    return archiveRead(request, [this, name = std::move(*name), version = request.version()] {
        return reports_.player(name, version);
    });
}

Routed Api::matches(const Request& request, const Target&) const {
    return archiveRead(request,
                       [this, query = std::string(queryOf(request.target())),
                        version = request.version()] { return reports_.matches(query, version); });
}

Routed Api::match(const Request& request, const Target& target) const {
    return archiveRead(
        request,
        [this, id = std::string(target.text), tags = allValues(request, http::field::if_none_match),
         version = request.version()] { return reports_.match(id, tags, version); });
}

Routed Api::dartsCsv(const Request& request, const Target& target) const {
    return archiveRead(request, [this, id = std::string(target.text), version = request.version()] {
        return reports_.dartsCsv(id, version);
    });
}

Routed Api::daysCsv(const Request& request, const Target&) const {
    return archiveRead(request,
                       [this, query = std::string(queryOf(request.target())),
                        version = request.version()] { return reports_.daysCsv(query, version); });
}

Routed Api::boardState(const Request& request, const Target& target) const {
    return documentResponse(target.board->view().state(), request.version());
}

Routed Api::boardMatch(const Request& request, const Target& target) const {
    return documentResponse(target.board->view().match(), request.version());
}

Routed Api::events(const Request& request, const Target& target) const {
    if (request.method() == http::verb::head) {
        return eventStreamHead(request.version());
    }
    return EventStream{[board = target.board](const std::shared_ptr<EventQueue>& viewer) {
        return board->view().subscribe(viewer);
    }};
}

Routed Api::boardWrite(const Request& request, const Target& target) const {
    std::variant<Write, Response> write = readWrite(request, *target.board, *target.action,
                                                    organiser_.members(), organiser_.accuracies());
    if (Response* refusal = std::get_if<Response>(&write)) {
        return std::move(*refusal);
    }
    return BoardWrite{target.board, std::move(std::get<Write>(write)), request.version()};
}

Routed Api::addPlayer(const Request& request, const Target& target) const {
    return correction(request, Correction::Kind::add_player, target.text);
}

Routed Api::renamePlayer(const Request& request, const Target& target) const {
    return correction(request, Correction::Kind::rename, target.text);
}

Routed Api::mergePlayer(const Request& request, const Target& target) const {
    return correction(request, Correction::Kind::merge, target.text);
}

Routed Api::voidMatch(const Request& request, const Target& target) const {
    return correction(request, Correction::Kind::void_match, target.text);
}

Routed Api::correction(const Request& request, Correction::Kind kind,
                       std::string_view named) const {
    std::variant<Correction, Response> correction =
        readCorrection(request, organiser_, kind, named);
    if (Response* refusal = std::get_if<Response>(&correction)) {
        return std::move(*refusal);
    }
    return OrganiserWrite{std::move(std::get<Correction>(correction)), request.version()};
}

Routed Api::competitionList(const Request& request, const Target&) const {
    return jsonResponse(competitions_.list(), request.version());
}

Routed Api::createCompetition(const Request& request, const Target&) const {
    std::variant<NewCompetition, Response> made =
        readNewCompetition(request, organiser_, boards_.size());
    if (Response* refusal = std::get_if<Response>(&made)) {
        return std::move(*refusal);
    }
    return CompetitionWrite{std::move(std::get<NewCompetition>(made)), 0, {}, request.version()};
}

Routed Api::competitionDocument(const Request& request, const Target& target) const {
    const std::optional<int> id = competitionNumber(target.text);
    std::optional<std::string> document = id ? competitions_.document(*id) : std::nullopt;
    if (!document) {
        return errorResponse(http::status::not_found, "not_found", "Tävlingen finns inte",
                             request.version());
    }
    return jsonResponse(std::move(*document), request.version());
}

Routed Api::competitionEvents(const Request& request, const Target& target) const {
    const std::optional<int> id = competitionNumber(target.text);
    if (!id || !competitions_.document(*id)) {
        return errorResponse(http::status::not_found, "not_found", "Tävlingen finns inte",
                             request.version());
    }
    if (request.method() == http::verb::head) {
        return eventStreamHead(request.version());
    }
    return EventStream{
        [&competitions = competitions_, id = *id](const std::shared_ptr<EventQueue>& viewer) {
            return competitions.subscribe(id, viewer);
        }};
}

Routed Api::openRounds(const Request& request, const Target& target) const {
    return competitionChange(request, target, readRounds(request, organiser_));
}

Routed Api::competitionResult(const Request& request, const Target& target) const {
    const std::optional<int> match = competitionNumber(target.item);
    if (!match) {
        return errorResponse(http::status::not_found, "not_found", "Matchen finns inte",
                             request.version());
    }
    return competitionChange(request, target, readResult(request, organiser_, *match));
}

Routed Api::competitionChange(const Request& request, const Target& target,
                              std::variant<competition::Event, Response> change) const {
    if (Response* refusal = std::get_if<Response>(&change)) {
        return std::move(*refusal);
    }
    const std::optional<int> id = competitionNumber(target.text);
    if (!id) {
        return errorResponse(http::status::not_found, "not_found", "Tävlingen finns inte",
                             request.version());
    }
    return CompetitionWrite{std::nullopt, *id, std::move(std::get<competition::Event>(change)),
                            request.version()};
}

Routed Api::index(const Request& request, const Target&) const {
    const WebFile* const file = web_ ? web_->find("index.html") : nullptr;
    if (file != nullptr && isRead(request) && boards_.size() == 1) {
        Response response{http::status::found, request.version()};
        response.set(http::field::location, "/boards/1");
        return response;
    }
    return page(request, file);
}

Routed Api::boardPage(const Request& request, const Target& target) const {
    // Someone typed or kept the address of a board: a page, not JSON, that
    // leads back to the boards there are.
    const bool missing = boardNumber(target.text, boards_.size()) == 0;
    const WebFile* const file =
        web_ ? web_->find(missing ? "missing.html" : "board.html") : nullptr;
    return page(request, file, missing ? http::status::not_found : http::status::ok);
}

Routed Api::webFile(const Request& request, const Target& target) const {
    return page(request, web_ ? web_->find(target.text) : nullptr);
}

Routed Api::reportPage(const Request& request, const Target& target) const {
    // The page asks the API about the match or player itself, and says so
    // when there is none.
    return page(request, web_ ? web_->find(target.route->page) : nullptr);
}

Response Api::page(const Request& request, const WebFile* file, http::status status) const {
    const unsigned version = request.version();
    if (file == nullptr) {
        return notFound(version);
    }
    if (!isRead(request)) {
        return methodNotAllowed(kReadMethods, version);
    }
    Response response{status, version};
    response.set(http::field::content_type, file->content_type);
    response.set(http::field::cache_control, "no-cache");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    response.set("Content-Security-Policy",
                 "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
    response.body() = file->body;
    return response;
}

}  // namespace game501::server
