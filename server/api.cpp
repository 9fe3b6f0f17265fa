#include "api.h"

#include <algorithm>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/beast/http/write.hpp>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>

#include "ascii.h"
#include "checkout_hint.h"
#include "computer_player.h"
#include "front_end.h"
#include "match_501.h"
#include "server_limits.h"

namespace game501::server {

namespace {

namespace beast = boost::beast;
using json = Game501::json;

const char* const kBoardsPath = "/api/boards";
const char* const kRulesPath = "/api/rules";
const char* const kReadMethods = "GET, HEAD";

bool isRead(const Request& request) {
    return request.method() == http::verb::get || request.method() == http::verb::head;
}

std::string_view withoutQuery(std::string_view target) {
    return target.substr(0, target.find('?'));
}

// Optional white space around a header's value and its parts.
std::string_view trimmed(std::string_view text) { return ascii::trimmed(text, " \t"); }

// Reads a board number as the addresses print it: 1 to the number of boards,
// in decimal without leading zeros. Returns 0 for anything else.
std::size_t boardNumber(std::string_view text, std::size_t count) {
    static_assert(kMaxBoards < 1000, "board numbers have at most three digits");
    if (text.empty() || text.size() > 3 || text.front() == '0') {
        return 0;
    }
    std::size_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    return number <= count ? number : 0;
}

// Returns the page of a report address: "/matches" and "/players" list, and
// one segment below them ("/matches/1-57", "/players/Sj%C3%B6rk") names a
// match or a player, which the page asks the API about itself and says so
// when there is none. Returns nothing for any other path.
const char* reportPage(std::string_view path) {
    static const struct {
        std::string_view prefix;
        const char* list;
        const char* item;
    } kPages[] = {{"/matches", "matches.html", "match.html"},
                  {"/players", "players.html", "player.html"}};
    for (const auto& page : kPages) {
        if (path.substr(0, page.prefix.size()) != page.prefix) {
            continue;
        }
        const std::string_view rest = path.substr(page.prefix.size());
        if (rest.empty() || rest == "/") {
            return page.list;
        }
        if (rest.front() == '/' && rest.find('/', 1) == std::string_view::npos) {
            return page.item;
        }
    }
    return nullptr;
}

// Returns the token of "Authorization: Bearer TOKEN", or nothing when the
// request carries no bearer token.
std::optional<std::string_view> bearerToken(const Request& request) {
    const std::string_view value = trimmed(request[http::field::authorization]);
    const std::string_view scheme = "Bearer ";
    if (value.size() <= scheme.size() || !beast::iequals(value.substr(0, scheme.size()), scheme)) {
        return std::nullopt;
    }
    return trimmed(value.substr(scheme.size()));
}

bool isJson(const Request& request) {
    const std::string_view type = request[http::field::content_type];
    return beast::iequals(trimmed(type.substr(0, type.find(';'))), "application/json");
}

// The entity tag of a board as it is after `event_id`, for If-Match.
std::string entityTag(std::uint64_t event_id) { return "\"" + std::to_string(event_id) + "\""; }

Response documentResponse(Document document, unsigned version) {
    Response response = jsonResponse(std::move(document.json), version);
    // Lets a client match the answer with its event on the stream, and make
    // its next write conditional on it.
    response.set("Event-Id", std::to_string(document.event_id));
    response.set(http::field::etag, entityTag(document.event_id));
    return response;
}

// Reads "Idempotency-Key: KEY": nothing when the request has none, an
// empty key when it is not 1 to 255 visible ASCII characters or given twice.
std::optional<std::string> idempotencyKey(const Request& request) {
    const auto [first, last] = request.equal_range("Idempotency-Key");
    if (first == last) {
        return std::nullopt;
    }
    const std::string_view key = trimmed(first->value());
    const bool visible =
        std::all_of(key.begin(), key.end(), [](char c) { return c > ' ' && c < 0x7F; });
    if (std::next(first) != last || key.empty() || key.size() > kMaxIdempotencyKeyBytes ||
        !visible) {
        return std::string();
    }
    return std::string(key);
}

// Reads If-Match: "*" or a list of entity tags. A weak tag or one that is not
// a board's (a quoted event id of at most 19 digits) never matches.
std::optional<Precondition> precondition(const Request& request) {
    const auto [first, last] = request.equal_range(http::field::if_match);
    if (first == last) {
        return std::nullopt;
    }
    Precondition condition;
    for (auto field = first; field != last; ++field) {
        std::string_view list = field->value();
        while (!list.empty()) {
            const std::size_t comma = list.find(',');
            const std::string_view tag = trimmed(list.substr(0, comma));
            list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
            if (tag == "*") {
                condition.any = true;
            } else if (tag.size() >= 3 && tag.size() <= 21 && tag.front() == '"' &&
                       tag.back() == '"' &&
                       std::all_of(tag.begin() + 1, tag.end() - 1, ascii::isDigit)) {
                condition.event_ids.push_back(
                    std::stoull(std::string(tag.substr(1, tag.size() - 2))));
            }
        }
    }
    return condition;
}

Response writeAnswer(WriteResult result, unsigned version) {
    switch (result.outcome) {
        case WriteResult::Outcome::applied:
            break;
        case WriteResult::Outcome::precondition_failed: {
            Response response =
                errorResponse(http::status::precondition_failed, "precondition_failed",
                              "If-Match stämmer inte: tavlans senaste händelse är " +
                                  std::to_string(result.document.event_id) + "; inget ändrades",
                              version);
            response.set("Event-Id", std::to_string(result.document.event_id));
            response.set(http::field::etag, entityTag(result.document.event_id));
            return response;
        }
        case WriteResult::Outcome::key_reused:
            return errorResponse(http::status::unprocessable_entity, "idempotency_key_reused",
                                 "Idempotency-Key har redan använts för en annan förfrågan",
                                 version);
        case WriteResult::Outcome::storage_unavailable: {
            Response response = errorResponse(
                http::status::service_unavailable, "storage_unavailable",
                "Journalen kan inte skrivas just nu; inget ändrades. Försök igen om en stund",
                version);
            response.set(http::field::retry_after, "1");
            return response;
        }
    }
    return documentResponse(std::move(result.document), version);
}

// An event stream has no length: it ends when the connection does, and the
// head that answers HEAD says so too.
bool isEventStream(const Response& response) {
    return response[http::field::content_type] == "text/event-stream";
}

// The head of a board's event stream, the same for GET and HEAD.
Response eventStreamHead(unsigned version) {
    Response response{http::status::ok, version};
    response.set(http::field::content_type, "text/event-stream");
    response.set(http::field::cache_control, "no-store");
    return response;
}

Response methodNotAllowed(std::string_view allow, unsigned version) {
    Response response = errorResponse(http::status::method_not_allowed, "method_not_allowed",
                                      "Metoden stöds inte här; se Allow", version);
    response.set(http::field::allow, allow);
    return response;
}

Response badField(const std::string& message, unsigned version) {
    return errorResponse(http::status::bad_request, "bad_field", message, version);
}

// Answers a body field that is not among `known`: a misspelt field is an
// error, never silently left out.
std::optional<Response> unknownField(const json& body,
                                     std::initializer_list<std::string_view> known,
                                     unsigned version) {
    for (const auto& [key, value] : body.items()) {
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            return errorResponse(http::status::bad_request, "unknown_field",
                                 "Okänt fält \"" + key + "\"", version);
        }
    }
    return std::nullopt;
}

// Reads an optional whole number from `min` to `max` into `value`, or
// answers 400.
std::optional<Response> readCount(const json& body, const char* field, int min, int max, int& value,
                                  unsigned version) {
    const auto found = body.find(field);
    if (found == body.end()) {
        return std::nullopt;
    }
    if (!found->is_number_integer() || found->get<std::int64_t>() < min ||
        found->get<std::int64_t>() > max) {
        return badField("Fältet \"" + std::string(field) + "\" ska vara ett heltal från " +
                            std::to_string(min) + " till " + std::to_string(max),
                        version);
    }
    value = found->get<int>();
    return std::nullopt;
}

// Reads one entry of a start's "players": a person's name, or a computer
// {"computer": LEVEL, "name": NAME}, the name optional. Returns the name and
// the computer's level ("" for a person), or answers 400.
std::variant<Response, std::pair<std::string, std::string>> readPlayer(const json& player,
                                                                       unsigned version) {
    if (player.is_string()) {
        return std::make_pair(player.get<std::string>(), std::string());
    }
    if (!player.is_object()) {
        return badField("Fältet \"players\" ska vara en lista med namn", version);
    }
    if (std::optional<Response> refusal = unknownField(player, {"computer", "name"}, version)) {
        return std::move(*refusal);
    }
    const auto name = player.find("name");
    if (name != player.end() && !name->is_string()) {
        return badField("Fältet \"name\" ska vara en sträng", version);
    }
    const auto computer = player.find("computer");
    const std::optional<ComputerLevel> level =
        computer == player.end() ? std::nullopt : computerLevelFromJson(*computer);
    if (!level) {
        std::string ids;
        for (const SkillLevel& skill : skillLevels()) {
            ids += std::string(skill.id) + ", ";
        }
        return badField("Fältet \"computer\" ska vara en nivå (" + ids + "eller ett snitt från " +
                            std::to_string(kMinComputerAverage) + " till " +
                            std::to_string(kMaxComputerAverage) + ")",
                        version);
    }
    return std::make_pair(
        name == player.end() ? std::string(kComputerName) : name->get<std::string>(), level->id);
}

// Reads a start's optional "seed" for its computers' darts; without one the
// computers get a seed of their own.
std::optional<Response> readSeed(const json& body, std::uint64_t& seed, unsigned version) {
    const auto found = body.find("seed");
    if (found == body.end()) {
        std::random_device device;
        seed = (static_cast<std::uint64_t>(device()) << 32U) ^ device();
        return std::nullopt;
    }
    if (!found->is_number_integer() || found->get<std::int64_t>() < 0) {
        return badField("Fältet \"seed\" ska vara ett heltal från 0", version);
    }
    seed = found->get<std::uint64_t>();
    return std::nullopt;
}

// Reads the command of a mutating request from its body, or answers 400.
std::variant<Command, Response> readCommand(const Action& action, const Request& request) {
    const unsigned version = request.version();
    Command command;
    command.kind = action.kind;
    if (!action.has_body) {
        return command;
    }
    const json body = json::parse(request.body(), nullptr, false);
    if (body.is_discarded()) {
        return errorResponse(http::status::bad_request, "bad_json", "Kroppen är inte giltig JSON",
                             version);
    }
    if (!body.is_object()) {
        return badField("Kroppen ska vara ett JSON-objekt", version);
    }
    if (action.kind == Command::Kind::start) {
        if (std::optional<Response> refusal =
                unknownField(body, {"players", "legs", "sets", "seed"}, version)) {
            return std::move(*refusal);
        }
        const auto players = body.find("players");
        if (players == body.end() || !players->is_array()) {
            return badField("Fältet \"players\" ska vara en lista med namn", version);
        }
        for (const json& player : *players) {
            std::variant<Response, std::pair<std::string, std::string>> seat =
                readPlayer(player, version);
            if (Response* refusal = std::get_if<Response>(&seat)) {
                return std::move(*refusal);
            }
            auto& [name, computer] = std::get<std::pair<std::string, std::string>>(seat);
            command.players.push_back(std::move(name));
            command.computers.push_back(std::move(computer));
        }
        if (std::all_of(command.computers.begin(), command.computers.end(),
                        [](const std::string& level) { return level.empty(); })) {
            command.computers.clear();
        } else if (std::optional<Response> refusal = readSeed(body, command.seed, version)) {
            return std::move(*refusal);
        }
        for (std::optional<Response> refusal :
             {readCount(body, "legs", Match501::kMinLegs, Match501::kMaxLegs, command.legs,
                        version),
              readCount(body, "sets", Match501::kMinSets, Match501::kMaxSets, command.sets,
                        version)}) {
            if (refusal) {
                return std::move(*refusal);
            }
        }
        return command;
    }
    if (std::optional<Response> refusal = unknownField(body, {"notation", "source"}, version)) {
        return std::move(*refusal);
    }
    const auto notation = body.find("notation");
    if (notation == body.end() || !notation->is_string()) {
        return badField("Fältet \"notation\" ska vara en sträng", version);
    }
    command.notation = notation->get<std::string>();
    command.source = "api";
    if (const auto source = body.find("source"); source != body.end()) {
        if (!source->is_string()) {
            return badField("Fältet \"source\" ska vara en sträng", version);
        }
        command.source = source->get<std::string>();
        if (command.source.size() > kMaxSourceBytes) {
            return errorResponse(
                http::status::bad_request, "source_too_long",
                "Källan får vara högst " + std::to_string(kMaxSourceBytes) + " byte", version);
        }
    }
    return command;
}

}  // namespace

