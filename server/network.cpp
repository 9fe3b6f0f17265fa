#include "network.h"

#include <array>
#include <boost/asio/buffer.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
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
#include <type_traits>
#include <utility>
#include <vector>

#include "event_stream.h"
#include "server_limits.h"

namespace game501::server {

namespace beast = boost::beast;

namespace {

const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

bool expectsContinue(const Request& request) {
    return beast::iequals(request[http::field::expect], "100-continue");
}

// Reads and drops input until the peer closes, the time is up or enough has
// come, then lets the connection go: closing with unread data would reset
// the connection and could destroy the answer before the client reads it.
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

// One client connection: requests and answers in turn, until a request
// asks for events; then the connection goes to an EventStreamSession.
// Everything it does runs on its own strand.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket socket, Connections::Slot slot, Connections& connections,
                const Api& api)
        : stream_(std::move(socket)),
          slot_(std::move(slot)),
          connections_(connections),
          api_(api),
          strand_(stream_.get_executor()) {}

    void run() {
        connections_.track(slot_, shared_from_this());
        net::dispatch(strand_, [self = shared_from_this()] { self->readRequest(); });
    }

    // Ends the connection as a stop asks: an answer being written is
    // finished first; a wait for a request ends now.
    void stop() {
        net::dispatch(strand_, [self = shared_from_this()] {
            self->stopping_ = true;
            if (self->reading_) {
                self->stream_.cancel();
            }
        });
    }

    // Closes the connection at once, whatever it is doing.
    void close() {
        net::dispatch(strand_, [self = shared_from_this()] {
            beast::error_code ignored;
            self->stream_.socket().close(ignored);
        });
    }

private:
    void readRequest() {
        if (stopping_) {
            return;
        }
        connections_.waiting(slot_);
        parser_.emplace();
        parser_->header_limit(kMaxHeaderBytes);
        parser_->body_limit(kMaxBodyBytes);
        reading_ = true;
        if (answered_ && buffer_.size() == 0) {
            // Idle between requests: the next header is due from its first byte.
            if (buffer_.capacity() > kIdleReadBytes) {
                buffer_.shrink_to_fit();
            }
            stream_.expires_after(kIdleTimeout);
            stream_.async_read_some(
                buffer_.prepare(kIdleReadBytes),
                [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
                    self->buffer_.commit(bytes);
                    if (error) {
                        return self->onReadFailed(error);
                    }
                    self->readHeader();
                });
            return;
        }
        readHeader();
    }

    void readHeader() {
        stream_.expires_after(kHeaderTimeout);
        http::async_read_header(
            stream_, buffer_, *parser_,
            beast::bind_front_handler(&HttpSession::onHeader, shared_from_this()));
    }

    void onHeader(beast::error_code error, std::size_t) {
        if (error) {
            return onReadFailed(error);
        }
        stream_.expires_after(kBodyTimeout);
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
        if (std::optional<Response> answer = parseFailureResponse(error);
            answer && !stopping_ && connections_.answering(slot_)) {
            finish(*answer, false);
            write(std::move(*answer));
        }
    }

    void onRead(beast::error_code error, std::size_t) {
        if (error) {
            return onReadFailed(error);
        }
        reading_ = false;
        if (!connections_.answering(slot_)) {
            return;  // closed to make room while the request came in
        }
        const Request request = parser_->release();
        parser_.reset();
        const bool keep_alive = request.keep_alive();
        Routed routed = api_.route(request);
        if (answeredLater(routed)) {
            // A write is answered once its journal row is durable, from one
            // of the journal's threads, and a read of the archive from a
            // reader's; the guard keeps the io_context running till then.
            return api_.answerLater(
                std::move(routed), [self = shared_from_this(), keep_alive,
                                    work = net::make_work_guard(strand_)](Response response) {
                    net::dispatch(self->strand_,
                                  [self, keep_alive, response = std::move(response)]() mutable {
                                      self->respond(std::move(response), keep_alive);
                                  });
                });
        }
        if (const EventStream* const stream = std::get_if<EventStream>(&routed)) {
            return streamEvents(stream->subscribe, request.version());
        }
        respond(std::move(std::get<Response>(routed)), keep_alive);
    }

    void respond(Response response, bool keep_alive) {
        finish(response, keep_alive && !stopping_);
        write(std::move(response));
    }

