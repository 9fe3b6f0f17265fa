#include "competitions.h"

#include <algorithm>
#include <iostream>
#include <set>
#include <utility>

#include "answers.h"
#include "parsing.h"
#include "server_limits.h"

namespace game501::server {

namespace {

using json = Game501::json;
namespace cm = competition;

// The result of the board's match as it ended: the winner, legs over the
// whole match, sets (none for a format of one set), its id in the archive
// and each player's counts.
cm::Result resultOf(const Settled& settled) {
    const Match::Overview& overview = settled.display->overview();
    cm::Result result;
    result.winner = overview.standing.winner;
    for (const Match::FinishedLeg& leg : overview.finished_legs) {
        if (leg.winner == 0 || leg.winner == 1) {
            ++result.legs[static_cast<std::size_t>(leg.winner)];
        }
    }
    if (overview.format.sets > 1 && overview.standing.sets.size() == 2) {
        result.sets = {overview.standing.sets[0], overview.standing.sets[1]};
    }
    result.archive_match = matchId(settled.board, settled.display->facts().start_event);
    result.counts = settled.display->figures().match;
    return result;
}

// Spreads the computers' seeds of one draw's matches apart.
constexpr std::uint64_t kCallSeedStep = 1000003;

bool onBoard(const Settled& settled, int competition, int match) {
    const MatchFacts& facts = settled.display->facts();
    return facts.competition == competition && facts.competition_match == match;
}

// Whether the board's match, which gave `recorded`, ended otherwise since.
bool changedOnBoard(const cm::Result& recorded, const Settled& settled) {
    const cm::Result now = resultOf(settled);
    return recorded.archive_match == now.archive_match &&
           (recorded.winner != now.winner || recorded.legs != now.legs ||
            recorded.sets != now.sets);
}

EventText competitionEvent(std::uint64_t number, const std::string& document, bool opening) {
    std::string text = opening ? "retry: " + std::to_string(kViewerReconnect.count()) + "\n" : "";
    text += "id: " + std::to_string(number) + "\nevent: competition\ndata: " + document + "\n\n";
    return std::make_shared<const std::string>(std::move(text));
}

}  // namespace

Competitions::Competitions(Journal& journal, Boards& boards) : journal_(journal), boards_(boards) {
    const MutexLock lock(mutex_);
    boards_now_.resize(boards_.size());
    calling_.resize(boards_.size());
    refused_at_.resize(boards_.size());
}

void Competitions::restore() {
    const MutexLock lock(mutex_);
    for (const competitions::Stored& stored : journal_.competitions()) {
        std::string problem;
        const std::optional<cm::Settings> settings =
            cm::settingsFromJson(json::parse(stored.settings, nullptr, false), problem);
        CompetitionFacts facts{stored.id, stored.name, {}, {}};
        if (!settings || !readNight(json::parse(stored.night, nullptr, false), facts)) {
            throw std::runtime_error("tävling " + std::to_string(stored.id) +
                                     " kan inte läsas: " + problem);
        }
        std::vector<cm::Event> events;
        for (const std::string& text : stored.events) {
            std::optional<cm::Event> event =
                cm::eventFromJson(json::parse(text, nullptr, false), problem);
            if (!event) {
                throw std::runtime_error("tävling " + std::to_string(stored.id) +
                                         " kan inte läsas: " + problem);
            }
            events.push_back(std::move(*event));
        }
        std::optional<cm::Competition> competition =
            cm::Competition::replay(*settings, events, problem);
        if (!competition) {
            throw std::runtime_error("tävling " + std::to_string(stored.id) +
                                     " kan inte spelas upp: " + problem);
        }
        Entry& entry =
            entries_
                .insert_or_assign(
                    stored.id,
                    Entry{
                        std::move(facts), std::move(*competition), nullptr, events.size() + 1, {}})
                .first->second;
        entry.document = documentOf(entry);
        next_id_ = std::max(next_id_, stored.id + 1);
    }
}

void Competitions::start() {
    for (const std::unique_ptr<Board>& board : boards_) {
        board->onSettled([this](const Settled& settled) { this->settled(settled); });
    }
    Calls calls;
    {
        const MutexLock lock(mutex_);
        for (std::size_t index = 0; index < boards_.size(); ++index) {
            boards_now_[index] = boards_[index]->settled();
        }
        for (const Settled& settled : boards_now_) {
            followLocked(settled);
        }
        callFreeLocked(calls);
    }
    issue(std::move(calls));
}

std::string Competitions::list() const {
    // Taken under the lock, read outside it: a read never delays the night.
    std::vector<std::shared_ptr<const std::string>> documents;
    {
        const MutexLock lock(mutex_);
        for (const auto& [id, entry] : entries_) {
            if (entry.document != nullptr) {  // null: not yet durable
                documents.push_back(entry.document);
            }
        }
    }
    json list = json::array();
    for (const std::shared_ptr<const std::string>& text : documents) {
        const json document = json::parse(*text);
        json summary;
        for (const char* key : {"boards", "format", "id", "name", "status", "winner"}) {
            summary[key] = document.at(key);
        }
        list.push_back(std::move(summary));
    }
    return serialise({{"competitions", std::move(list)}});
}

std::optional<std::string> Competitions::document(int id) const {
    std::shared_ptr<const std::string> document;
    {
        const MutexLock lock(mutex_);
        const auto found = entries_.find(id);
        if (found == entries_.end()) {
            return std::nullopt;
        }
        document = found->second.document;
    }
    return *document;
}

EventText Competitions::subscribe(int id, const std::shared_ptr<EventQueue>& viewer) {
    const MutexLock lock(mutex_);
    const auto found = entries_.find(id);
    if (found == entries_.end()) {
        return nullptr;
    }
    found->second.viewers.add(viewer);
    return competitionEvent(found->second.published, *found->second.document, true);
}

void Competitions::create(CompetitionFacts facts, const cm::Settings& settings, Done done) {
    std::string problem;
    std::optional<cm::Competition> competition = cm::Competition::create(settings, problem);
    if (!competition) {
        return done(CompetitionResult{CompetitionResult::Outcome::refused, problem, ""});
    }
    Calls calls;
    {
        const MutexLock lock(mutex_);
        if (entries_.size() >= kMaxCompetitions) {
            return done(CompetitionResult{
                CompetitionResult::Outcome::refused,
                "Servern har redan " + std::to_string(kMaxCompetitions) + " tävlingar", ""});
        }
        facts.id = next_id_++;
        const int id = facts.id;
        Entry& entry =
            entries_.emplace(id, Entry{std::move(facts), std::move(*competition), nullptr, 0, {}})
                .first->second;
        std::shared_ptr<const std::string> document = documentOf(entry);
        append(id,
               competitions::Row{id, 0, entry.facts.name, toJson(settings).dump(),
                                 nightJson(entry.facts).dump(), ""},
               document, std::move(done));
        callFreeLocked(calls);
    }
    issue(std::move(calls));
}

void Competitions::change(int id, const cm::Event& event, Done done) {
    Calls calls;
    {
        const MutexLock lock(mutex_);
        const auto found = entries_.find(id);
        if (found == entries_.end() || found->second.document == nullptr) {
            return done(CompetitionResult{CompetitionResult::Outcome::not_found,
                                          "Tävlingen finns inte", ""});
        }
        const cm::Answer answer = changeLocked(found->second, event, done);
        if (!answer.accepted) {
            return done(CompetitionResult{CompetitionResult::Outcome::refused, answer.message, ""});
        }
        callFreeLocked(calls);
    }
    issue(std::move(calls));
}

cm::Answer Competitions::changeLocked(Entry& entry, const cm::Event& event, Done done) {
    cm::Answer answer = entry.competition.apply(event);
    if (!answer.accepted) {
        return answer;
    }
    ++changes_;
    const std::vector<cm::Event>& events = entry.competition.events();
    append(entry.facts.id,
           competitions::Row{entry.facts.id, events.size(), "", "", "",
                             cm::toJson(events.back()).dump()},
           documentOf(entry), std::move(done));
    return answer;
}

void Competitions::append(int id, competitions::Row row,
                          std::shared_ptr<const std::string> document, Done done) {
    const std::uint64_t number = row.number + 1;
    journal_.appendCompetition(std::move(row), [this, id, number, document = std::move(document),
                                                done = std::move(done)](Journal::Written written) {
        // A row whose commit may or may not have held is read back as
        // the journal has it, as for one not written.
        durable(id, number, document, written == Journal::Written::durable, done);
    });
}

void Competitions::durable(int id, std::uint64_t number,
                           std::shared_ptr<const std::string> document, bool written,
                           const Done& done) {
    std::vector<std::shared_ptr<EventQueue>> viewers;
    Calls calls;
    {
        const MutexLock lock(mutex_);
        if (written) {
            const auto found = entries_.find(id);
            if (found != entries_.end()) {
                found->second.document = document;
                found->second.published = number;
                viewers = found->second.viewers.open();
            }
        } else {
            reloadLocked(id);
        }
        callFreeLocked(calls);
    }
    if (written) {
        deliver(competitionEvent(number, *document, false), viewers);
    }
    issue(std::move(calls));
    if (done) {
        done(written ? CompetitionResult{CompetitionResult::Outcome::applied, "", *document}
                     : CompetitionResult{CompetitionResult::Outcome::storage_unavailable, "", ""});
    }
}

void Competitions::reloadLocked(int id) {
    const auto found = entries_.find(id);
    if (found == entries_.end()) {
        return;
    }
    try {
        for (const competitions::Stored& stored : journal_.competitions()) {
            if (stored.id != id) {
                continue;
            }
            std::string problem;
            std::vector<cm::Event> events;
            for (const std::string& text : stored.events) {
                events.push_back(*cm::eventFromJson(json::parse(text), problem));
            }
            std::optional<cm::Competition> competition =
                cm::Competition::replay(found->second.competition.settings(), events, problem);
            if (competition) {
                found->second.competition = std::move(*competition);
            }
            return;
        }
        // Never made durable: it is no competition.
        entries_.erase(found);
    } catch (const std::exception& error) {
        std::cerr << "game-501-server: tävling " << id << " kan inte läsas om: " << error.what()
                  << "\n";
    }
}

void Competitions::settled(const Settled& settled) {
    Calls calls;
    {
        const MutexLock lock(mutex_);
        const auto index = static_cast<std::size_t>(settled.board - 1);
        const bool was_free = boards_now_[index].free;
        boards_now_[index] = settled;
        std::optional<Calling>& calling = calling_[index];
        if (calling && (calling->event_id == 0 || settled.event_id < calling->event_id)) {
            return;  // the board has yet to answer our start, or to show it
        }
        const bool answered = calling.has_value();
        calling.reset();
        // Most events are darts that change no competition and free no board.
        if (followLocked(settled) || answered || (settled.free && !was_free)) {
            callFreeLocked(calls);
        }
    }
    issue(std::move(calls));
}

bool Competitions::followLocked(const Settled& settled) {
    const GameStatus status = settled.display->overview().standing.status;
    const std::size_t events = changes_;
    for (auto& [id, entry] : entries_) {
        if (entry.competition.finished()) {
            continue;
        }
        // By index: each change works the matches out again.
        for (std::size_t index = 0; index < entry.competition.matches().size(); ++index) {
            const cm::Match& match = entry.competition.matches()[index];
            const int match_id = match.id;
            const bool tagged = onBoard(settled, id, match_id);
            if (match.status == cm::Status::Playing && match.board == settled.board) {
                if (!tagged) {
                    changeLocked(entry, cm::Event{cm::Event::Kind::Requeue, {}, match_id, 0, {}},
                                 nullptr);
                } else if (status == GameStatus::finished) {
                    changeLocked(
                        entry,
                        cm::Event{cm::Event::Kind::Record, {}, match_id, 0, resultOf(settled)},
                        nullptr);
                }
            } else if (tagged && match.status == cm::Status::Finished &&
                       status == GameStatus::finished && changedOnBoard(*match.result, settled)) {
                // The board took back the winning dart and the match ended
                // anew: a correction, refused once a later match has begun.
                changeLocked(entry,
                             cm::Event{cm::Event::Kind::Record, {}, match_id, 0, resultOf(settled)},
                             nullptr);
            } else if (tagged && match.status == cm::Status::Waiting &&
                       status != GameStatus::idle) {
                // Its begin was lost: the board plays it all the same.
                const bool begun =
                    changeLocked(entry,
                                 cm::Event{cm::Event::Kind::Begin, {}, match_id, settled.board, {}},
                                 nullptr)
                        .accepted;
                if (begun && status == GameStatus::finished) {
                    changeLocked(
                        entry,
                        cm::Event{cm::Event::Kind::Record, {}, match_id, 0, resultOf(settled)},
                        nullptr);
                }
            }
        }
    }
    return changes_ != events;
}

void Competitions::callFreeLocked(Calls& calls) {
    for (std::size_t index = 0; index < boards_now_.size(); ++index) {
        const Settled& now = boards_now_[index];
        if (!calling_[index] && now.display && now.free && now.event_id != refused_at_[index]) {
            callLocked(index, calls);
        }
    }
}

bool Competitions::callLocked(std::size_t index, Calls& calls) {
    const int board = static_cast<int>(index) + 1;
    const bool pooled = std::any_of(entries_.begin(), entries_.end(), [board](const auto& item) {
        const std::vector<int>& pool = item.second.facts.boards;
        return item.second.document != nullptr && !item.second.competition.finished() &&
               std::find(pool.begin(), pool.end(), board) != pool.end();
    });
    if (!pooled) {
        return false;
    }
    // Who plays now: on a board, or called to one.
    std::set<std::string> busy;
    for (const Settled& other : boards_now_) {
        if (other.display && other.board != board && !other.free) {
            for (const std::string& name : other.display->overview().players) {
                busy.insert(name);
            }
        }
    }
    for (auto& [id, entry] : entries_) {
        const std::vector<std::string>& names = entry.competition.settings().players;
        for (const cm::Match& match : entry.competition.matches()) {
            if (match.status == cm::Status::Playing) {
                for (const std::optional<int>& player : match.players) {
                    busy.insert(names[static_cast<std::size_t>(*player)]);
                }
            }
        }
    }
    for (auto& [id, entry] : entries_) {
        const std::vector<int>& pool = entry.facts.boards;
        if (entry.document == nullptr || std::find(pool.begin(), pool.end(), board) == pool.end()) {
            continue;
        }
        const cm::Settings& settings = entry.competition.settings();
        for (const int ready : entry.competition.ready()) {
            const cm::Match& match =
                entry.competition.matches()[static_cast<std::size_t>(ready - 1)];
            Command start;
            start.kind = Command::Kind::start;
            bool free_players = true;
            for (const std::optional<int>& player : match.players) {
                const auto seat = static_cast<std::size_t>(*player);
                free_players = free_players && busy.count(settings.players[seat]) == 0;
                start.players.push_back(settings.players[seat]);
                start.computers.push_back(seat < entry.facts.computers.size()
                                              ? entry.facts.computers[seat]
                                              : std::string());
            }
            if (!free_players) {
                continue;
            }
            if (std::all_of(start.computers.begin(), start.computers.end(),
                            [](const std::string& level) { return level.empty(); })) {
                start.computers.clear();
            }
            // The same darts for the same draw: a computer's seed of the match's own.
            start.seed = settings.seed * kCallSeedStep + static_cast<std::uint64_t>(ready);
            start.legs = match.format.legs;
            start.sets = match.format.sets;
            start.competition = id;
            start.competition_match = ready;
            if (!changeLocked(entry, cm::Event{cm::Event::Kind::Begin, {}, ready, board, {}},
                              nullptr)
                     .accepted) {
                continue;
            }
            calling_[index] = Calling{id, ready, 0};
            calls.push_back(Call{
                index, id, ready,
                Write{std::move(start), "", Precondition{false, {boards_now_[index].event_id}}}});
            return true;
        }
    }
    return false;
}

void Competitions::issue(Calls calls) {
    for (Call& call : calls) {
        Write write = std::move(call.write);
        boards_[call.board]->apply(
            std::move(write), [this, call](const WriteResult& result) { called(call, result); });
    }
}

void Competitions::called(const Call& call, const WriteResult& result) {
    Calls calls;
    {
        const MutexLock lock(mutex_);
        std::optional<Calling>& calling = calling_[call.board];
        if (!calling || calling->competition != call.competition || calling->match != call.match) {
            return;
        }
        if (result.outcome == WriteResult::Outcome::applied) {
            // Its settled event follows. A start the engine refused leaves the
            // board aside until it changes, rather than be tried again.
            calling->event_id = result.document.event_id;
            if (result.document.json->rfind("{\"accepted\":false", 0) == 0) {
                refused_at_[call.board] = result.document.event_id;
                std::cerr << "game-501-server: tavla " << call.board + 1
                          << " nekade tävlingens start: " << *result.document.json << "\n";
            }
            return;
        }
        // The board moved on before the start reached it, or the journal
        // failed: the match waits again, and the board is looked at as it is.
        calling.reset();
        followLocked(boards_now_[call.board]);
        if (result.outcome != WriteResult::Outcome::storage_unavailable) {
            callFreeLocked(calls);
        }
    }
    issue(std::move(calls));
}

std::shared_ptr<const std::string> Competitions::documentOf(const Entry& entry) const {
    return std::make_shared<const std::string>(
        serialise(competitionDocument(entry.facts, entry.competition)));
}

}  // namespace game501::server
