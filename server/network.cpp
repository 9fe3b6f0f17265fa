#include "network.h"

#include <array>
#include <boost/asio/buffer.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server_limits.h"

namespace game501_server {

namespace beast = boost::beast;

namespace {

// After an answer that ends a connection, what the client may still be
// sending is read and dropped for a moment before closing: closing with
// unread data would reset the connection and could destroy the answer
// before the client reads it.
constexpr std::chrono::seconds kLingerTime{1};
constexpr std::size_t kLingerBytes = 64 * 1024;

const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
const EventText& keepAliveComment() {
    static const EventText comment = std::make_shared<const std::string>(": keep-alive\n\n");
    return comment;
}

bool expectsContinue(const Request& request) {
    return beast::iequals(request[http::field::expect], "100-continue");
}

// Reads and drops input until the peer closes, the time is up or enough has
// come, then lets the connection go.
template <typename Owner>
void lingerThenClose(std::shared_ptr<Owner> owner, beast::tcp_stream& stream,
                     std::shared_ptr<std::array<char, 4096>> scratch = nullptr,
                     std::size_t dropped = 0) {
    if (!scratch) {
        beast::error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream.expires_after(kLingerTime);
        scratch = std::make_shared<std::array<char, 4096>>();
    }
    stream.async_read_some(net::buffer(*scratch), [owner, &stream, scratch, dropped](
                                                      beast::error_code error, std::size_t bytes) {
        if (error || dropped + bytes > kLingerBytes) {
            beast::error_code ignored;
            stream.socket().close(ignored);
            return;
        }
        lingerThenClose(owner, stream, scratch, dropped + bytes);
    });
}

}  // namespace

// One client connection: requests and answers in turn, or, after a request
// for events, a one-way stream of them. Everything it does runs on its own
// strand.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket socket, Server& server)
        : stream_(std::move(socket)),
          server_(server),
          strand_(stream_.get_executor()),
          heartbeat_(stream_.get_executor()) {
        ++server_.connections_;
    }

    ~HttpSession() {
        if (queue_) {
            --server_.streams_;
        }
        server_.untrack(this);
        if (--server_.connections_ == 0 && server_.stopping_) {
            net::post(server_.strand_, [&server = server_] { server.stop_timer_.cancel(); });
        }
    }

    void run() {
        net::dispatch(strand_, [self = shared_from_this()] { self->readRequest(); });
    }

    // Ends the connection as a stop asks: an answer being written is
    // finished first, and so are the events already queued for a stream; a
    // wait for a request ends now.
    void stop() {
        net::dispatch(strand_, [self = shared_from_this()] {
            self->stopping_ = true;
            if (self->queue_) {
                self->heartbeat_.cancel();
                self->writeEvents();
            } else if (self->reading_) {
                self->stream_.cancel();
            }
        });
    }

    // Closes the connection at once, whatever it is doing.
    void close() {
        net::dispatch(strand_, [self = shared_from_this()] {
            if (self->queue_) {
                self->closeStream();
            }
            beast::error_code ignored;
            self->stream_.socket().close(ignored);
        });
    }

private:
    void readRequest() {
        if (stopping_) {
            return;
        }
        parser_.emplace();
        parser_->header_limit(kMaxHeaderBytes);
        parser_->body_limit(kMaxBodyBytes);
        reading_ = true;
        stream_.expires_after(kReadTimeout);
        http::async_read_header(
            stream_, buffer_, *parser_,
            beast::bind_front_handler(&HttpSession::onHeader, shared_from_this()));
    }

    void onHeader(beast::error_code error, std::size_t) {
        if (error) {
            return onReadFailed(error);
        }
        if (parser_->get().version() == 11 && expectsContinue(parser_->get()) &&
            !parser_->is_done()) {
            net::async_write(
                stream_, net::buffer(kContinue),
                [self = shared_from_this()](beast::error_code write_error, std::size_t) {
                    if (write_error) {
                        self->reading_ = false;
                        return;
                    }
                    self->readBody();
                });
            return;
        }
        readBody();
    }

    void readBody() {
        http::async_read(stream_, buffer_, *parser_,
                         beast::bind_front_handler(&HttpSession::onRead, shared_from_this()));
    }

    void onReadFailed(const beast::error_code& error) {
        reading_ = false;
        if (std::optional<Response> answer = parseFailureResponse(error); answer && !stopping_) {
            finish(*answer, false);
            write(std::move(*answer));
        }
    }

