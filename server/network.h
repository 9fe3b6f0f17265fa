// Listening and connections: accepts clients, reads their requests with the
// limits of server_limits.h, has the Api answer them, and hands a connection
// that asks for events to a session that carries the stream.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

#include "api.h"
#include "mutex.h"

namespace game501::server {

namespace net = boost::asio;
using tcp = net::ip::tcp;

class HttpSession;
class EventStreamSession;

// The open connections of a server: how many there are of each kind and
// from each client, which of them wait for a request and so may make room
// for a new one, and how a stop reaches every one of them. Thread safe.
class Connections {
public:
    // A place among the connections, the event streams or the rejections,
    // held for as long as the handle lives and given back when it is
    // destroyed. A connection's place goes with the connection from the
    // session that reads its requests to the one that carries its stream.
    class Slot {
    public:
        Slot(Slot&& other) noexcept;
        Slot& operator=(Slot&&) = delete;
        ~Slot();

    private:
        friend class Connections;
        Slot(Connections& owner, std::atomic<int>* count, std::uint64_t id) noexcept;
        Connections* owner_;
        std::atomic<int>* count_;  // a stream's or a rejection's; null for a connection
        std::uint64_t id_;         // a connection's
    };

    struct Limits {
        int connections;  // open at once, of every kind
        int streams;      // of those, carrying event streams
        int per_client;   // of those, from one client
        int rejections;   // being answered 503
        int closing;      // closed to make room, their descriptors not yet given back
    };

    explicit Connections(const Limits& limits);
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // Returns a place for a new connection from `client`. When the client
    // holds its bound, or every place is taken, the connection that has
    // waited longest (of that client's, or of all) is closed to make room.
    // Returns nothing when none waits, or too many are closing already.
    std::optional<Slot> takeConnection(const net::ip::address& client);
    // Each returns nothing when its kind has no place left.
    std::optional<Slot> takeStream();
    std::optional<Slot> takeRejection();

    // Lets a stop, or a new connection that needs the place, reach the
    // session of `connection` for as long as the slot lives.
    void track(const Slot& connection, const std::shared_ptr<HttpSession>& session);
    void track(const Slot& connection, const std::shared_ptr<EventStreamSession>& session);

    // Marks a connection as waiting for a request or reading one: from now
    // on it may be closed to make room, after those that waited before it.
    void waiting(const Slot& connection);
    // Marks it as being answered, which keeps its place. Returns false when
    // it has been closed to make room already: the session must then end.
    [[nodiscard]] bool answering(const Slot& connection);

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
    using WaitingList = std::list<std::uint64_t>;  // the ids of waiting connections, oldest first

    struct Entry {
        std::string client;
        Session session;
        std::optional<WaitingList::iterator> waiting;
        bool closing = false;  // closed to make room; no longer counted against its client
    };

    static std::optional<Slot> take(Connections& owner, std::atomic<int>& count, int max);
    void release(const Slot& slot);
    // Picks the connection to close to make room: the one that has waited
    // longest, of `client` or of any when it is null. Takes it off the
    // waiting list and counts it as closing. Returns its session (null when the session has
    // gone already), or nothing when none waits.
    std::optional<std::shared_ptr<HttpSession>> makeRoom(const std::string* client)
        GAME501_REQUIRES(mutex_);
    void track(const Slot& connection, Session session);
    template <typename Visit>
    void forEachSession(const Visit& visit);

    const Limits limits_;
    std::atomic<int> streams_{0};
    std::atomic<int> rejections_{0};
    std::atomic<bool> stopping_{false};
    std::function<void()> on_empty_;  // set once, before stopping_
    Mutex mutex_;
    std::uint64_t next_id_ GAME501_GUARDED_BY(mutex_) = 0;
    std::unordered_map<std::uint64_t, Entry> entries_ GAME501_GUARDED_BY(mutex_);
    WaitingList waiting_ GAME501_GUARDED_BY(mutex_);
    std::unordered_map<std::string, int> per_client_ GAME501_GUARDED_BY(mutex_);
    int counted_ GAME501_GUARDED_BY(mutex_) = 0;  // entries not closing
    int closing_ GAME501_GUARDED_BY(mutex_) = 0;
};

class Server {
public:
    // Binds to `endpoint`; throws boost::system::system_error when it cannot
    // (a port in use, an address not of this machine). At most
    // `max_connections` are open at once and `per_client` from one client;
    // past either a new connection takes the place of the one that has
    // waited longest for a request, and is answered 503 when none waits. An
    // event stream past all but kConnectionsKeptForRequests of them is
    // answered 503 too.
    Server(net::io_context& io, const tcp::endpoint& endpoint, const Api& api, int max_connections,
           int per_client);
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
