// The kinds of answer every part of the API gives: JSON documents and errors
// of one fixed shape.
#pragma once

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <string>
#include <string_view>

namespace game501::server {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// Returns 200 with a JSON body, never cached and never sniffed.
Response jsonResponse(std::string body, unsigned version);

// Returns the error answer {"error": {"code": ..., "message": ...}}: `code`
// a stable English word for programs, `message` Swedish for people.
Response errorResponse(http::status status, std::string_view code, const std::string& message,
                       unsigned version);

// Returns 404 "not_found" for a path that names nothing.
Response notFound(unsigned version);

}  // namespace game501::server
