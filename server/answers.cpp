#include "answers.h"

#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>
#include <utility>

#include "event_stream.h"
#include "parsing.h"
#include "server_limits.h"

namespace game501::server {

Response jsonResponse(TextBody::value_type body, unsigned version) {
    Response response{http::status::ok, version};
    response.set(http::field::content_type, "application/json");
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.body() = std::move(body);
    return response;
}

Response errorResponse(http::status status, std::string_view code, const std::string& message,
                       unsigned version) {
    Response response =
        jsonResponse(serialise({{"error", {{"code", code}, {"message", message}}}}), version);
    response.result(status);
    return response;
}

Response notFound(unsigned version) {
    return errorResponse(http::status::not_found, "not_found", "Det finns inget här", version);
}

Response methodNotAllowed(std::string_view allow, unsigned version) {
    Response response = errorResponse(http::status::method_not_allowed, "method_not_allowed",
                                      "Metoden stöds inte här; se Allow", version);
    response.set(http::field::allow, allow);
    return response;
}

Response documentResponse(Document document, unsigned version) {
    Response response = jsonResponse(std::move(document.json), version);
    response.set("Event-Id", std::to_string(document.event_id));
    response.set(http::field::etag, entityTag(document.event_id));
    return response;
}

Response notModified(const std::string& tag, unsigned version) {
    Response response{http::status::not_modified, version};
    response.set(http::field::etag, tag);
    response.set(http::field::cache_control, "no-store");
    return response;
}

Response unavailable(std::string_view code, const std::string& message, unsigned version) {
    Response response = errorResponse(http::status::service_unavailable, code, message, version);
    response.set(http::field::retry_after, std::to_string(kRetryAfter.count()));
    return response;
}

Response tooManyConnections(unsigned version) {
    Response response = unavailable("too_many_connections",
                                    "För många anslutningar; försök igen om en stund", version);
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

void finish(Response& response, bool keep_alive) {
    response.keep_alive(keep_alive);
    // An answer to HEAD has its length already, and no body to count.
    if (!response.has_content_length() && !isEventStream(response)) {
        response.prepare_payload();
    }
}

}  // namespace game501::server