Api::Api(Boards& boards, const Reports& reports, const WebFiles* web)
    : boards_(boards), reports_(reports), web_(web) {}

void Api::handle(const Request& request, Reply reply) const {
    const std::string_view path = withoutQuery(request.target());
    const std::string_view api_prefix = "/api/";
    const bool api = path.substr(0, api_prefix.size()) == api_prefix;
    std::optional<Routed> routed =
        api ? handleApi(request, path, reply) : Routed{page(request, path)};
    if (!routed) {
        return;  // a write, which the board answers
    }
    if (request.method() == http::verb::head && routed->events == nullptr) {
        // What a GET would get, without its body.
        if (!isEventStream(routed->response)) {
            routed->response.content_length(routed->response.body().size());
        }
        routed->response.body().clear();
    }
    reply(std::move(*routed));
}

Response Api::page(const Request& request, std::string_view path) const {
    const unsigned version = request.version();
    const std::string_view boards_prefix = "/boards/";
    const std::string_view files_prefix = "/web/";
    const WebFile* file = nullptr;
    bool list = false;
    bool missing = false;
    if (web_ == nullptr) {
        return notFound(version);
    }
    if (path == "/") {
        list = true;
        file = web_->find("index.html");
    } else if (path.substr(0, boards_prefix.size()) == boards_prefix) {
        // Someone typed or kept the address of a board: a page, not JSON,
        // that leads back to the boards there are.
        missing = boardNumber(path.substr(boards_prefix.size()), boards_.size()) == 0;
        file = web_->find(missing ? "missing.html" : "board.html");
    } else if (path.substr(0, files_prefix.size()) == files_prefix) {
        file = web_->find(path.substr(files_prefix.size()));
    } else if (const char* const report = reportPage(path)) {
        file = web_->find(report);
    }
    if (file == nullptr) {
        return notFound(version);
    }
    if (!isRead(request)) {
        return methodNotAllowed(kReadMethods, version);
    }
    if (list && boards_.size() == 1) {
        Response response{http::status::found, version};
        response.set(http::field::location, "/boards/1");
        return response;
    }
    Response response{missing ? http::status::not_found : http::status::ok, version};
    response.set(http::field::content_type, file->content_type);
    response.set(http::field::cache_control, "no-cache");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("Referrer-Policy", "no-referrer");
    response.set("Content-Security-Policy",
                 "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
    response.body() = file->body;
    return response;
}

std::optional<Routed> Api::handleApi(const Request& request, std::string_view path,
                                     const Reply& reply) const {
    const unsigned version = request.version();
    const bool read = isRead(request);
    if (path == kBoardsPath) {
        return Routed{read ? listBoards(request) : methodNotAllowed(kReadMethods, version)};
    }
    if (path == kRulesPath) {
        return Routed{read ? jsonResponse(serialise(front_end::rules()), version)
                           : methodNotAllowed(kReadMethods, version)};
    }
    for (const std::string_view reports : {"/api/players", "/api/matches"}) {
        const bool below = path.size() > reports.size() && path[reports.size()] == '/';
        if (path.substr(0, reports.size()) == reports && (path.size() == reports.size() || below)) {
            if (!read) {
                return Routed{methodNotAllowed(kReadMethods, version)};
            }
            std::optional<Response> answer = reports_.answer(request, path);
            return Routed{answer ? std::move(*answer) : notFound(version)};
        }
    }
    const std::string_view prefix = "/api/boards/";
    if (path.substr(0, prefix.size()) != prefix) {
        return Routed{notFound(version)};
    }
    const std::string_view rest = path.substr(prefix.size());
    const std::size_t slash = rest.find('/');
    const std::size_t number = boardNumber(rest.substr(0, slash), boards_.size());
    if (number == 0) {
        return Routed{
            errorResponse(http::status::not_found, "not_found", "Tavlan finns inte", version)};
    }
    Board& board = *boards_[number - 1];
    if (slash == std::string_view::npos) {
        return Routed{read ? documentResponse(board.state(), version)
                           : methodNotAllowed(kReadMethods, version)};
    }
    const std::string_view action_path = rest.substr(slash + 1);
    if (action_path == "match") {
        return Routed{read ? documentResponse(board.match(), version)
                           : methodNotAllowed(kReadMethods, version)};
    }
    if (action_path == "events") {
        if (!read) {
            return Routed{methodNotAllowed(kReadMethods, version)};
        }
        if (request.method() == http::verb::head) {
            return Routed{eventStreamHead(version)};
        }
        Routed routed;
        routed.events = &board;
        return routed;
    }
    const Action* const action = findAction(action_path);
    if (action == nullptr) {
        return Routed{notFound(version)};
    }
    if (request.method() != http::verb::post) {
        return Routed{methodNotAllowed("POST", version)};
    }
    if (std::optional<Response> refusal = mutate(request, board, *action, reply)) {
        return Routed{std::move(*refusal)};
    }
    return std::nullopt;
}

Response Api::listBoards(const Request& request) const {
    json list = json::array();
    for (const std::unique_ptr<Board>& board : boards_) {
        list.push_back(board->summary());
    }
    return jsonResponse(serialise({{"boards", std::move(list)}}), request.version());
}

std::optional<Response> Api::mutate(const Request& request, Board& board, const Action& action,
                                    const Reply& reply) const {
    const unsigned version = request.version();
    const std::optional<std::string_view> token = bearerToken(request);
    if (!token) {
        Response response =
            errorResponse(http::status::unauthorized, "unauthorized",
                          "Token saknas: skicka \"Authorization: Bearer TOKEN\"", version);
        response.set(http::field::www_authenticate, "Bearer");
        return response;
    }
    if (!board.acceptsToken(*token)) {
        return errorResponse(http::status::forbidden, "forbidden",
                             "Fel token för tavla " + std::to_string(board.number()), version);
    }
    if ((action.has_body || !request.body().empty()) && !isJson(request)) {
        return errorResponse(http::status::unsupported_media_type, "unsupported_media_type",
                             "Kroppen ska vara JSON (Content-Type: application/json)", version);
    }
    std::variant<Command, Response> command = readCommand(action, request);
    if (Response* refusal = std::get_if<Response>(&command)) {
        return std::move(*refusal);
    }
    std::optional<std::string> key = idempotencyKey(request);
    if (key && key->empty()) {
        return errorResponse(http::status::bad_request, "bad_idempotency_key",
                             "Idempotency-Key ska vara 1 till " +
                                 std::to_string(kMaxIdempotencyKeyBytes) +
                                 " synliga ASCII-tecken, en gång",
                             version);
    }
    Write write{std::move(std::get<Command>(command)), key ? std::move(*key) : std::string(),
                precondition(request)};
    board.apply(std::move(write), [reply, version](WriteResult result) {
        reply(Routed{writeAnswer(std::move(result), version)});
    });
    return std::nullopt;
}

Response tooManyConnections(unsigned version) {
    Response response = errorResponse(http::status::service_unavailable, "too_many_connections",
                                      "För många anslutningar; försök igen om en stund", version);
    response.set(http::field::retry_after, "1");
    finish(response, false);
    return response;
}

std::optional<Response> parseFailureResponse(const boost::beast::error_code& error) {
    if (error.category() != http::make_error_code(http::error::bad_target).category() ||
        error == http::error::end_of_stream || error == http::error::partial_message) {
        return std::nullopt;
    }
    constexpr unsigned kVersion = 11;
    if (error == http::error::header_limit || error == http::error::buffer_overflow) {
        return errorResponse(
            http::status::request_header_fields_too_large, "headers_too_large",
            "Huvudena får vara högst " + std::to_string(kMaxHeaderBytes / 1024) + " KiB", kVersion);
    }
    if (error == http::error::body_limit) {
        return errorResponse(
            http::status::payload_too_large, "payload_too_large",
            "Kroppen får vara högst " + std::to_string(kMaxBodyBytes / 1024) + " KiB", kVersion);
    }
    return errorResponse(http::status::bad_request, "bad_request",
                         "Förfrågan är inte giltig HTTP/1.1", kVersion);
}

const std::string& eventStreamHeader() {
    static const std::string header = [] {
        std::ostringstream text;
        text << eventStreamHead(11).base();
        return text.str();
    }();
    return header;
}

void finish(Response& response, bool keep_alive) {
    response.keep_alive(keep_alive);
    // An answer to HEAD has its length already, and no body to count.
    if (!response.has_content_length() && !isEventStream(response)) {
        response.prepare_payload();
    }
}

}  // namespace game501::server