    void onRead(beast::error_code error, std::size_t) {
        if (error) {
            return onReadFailed(error);
        }
        reading_ = false;
        const Request request = parser_->release();
        parser_.reset();
        Routed routed = server_.api_.handle(request);
        if (routed.events != nullptr) {
            if (!stopping_ && server_.takeStreamSlot()) {
                return openStream(*routed.events);
            }
            routed.response =
                errorResponse(http::status::service_unavailable, "too_many_connections",
                              "För många anslutningar; försök igen om en stund", request.version());
            routed.response.set(http::field::retry_after, "1");
            finish(routed.response, false);
            return write(std::move(routed.response));
        }
        finish(routed.response, request.keep_alive() && !stopping_);
        write(std::move(routed.response));
    }

    void write(Response response) {
        response_ = std::move(response);
        stream_.expires_after(kWriteTimeout);
        http::async_write(stream_, *response_,
                          beast::bind_front_handler(&HttpSession::onWrite, shared_from_this()));
    }

    void onWrite(beast::error_code error, std::size_t) {
        const bool keep_alive = response_->keep_alive();
        response_.reset();
        if (error) {
            return;
        }
        if (!keep_alive || stopping_) {
            return lingerThenClose(shared_from_this(), stream_);
        }
        readRequest();
    }

    // Event streams.

    void openStream(Board& board) {
        // A stream only writes: what it read for requests is no longer needed.
        buffer_ = beast::flat_buffer();
        stream_.expires_never();
        queue_ = std::make_shared<EventQueue>(
            kMaxQueuedEvents, kMaxQueuedEventBytes, [weak = weak_from_this(), strand = strand_] {
                if (std::shared_ptr<HttpSession> self = weak.lock()) {
                    net::post(strand, [self] { self->writeEvents(); });
                }
            });
        const EventText first = board.subscribe(queue_);
        pending_.push_back(std::make_shared<const std::string>(eventStreamHeader()));
        pending_.push_back(first);
        scheduleKeepAlive();
        watchViewer();
        writeEvents();
    }

    // Reads beside the writes, straight from the socket and without a
    // timeout, so that a viewer who leaves, even by closing only its sending
    // side, frees its connection at once.
    void watchViewer() {
        if (!ignored_input_) {
            ignored_input_ = std::make_unique<std::array<char, 512>>();
        }
        stream_.socket().async_read_some(
            net::buffer(*ignored_input_),
            [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
                self->input_bytes_ += bytes;
                if (error || self->input_bytes_ > kMaxStreamInputBytes) {
                    return self->closeStream();
                }
                self->watchViewer();
            });
    }

    void writeEvents() {
        if (writing_ || !queue_) {
            return;
        }
        if (queue_->closed()) {
            return closeStream();
        }
        queue_->take(pending_);
        if (pending_.empty()) {
            if (stopping_) {
                closeStream();
            }
            return;
        }
        writing_ = true;
        in_flight_.swap(pending_);
        std::vector<net::const_buffer> buffers;
        buffers.reserve(in_flight_.size());
        for (const EventText& text : in_flight_) {
            buffers.emplace_back(net::buffer(*text));
        }
        stream_.expires_after(kWriteTimeout);
        net::async_write(stream_, buffers,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             self->writing_ = false;
                             self->in_flight_.clear();
                             if (error) {
                                 return self->closeStream();
                             }
                             self->stream_.expires_never();
                             self->writeEvents();
                         });
    }

    void scheduleKeepAlive() {
        heartbeat_.expires_after(kKeepAliveInterval);
        heartbeat_.async_wait([self = shared_from_this()](beast::error_code error) {
            if (error || !self->queue_ || self->queue_->closed()) {
                return;
            }
            self->queue_->push(keepAliveComment());
            self->scheduleKeepAlive();
        });
    }

    void closeStream() {
        queue_->close();
        heartbeat_.cancel();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

    beast::tcp_stream stream_;
    Server& server_;
    const net::any_io_executor strand_;
    beast::flat_buffer buffer_{kMaxHeaderBytes + kMaxBodyBytes};
    std::optional<http::request_parser<http::string_body>> parser_;
    std::optional<Response> response_;
    bool reading_ = false;
    bool stopping_ = false;

    std::shared_ptr<EventQueue> queue_;  // set once the connection carries events
    std::unique_ptr<std::array<char, 512>> ignored_input_;
    std::size_t input_bytes_ = 0;
    std::deque<EventText> pending_;
    std::deque<EventText> in_flight_;
    bool writing_ = false;
    net::steady_timer heartbeat_;
};