    void streamEvents(const Subscribe& subscribe, unsigned version) {
        if (!stopping_) {
            if (std::optional<Connections::Slot> stream = connections_.takeStream()) {
                return handOver(subscribe, std::move(*stream));
            }
        }
        write(tooManyConnections(version));
    }

    void handOver(const Subscribe& subscribe, Connections::Slot stream_slot);

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
        answered_ = true;
        readRequest();
    }

    beast::tcp_stream stream_;
    Connections::Slot slot_;
    Connections& connections_;
    const Api& api_;
    const net::any_io_executor strand_;
    beast::flat_buffer buffer_{kMaxHeaderBytes + kMaxBodyBytes};
    std::optional<http::request_parser<http::string_body>> parser_;
    std::optional<Response> response_;
    bool reading_ = false;
    bool answered_ = false;  // so the connection may idle before its next request
    bool stopping_ = false;
};

// A connection that carries one board's events, one way, from the request
// that asked for them until the viewer leaves, falls too far behind or the
// server stops. Everything it does runs on the strand of the connection.
class EventStreamSession : public std::enable_shared_from_this<EventStreamSession> {
public:
    EventStreamSession(beast::tcp_stream stream, Connections::Slot connection,
                       Connections::Slot stream_slot, Connections& connections)
        : stream_(std::move(stream)),
          connection_(std::move(connection)),
          stream_slot_(std::move(stream_slot)),
          connections_(connections),
          strand_(stream_.get_executor()),
          heartbeat_(strand_) {}

    // Subscribes with `subscribe` and writes the stream's head and its first
    // event. Runs on the connection's strand.
    void start(const Subscribe& subscribe) {
        connections_.track(connection_, shared_from_this());
        stream_.expires_never();
        queue_ = std::make_shared<EventQueue>(
            kMaxQueuedEvents, kMaxQueuedEventBytes, [weak = weak_from_this(), strand = strand_] {
                if (std::shared_ptr<EventStreamSession> self = weak.lock()) {
                    net::post(strand, [self] { self->writeEvents(); });
                }
            });
        const EventText first = subscribe(queue_);
        pending_.push_back(std::make_shared<const std::string>(eventStreamHeader()));
        pending_.push_back(first);
        // A stop that began while the request was being answered missed
        // this session: it ends once what is queued is written.
        stopping_ = connections_.stopping();
        if (!stopping_) {
            scheduleKeepAlive();
        }
        watchViewer();
        writeEvents();
    }

    // Ends the stream as a stop asks: the events already queued are
    // written first.
    void stop() {
        net::dispatch(strand_, [self = shared_from_this()] {
            self->stopping_ = true;
            self->heartbeat_.cancel();
            self->writeEvents();
        });
    }

    // Closes the connection at once, whatever it is doing.
    void close() {
        net::dispatch(strand_, [self = shared_from_this()] { self->closeStream(); });
    }

private:
    // Reads beside the writes, straight from the socket and without a
    // timeout, so that a viewer who leaves, even by closing only its sending
    // side, frees its connection at once.
    void watchViewer() {
        stream_.socket().async_read_some(
            net::buffer(ignored_input_),
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
            if (error || self->queue_->closed()) {
                return;
            }
            self->queue_->push(keepAliveComment());
            self->scheduleKeepAlive();
        });
    }

    void closeStream() {
        if (queue_) {
            queue_->close();
        }
        heartbeat_.cancel();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.socket().close(ignored);
    }

    beast::tcp_stream stream_;
    Connections::Slot connection_;
    Connections::Slot stream_slot_;
    Connections& connections_;
    const net::any_io_executor strand_;
    net::steady_timer heartbeat_;
    std::shared_ptr<EventQueue> queue_;
    std::array<char, 512> ignored_input_{};
    std::size_t input_bytes_ = 0;
    std::deque<EventText> pending_;
    std::deque<EventText> in_flight_;
    bool writing_ = false;
    bool stopping_ = false;
};

void HttpSession::handOver(const Subscribe& subscribe, Connections::Slot stream_slot) {
    // What was read for requests is no longer needed: a stream only writes.
    std::make_shared<EventStreamSession>(std::move(stream_), std::move(slot_),
                                         std::move(stream_slot), connections_)
        ->start(subscribe);
}

