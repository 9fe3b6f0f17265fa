// Listening and connections: accepts clients, reads their requests with the
// limits of server_limits.h, has the Api answer them, and hands a connection
// that asks for events to a session that carries the stream.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <variant>

#include "api.h"
#include "mutex.h"

namespace game501::server {

namespace net = boost::asio;
using tcp = net::ip::tcp;

class HttpSession;
class EventStreamSession;

// The open connections of a server: how many there are of each kind, and
// how a stop reaches every one of them.
class Connections {
public:
    // A place among the connections of one kind, held for as long as the
    // handle lives and given back when it is destroyed.
    class Slot {
    public:
        Slot(Slot&& other) noexcept;
        Slot& operator=(Slot&&) = delete;
        ~Slot();

    private:
        friend class Connections;
        Slot(Connections& owner, std::atomic<int>& count) noexcept;
        Connections* owner_;
        std::atomic<int>* count_;
    };

    // At most `max_connections` open at once, of which at most `max_streams`
    // carry event streams, and `max_rejections` being answered 503.
    Connections(int max_connections, int max_streams, int max_rejections);
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // Each returns nothing when its kind has no place left.
    std::optional<Slot> takeConnection();
    std::optional<Slot> takeStream();
    std::optional<Slot> takeRejection();

    // Lets a stop reach a session until it untracks itself.
    void track(const std::shared_ptr<HttpSession>& session);
    void track(const std::shared_ptr<EventStreamSession>& session);
    void untrack(const void* session);

    // Begins a stop: from now on stopping() is true, and `on_empty` is
    // called, from any thread, when the last connection has gone. Returns
    // whether any connection is open.
    bool beginStop(std::function<void()> on_empty);
    bool stopping() const { return stopping_.load(); }
    // Asks every session to stop as a stop asks, or to close at once.
    void stopAll();
    void closeAll();

private:
    using Session = std::variant<std::weak_ptr<HttpSession>, std::weak_ptr<EventStreamSession>>;

    static std::optional<Slot> take(Connections& owner, std::atomic<int>& count, int max);
    void release(std::atomic<int>& count);
    template <typename Visit>
    void forEachSession(const Visit& visit);

    const int max_connections_;
    const int max_streams_;
    const int max_rejections_;
    std::atomic<int> connections_{0};
    std::atomic<int> streams_{0};
    std::atomic<int> rejections_{0};
    std::atomic<bool> stopping_{false};
    std::function<void()> on_empty_;  // set once, before stopping_
    Mutex sessions_mutex_;
    std::unordered_map<const void*, Session> sessions_ GAME501_GUARDED_BY(sessions_mutex_);
};

class Server {
public:
    // Binds to `endpoint`; throws boost::system::system_error when it cannot
    // (a port in use, an address not of this machine). At most
    // `max_connections` are open at once; one more is answered 503, and so is
    // an event stream past all but kConnectionsKeptForRequests of them.
    Server(net::io_context& io, const tcp::endpoint& endpoint, const Api& api, int max_connections);
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // The address actually bound, with the port the system chose for port 0.
    tcp::endpoint endpoint() const { return endpoint_; }

    // Starts accepting connections.
    void start();

    // Stops cleanly: no new connections, answers in flight finished, event
    // streams and idle connections closed. Whatever is still open after a
    // grace period is closed too. The io_context then runs out of work.
    void stop();

private:
    void accept();
    void onAccept(const boost::beast::error_code& error, tcp::socket socket);
    void reject(tcp::socket socket);

    net::io_context& io_;
    const Api& api_;
    Connections connections_;
    net::strand<net::io_context::executor_type> strand_;  // the acceptor and the timers
    tcp::acceptor acceptor_;
    tcp::endpoint endpoint_;
    net::steady_timer retry_timer_;  // accepting again after running out of descriptors
    net::steady_timer stop_timer_;
};

}  // namespace game501::server
