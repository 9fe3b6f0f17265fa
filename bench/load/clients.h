// The clients of a load and what they share: scorers, each playing the
// script's games as the legs of matches on one board over one keep-alive
// connection, one request at a time; viewers of the boards' event streams,
// each checking that ids follow each other; and the run's state they report
// to. The clients and the run live on one thread, so nothing here locks.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "http_client.h"
#include "measurements.h"
#include "options.h"
#include "script.h"

namespace game501::load {

// What the clients of one run share and report to: the run's clock and
// phase, the darts still to throw, and everything they count.
class RunState {
public:
    explicit RunState(const Options& options);
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    std::int64_t nowNs() const {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - epoch_).count();
    }
    // The load is over: no scorer starts another request.
    bool stopping() const { return stopping_; }
    void stop() { stopping_ = true; }
    // The clients are being torn down: what fails now is no error.
    bool closing() const { return closing_; }
    void close() { closing_ = true; }

    // Returns whether a scorer may throw one more dart, and counts it.
    bool takeDartTicket();

    void onAnswered(int board, std::uint64_t event_id, std::int64_t sent_ns);
    void onDart(bool accepted, std::int64_t latency_ns);
    void onLateDart() { ++late_darts_; }
    void onViewerReady(int board);
    void onEventHeld(int board, std::uint64_t id);
    void onViewerGone(int board);
    void onConnectFailed() { ++failures_; }
    // Counts an error and keeps the first few messages.
    void error(const std::string& message);

    int viewersReady() const { return viewers_ready_; }
    int connectFailures() const { return failures_; }
    std::uint64_t dartsAccepted() const { return darts_accepted_; }
    // The newest event id answered on `board`.
    std::uint64_t lastEventId(int board) const {
        return board_last_id_[static_cast<std::size_t>(board)];
    }

    // Puts the counts and latencies into `figures`.
    void report(RunFigures& figures);

private:
    const std::uint64_t dart_limit_;  // 0: none
    const Clock::time_point epoch_;
    Samples answer_latency_;
    Samples delivery_latency_;
    DeliveryTracker tracker_;
    std::vector<std::uint64_t> board_last_id_;
    std::uint64_t darts_issued_ = 0;
    std::uint64_t darts_accepted_ = 0;
    std::uint64_t darts_refused_ = 0;
    std::uint64_t late_darts_ = 0;
    std::uint64_t events_held_ = 0;
    std::uint64_t viewers_gone_ = 0;
    std::uint64_t errors_ = 0;
    std::vector<std::string> error_messages_;
    int viewers_ready_ = 0;
    int failures_ = 0;
    bool stopping_ = false;
    bool closing_ = false;
};

class Scorer {
public:
    // Starts its matches with `start_body`; `rate`: darts a second, 0 for
    // as fast as the answers come; `shared_board`: other scorers throw on
    // its board too.
    Scorer(net::io_context& io, RunState& run, const Script& script, const std::string& start_body,
           const std::string& host, const std::string& token, int board, std::size_t first_game,
           double rate, bool shared_board);

    // Connects from `source`, an address of this machine.
    void connect(const tcp::endpoint& endpoint, const net::ip::address& source);
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

class Viewer {
public:
    // Reads into `scratch`, which all viewers share, one at a time.
    Viewer(net::io_context& io, RunState& run, std::vector<char>& scratch, const std::string& host,
           int board);

    // Connects from `source`, an address of this machine.
    void connect(const tcp::endpoint& endpoint, const net::ip::address& source);
    void close();
    bool ready() const { return ready_; }
    bool alive() const { return ready_ && !gone_; }
    int board() const { return board_; }
    std::uint64_t lastId() const { return last_id_; }
    std::uint64_t gaps() const { return gaps_; }

private:
    void onHeader(const beast::error_code& error);
    void waitReadable();
    void onReadable(const beast::error_code& error);
    void consume(const char* data, std::size_t size);
    void onLine();
    void onEvent(std::uint64_t id, bool state);
    void fail(const std::string& what);
    // Stops reading; a stream that the server ended is no error, whose
    // missing events count as lost.
    void end(const std::optional<std::string>& error);

    RunState& run_;
    std::vector<char>& scratch_;
    const int board_;
    tcp::socket socket_;
    http::request<http::empty_body> request_;
    beast::flat_buffer header_buffer_;
    std::optional<http::response_parser<http::empty_body>> parser_;
    std::string line_prefix_;
    std::size_t line_bytes_ = 0;
    std::optional<std::uint64_t> event_id_;
    bool event_is_state_ = false;
    std::uint64_t last_id_ = 0;
    std::uint64_t gaps_ = 0;
    bool ready_ = false;
    bool gone_ = false;
};

}  // namespace game501::load
