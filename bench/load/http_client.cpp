#include "http_client.h"

#include <boost/asio/ip/address.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <charconv>
#include <stdexcept>
#include <system_error>

namespace game501::load {

std::uint64_t eventIdOf(std::string_view field) {
    std::uint64_t event_id = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), event_id);
    return error == std::errc() && end == field.data() + field.size() ? event_id : 0;
}

std::string boardPath(int number, const std::string& action) {
    const std::string path = "/api/boards/" + std::to_string(number);
    return action.empty() ? path : path + "/" + action;
}

HttpClient::HttpClient(unsigned short port)
    : stream_(io_), host_("127.0.0.1:" + std::to_string(port)) {
    beast::error_code error;
    stream_.expires_after(kRequestTimeout);
    stream_.async_connect(
        tcp::endpoint(net::ip::make_address("127.0.0.1"), port),
        [&error](const beast::error_code& connect_error) { error = connect_error; });
    finish(error, "cannot connect");
    stream_.socket().set_option(tcp::no_delay(true), error);
}

HttpAnswer HttpClient::get(const std::string& target) {
    return exchange(http::verb::get, target, "", "");
}

HttpAnswer HttpClient::post(const std::string& target, const std::string& token,
                            const std::string& body) {
    return exchange(http::verb::post, target, token, body);
}

HttpAnswer HttpClient::exchange(http::verb method, const std::string& target,
                                const std::string& token, const std::string& body) {
    http::request<http::string_body> request{method, target, 11};
    request.set(http::field::host, host_);
    if (!token.empty()) {
        request.set(http::field::authorization, "Bearer " + token);
    }
    if (!body.empty()) {
        request.set(http::field::content_type, "application/json");
        request.body() = body;
    }
    request.prepare_payload();
    beast::error_code error;
    const auto done = [&error](const beast::error_code& done_error, std::size_t) {
        error = done_error;
    };
    stream_.expires_after(kRequestTimeout);
    http::async_write(stream_, request, done);
    finish(error, "cannot send " + target);
    http::response<http::string_body> response;
    http::async_read(stream_, buffer_, response, done);
    finish(error, "no answer to " + target);
    return {response.result_int(), std::move(response.body()), eventIdOf(response["Event-Id"])};
}

void HttpClient::finish(const beast::error_code& error, const std::string& what) {
    io_.restart();
    io_.run();
    if (error) {
        throw std::runtime_error(what + ": " + error.message());
    }
}

}  // namespace game501::load
