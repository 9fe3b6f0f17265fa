#include "board.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "front_end.h"
#include "tokens.h"

namespace game501_server {

namespace {

std::string eventText(std::uint64_t id, std::string_view kind, const std::string& data) {
    std::string text;
    text.reserve(data.size() + 48);
    text.append("id: ").append(std::to_string(id));
    text.append("\nevent: ").append(kind);
    text.append("\ndata: ").append(data).append("\n\n");
    return text;
}

}  // namespace

Board::Board(int number, std::string token) : number_(number), token_(std::move(token)) {}

bool Board::acceptsToken(std::string_view token) const { return tokensEqual(token, token_); }

Document Board::apply(const Command& command) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Game501::json response;
    switch (command.kind) {
        case Command::Kind::start:
            response = game_.start(command.players);
            break;
        case Command::Kind::dart:
            response = game_.addDart(command.notation, command.source);
            break;
        case Command::Kind::undo:
            response = game_.undo();
            break;
        case Command::Kind::clear:
            response = game_.markBoardClear();
            break;
        case Command::Kind::reset:
            response = game_.reset();
            break;
    }
    std::string response_json = serialise(response);
    ++last_event_id_;
    publishLocked(actionOf(command.kind).operation, response, response_json);
    return Document{std::move(response_json), last_event_id_};
}

Document Board::state() const {
    std::unique_lock<std::mutex> lock(mutex_);
    const Game501::json state = game_.state();
    const std::uint64_t event_id = last_event_id_;
    lock.unlock();
    return Document{serialise(state), event_id};
}

Game501::json Board::summary() const {
    const Game501::json state = game_.state();
    Game501::json players = Game501::json::array();
    for (const Game501::json& player : state["players"]) {
        players.push_back({{"name", player["name"]}, {"score", player["score"]}});
    }
    return {{"board", number_}, {"players", std::move(players)}, {"status", state["status"]}};
}

EventText Board::subscribe(const std::shared_ptr<EventQueue>& viewer) {
    const std::lock_guard<std::mutex> lock(mutex_);
    forgetClosedViewersLocked();
    const Game501::json state = game_.state();
    // The data's members are written in key order, as the engine writes its
    // documents.
    const std::string data = "{\"board\":" + std::to_string(number_) +
                             ",\"checkout\":" + serialise(front_end::checkoutFor(state)) +
                             ",\"state\":" + serialise(state) + "}";
    viewers_.push_back(viewer);
    return std::make_shared<const std::string>("retry: 1000\n" +
                                               eventText(last_event_id_, "state", data));
}

void Board::publishLocked(std::string_view operation, const Game501::json& response,
                          const std::string& response_json) {
    forgetClosedViewersLocked();
    if (viewers_.empty()) {
        return;
    }
    // Serialised once, whatever the number of viewers; the response is
    // embedded as the answer carried it.
    std::string data = "{\"board\":" + std::to_string(number_) +
                       ",\"checkout\":" + serialise(front_end::checkoutFor(response["game"])) +
                       ",\"operation\":\"" + std::string(operation) +
                       "\",\"response\":" + response_json + "}";
    const EventText event =
        std::make_shared<const std::string>(eventText(last_event_id_, "update", data));
    for (const std::weak_ptr<EventQueue>& viewer : viewers_) {
        if (const std::shared_ptr<EventQueue> queue = viewer.lock()) {
            queue->push(event);
        }
    }
}

void Board::forgetClosedViewersLocked() {
    viewers_.erase(std::remove_if(viewers_.begin(), viewers_.end(),
                                  [](const std::weak_ptr<EventQueue>& viewer) {
                                      const std::shared_ptr<EventQueue> queue = viewer.lock();
                                      return !queue || queue->closed();
                                  }),
                   viewers_.end());
}

std::string serialise(const Game501::json& document) {
    return document.dump(-1, ' ', false, Game501::json::error_handler_t::replace);
}

}  // namespace game501_server
