#include "board_view.h"

#include <algorithm>
#include <utility>

#include "answers.h"

namespace game501::server {

void BoardView::reset(Snapshot snapshot) {
    const MutexLock lock(mutex_);
    current_ = std::move(snapshot);
}

void BoardView::publish(Snapshot snapshot, std::string_view operation,
                        const std::string& response_json) {
    std::vector<std::shared_ptr<EventQueue>> viewers;
    EventText event;
    {
        // The viewers are taken with the change, so that each one that
        // subscribed before it gets its event and none gets it twice.
        const MutexLock lock(mutex_);
        viewers = viewers_.open();
        if (!viewers.empty()) {
            event = updateEvent(number_, snapshot.event_id, snapshot.state,
                                Match501::withFigures(snapshot.standing, snapshot.figures),
                                operation, response_json);
        }
        current_ = std::move(snapshot);
    }
    deliver(event, viewers);
}

Document BoardView::state() const {
    const MutexLock lock(mutex_);
    return Document{serialise(current_.state), current_.event_id};
}

Document BoardView::match() const {
    const MutexLock lock(mutex_);
    Game501::json match = Match501::withFigures(current_.standing, current_.figures);
    match["game"] = current_.state;
    return Document{serialise(match), current_.event_id};
}

Game501::json BoardView::summary() const {
    const MutexLock lock(mutex_);
    // The leg's players stand in its throwing order; the list keeps the
    // match's starting order.
    const Game501::json& order = current_.standing["throwing_order"];
    Game501::json players = Game501::json::array();
    for (const Game501::json& player : current_.standing["players"]) {
        const auto index = static_cast<int>(players.size());
        const auto position = std::find(order.begin(), order.end(), index) - order.begin();
        const Game501::json& in_leg = current_.state["players"][static_cast<std::size_t>(position)];
        players.push_back({{"legs", player["legs"]},
                           {"name", player["name"]},
                           {"score", in_leg["score"]},
                           {"sets", player["sets"]}});
    }
    return {{"board", number_},
            {"format", current_.standing["format"]},
            {"players", std::move(players)},
            {"status", current_.standing["status"]}};
}

Document BoardView::opening() const {
    Game501::json state;
    Game501::json match;
    std::uint64_t event_id = 0;
    {
        const MutexLock lock(mutex_);
        state = current_.state;
        match = Match501::withFigures(current_.standing, current_.figures);
        event_id = current_.event_id;
    }
    return Document{openingData(number_, state, match), event_id};
}

std::optional<LiveMatch> BoardView::liveMatch() const {
    const MutexLock lock(mutex_);
    if (current_.match_start_event == 0) {
        return std::nullopt;
    }
    return LiveMatch{current_.match_start_event, current_.figures.match};
}

EventText BoardView::subscribe(const std::shared_ptr<EventQueue>& viewer) {
    const MutexLock lock(mutex_);
    viewers_.add(viewer);
    return openingEvent(number_, current_.event_id, current_.state,
                        Match501::withFigures(current_.standing, current_.figures));
}

}  // namespace game501::server