namespace {

// A connection over the limit: it gets a 503 and is closed.
class Rejection : public std::enable_shared_from_this<Rejection> {
public:
    Rejection(tcp::socket socket, Connections::Slot slot)
        : stream_(std::move(socket)), slot_(std::move(slot)), answer_(tooManyConnections(11)) {}

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
    Connections::Slot slot_;
    Response answer_;
};

// Returns the client a connection from `address` counts against: an IPv4
// address, mapped ones included, or the /64 network of an IPv6 address.
std::string clientOf(const net::ip::address& address) {
    if (address.is_v4()) {
        const net::ip::address_v4::bytes_type bytes = address.to_v4().to_bytes();
        return std::string(bytes.begin(), bytes.end());
    }
    const net::ip::address_v6 v6 = address.to_v6();
    if (v6.is_v4_mapped()) {
        return clientOf(net::ip::make_address_v4(net::ip::v4_mapped, v6));
    }
    const net::ip::address_v6::bytes_type bytes = v6.to_bytes();
    return std::string(bytes.begin(), bytes.begin() + 8);
}

}  // namespace

Connections::Slot::Slot(Connections& owner, std::atomic<int>* count, std::uint64_t id) noexcept
    : owner_(&owner), count_(count), id_(id) {}

Connections::Slot::Slot(Slot&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), count_(other.count_), id_(other.id_) {}

Connections::Slot::~Slot() {
    if (owner_ != nullptr) {
        owner_->release(*this);
    }
}

Connections::Connections(const Limits& limits) : limits_(limits) {}

std::optional<Connections::Slot> Connections::take(Connections& owner, std::atomic<int>& count,
                                                   int max) {
    if (++count > max) {
        --count;
        return std::nullopt;
    }
    return Slot(owner, &count, 0);
}

std::optional<Connections::Slot> Connections::takeConnection(const net::ip::address& address) {
    std::string client = clientOf(address);
    std::shared_ptr<HttpSession> making_room;
    std::uint64_t id = 0;
    {
        const MutexLock lock(mutex_);
        const auto held = per_client_.find(client);
        const bool client_full = held != per_client_.end() && held->second >= limits_.per_client;
        if (client_full || counted_ >= limits_.connections) {
            if (closing_ >= limits_.closing) {
                return std::nullopt;
            }
            std::optional<std::shared_ptr<HttpSession>> room =
                makeRoom(client_full ? &client : nullptr);
            if (!room) {
                return std::nullopt;
            }
            making_room = std::move(*room);
        }
        ++per_client_[client];
        ++counted_;
        id = ++next_id_;
        entries_[id].client = std::move(client);
    }
    // Closed outside the lock, which the session may take as it ends.
    if (making_room) {
        making_room->close();
    }
    return Slot(*this, nullptr, id);
}

std::optional<std::shared_ptr<HttpSession>> Connections::makeRoom(const std::string* client) {
    auto oldest = waiting_.begin();
    while (oldest != waiting_.end() && client != nullptr &&
           entries_.at(*oldest).client != *client) {
        ++oldest;
    }
    if (oldest == waiting_.end()) {
        return std::nullopt;
    }
    Entry& entry = entries_.at(*oldest);
    waiting_.erase(oldest);
    entry.waiting.reset();
    entry.closing = true;
    ++closing_;
    --counted_;
    if (--per_client_.at(entry.client) == 0) {
        per_client_.erase(entry.client);
    }
    // Only a session that reads requests waits; one already gone has closed
    // its connection itself.
    const auto* session = std::get_if<std::weak_ptr<HttpSession>>(&entry.session);
    return session != nullptr ? session->lock() : nullptr;
}

std::optional<Connections::Slot> Connections::takeStream() {
    return take(*this, streams_, limits_.streams);
}

std::optional<Connections::Slot> Connections::takeRejection() {
    return take(*this, rejections_, limits_.rejections);
}

void Connections::release(const Slot& slot) {
    if (slot.count_ != nullptr) {
        --*slot.count_;
        return;
    }
    bool last = false;
    {
        const MutexLock lock(mutex_);
        const auto found = entries_.find(slot.id_);
        Entry& entry = found->second;
        if (entry.waiting) {
            waiting_.erase(*entry.waiting);
        }
        if (entry.closing) {
            --closing_;
        } else {
            --counted_;
            if (--per_client_.at(entry.client) == 0) {
                per_client_.erase(entry.client);
            }
        }
        entries_.erase(found);
        last = entries_.empty() && stopping_;
    }
    if (last) {
        on_empty_();
    }
}

void Connections::track(const Slot& connection, Session session) {
    const MutexLock lock(mutex_);
    Entry& entry = entries_.at(connection.id_);
    entry.session = std::move(session);
}

