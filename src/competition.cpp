// The draw of a competition, its matches and the changes to them.
#include "competition.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <utility>

namespace game501::competition {
namespace {

// Returns an index from 0 to count - 1, each equally likely. Values below
// 2^64 mod count are drawn again so that the rest divide evenly; unlike
// std::uniform_int_distribution this gives the same index with every
// standard library.
std::size_t drawIndex(std::mt19937_64& engine, std::uint64_t count) {
    const std::uint64_t skip = (0 - count) % count;
    for (;;) {
        const std::uint64_t value = engine();
        if (value >= skip) {
            return static_cast<std::size_t>(value % count);
        }
    }
}

// Fisher-Yates, from the last element down.
void shuffle(std::vector<int>& items, std::mt19937_64& engine) {
    for (std::size_t i = items.size(); i > 1; --i) {
        std::swap(items[i - 1], items[drawIndex(engine, i)]);
    }
}

// Returns the seeds of a bracket of `size` lines from the top: each pair of
// the first round holds seeds that add up to size + 1, and every half the
// seeds of the order of half the size, so 1 and 2 meet only in the final:
// 1, 16, 8, 9, 4, 13, 5, 12, 2, 15, 7, 10, 3, 14, 6, 11 for 16.
std::vector<int> seedingOrder(std::size_t size) {
    std::vector<int> order = {1};
    while (order.size() < size) {
        const int lines = static_cast<int>(order.size() * 2);
        std::vector<int> next;
        for (const int seed : order) {
            next.push_back(seed);
            next.push_back(lines + 1 - seed);
        }
        order = std::move(next);
    }
    return order;
}

// Returns the seeds of the knockout after groups: each group's winner in
// group order, then each place in turn. A place's row meets its mirror row
// (places 1 and K, 2 and K-1, ...) in a full bracket; the later of the two
// lists each group's partner (A-B, C-D, ...) from the back, so that A1 meets
// B2, B1 meets A2, C1 meets D2.
std::vector<Source> crossedSeeds(int groups, int advance) {
    const auto partner = [groups](int group) { return (group ^ 1) < groups ? group ^ 1 : group; };
    std::vector<Source> seeds;
    for (int row = 0; row < advance; ++row) {
        for (int i = 0; i < groups; ++i) {
            const int group = row > advance - 1 - row ? partner(groups - 1 - i) : i;
            Source source;
            source.kind = Source::Kind::Place;
            source.group = group;
            source.place = row + 1;
            seeds.push_back(source);
        }
    }
    return seeds;
}

Source playerSource(int player) {
    Source source;
    source.kind = Source::Kind::Player;
    source.player = player;
    return source;
}

Source winnerSource(int match) {
    Source source;
    source.kind = Source::Kind::Winner;
    source.match = match;
    return source;
}

bool decided(const Match& match) { return match.result.has_value(); }

bool formatInRange(const Match501::Format& format) {
    return format.legs >= Match501::kMinLegs && format.legs <= Match501::kMaxLegs &&
           format.sets >= Match501::kMinSets && format.sets <= Match501::kMaxSets;
}

std::string formatText(const Match501::Format& format) {
    const std::string legs = "först till " + std::to_string(format.legs) + " leg";
    return format.sets == 1
               ? legs
               : "först till " + std::to_string(format.sets) + " set, varje set " + legs;
}

std::string matchText(int match) { return "Match " + std::to_string(match); }

Answer refused(std::string message) { return {false, std::move(message)}; }

// The most darts, and points, one player's counts may hold in a match: far
// more than any match has, and small enough that a table's averages of up
// to 127 matches compare without overflow.
constexpr std::int64_t kMaxCount = 1'000'000;

}  // namespace

std::string check(const Settings& settings) {
    const int count = static_cast<int>(settings.players.size());
    if (count < kMinPlayers || count > kMaxPlayers) {
        return "En tävling har " + std::to_string(kMinPlayers) + " till " +
               std::to_string(kMaxPlayers) + " spelare.";
    }
    std::set<std::string> names;
    for (const std::string& player : settings.players) {
        if (player.empty()) {
            return "Varje spelare behöver ett namn.";
        }
        if (!names.insert(player).second) {
            return player + " står två gånger bland spelarna.";
        }
    }
    if (settings.format != Format::Knockout &&
        (settings.groups < 1 || settings.groups > count / 2)) {
        return "Antalet grupper ska vara 1 till " + std::to_string(count / 2) +
               ", så att varje grupp får minst två spelare.";
    }
    if (settings.format == Format::GroupsKnockout) {
        const int smallest = count / settings.groups;
        if (settings.advance < 1 || settings.advance > smallest ||
            settings.groups * settings.advance < 2) {
            return "Från varje grupp går 1 till " + std::to_string(smallest) +
                   " spelare vidare, minst två sammanlagt.";
        }
    }
    if (settings.league && settings.format != Format::RoundRobin) {
        return "Bara en tävling där alla möter alla kan spelas som liga.";
    }
    if (!formatInRange(settings.group_match) || !formatInRange(settings.knockout_match) ||
        (settings.final_match && !formatInRange(*settings.final_match))) {
        return "En match spelas först till " + std::to_string(Match501::kMinLegs) + "–" +
               std::to_string(Match501::kMaxLegs) + " leg och i " +
               std::to_string(Match501::kMinSets) + "–" + std::to_string(Match501::kMaxSets) +
               " set.";
    }
    for (const int points : {settings.points.win, settings.points.loss, settings.points.leg}) {
        if (points < 0 || points > kMaxPoints) {
            return "Poängen för vinst, förlust och leg ska vara 0 till " +
                   std::to_string(kMaxPoints) + ".";
        }
    }
    const std::set<Tiebreaker> tiebreakers(settings.tiebreakers.begin(),
                                           settings.tiebreakers.end());
    if (tiebreakers.size() != settings.tiebreakers.size()) {
        return "Varje särskiljning får stå en gång.";
    }
    return "";
}

std::optional<Competition> Competition::create(const Settings& settings, std::string& problem) {
    problem = check(settings);
    if (!problem.empty()) {
        return std::nullopt;
    }
    Competition competition(settings);
    // Reserves room for every match, so that a draw allocates them once.
    std::size_t matches = 0;
    if (settings.format != Format::Knockout) {
        const std::size_t players = settings.players.size();
        const auto groups = static_cast<std::size_t>(settings.groups);
        for (std::size_t group = 0; group < groups; ++group) {
            const std::size_t size = players / groups + (group < players % groups ? 1 : 0);
            matches += size * (size - 1) / 2;
        }
    }
    matches += settings.format == Format::Knockout ? settings.players.size() - 1
               : settings.format == Format::GroupsKnockout
                   ? static_cast<std::size_t>(settings.groups * settings.advance) - 1
                   : 0;
    competition.matches_.reserve(matches);
    std::vector<int>& draw = competition.draw_;
    draw.resize(settings.players.size());
    std::iota(draw.begin(), draw.end(), 0);
    if (!settings.seeded) {
        std::mt19937_64 engine(settings.seed);
        shuffle(draw, engine);
    }
    if (settings.format != Format::Knockout) {
        competition.drawGroups(draw);
    }
    if (settings.format == Format::Knockout) {
        std::vector<Source> seeds;
        for (const int player : draw) {
            seeds.push_back(playerSource(player));
        }
        competition.drawKnockout(seeds);
    } else if (settings.format == Format::GroupsKnockout) {
        competition.drawKnockout(crossedSeeds(settings.groups, settings.advance));
    }

    competition.dependents_.resize(competition.matches_.size());
    for (const Match& match : competition.matches_) {
        for (const Source& source : match.sources) {
            if (source.kind == Source::Kind::Winner) {
                competition.dependents_[static_cast<std::size_t>(source.match - 1)].push_back(
                    match.id);
            } else if (source.kind == Source::Kind::Place) {
                for (const int id :
                     competition.group_matches_[static_cast<std::size_t>(source.group)]) {
                    competition.dependents_[static_cast<std::size_t>(id - 1)].push_back(match.id);
                }
            }
        }
    }
    for (std::size_t group = 0; group < competition.groups_.size(); ++group) {
        competition.tables_.push_back({static_cast<int>(group), false, {}});
    }
    for (std::size_t group = 0; group < competition.groups_.size(); ++group) {
        competition.refresh(static_cast<int>(group));
    }
    competition.refresh(-1);
    return competition;
}

std::optional<Competition> Competition::replay(const Settings& settings,
                                               const std::vector<Event>& events,
                                               std::string& problem) {
    std::optional<Competition> competition = create(settings, problem);
    for (std::size_t i = 0; competition && i < events.size(); ++i) {
        const Answer answer = competition->apply(events[i]);
        if (!answer.accepted) {
            problem = "event " + std::to_string(i + 1) + ": " + answer.message;
            competition.reset();
        }
    }
    return competition;
}

// Deals the drawn players into groups like cards, the direction turning at
// each end (A B C C B A A ...), so that seeded groups are of equal strength,
// and schedules each group by the circle method.
void Competition::drawGroups(std::vector<int> order) {
    const std::size_t count = static_cast<std::size_t>(settings_.groups);
    groups_.resize(count);
    group_matches_.resize(count);
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::size_t turn = i / count;
        const std::size_t at = i % count;
        groups_[turn % 2 == 0 ? at : count - 1 - at].push_back(order[i]);
    }
    // The circle method: one player stays, the others turn one place a
    // round; -1 is the bye of an odd group.
    std::vector<std::vector<int>> circles = groups_;
    std::size_t most = 0;
    for (std::vector<int>& circle : circles) {
        if (circle.size() % 2 == 1) {
            circle.push_back(-1);
        }
        most = std::max(most, circle.size() - 1);
    }
    for (std::size_t round = 0; round < most; ++round) {
        for (std::size_t group = 0; group < count; ++group) {
            const std::vector<int>& circle = circles[group];
            const std::size_t size = circle.size();
            if (round + 1 >= size) {
                continue;
            }
            // After `round` turns, place i > 0 holds who began at place
            // 1 + (i - 1 - round) mod (size - 1).
            const auto at = [&](std::size_t place) {
                return place == 0
                           ? circle[0]
                           : circle[1 + (place - 1 + (size - 1) * round - round) % (size - 1)];
            };
            for (std::size_t i = 0; i < size / 2; ++i) {
                std::array<int, 2> pair = {at(i), at(size - 1 - i)};
                if (pair[0] < 0 || pair[1] < 0) {
                    continue;
                }
                // The staying player is named first and second in turn.
                if (i == 0 && round % 2 == 1) {
                    std::swap(pair[0], pair[1]);
                }
                const Match& match =
                    addMatch(Stage::Group, static_cast<int>(group), static_cast<int>(round) + 1,
                             {playerSource(pair[0]), playerSource(pair[1])});
                group_matches_[group].push_back(match.id);
            }
        }
    }
    open_.assign(most, !settings_.league);
}

