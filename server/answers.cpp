#include "answers.h"

#include <boost/beast/http/field.hpp>
#include <utility>

#include "board.h"

namespace game501::server {

Response jsonResponse(std::string body, unsigned version) {
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

}  // namespace game501::server
