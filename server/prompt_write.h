// Writing a large answer to a read from the reader's own thread: the bytes
// of a report or a file of darts are the costliest part of a read, and the
// reader threads run at a lower priority than the network's, which serve
// the boards. A reader writes what the client takes promptly; the
// connection's own thread writes the rest.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "answers.h"

namespace game501::server {

// A second descriptor of a connection's socket, closed with this object:
// the connection may close its own meanwhile, and its number be given to
// another connection, while this one still reaches the client.
class SocketCopy {
public:
    // Copies `socket`; valid() is false when the system refuses.
    explicit SocketCopy(int socket);
    ~SocketCopy();
    SocketCopy(const SocketCopy&) = delete;
    SocketCopy& operator=(const SocketCopy&) = delete;

    bool valid() const { return descriptor_ >= 0; }

    // Writes `text` from `offset` on as the client takes it, waiting at most
    // `wait` in all for room; returns the offset reached (text.size() when
    // all of it went). An error of the connection ends the writing as a
    // wait that runs out does: the connection's own write of the rest then
    // meets it. Thread-safe; never throws.
    std::size_t write(const std::string& text, std::size_t offset,
                      std::chrono::milliseconds wait) const;

private:
    int descriptor_ = -1;
};

// Returns `response` as it goes on the wire, its header and body; empty if
// it cannot be serialised.
std::string wireText(Response& response);

}  // namespace game501::server