void Competition::drawKnockout(const std::vector<Source>& seeds) {
    std::size_t lines = 1;
    while (lines < seeds.size()) {
        lines *= 2;
    }
    int last_round = 0;
    for (std::size_t size = lines; size > 1; size /= 2) {
        ++last_round;
    }
    const std::vector<int> order = seedingOrder(lines);
    const auto seedSource = [&](int seed) {
        return static_cast<std::size_t>(seed) <= seeds.size()
                   ? seeds[static_cast<std::size_t>(seed - 1)]
                   : Source{};
    };
    // What goes on from each pair of the round before: a winner, or the
    // player of a bye.
    std::vector<Source> going_on;
    bracket_.emplace_back();
    for (std::size_t i = 0; i < lines; i += 2) {
        Pairing pairing;
        pairing.sources = {seedSource(order[i]), seedSource(order[i + 1])};
        if (pairing.sources[1].kind == Source::Kind::Bye) {
            going_on.push_back(pairing.sources[0]);
        } else {
            pairing.match = addMatch(Stage::Knockout, -1, 1, pairing.sources).id;
            going_on.push_back(winnerSource(pairing.match));
        }
        bracket_.back().push_back(pairing);
    }
    for (int round = 2; round <= last_round; ++round) {
        std::vector<Source> next;
        bracket_.emplace_back();
        for (std::size_t i = 0; i < going_on.size(); i += 2) {
            Pairing pairing;
            pairing.sources = {going_on[i], going_on[i + 1]};
            pairing.match = addMatch(Stage::Knockout, -1, round, pairing.sources).id;
            next.push_back(winnerSource(pairing.match));
            bracket_.back().push_back(pairing);
        }
        going_on = std::move(next);
    }
    if (settings_.final_match) {
        matches_.back().format = *settings_.final_match;
    }
}