namespace {

// A connection over the limit: it gets a 503 and is closed.
class Rejection : public std::enable_shared_from_this<Rejection> {
public:
    Rejection(tcp::socket socket, std::atomic<int>& count)
        : stream_(std::move(socket)), count_(count) {
        ++count_;
        answer_ = errorResponse(http::status::service_unavailable, "too_many_connections",
                                "För många anslutningar; försök igen om en stund", 11);
        answer_.set(http::field::retry_after, "1");
        finish(answer_, false);
    }
    ~Rejection() { --count_; }

    void run() {
        stream_.expires_after(kLingerTime);
        http::async_write(stream_, answer_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (!error) {
                                  lingerThenClose(self, self->stream_);
                              }
                          });
    }

private:
    beast::tcp_stream stream_;
    std::atomic<int>& count_;
    Response answer_;
};

}  // namespace

Server::Server(net::io_context& io, const tcp::endpoint& endpoint, const Api& api,
               int max_connections)
    : io_(io),
      api_(api),
      max_connections_(max_connections),
      max_streams_(max_connections > 2 * kConnectionsKeptForRequests
                       ? max_connections - kConnectionsKeptForRequests
                       : max_connections / 2),
      strand_(net::make_strand(io)),
      acceptor_(strand_),
      retry_timer_(strand_),
      stop_timer_(strand_) {
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(net::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen(net::socket_base::max_listen_connections);
    endpoint_ = acceptor_.local_endpoint();
}

void Server::start() {
    net::dispatch(strand_, [this] { accept(); });
}

void Server::accept() {
    acceptor_.async_accept(net::make_strand(io_),
                           beast::bind_front_handler(&Server::onAccept, this));
}

void Server::onAccept(const beast::error_code& error, tcp::socket socket) {
    if (stopping_ || !acceptor_.is_open()) {
        return;
    }
    if (error) {
        // Out of descriptors or a connection gone before it was taken: try
        // again in a moment rather than spin.
        retry_timer_.expires_after(std::chrono::milliseconds(50));
        retry_timer_.async_wait([this](beast::error_code wait_error) {
            if (!wait_error) {
                accept();
            }
        });
        return;
    }
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    if (connections_.load() >= max_connections_) {
        reject(std::move(socket));
    } else {
        const auto session = std::make_shared<HttpSession>(std::move(socket), *this);
        track(session);
        session->run();
    }
    accept();
}

void Server::reject(tcp::socket socket) {
    if (rejections_.load() >= kMaxRejectionsInFlight) {
        return;  // the socket closes as it goes out of scope
    }
    std::make_shared<Rejection>(std::move(socket), rejections_)->run();
}

bool Server::takeStreamSlot() {
    if (++streams_ > max_streams_) {
        --streams_;
        return false;
    }
    return true;
}

void Server::track(const std::shared_ptr<HttpSession>& session) {
    const std::lock_guard<std::mutex> lock(sessions_mutex_);
    sessions_.emplace(session.get(), session);
}

void Server::untrack(const HttpSession* session) {
    const std::lock_guard<std::mutex> lock(sessions_mutex_);
    sessions_.erase(session);
}

std::vector<std::shared_ptr<HttpSession>> Server::openSessions() {
    // The sessions are let go of outside the lock: the last owner of one
    // runs its destructor, which takes the lock itself.
    std::vector<std::shared_ptr<HttpSession>> open;
    const std::lock_guard<std::mutex> lock(sessions_mutex_);
    for (const auto& [key, weak] : sessions_) {
        if (std::shared_ptr<HttpSession> session = weak.lock()) {
            open.push_back(std::move(session));
        }
    }
    return open;
}

void Server::stop() {
    net::dispatch(strand_, [this] {
        if (stopping_.exchange(true)) {
            return;
        }
        beast::error_code ignored;
        acceptor_.close(ignored);
        retry_timer_.cancel();
        const std::vector<std::shared_ptr<HttpSession>> open = openSessions();
        if (open.empty()) {
            return;
        }
        for (const std::shared_ptr<HttpSession>& session : open) {
            session->stop();
        }
        stop_timer_.expires_after(kStopGrace);
        stop_timer_.async_wait([this](beast::error_code error) {
            if (error) {
                return;  // every connection closed in time
            }
            for (const std::shared_ptr<HttpSession>& session : openSessions()) {
                session->close();
            }
        });
    });
}

}  // namespace game501_server
