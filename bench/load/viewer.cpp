#include "viewer.h"

#include <algorithm>
#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/beast/http/write.hpp>
#include <charconv>
#include <cstring>
#include <string_view>
#include <system_error>

namespace game501::load {
namespace {

constexpr int kReadsPerWake = 4;
// Enough for any line the viewer reads whole ("id: " and 20 digits).
constexpr std::size_t kLinePrefixBytes = 32;

}  // namespace

Viewer::Viewer(net::io_context& io, RunState& run, std::vector<char>& scratch,
               const std::string& host, int board)
    : run_(run), scratch_(scratch), board_(board), socket_(io) {
    request_.method(http::verb::get);
    request_.target("/api/boards/" + std::to_string(board + 1) + "/events");
    request_.version(11);
    request_.set(http::field::host, host);
    request_.set(http::field::accept, "text/event-stream");
    line_prefix_.reserve(kLinePrefixBytes);
}

void Viewer::connect(const tcp::endpoint& endpoint) {
    socket_.async_connect(endpoint, [this](const beast::error_code& error) {
        if (error) {
            return fail("viewer cannot connect: " + error.message());
        }
        http::async_write(
            socket_, request_, [this](const beast::error_code& write_error, std::size_t) {
                if (write_error) {
                    return fail("viewer cannot send: " + write_error.message());
                }
                parser_.emplace();
                http::async_read_header(socket_, header_buffer_, *parser_,
                                        [this](const beast::error_code& read_error, std::size_t) {
                                            onHeader(read_error);
                                        });
            });
    });
}

void Viewer::close() {
    beast::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

void Viewer::onHeader(const beast::error_code& error) {
    if (error) {
        return fail("viewer got no stream: " + error.message());
    }
    if (parser_->get().result() != http::status::ok) {
        return fail("viewer got HTTP " + std::to_string(parser_->get().result_int()));
    }
    // What came with the header already belongs to the stream.
    const auto leftover = header_buffer_.data();
    consume(static_cast<const char*>(leftover.data()), leftover.size());
    header_buffer_ = beast::flat_buffer();
    parser_.reset();
    if (gone_) {
        return;
    }
    beast::error_code ignored;
    socket_.non_blocking(true, ignored);
    waitReadable();
}

// A viewer holds no buffer of its own: it waits until its socket is
// readable and reads into the shared scratch buffer.
void Viewer::waitReadable() {
    socket_.async_wait(tcp::socket::wait_read,
                       [this](const beast::error_code& error) { onReadable(error); });
}

void Viewer::onReadable(const beast::error_code& error) {
    if (error) {
        return fail("viewer stream failed: " + error.message());
    }
    for (int i = 0; i < kReadsPerWake; ++i) {
        beast::error_code read_error;
        const std::size_t bytes = socket_.read_some(net::buffer(scratch_), read_error);
        if (read_error == net::error::would_block) {
            break;
        }
        if (read_error == net::error::eof) {
            return end(std::nullopt);
        }
        if (read_error) {
            return fail("viewer stream failed: " + read_error.message());
        }
        consume(scratch_.data(), bytes);
        if (gone_) {
            return;
        }
    }
    waitReadable();
}

void Viewer::consume(const char* data, std::size_t size) {
    const char* const end = data + size;
    while (data < end && !gone_) {
        const char* const newline =
            static_cast<const char*>(std::memchr(data, '\n', static_cast<std::size_t>(end - data)));
        const char* const stop = newline != nullptr ? newline : end;
        const auto length = static_cast<std::size_t>(stop - data);
        if (line_prefix_.size() < kLinePrefixBytes) {
            line_prefix_.append(data, std::min(length, kLinePrefixBytes - line_prefix_.size()));
        }
        line_bytes_ += length;
        if (newline == nullptr) {
            return;
        }
        onLine();
        line_prefix_.clear();
        line_bytes_ = 0;
        data = newline + 1;
    }
}

void Viewer::onLine() {
    const std::string_view line = line_prefix_;
    if (line_bytes_ == 0) {
        if (event_id_) {
            onEvent(*event_id_, event_is_state_);
        }
        event_id_.reset();
        event_is_state_ = false;
        return;
    }
    const std::string_view id_field = "id: ";
    if (line.substr(0, id_field.size()) == id_field) {
        std::uint64_t id = 0;
        const char* const last = line.data() + line.size();
        const auto [stop, error] = std::from_chars(line.data() + id_field.size(), last, id);
        if (error != std::errc() || stop != last || line_bytes_ != line.size()) {
            return fail("viewer got a bad id line");
        }
        event_id_ = id;
    } else if (line == "event: state") {
        event_is_state_ = true;
    }
}

void Viewer::onEvent(std::uint64_t id, bool state) {
    if (!ready_) {
        if (!state) {
            return fail("viewer's stream did not open with the state event");
        }
        ready_ = true;
        last_id_ = id;
        run_.onViewerReady(board_);
        return;
    }
    if (state || id <= last_id_) {
        return fail("viewer got event " + std::to_string(id) + " after " +
                    std::to_string(last_id_));
    }
    gaps_ += id - last_id_ - 1;
    last_id_ = id;
    run_.onEventHeld(board_, id);
}

void Viewer::fail(const std::string& what) { end(what); }

void Viewer::end(const std::optional<std::string>& error) {
    if (gone_) {
        return;
    }
    gone_ = true;
    beast::error_code ignored;
    socket_.close(ignored);
    if (run_.closing()) {
        return;
    }
    if (!ready_) {
        run_.onConnectFailed();
        run_.error(error.value_or("viewer's stream ended before its first event"));
        return;
    }
    run_.onViewerGone(board_);
    if (error) {
        run_.error(*error);
    }
}

}  // namespace game501::load