Match& Competition::addMatch(Stage stage, int group, int round, std::array<Source, 2> sources) {
    Match match;
    match.id = static_cast<int>(matches_.size()) + 1;
    match.stage = stage;
    match.group = group;
    match.round = round;
    match.format = stage == Stage::Group ? settings_.group_match : settings_.knockout_match;
    match.sources = sources;
    if (stage == Stage::Group) {
        match.players = {sources[0].player, sources[1].player};
    }
    matches_.push_back(match);
    return matches_.back();
}

const Match* Competition::find(int match) const {
    return match >= 1 && match <= static_cast<int>(matches_.size())
               ? &matches_[static_cast<std::size_t>(match - 1)]
               : nullptr;
}

std::optional<int> Competition::resolve(const Source& source) const {
    switch (source.kind) {
        case Source::Kind::Bye:
            return std::nullopt;
        case Source::Kind::Player:
            return source.player;
        case Source::Kind::Winner: {
            const Match& match = *find(source.match);
            return match.result ? match.players[static_cast<std::size_t>(match.result->winner)]
                                : std::nullopt;
        }
        case Source::Kind::Place: {
            const Table& table = tables_[static_cast<std::size_t>(source.group)];
            return table.complete
                       ? std::optional<int>(
                             table.rows[static_cast<std::size_t>(source.place - 1)].player)
                       : std::nullopt;
        }
    }
    return std::nullopt;
}

