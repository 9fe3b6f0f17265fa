// A client that waits for each answer, on one keep-alive connection: for
// the scenarios that need the server's answers in order, not its speed.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/verb.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace game501::load {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

inline constexpr unsigned kHttpOk = 200;
// The longest wait for one answer.
inline constexpr std::chrono::seconds kRequestTimeout{10};
// How much of an unexpected answer an error message quotes.
inline constexpr std::size_t kErrorExcerptBytes = 128;

// Returns the id an Event-Id field holds, 0 when it holds none.
std::uint64_t eventIdOf(std::string_view field);

// Returns the path of board `number`'s document, or of one of its actions.
std::string boardPath(int number, const std::string& action = "");

struct HttpAnswer {
    unsigned status = 0;
    std::string body;
    std::uint64_t event_id = 0;  // 0: no valid Event-Id
};

class HttpClient {
public:
    // Connects to the server on loopback. Throws std::runtime_error.
    explicit HttpClient(unsigned short port);
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Each throws std::runtime_error when there is no answer within
    // kRequestTimeout.
    HttpAnswer get(const std::string& target);
    // Posts a JSON body, or none when `body` is empty, with the board's token.
    HttpAnswer post(const std::string& target, const std::string& token, const std::string& body);

private:
    HttpAnswer exchange(http::verb method, const std::string& target, const std::string& token,
                        const std::string& body);
    // Runs the operations started until they are done; throws on `error`.
    void finish(const beast::error_code& error, const std::string& what);

    net::io_context io_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    const std::string host_;
};

}  // namespace game501::load
