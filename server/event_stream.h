// A board's event stream: its wire format (server-sent events over HTTP)
// and its fan-out to the board's viewers. Every byte a viewer receives is
// written here.
//
// An event is serialised once, whatever the number of viewers, and shared by
// the queues of all of them (event_queue.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "answers.h"
#include "event_queue.h"

namespace game501::server {

// Returns the head of a board's event stream, the same for GET and HEAD:
// 200, text/event-stream, never cached, and no length (it ends when the
// connection does).
Response eventStreamHead(unsigned version);
// Returns eventStreamHead as HTTP/1.1 text, which opens every stream.
const std::string& eventStreamHeader();
// Returns whether `response` is the head of an event stream.
bool isEventStream(const Response& response);

// Returns the data of the event that opens a viewer's stream, as JSON: the
// board's number, the checkout of the leg, the match document (with its
// figures) and the leg's state document, each given as JSON text.
std::string openingData(int board, const std::string& checkout, const std::string& match,
                        const std::string& state);

// Returns the event that opens a viewer's stream, "state", numbered as the
// board's last durable event: openingData, led by how long the viewer's
// browser waits before it reconnects.
EventText openingEvent(int board, std::uint64_t event_id, const std::string& checkout,
                       const std::string& match, const std::string& state);

// Returns the event of a durable write, "update": the board's number, the
// checkout and match document as after it, the write's operation and its
// response as the answer carried it, each document given as JSON text.
EventText updateEvent(int board, std::uint64_t event_id, const std::string& checkout,
                      const std::string& match, std::string_view operation,
                      const std::string& response);

// Returns the comment that keeps a silent stream open.
const EventText& keepAliveComment();

// The viewers of one board. Not thread-safe: the owner's lock guards it,
// and the events go out after that lock is let go (deliver).
class Viewers {
public:
    // Adds a viewer; forgets those that have gone.
    void add(std::weak_ptr<EventQueue> viewer);
    // Returns the viewers still open, whom the next event is to reach;
    // forgets those that have gone.
    std::vector<std::shared_ptr<EventQueue>> open();

private:
    std::vector<std::weak_ptr<EventQueue>> viewers_;
};

// Hands `event` to every one of `viewers`.
void deliver(const EventText& event, const std::vector<std::shared_ptr<EventQueue>>& viewers);

}  // namespace game501::server