void Competition::refresh(int group) {
    if (group >= 0) {
        const auto at = static_cast<std::size_t>(group);
        std::vector<const Match*> played;
        bool complete = true;
        for (const int id : group_matches_[at]) {
            played.push_back(find(id));
            complete = complete && decided(*played.back());
        }
        tables_[at].rows = rank(groups_[at], played, settings_.points, settings_.tiebreakers);
        tables_[at].complete = complete;
    }
    // A group match's players are known from the draw on.
    for (Match& match : matches_) {
        if (match.stage == Stage::Knockout) {
            match.players = {resolve(match.sources[0]), resolve(match.sources[1])};
        }
    }
    for (std::vector<Pairing>& round : bracket_) {
        for (Pairing& pairing : round) {
            pairing.players = pairing.match > 0 ? find(pairing.match)->players
                                                : std::array<std::optional<int>, 2>{
                                                      resolve(pairing.sources[0]), std::nullopt};
        }
    }
}

bool Competition::roundOpen(int round) const {
    return round >= 1 && round <= rounds() && open_[static_cast<std::size_t>(round - 1)];
}

std::vector<int> Competition::ready() const {
    std::vector<bool> busy(settings_.players.size(), false);
    for (const Match& match : matches_) {
        if (match.status == Status::Playing) {
            busy[static_cast<std::size_t>(*match.players[0])] = true;
            busy[static_cast<std::size_t>(*match.players[1])] = true;
        }
    }
    std::vector<int> ids;
    for (const Match& match : matches_) {
        if (match.status == Status::Waiting && match.players[0] && match.players[1] &&
            !busy[static_cast<std::size_t>(*match.players[0])] &&
            !busy[static_cast<std::size_t>(*match.players[1])] &&
            (match.stage == Stage::Knockout || roundOpen(match.round))) {
            ids.push_back(match.id);
        }
    }
    return ids;
}

std::vector<int> Competition::orderOfPlay() const {
    std::vector<int> ids;
    for (const Match& match : matches_) {
        if (match.status == Status::Waiting) {
            ids.push_back(match.id);
        }
    }
    return ids;
}

bool Competition::finished() const {
    return std::all_of(matches_.begin(), matches_.end(), decided);
}

std::optional<int> Competition::winner() const {
    if (!bracket_.empty()) {
        const Match& final = matches_.back();
        return final.result ? final.players[static_cast<std::size_t>(final.result->winner)]
                            : std::nullopt;
    }
    if (tables_.size() == 1 && tables_[0].complete) {
        return tables_[0].rows[0].player;
    }
    return std::nullopt;
}

Answer Competition::apply(const Event& event) {
    switch (event.kind) {
        case Event::Kind::OpenRounds:
            return openRounds(event.rounds);
        case Event::Kind::Begin:
            return begin(event.match, event.board);
        case Event::Kind::Requeue:
            return requeue(event.match);
        case Event::Kind::Record:
            return record(event.match, event.result);
    }
    return refused("Okänd händelse.");
}

Answer Competition::openRounds(const std::vector<int>& rounds) {
    if (!settings_.league) {
        return refused("Tävlingen är ingen liga.");
    }
    for (const int round : rounds) {
        if (round < 1 || round > this->rounds()) {
            return refused("Omgång " + std::to_string(round) + " finns inte.");
        }
    }
    for (const int round : rounds) {
        open_[static_cast<std::size_t>(round - 1)] = true;
    }
    Event event;
    event.kind = Event::Kind::OpenRounds;
    event.rounds = rounds;
    events_.push_back(event);
    return {true, ""};
}

