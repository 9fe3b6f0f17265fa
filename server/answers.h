// The kinds of answer every part of the server gives: JSON documents and
// errors of one fixed shape, and the answers of the connection itself.
#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/optional/optional.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "actions.h"
#include "front_end.h"
#include "game_501.h"

namespace game501::server {

namespace http = boost::beast::http;

// A body of text that is the response's own or a SharedText, sent as it is:
// a board's answer and its state go out without a copy.
struct TextBody {
    class value_type {
    public:
        value_type() = default;
        value_type(std::string text) : own_(std::move(text)) {}    // NOLINT: a body is text
        value_type(SharedText text) : shared_(std::move(text)) {}  // NOLINT

        std::string_view view() const { return shared_ ? std::string_view(*shared_) : own_; }
        std::size_t size() const { return view().size(); }
        void clear() {
            own_.clear();
            shared_.reset();
        }

    private:
        std::string own_;
        SharedText shared_;
    };

    static std::uint64_t size(const value_type& body) { return body.size(); }

    class writer {
    public:
        using const_buffers_type = boost::asio::const_buffer;

        template <bool isRequest, class Fields>
        writer(const http::header<isRequest, Fields>& /*header*/, const value_type& body)
            : body_(body) {}

        void init(boost::beast::error_code& error) { error = {}; }

        boost::optional<std::pair<const_buffers_type, bool>> get(boost::beast::error_code& error) {
            error = {};
            const std::string_view text = body_.view();
            return {{const_buffers_type(text.data(), text.size()), false}};
        }

    private:
        const value_type& body_;
    };
};

using Request = http::request<http::string_body>;
using Response = http::response<TextBody>;

// The methods every read takes, as Allow lists them.
inline constexpr std::string_view kReadMethods = "GET, HEAD";

// Serialises a document without ever throwing: text that is not valid UTF-8
// becomes U+FFFD.
using front_end::serialise;

// Returns 200 with a JSON body, never cached and never sniffed.
Response jsonResponse(TextBody::value_type body, unsigned version);

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
