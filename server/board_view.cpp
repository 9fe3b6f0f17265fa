#include "board_view.h"

#include <utility>

#include "answers.h"
#include "checkout_hint.h"
#include "match_501.h"

namespace game501::server {

namespace {

// Returns the sigma of the leg's active player when they are a member with
// an estimate; a computer's seat is no member.
std::optional<double> activeSigma(const Match& match, const MatchFacts& facts,
                                  const Accuracies& accuracies) {
    const Leg& leg = match.leg();
    if (leg.status() != GameStatus::playing) {
        return std::nullopt;
    }
    const auto player = static_cast<std::size_t>(match.player(leg.turn().player));
    if (player >= match.players().size() ||
        (player < facts.levels.size() && facts.levels[player])) {
        return std::nullopt;
    }
    return accuracies.sigmaOf(match.players()[player]);
}

}  // namespace

std::shared_ptr<const Display> Display::of(const Match& match,
                                           std::shared_ptr<const MatchFacts> facts,
                                           const Accuracies& accuracies, const Display* before) {
    const Leg& leg = match.leg();
    std::vector<int> scores(match.players().size());
    for (std::size_t position = 0; position < leg.players().size() && position < scores.size();
         ++position) {
        scores[static_cast<std::size_t>(match.player(static_cast<int>(position)))] =
            leg.players()[position].score;
    }
    const std::optional<double> own_sigma = activeSigma(match, *facts, accuracies);
    return std::make_shared<const Display>(
        Game501::stateText(leg, before ? &before->state_ : nullptr),
        front_end::checkoutSituation(leg), own_sigma, std::move(scores), match.overview(),
        match.figures(), livePoint(match, facts->accuracies), std::move(facts),
        LiveRecord::of(match, before ? before->record_.get() : nullptr));
}

Display::Display(Game501::StateText state, std::optional<front_end::CheckoutSituation> checkout,
                 std::optional<double> own_sigma, std::vector<int> scores, Match::Overview overview,
                 Match::Figures figures, std::optional<MatchPoint> chance_point,
                 std::shared_ptr<const MatchFacts> facts, std::shared_ptr<const LiveRecord> record)
    : state_(std::move(state)),
      checkout_situation_(checkout),
      own_sigma_(own_sigma),
      scores_(std::move(scores)),
      overview_(std::move(overview)),
      figures_(std::move(figures)),
      chance_point_(chance_point),
      facts_(std::move(facts)),
      record_(std::move(record)) {}

Game501::json Display::standingDocument() const {
    Game501::json standing = Match501::withFigures(Match501::standingDocument(overview_), figures_);
    addBoardFacts(standing, *facts_);
    standing["win_chance"] = winChanceJson(
        liveWinChances(chance_point_, overview_.format, facts_->accuracies), facts_->accuracies);
    return standing;
}

const std::string& Display::standing() const {
    std::call_once(standing_made_, [this] { standing_ = serialise(standingDocument()); });
    return standing_;
}

const std::string& Display::match() const {
    std::call_once(match_made_, [this] {
        Game501::json match = standingDocument();
        match["game"] = Game501::json::parse(state_.text);
        match_ = serialise(match);
    });
    return match_;
}

const std::string& Display::checkout() const {
    std::call_once(checkout_made_, [this] {
        Game501::json checkout = front_end::checkoutFor(checkout_situation_);
        if (checkout.is_object()) {
            Game501::json own = nullptr;
            if (own_sigma_) {
                const CheckoutAdvice advice = checkoutAdvice(
                    checkout_situation_->remaining, checkout_situation_->darts_left, *own_sigma_);
                own = {{"chance", front_end::chanceText(advice.probability)},
                       {"probability", advice.probability},
                       {"route", advice.route},
                       {"sigma_mm", *own_sigma_}};
            }
            checkout["own"] = std::move(own);
        }
        checkout_ = serialise(checkout);
    });
    return checkout_;
}

Game501::json Display::summary(int board) const {
    Game501::json players = Game501::json::array();
    for (std::size_t index = 0; index < overview_.players.size(); ++index) {
        players.push_back({{"legs", overview_.standing.legs[index]},
                           {"name", overview_.players[index]},
                           {"score", scores_[index]},
                           {"sets", overview_.standing.sets[index]}});
    }
    return {{"board", board},
            {"format", {{"legs", overview_.format.legs}, {"sets", overview_.format.sets}}},
            {"players", std::move(players)},
            {"status", statusName(overview_.standing.status)}};
}

std::optional<LiveMatch> Display::liveMatch() const {
    if (facts_->start_event == 0) {
        return std::nullopt;
    }
    return LiveMatch{facts_->start_event, figures_.match};
}

void BoardView::restore(Snapshot snapshot) {
    std::vector<std::shared_ptr<EventQueue>> viewers;
    {
        const MutexLock lock(mutex_);
        if (current_.event_id != snapshot.event_id) {
            viewers = viewers_.open();
        }
        std::swap(current_, snapshot);
    }
    for (const std::shared_ptr<EventQueue>& viewer : viewers) {
        viewer->close();
    }
}

Snapshot BoardView::publish(Snapshot snapshot, std::string_view operation,
                            const std::string& response_json) {
    std::vector<std::shared_ptr<EventQueue>> viewers;
    Snapshot now = snapshot;
    {
        // The viewers are taken with the change, so that each one that
        // subscribed before it gets its event and none gets it twice.
        const MutexLock lock(mutex_);
        viewers = viewers_.open();
        std::swap(current_, snapshot);
    }
    if (!viewers.empty()) {
        const Display& display = *now.display;
        deliver(updateEvent(number_, now.event_id, display.checkout(), display.standing(),
                            operation, response_json),
                viewers);
    }
    return snapshot;
}

Snapshot BoardView::current() const {
    const MutexLock lock(mutex_);
    return current_;
}

Document BoardView::state() const {
    const Snapshot now = current();
    // The display's own text, kept alive by the answer while it is sent.
    return Document{SharedText(now.display, &now.display->state()), now.event_id};
}

Document BoardView::match() const {
    const Snapshot now = current();
    return Document{SharedText(now.display, &now.display->match()), now.event_id};
}

Game501::json BoardView::summary() const { return current().display->summary(number_); }

std::optional<LiveMatch> BoardView::liveMatch() const { return current().display->liveMatch(); }

Document BoardView::opening() const {
    const Snapshot now = current();
    const Display& display = *now.display;
    return Document{
        shareText(openingData(number_, display.checkout(), display.standing(), display.state())),
        now.event_id};
}

EventText BoardView::subscribe(const std::shared_ptr<EventQueue>& viewer) {
    Snapshot now;
    {
        const MutexLock lock(mutex_);
        viewers_.add(viewer);
        now = current_;
    }
    const Display& display = *now.display;
    return openingEvent(number_, now.event_id, display.checkout(), display.standing(),
                        display.state());
}

}  // namespace game501::server
