#include "clients.h"

#include <algorithm>
#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/beast/http/write.hpp>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string_view>
#include <system_error>

namespace game501::load {
namespace {

constexpr std::size_t kMinLatencySamples = 1024;
constexpr std::size_t kMaxLatencySamples = std::size_t{1} << 21;
// Used only to size the latency vectors of unpaced runs, never as a limit.
constexpr double kAssumedMaxDartsPerSecond = 20'000;
// Each dart comes with at most one clear and rarely a start: events per dart.
constexpr double kEventsPerDartBound = 1.5;
constexpr std::size_t kMaxErrorMessages = 5;

std::size_t latencyCapacity(const Options& options, double per_dart) {
    const double darts = options.darts != 0 ? static_cast<double>(options.darts)
                         : options.rate > 0 ? options.rate * options.scorers * options.loadSeconds()
                                            : kAssumedMaxDartsPerSecond * options.loadSeconds();
    const double wanted = std::ceil(darts * per_dart);
    return per_dart == 0 ? 0
                         : std::clamp(static_cast<std::size_t>(wanted), kMinLatencySamples,
                                      kMaxLatencySamples);
}

// An answer is read with one system call: room for the largest document.
constexpr std::size_t kAnswerBufferBytes = 32 * 1024;

constexpr int kReadsPerWake = 4;
// Enough for any line the viewer reads whole ("id: " and 20 digits).
constexpr std::size_t kLinePrefixBytes = 32;

// Opens `socket` on `source`; returns the error, if any.
beast::error_code bindTo(tcp::socket& socket, const net::ip::address& source) {
    beast::error_code error;
    socket.open(source.is_v4() ? tcp::v4() : tcp::v6(), error);
    if (!error) {
        socket.bind(tcp::endpoint(source, 0), error);
    }
    return error;
}

}  // namespace

RunState::RunState(const Options& options)
    : dart_limit_(options.darts),
      epoch_(Clock::now()),
      answer_latency_(latencyCapacity(options, 1)),
      delivery_latency_(latencyCapacity(options, options.viewers > 0 ? kEventsPerDartBound : 0)),
      tracker_(options.boards, delivery_latency_),
      board_last_id_(static_cast<std::size_t>(options.boards), 0) {}

bool RunState::takeDartTicket() {
    if (dart_limit_ != 0 && darts_issued_ >= dart_limit_) {
        return false;
    }
    ++darts_issued_;
    return true;
}

void RunState::onAnswered(int board, std::uint64_t event_id, std::int64_t sent_ns) {
    std::uint64_t& last = board_last_id_[static_cast<std::size_t>(board)];
    last = std::max(last, event_id);
    tracker_.onSent(board, event_id, sent_ns);
}

void RunState::onDart(bool accepted, std::int64_t latency_ns) {
    answer_latency_.add(latency_ns);
    ++(accepted ? darts_accepted_ : darts_refused_);
}

void RunState::onViewerReady(int board) {
    ++viewers_ready_;
    tracker_.addViewer(board);
}

void RunState::onEventHeld(int board, std::uint64_t id) {
    ++events_held_;
    tracker_.onHeld(board, id, nowNs());
}

void RunState::onViewerGone(int board) {
    ++viewers_gone_;
    tracker_.removeViewer(board);
}

void RunState::error(const std::string& message) {
    ++errors_;
    if (error_messages_.size() < kMaxErrorMessages) {
        error_messages_.push_back(message);
    }
}

void RunState::report(RunFigures& figures) {
    figures.darts = darts_accepted_;
    figures.refused = darts_refused_;
    figures.darts_per_second =
        figures.load_seconds > 0 ? static_cast<double>(darts_accepted_) / figures.load_seconds : 0;
    figures.answer_p50_ms = answer_latency_.percentileMs(0.50);
    figures.answer_p99_ms = answer_latency_.percentileMs(0.99);
    figures.delivery_p99_ms = delivery_latency_.percentileMs(0.99);
    figures.delivery_samples = delivery_latency_.count();
    figures.events_held = events_held_;
    figures.viewers_gone = viewers_gone_;
    figures.late_darts = late_darts_;
    figures.errors = errors_;
    figures.error_messages = error_messages_;
    // Every board's journal started empty, and every call it answered is a row.
    figures.journal_rows =
        std::accumulate(board_last_id_.begin(), board_last_id_.end(), std::uint64_t{0});
}

Scorer::Scorer(net::io_context& io, RunState& run, const Script& script,
               const std::string& start_body, const std::string& host, const std::string& token,
               int board, std::size_t first_game, double rate, bool shared_board)
    : run_(run), board_(board), socket_(io), pacer_(io), play_(script, first_game, shared_board) {
    buffer_.reserve(kAnswerBufferBytes);
    const std::string authorization = "Bearer " + token;
    const auto prepare = [&](http::request<http::string_body>& request, const char* action) {
        request.method(http::verb::post);
        request.target(boardPath(board + 1, action));
        request.version(11);
        request.set(http::field::host, host);
        request.set(http::field::authorization, authorization);
    };
    prepare(start_request_, "start");
    start_request_.set(http::field::content_type, "application/json");
    start_request_.body() = start_body;
    start_request_.prepare_payload();
    prepare(dart_request_, "darts");
    dart_request_.set(http::field::content_type, "application/json");
    prepare(clear_request_, "clear");
    clear_request_.prepare_payload();
    if (rate > 0) {
        period_ = std::chrono::duration_cast<Clock::duration>(Seconds(1 / rate));
    }
}

void Scorer::connect(const tcp::endpoint& endpoint, const net::ip::address& source) {
    if (const beast::error_code error = bindTo(socket_, source)) {
        return fail("scorer cannot bind to " + source.to_string() + ": " + error.message());
    }
    busy_ = true;
    socket_.async_connect(endpoint, [this](const beast::error_code& error) {
        busy_ = false;
        if (error) {
            return fail("scorer cannot connect: " + error.message());
        }
        connected_ = true;
        beast::error_code ignored;
        socket_.set_option(tcp::no_delay(true), ignored);
    });
}

void Scorer::begin(Clock::time_point first_due) {
    if (!connected_) {
        return;
    }
    busy_ = true;
    next_due_ = first_due;
    sendNext();
}

void Scorer::stop() {
    stopping_ = true;
    pacer_.cancel();
}

void Scorer::close() {
    stopping_ = true;
    pacer_.cancel();
    beast::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

void Scorer::sendNext() {
    if (stopping_ || run_.stopping()) {
        busy_ = false;
        return;
    }
    if (play_.next() != Step::dart) {
        return send();
    }
    if (!run_.takeDartTicket()) {
        busy_ = false;
        return;
    }
    if (period_ == Clock::duration::zero()) {
        return send();
    }
    const Clock::time_point now = Clock::now();
    if (next_due_ + period_ < now) {
        // More than one period behind: keep the rate, not the schedule.
        run_.onLateDart();
        next_due_ = now;
    }
    const Clock::time_point due = next_due_;
    next_due_ += period_;
    if (due <= now) {
        return send();
    }
    pacer_.expires_at(due);
    pacer_.async_wait([this](const beast::error_code& error) {
        if (error || stopping_ || run_.stopping()) {
            busy_ = false;
            return;
        }
        send();
    });
}

void Scorer::send() {
    http::request<http::string_body>* request = &clear_request_;
    if (play_.next() == Step::start) {
        request = &start_request_;
    } else if (play_.next() == Step::dart) {
        request = &dart_request_;
        dart_request_.body() = play_.dart().body;
        dart_request_.prepare_payload();
    }
    sent_ns_ = run_.nowNs();
    http::async_write(socket_, *request, [this](const beast::error_code& error, std::size_t) {
        if (error) {
            return fail("scorer cannot send: " + error.message());
        }
        // Reading only once the answer is there spares a read that would
        // find nothing yet.
        socket_.async_wait(tcp::socket::wait_read, [this](const beast::error_code& wait_error) {
            if (wait_error) {
                return fail("scorer got no answer: " + wait_error.message());
            }
            answer_ = {};
            http::async_read(
                socket_, buffer_, answer_,
                [this](const beast::error_code& read_error, std::size_t) { onAnswer(read_error); });
        });
    });
}

void Scorer::onAnswer(const beast::error_code& error) {
    if (error) {
        return fail("scorer got no answer: " + error.message());
    }
    const std::int64_t now = run_.nowNs();
    if (answer_.result() != http::status::ok) {
        return fail("scorer got HTTP " + std::to_string(answer_.result_int()) + ": " +
                    answer_.body().substr(0, kErrorExcerptBytes));
    }
    const std::uint64_t event_id = eventIdOf(answer_["Event-Id"]);
    if (event_id == 0) {
        return fail("scorer got an answer without a valid Event-Id");
    }
    run_.onAnswered(board_, event_id, sent_ns_);
    const std::optional<Reading> reading = readAnswer(answer_.body(), play_.needsStatus());
    if (!reading) {
        return fail("scorer got an answer that is not a JSON object: " +
                    answer_.body().substr(0, kErrorExcerptBytes));
    }
    if (play_.next() == Step::dart) {
        run_.onDart(reading->accepted, now - sent_ns_);
    }
    play_.onAnswer(*reading);
    sendNext();
}

void Scorer::fail(const std::string& what) {
    busy_ = false;
    if (run_.closing()) {
        return;
    }
    if (!connected_) {
        run_.onConnectFailed();
    }
    connected_ = false;
    run_.error(what);
    beast::error_code ignored;
    socket_.close(ignored);
}

Viewer::Viewer(net::io_context& io, RunState& run, std::vector<char>& scratch,
               const std::string& host, int board)
    : run_(run), scratch_(scratch), board_(board), socket_(io) {
    request_.method(http::verb::get);
    request_.target(boardPath(board + 1, "events"));
    request_.version(11);
    request_.set(http::field::host, host);
    request_.set(http::field::accept, "text/event-stream");
    line_prefix_.reserve(kLinePrefixBytes);
}

void Viewer::connect(const tcp::endpoint& endpoint, const net::ip::address& source) {
    if (const beast::error_code error = bindTo(socket_, source)) {
        return fail("viewer cannot bind to " + source.to_string() + ": " + error.message());
    }
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