Answer Competition::begin(int id, int board) {
    const Match* match = find(id);
    if (match == nullptr) {
        return refused(matchText(id) + " finns inte.");
    }
    if (board < 0) {
        return refused("Tavlans nummer kan inte vara negativt.");
    }
    if (match->status == Status::Playing) {
        return refused(matchText(id) + " spelas redan.");
    }
    if (decided(*match)) {
        return refused(matchText(id) + " är redan avgjord.");
    }
    if (!match->players[0] || !match->players[1]) {
        return refused("Spelarna i match " + std::to_string(id) + " är inte klara än.");
    }
    if (match->stage == Stage::Group && !roundOpen(match->round)) {
        return refused("Omgång " + std::to_string(match->round) + " är inte öppnad.");
    }
    for (const Match& other : matches_) {
        if (other.status != Status::Playing) {
            continue;
        }
        for (const std::optional<int>& player : match->players) {
            if (player == other.players[0] || player == other.players[1]) {
                return refused(settings_.players[static_cast<std::size_t>(*player)] +
                               " spelar redan match " + std::to_string(other.id) + ".");
            }
        }
    }
    Match& playing = matches_[static_cast<std::size_t>(id - 1)];
    playing.status = Status::Playing;
    playing.board = board;
    Event event;
    event.kind = Event::Kind::Begin;
    event.match = id;
    event.board = board;
    events_.push_back(event);
    return {true, ""};
}

Answer Competition::requeue(int id) {
    const Match* match = find(id);
    if (match == nullptr) {
        return refused(matchText(id) + " finns inte.");
    }
    if (match->status != Status::Playing) {
        return refused(matchText(id) + " spelas inte.");
    }
    Match& waiting = matches_[static_cast<std::size_t>(id - 1)];
    waiting.status = Status::Waiting;
    waiting.board = 0;
    Event event;
    event.kind = Event::Kind::Requeue;
    event.match = id;
    events_.push_back(event);
    return {true, ""};
}

// Checks `result` against the match's format and gives it its recorded form.
std::string Competition::checkResult(const Match& match, Result& result) const {
    if (result.winner != 0 && result.winner != 1) {
        return "Vinnaren ska vara 0 eller 1.";
    }
    const auto winner = static_cast<std::size_t>(result.winner);
    const std::size_t loser = 1 - winner;
    const int legs = match.format.legs;
    const int sets = match.format.sets;
    if (result.walkover) {
        result.legs = {};
        result.sets = {};
        result.legs[winner] = legs * sets;
        result.sets[winner] = sets > 1 ? sets : 0;
        result.archive_match.clear();
        result.counts.clear();
        return "";
    }
    if (!result.counts.empty() && result.counts.size() != 2) {
        return "Statistiken ska gälla matchens två spelare.";
    }
    for (const statistics::Counts& counts : result.counts) {
        if (counts.darts < 0 || counts.darts > kMaxCount || counts.points < 0 ||
            counts.points > kMaxCount) {
            return "Statistiken går inte ihop med en match.";
        }
    }
    const std::string wrong =
        "Resultatet går inte ihop med matchens format, " + formatText(match.format) + ".";
    if (sets == 1) {
        result.sets = {};
        return result.legs[winner] == legs && result.legs[loser] >= 0 && result.legs[loser] < legs
                   ? ""
                   : wrong;
    }
    if (result.sets[winner] != sets || result.sets[loser] < 0 || result.sets[loser] >= sets) {
        return wrong;
    }
    // Each set won is `legs` legs; each other set played at most one fewer.
    const int played = sets + result.sets[loser];
    for (std::size_t side = 0; side < 2; ++side) {
        const int least = result.sets[side] * legs;
        if (result.legs[side] < least ||
            result.legs[side] > least + (played - result.sets[side]) * (legs - 1)) {
            return wrong;
        }
    }
    return "";
}

Answer Competition::record(int id, const Result& given) {
    const Match* match = find(id);
    if (match == nullptr) {
        return refused(matchText(id) + " finns inte.");
    }
    if (!match->players[0] || !match->players[1]) {
        return refused("Spelarna i match " + std::to_string(id) + " är inte klara än.");
    }
    Result result = given;
    const std::string problem = checkResult(*match, result);
    if (!problem.empty()) {
        return refused(problem);
    }
    for (const int dependent : dependents_[static_cast<std::size_t>(id - 1)]) {
        if (find(dependent)->status != Status::Waiting) {
            return refused("Resultatet i match " + std::to_string(id) + " kan inte ändras: match " +
                           std::to_string(dependent) + ", som beror på det, har redan börjat.");
        }
    }
    Match& recorded = matches_[static_cast<std::size_t>(id - 1)];
    recorded.status = result.walkover ? Status::Walkover : Status::Finished;
    recorded.result = result;
    refresh(recorded.group);
    Event event;
    event.kind = Event::Kind::Record;
    event.match = id;
    event.result = std::move(result);
    events_.push_back(std::move(event));
    return {true, ""};
}

}  // namespace game501::competition
