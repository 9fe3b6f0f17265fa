#include "prompt_write.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/http/serializer.hpp>
#include <cerrno>

namespace game501::server {

namespace beast = boost::beast;

SocketCopy::SocketCopy(int socket) : descriptor_(::dup(socket)) {}

SocketCopy::~SocketCopy() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

std::size_t SocketCopy::write(const std::string& text, std::size_t offset,
                              std::chrono::milliseconds wait) const {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (descriptor_ >= 0 && offset < text.size()) {
        const ssize_t sent = ::send(descriptor_, text.data() + offset, text.size() - offset,
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            offset += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd room{descriptor_, POLLOUT, 0};
        if (left.count() <= 0 || ::poll(&room, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
    }
    return offset;
}

std::string wireText(Response& response) {
    http::serializer<false, http::string_body> serializer(response);
    std::string text;
    text.reserve(response.body().size() + 512);
    beast::error_code error;
    while (!error && !serializer.is_done()) {
        serializer.next(error, [&](beast::error_code& visit_error, const auto& buffers) {
            visit_error = {};
            std::size_t bytes = 0;
            for (const auto buffer : beast::buffers_range_ref(buffers)) {
                text.append(static_cast<const char*>(buffer.data()), buffer.size());
                bytes += buffer.size();
            }
            serializer.consume(bytes);
        });
    }
    return error ? std::string() : text;
}

}  // namespace game501::server