void Connections::track(const Slot& connection, const std::shared_ptr<HttpSession>& session) {
    track(connection, Session(std::weak_ptr<HttpSession>(session)));
}

void Connections::track(const Slot& connection,
                        const std::shared_ptr<EventStreamSession>& session) {
    track(connection, Session(std::weak_ptr<EventStreamSession>(session)));
}

void Connections::waiting(const Slot& connection) {
    const MutexLock lock(mutex_);
    Entry& entry = entries_.at(connection.id_);
    if (!entry.closing && !entry.waiting) {
        entry.waiting = waiting_.insert(waiting_.end(), connection.id_);
    }
}

bool Connections::answering(const Slot& connection) {
    const MutexLock lock(mutex_);
    Entry& entry = entries_.at(connection.id_);
    if (entry.waiting) {
        waiting_.erase(*entry.waiting);
        entry.waiting.reset();
    }
    return !entry.closing;
}

template <typename Visit>
void Connections::forEachSession(const Visit& visit) {
    // The sessions are let go of outside the lock: the last owner of one
    // runs its destructor, which takes the lock itself.
    std::vector<std::shared_ptr<HttpSession>> requests;
    std::vector<std::shared_ptr<EventStreamSession>> streams;
    {
        const MutexLock lock(mutex_);
        for (const auto& [id, entry] : entries_) {
            std::visit(
                [&](const auto& weak) {
                    if (auto open = weak.lock()) {
                        if constexpr (std::is_same_v<decltype(open),
                                                     std::shared_ptr<HttpSession>>) {
                            requests.push_back(std::move(open));
                        } else {
                            streams.push_back(std::move(open));
                        }
                    }
                },
                entry.session);
        }
    }
    for (const auto& session : requests) {
        visit(*session);
    }
    for (const auto& session : streams) {
        visit(*session);
    }
}

bool Connections::beginStop(std::function<void()> on_empty) {
    const MutexLock lock(mutex_);
    on_empty_ = std::move(on_empty);
    stopping_ = true;
    return !entries_.empty();
}

void Connections::stopAll() {
    forEachSession([](auto& session) { session.stop(); });
}

void Connections::closeAll() {
    forEachSession([](auto& session) { session.close(); });
}

Server::Server(net::io_context& io, const tcp::endpoint& endpoint, const Api& api,
               int max_connections, int per_client)
    : io_(io),
      api_(api),
      connections_({max_connections,
                    max_connections > 2 * kConnectionsKeptForRequests
                        ? max_connections - kConnectionsKeptForRequests
                        : max_connections / 2,
                    per_client, kMaxRejectionsInFlight, kMaxClosingInFlight}),
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
    if (connections_.stopping() || !acceptor_.is_open()) {
        return;
    }
    if (error) {
        // Out of descriptors or a connection gone before it was taken: try
        // again in a moment rather than spin.
        retry_timer_.expires_after(kAcceptRetry);
        retry_timer_.async_wait([this](beast::error_code wait_error) {
            if (!wait_error) {
                accept();
            }
        });
        return;
    }
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    const tcp::endpoint client = socket.remote_endpoint(ignored);
    if (ignored) {
        return accept();  // gone already
    }
    if (std::optional<Connections::Slot> slot = connections_.takeConnection(client.address())) {
        std::make_shared<HttpSession>(std::move(socket), std::move(*slot), connections_, api_)
            ->run();
    } else {
        reject(std::move(socket));
    }
    accept();
}

void Server::reject(tcp::socket socket) {
    if (std::optional<Connections::Slot> slot = connections_.takeRejection()) {
        std::make_shared<Rejection>(std::move(socket), std::move(*slot))->run();
    }
    // Past that the socket closes as it goes out of scope.
}

void Server::stop() {
    net::dispatch(strand_, [this] {
        if (connections_.stopping()) {
            return;
        }
        beast::error_code ignored;
        acceptor_.close(ignored);
        retry_timer_.cancel();
        const bool open = connections_.beginStop(
            [this] { net::post(strand_, [this] { stop_timer_.cancel(); }); });
        if (!open) {
            return;
        }
        connections_.stopAll();
        stop_timer_.expires_after(kStopGrace);
        stop_timer_.async_wait([this](beast::error_code error) {
            if (error) {
                return;  // every connection closed in time
            }
            connections_.closeAll();
        });
    });
}

}  // namespace game501::server
