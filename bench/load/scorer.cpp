#include "scorer.h"

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/beast/http/write.hpp>
#include <chrono>
#include <string_view>

#include "http_client.h"

namespace game501::load {
namespace {

// An answer is read with one system call: room for the largest document.
constexpr std::size_t kAnswerBufferBytes = 32 * 1024;
constexpr std::size_t kErrorExcerptBytes = 128;

}  // namespace

Scorer::Scorer(net::io_context& io, RunState& run, const Script& script,
               const std::string& start_body, const std::string& host, const std::string& token,
               int board, std::size_t first_game, double rate)
    : run_(run), board_(board), socket_(io), pacer_(io), play_(script, first_game) {
    buffer_.reserve(kAnswerBufferBytes);
    const std::string target = "/api/boards/" + std::to_string(board + 1) + "/";
    const std::string authorization = "Bearer " + token;
    const auto prepare = [&](http::request<http::string_body>& request, const char* action) {
        request.method(http::verb::post);
        request.target(target + action);
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

void Scorer::connect(const tcp::endpoint& endpoint) {
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
    const std::string_view body = answer_.body();
    if (play_.next() == Step::dart) {
        run_.onDart(startsWith(body, kAccepted), now - sent_ns_);
    }
    play_.onAnswer(body);
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

}  // namespace game501::load
