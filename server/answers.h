// The kinds of answer every part of the server gives: JSON documents and
// errors of one fixed shape, and the answers of the connection itself.
#pragma once

#include <boost/beast/core/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "actions.h"
#include "front_end.h"
#include "game_501.h"

namespace game501::server {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// The methods every read takes, as Allow lists them.
inline constexpr std::string_view kReadMethods = "GET, HEAD";

// Serialises a document without ever throwing: text that is not valid UTF-8
// becomes U+FFFD.
using front_end::serialise;

// Returns 200 with a JSON body, never cached and never sniffed.
Response jsonResponse(std::string body, unsigned version);

// Returns the error answer {"error": {"code": ..., "message": ...}}: `code`
// a stable English word for programs, `message` Swedish for people.
Response errorResponse(http::status status, std::string_view code, const std::string& message,
                       unsigned version);

// Returns 404 "not_found" for a path that names nothing.
Response notFound(unsigned version);

// Returns 405 "method_not_allowed", with Allow: `allow`.
Response methodNotAllowed(std::string_view allow, unsigned version);

// Returns 200 with a board's document, and its event id as Event-Id and as
// the entity tag, so that a client can match the answer with its event on
// the stream and make its next write conditional on it.
Response documentResponse(Document document, unsigned version);

// Returns 304 with the entity tag `tag` and no body: what the client holds
// is what a GET would get.
Response notModified(const std::string& tag, unsigned version);

// Returns 503 with `code` and `message`, asking the client to try again
// after kRetryAfter.
Response unavailable(std::string_view code, const std::string& message, unsigned version);

// Returns the answer to a connection over a limit, ready for the wire: 503
// with the error code "too_many_connections", and the connection closes.
Response tooManyConnections(unsigned version);

// Returns the answer for a request that the HTTP parser refused, or nothing
// when the failure leaves no one to answer (the peer closed or timed out).
std::optional<Response> parseFailureResponse(const boost::beast::error_code& error);

// Prepares a response for the wire: length (none for the head of an event
// stream), and whether the connection stays open.
void finish(Response& response, bool keep_alive);

}  // namespace game501::server
