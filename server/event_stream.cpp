#include "event_stream.h"

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/write.hpp>
#include <sstream>

#include "server_limits.h"

namespace game501::server {

namespace {

constexpr std::string_view kContentType = "text/event-stream";

std::string eventText(std::uint64_t id, std::string_view kind, const std::string& data) {
    std::string text;
    text.reserve(data.size() + 48);
    text.append("id: ").append(std::to_string(id));
    text.append("\nevent: ").append(kind);
    text.append("\ndata: ").append(data).append("\n\n");
    return text;
}

// The members every event's data begins with, in key order, as the engine
// writes its documents.
std::string boardMembers(int board, const std::string& checkout, const std::string& match) {
    return "{\"board\":" + std::to_string(board) + ",\"checkout\":" + checkout +
           ",\"match\":" + match;
}

}  // namespace

Response eventStreamHead(unsigned version) {
    Response response{http::status::ok, version};
    response.set(http::field::content_type, kContentType);
    response.set(http::field::cache_control, "no-store");
    return response;
}

const std::string& eventStreamHeader() {
    static const std::string header = [] {
        std::ostringstream text;
        text << eventStreamHead(11).base();
        return text.str();
    }();
    return header;
}

bool isEventStream(const Response& response) {
    return response[http::field::content_type] == kContentType;
}

std::string openingData(int board, const std::string& checkout, const std::string& match,
                        const std::string& state) {
    return boardMembers(board, checkout, match) + ",\"state\":" + state + "}";
}

EventText openingEvent(int board, std::uint64_t event_id, const std::string& checkout,
                       const std::string& match, const std::string& state) {
    const std::string data = openingData(board, checkout, match, state);
    return std::make_shared<const std::string>(
        "retry: " + std::to_string(kViewerReconnect.count()) + "\n" +
        eventText(event_id, "state", data));
}

EventText updateEvent(int board, std::uint64_t event_id, const std::string& checkout,
                      const std::string& match, std::string_view operation,
                      const std::string& response) {
    const std::string data = boardMembers(board, checkout, match) + ",\"operation\":\"" +
                             std::string(operation) + "\",\"response\":" + response + "}";
    return std::make_shared<const std::string>(eventText(event_id, "update", data));
}

const EventText& keepAliveComment() {
    static const EventText comment = std::make_shared<const std::string>(": keep-alive\n\n");
    return comment;
}

void Viewers::add(std::weak_ptr<EventQueue> viewer) {
    open();
    viewers_.push_back(std::move(viewer));
}

std::vector<std::shared_ptr<EventQueue>> Viewers::open() {
    std::vector<std::shared_ptr<EventQueue>> open;
    open.reserve(viewers_.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < viewers_.size(); ++i) {
        std::shared_ptr<EventQueue> queue = viewers_[i].lock();
        if (queue && !queue->closed()) {
            if (kept != i) {
                viewers_[kept] = std::move(viewers_[i]);
            }
            ++kept;
            open.push_back(std::move(queue));
        }
    }
    viewers_.resize(kept);
    return open;
}

void deliver(const EventText& event, const std::vector<std::shared_ptr<EventQueue>>& viewers) {
    for (const std::shared_ptr<EventQueue>& viewer : viewers) {
        viewer->push(event);
    }
}

}  // namespace game501::server
