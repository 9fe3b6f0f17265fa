// The HTTP client of the load: a scorer that plays the script's games as the
// legs of matches on one board over one keep-alive connection, one request
// at a time.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cstddef>
#include <cstdint>
#include <string>

#include "asio_names.h"
#include "run_state.h"
#include "script.h"
#include "script_play.h"
#include "units.h"

namespace game501::load {

class Scorer {
public:
    // Starts its matches with `start_body`; `rate`: darts a second, 0 for
    // as fast as the answers come.
    Scorer(net::io_context& io, RunState& run, const Script& script, const std::string& start_body,
           const std::string& host, const std::string& token, int board, std::size_t first_game,
           double rate);

    void connect(const tcp::endpoint& endpoint);
    // Throws the first dart at `first_due` when paced, else at once.
    void begin(Clock::time_point first_due);
    void stop();
    void close();
    bool connected() const { return connected_; }
    bool busy() const { return busy_; }

private:
    void sendNext();
    // Sends the call the script names next.
    void send();
    void onAnswer(const beast::error_code& error);
    void fail(const std::string& what);

    RunState& run_;
    const int board_;
    // A plain socket: a stream with timeouts costs a timer on every operation,
    // and the run's phases bound every wait anyway.
    tcp::socket socket_;
    net::steady_timer pacer_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> start_request_;
    http::request<http::string_body> dart_request_;
    http::request<http::string_body> clear_request_;
    http::response<http::string_body> answer_;
    ScriptPlay play_;
    std::int64_t sent_ns_ = 0;
    Clock::time_point next_due_;
    Clock::duration period_{};
    bool connected_ = false;
    bool busy_ = false;
    bool stopping_ = false;
};

}  // namespace game501::load
