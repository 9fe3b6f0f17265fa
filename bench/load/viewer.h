// The event reader: one viewer of a board's event stream. It checks that
// ids follow each other and reports every event it holds whole.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "asio_names.h"
#include "run_state.h"

namespace game501::load {

class Viewer {
public:
    // Reads into `scratch`, which all viewers share, one at a time.
    Viewer(net::io_context& io, RunState& run, std::vector<char>& scratch, const std::string& host,
           int board);

    void connect(const tcp::endpoint& endpoint);
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
