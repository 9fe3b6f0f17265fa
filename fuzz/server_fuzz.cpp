// Feeds any bytes to the server's request handling as one connection's
// request stream, through the HTTP parser with the server's limits, the
// router and the handlers, without sockets. Properties: nothing crashes;
// every answer is a well-formed HTTP response whose status is one the API
// documents, with a JSON error body of the one fixed shape when it is an
// error; a request makes at most one event, and one only when it is a write
// answered 200 with that event's id (a retry of a keyed write is answered
// with the id it had); and a board whose token the input cannot hold never
// changes. The boards keep their journal in memory.
#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/write.hpp>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>

#include "actions.h"
#include "api.h"
#include "board.h"
#include "fuzz_support.h"
#include "journal.h"
#include "server_limits.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using game501::fuzz::require;
using game501::server::Api;
using game501::server::Boards;
using game501::server::Response;

// Board 1's token is in the seeds and the dictionary, so the fuzzer plays
// games on it; board 2's is never given, so board 2 must stay as it starts.
const char* const kOpenToken = "fuzz-token-board-one-0000";
const char* const kSecretToken = "9c1f0e7a2b5d4c3e8f6a1b0c2d3e4f5a";
// Open too, so that the fuzzer reaches the corrections.
const char* const kOrganiserToken = "fuzz-token-organiser-000";
constexpr int kMaxRequests = 64;

const std::set<unsigned> kDocumentedStatuses = {200, 302, 400, 401, 403, 404, 405,
                                                409, 412, 413, 415, 422, 431, 503};

// Returns whether the request is a write to board 1, by the server's own
// table of actions.
bool writesBoardOne(const game501::server::Request& request) {
    const std::string_view prefix = "/api/boards/1/";
    const std::string_view target = request.target();
    const std::string_view path = target.substr(0, target.find('?'));
    return request.method() == http::verb::post && path.substr(0, prefix.size()) == prefix &&
           game501::server::findAction(path.substr(prefix.size())) != nullptr;
}

// Serialises the answer as the connection would and reads it back with a
// response parser: it must parse whole, alone, with the status it was given.
void requireWellFormed(Response response, bool keep_alive, bool head) {
    game501::server::finish(response, keep_alive);
    std::ostringstream wire;
    wire << response;
    const std::string text = wire.str();
    http::response_parser<http::string_body> parser;
    parser.eager(true);
    parser.skip(head);  // an answer to HEAD announces a body it does not carry
    parser.body_limit(1U << 24);
    beast::error_code error;
    const std::size_t used = parser.put(boost::asio::buffer(text), error);
    require(!error && parser.is_done() && used == text.size(),
            "the answer is not one well-formed HTTP response: " + error.message());
    const unsigned status = parser.get().result_int();
    require(kDocumentedStatuses.count(status) == 1,
            "undocumented status " + std::to_string(status));
    if (status >= 400 && !head) {
        const auto body = Game501::json::parse(parser.get().body(), nullptr, false);
        require(body.is_object() && body.size() == 1 && body.contains("error") &&
                    body["error"].is_object() && body["error"].size() == 2 &&
                    body["error"]["code"].is_string() && body["error"]["message"].is_string(),
                "an error answer without the error shape: " + parser.get().body());
    }
}

}  // namespace

// Returns the answer the API gives, waiting for a write's journal row.
game501::server::Routed answer(const Api& api, const game501::server::Request& request) {
    game501::server::Routed routed = api.route(request);
    if (!game501::server::isWrite(routed)) {
        return routed;
    }
    std::promise<Response> answered;
    std::future<Response> response = answered.get_future();
    api.write(std::move(routed),
              [&answered](Response result) { answered.set_value(std::move(result)); });
    return response.get();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string problem;
    const std::unique_ptr<game501::server::Journal> journal =
        game501::server::Journal::open(game501::server::Journal::kInMemory, problem);
    require(journal != nullptr, "no journal in memory: " + problem);
    journal->setTokens({kOpenToken, kSecretToken});
    journal->start();
    Boards boards;
    boards.push_back(std::make_unique<game501::server::Board>(1, kOpenToken, *journal));
    boards.push_back(std::make_unique<game501::server::Board>(2, kSecretToken, *journal));
    const std::string untouched = *boards[1]->view().state().json;
    const game501::server::Reports reports(journal->reader(), boards, journal->accuracies());
    const game501::server::Organiser organiser(kOrganiserToken, *journal);
    game501::server::Competitions competitions(*journal, boards);
    const Api api(boards, reports, organiser, competitions, nullptr);

    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (int requests = 0; requests < kMaxRequests && !rest.empty(); ++requests) {
        http::request_parser<http::string_body> parser;
        parser.header_limit(game501::server::kMaxHeaderBytes);
        parser.body_limit(game501::server::kMaxBodyBytes);
        parser.eager(true);
        beast::error_code error;
        while (!rest.empty() && !parser.is_done()) {
            const std::size_t used =
                parser.put(boost::asio::buffer(rest.data(), rest.size()), error);
            rest.remove_prefix(used);
            if (error || used == 0) {
                break;
            }
        }
        if (error == http::error::need_more || (!error && !parser.is_done())) {
            break;  // the stream ends inside a request: the connection waits, then times out
        }
        if (error) {
            const std::optional<Response> answer = game501::server::parseFailureResponse(error);
            require(answer.has_value(), "a refused request got no answer: " + error.message());
            requireWellFormed(*answer, false, false);
            break;  // the connection closes after a refused request
        }
        const game501::server::Request request = parser.release();
        const std::uint64_t events_before = boards[0]->view().state().event_id;
        game501::server::Routed routed = answer(api, request);
        const std::uint64_t events_after = boards[0]->view().state().event_id;
        Response* const response = std::get_if<Response>(&routed);
        const bool written =
            response != nullptr && response->result_int() == 200 && writesBoardOne(request);
        const std::string answered_id =
            written ? std::string((*response)["Event-Id"]) : std::string();
        require(events_after == events_before || (events_after == events_before + 1 &&
                                                  answered_id == std::to_string(events_after)),
                "a request made an event it does not answer with");
        require(!written || std::stoull(answered_id) <= events_before ||
                    events_after == events_before + 1,
                "a write answered with a new event made none");
        if (response != nullptr) {
            requireWellFormed(std::move(*response), request.keep_alive(),
                              request.method() == http::verb::head);
        }
        if (!request.keep_alive()) {
            break;
        }
    }
    require(*boards[1]->view().state().json == untouched, "a board changed without its token");
    return 0;
}
