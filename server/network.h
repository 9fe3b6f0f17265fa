// Listening and connections: accepts clients, reads their requests with the
// limits of limits.h, has the Api answer them, and carries event streams.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "api.h"

namespace game501_server {

namespace net = boost::asio;
using tcp = net::ip::tcp;

class HttpSession;

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

    int connections() const { return connections_.load(); }

private:
    friend class HttpSession;

    void accept();
    void onAccept(const boost::beast::error_code& error, tcp::socket socket);
    void reject(tcp::socket socket);
    // Counts a new event stream; false when streams may take no more
    // connections.
    bool takeStreamSlot();
    void track(const std::shared_ptr<HttpSession>& session);
    void untrack(const HttpSession* session);
    std::vector<std::shared_ptr<HttpSession>> openSessions();

    net::io_context& io_;
    const Api& api_;
    const int max_connections_;
    const int max_streams_;
    net::strand<net::io_context::executor_type> strand_;  // the acceptor and the timers
    tcp::acceptor acceptor_;
    tcp::endpoint endpoint_;
    net::steady_timer retry_timer_;  // accepting again after running out of descriptors
    net::steady_timer stop_timer_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> rejections_{0};
    std::atomic<int> streams_{0};
    std::mutex sessions_mutex_;
    std::unordered_map<const HttpSession*, std::weak_ptr<HttpSession>> sessions_;
};

}  // namespace game501_server
