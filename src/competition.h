// A competition of a club night or a league: the draw, its matches and who
// plays them, their results, the group tables and the knockout bracket.
//
// Formats:
//   - a round robin: every pair of a group meets once, in rounds made by the
//     circle method (a bye each round for an odd number of players), in one
//     group or in several drawn from the players;
//   - a knockout for 2 to 128 players: a bracket of the next power of two,
//     byes to the top seeds, seeds placed so that 1 and 2 can meet only in
//     the final (1 v 16, 8 v 9, 4 v 13, ...);
//   - groups, then a knockout of the top `advance` of each group: group
//     winners seeded, groups crossed (A1 v B2, B1 v A2, C1 v D2, ...);
//   - a league: a round robin whose rounds (nights) the organiser opens.
//
// The state is a pure function of the settings and the accepted events in
// their order: replay() of settings() and events() gives an equal
// competition, on any machine (the draw uses std::mt19937_64, whose sequence
// the standard fixes, and an index function of its own).
//
// Example:
//   competition::Settings settings;
//   settings.players = {"Ymma", "Sjörk", "Tove", "Alva"};
//   settings.format = competition::Format::Knockout;
//   settings.seed = 7;
//   std::string problem;
//   auto cup = competition::Competition::create(settings, problem);
//   const int first = cup->ready().front();  // both players known
//   cup->begin(first, 2);                    // called to board 2
//   cup->record(first, {0, {3, 1}});         // the first player won 3-1
//
// Thread safety: a Competition is a value. Its const operations may run at
// once on any number of threads; a change needs the only access.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "match_501.h"
#include "statistics.h"

namespace game501::competition {

inline constexpr int kMinPlayers = 2;
inline constexpr int kMaxPlayers = 128;
// Points per match won, lost and per leg won are 0 to this.
inline constexpr int kMaxPoints = 100;

enum class Format { RoundRobin, Knockout, GroupsKnockout };
enum class Stage { Group, Knockout };
enum class Status { Waiting, Playing, Finished, Walkover };
enum class Tiebreaker { Points, LegDifference, LegsWon, HeadToHead, Average };

// What a table gives for a match won and lost, and for every leg won.
struct Points {
    int win = 2;
    int loss = 0;
    int leg = 0;
};

struct Settings {
    // Unique, not empty. In the order of the seeding when `seeded`.
    std::vector<std::string> players;
    Format format = Format::RoundRobin;
    // Round robin and groups: from 1 to players / 2 (two players at least in
    // a group); the knockout ignores it.
    int groups = 1;
    // Groups, then knockout: how many of each group go through, from 1 to
    // the smallest group's size, two in all at least.
    int advance = 2;
    // A round robin only: no round is open until openRounds opens it.
    bool league = false;
    Match501::Format group_match{3, 1};
    Match501::Format knockout_match{3, 1};
    // The knockout's final, when it differs from the other knockout matches.
    std::optional<Match501::Format> final_match;
    Points points;
    // The order in which rows are compared; each at most once. Players level
    // after the list are ordered by the draw.
    std::vector<Tiebreaker> tiebreakers = {Tiebreaker::Points, Tiebreaker::LegDifference,
                                           Tiebreaker::LegsWon, Tiebreaker::HeadToHead,
                                           Tiebreaker::Average};
    // True: the players' order is the seeding. False: the draw orders them.
    bool seeded = false;
    std::uint64_t seed = 0;  // the draw's
};

// A match's result as the server or the organiser gives it.
struct Result {
    int winner = 0;             // 0 or 1, an index into the match's players
    std::array<int, 2> legs{};  // legs each player won in the whole match
    std::array<int, 2> sets{};  // sets won, for a format of more than one set
    bool walkover = false;      // the winner goes through without a match
    std::string archive_match;  // the played match's id in the archive; empty for none
    // What each player threw, in the match's order, for the average in the
    // tables: two, or none for a result entered by hand.
    std::vector<statistics::Counts> counts;
};

// Where a match's player comes from.
struct Source {
    enum class Kind { Bye, Player, Winner, Place };
    Kind kind = Kind::Bye;
    int player = -1;  // Player: an index into Settings::players
    int match = 0;    // Winner: the id of the match whose winner this is
    int group = -1;   // Place: the group (0 = A) ...
    int place = 0;    // ... and the place in its table (1 = the winner)
};

struct Match {
    int id = 0;  // 1, 2, ... in the order of play
    Stage stage = Stage::Group;
    int group = -1;  // the group stage's group (0 = A); -1 in the knockout
    // The round of its stage, from 1: a night of a league, or the knockout's
    // round (the last is the final).
    int round = 1;
    Match501::Format format;
    std::array<Source, 2> sources;
    // Indices into Settings::players, once known.
    std::array<std::optional<int>, 2> players;
    Status status = Status::Waiting;
    int board = 0;                 // the board it was called to; 0 for none
    std::optional<Result> result;  // once finished or a walkover
};

// One line of a group's table.
struct Row {
    int player = 0;  // an index into Settings::players
    int played = 0;
    int won = 0;
    int lost = 0;
    int legs_for = 0;
    int legs_against = 0;
    int leg_difference = 0;
    int points = 0;
    // Summed over the matches that came with counts: the average, 180s and
    // highest finish in the stage.
    statistics::Counts counts;
    std::optional<double> average;  // three-dart average of `counts`
    bool by_draw = false;           // the draw decided this row's place
};

struct Table {
    int group = 0;
    bool complete = false;  // every match of the group decided
    std::vector<Row> rows;  // best first
};

// A pair of the bracket: a match, or in the first round a player with a bye
// (`match` 0, the second source a Bye).
struct Pairing {
    int match = 0;
    std::array<Source, 2> sources;
    std::array<std::optional<int>, 2> players;
};

// Something that changes a competition; the accepted ones are its history.
struct Event {
    enum class Kind { OpenRounds, Begin, Requeue, Record };
    Kind kind = Kind::Record;
    std::vector<int> rounds;  // OpenRounds
    int match = 0;            // Begin, Requeue, Record
    int board = 0;            // Begin
    Result result;            // Record
};

// The answer to a change: refused with a Swedish message, or accepted.
struct Answer {
    bool accepted = false;
    std::string message;
};

// Returns the rows of `players` (in the order of the draw), best first, from
// the decided `matches` whose two players are both among them. Rows are
// compared by `tiebreakers` in turn: head to head orders exactly two level
// players by their matches against each other and leaves more alone; an
// average of no darts counts as 0. Players still level after the list are
// ordered as in `players`, and their rows marked by_draw.
std::vector<Row> rank(const std::vector<int>& players, const std::vector<const Match*>& matches,
                      const Points& points, const std::vector<Tiebreaker>& tiebreakers);

// Returns why the settings cannot make a competition, in Swedish; empty when
// they can.
std::string check(const Settings& settings);

class Competition {
public:
    // Makes the draw of `settings`. Returns nothing, and says why in
    // `problem`, for settings that check() refuses.
    static std::optional<Competition> create(const Settings& settings, std::string& problem);

    // Makes the competition of `settings` and applies `events` in order.
    // Returns nothing, and says why in `problem`, when the settings or an
    // event are refused (a history that this competition never had).
    static std::optional<Competition> replay(const Settings& settings,
                                             const std::vector<Event>& events,
                                             std::string& problem);

    // Applies one change as the functions below do.
    Answer apply(const Event& event);

    // Opens the league's rounds (nights) `rounds`, numbered from 1; an open
    // round stays open. Refused for a competition that is not a league and
    // for a round that does not exist.
    Answer openRounds(const std::vector<int>& rounds);

    // Marks a ready match as being played on `board` (0 for none). Refused
    // when it is not ready().
    Answer begin(int match, int board);

    // Puts a match being played back among those waiting, as when its board
    // was reset. Refused when it is not being played.
    Answer requeue(int match);

    // Records the result of a match whose players are known, waiting, being
    // played or decided already (a correction). A walkover is won by the
    // whole format to nil (legs first to L in each set), with no counts; the
    // sets of a one-set format are kept as {0, 0}. Refused for a winner other
    // than 0 or 1, legs or sets the match's format cannot end with, counts
    // of other than two players or none, more than 1,000,000 darts or points
    // in one player's counts, and a
    // correction once a match that depends on it has begun: the next match
    // of its winner, or for a group match every knockout match that a place
    // of its group goes to.
    Answer record(int match, const Result& result);

    const Settings& settings() const { return settings_; }
    // The accepted events, oldest first, results as recorded.
    const std::vector<Event>& events() const { return events_; }
    // The players in the order of the draw: the seeding, or the drawn order.
    const std::vector<int>& draw() const { return draw_; }
    // Each group's players in the order of the draw; empty for a knockout.
    const std::vector<std::vector<int>>& groups() const { return groups_; }
    // Every match, by id (matches()[id - 1]), in the order of play.
    const std::vector<Match>& matches() const { return matches_; }
    // One table per group; none for a knockout.
    const std::vector<Table>& tables() const { return tables_; }
    // The knockout's rounds, the first first; empty for a round robin.
    const std::vector<std::vector<Pairing>>& bracket() const { return bracket_; }

    // Returns the ids of the matches that can be called now, in the order of
    // play: waiting, both players known, their round open, neither player in
    // a match being played. Two of them may share a player: begin one and ask
    // again.
    std::vector<int> ready() const;
    // Returns the ids of every waiting match, in the order of play.
    std::vector<int> orderOfPlay() const;

    // Returns how many rounds the group stage has (its largest group's).
    int rounds() const { return static_cast<int>(open_.size()); }
    // Returns whether a group stage's round is open: always, but in a league.
    bool roundOpen(int round) const;

    // Returns whether every match is decided.
    bool finished() const;
    // Returns the final's winner, or the top of the only group's table once
    // the group is complete; nothing before, or for several groups alone.
    std::optional<int> winner() const;

private:
    explicit Competition(const Settings& settings) : settings_(settings) {}

    void drawGroups(std::vector<int> order);
    void drawKnockout(const std::vector<Source>& seeds);
    Match& addMatch(Stage stage, int group, int round, std::array<Source, 2> sources);
    const Match* find(int match) const;
    std::optional<int> resolve(const Source& source) const;
    // Works out the table of `group` (none: no group changed) and who plays
    // the knockout's matches.
    void refresh(int group);
    std::string checkResult(const Match& match, Result& result) const;

    Settings settings_;
    std::vector<int> draw_;
    std::vector<std::vector<int>> groups_;
    std::vector<std::vector<int>> group_matches_;  // ids, per group
    std::vector<Match> matches_;
    std::vector<std::vector<int>> dependents_;  // per match id - 1
    std::vector<Table> tables_;
    std::vector<std::vector<Pairing>> bracket_;
    std::vector<bool> open_;  // per group-stage round
    std::vector<Event> events_;
};

// The names of the stable form and the API: "round_robin", "knockout",
// "groups_knockout"; "group", "knockout"; "waiting", "playing", "finished",
// "walkover"; "points", "leg_difference", "legs_won", "head_to_head",
// "average".
std::string_view name(Format format);
std::string_view name(Stage stage);
std::string_view name(Status status);
std::string_view name(Tiebreaker tiebreaker);
// Reads a name back; nothing for any other text.
std::optional<Format> parseFormat(std::string_view text);
std::optional<Tiebreaker> parseTiebreaker(std::string_view text);

// The stable form, for a journal: every member under its own name, the
// enumerations by name, a Result's counts as statistics::toJson gives them
// (null for none), an empty archive_match as null. The same value always gives
// the same document, and reading it back gives the value.
nlohmann::json toJson(const Settings& settings);
nlohmann::json toJson(const Event& event);
// Reads the stable form back. Returns nothing, and says why in `problem`
// (English, for the server's log), for a document that is not one.
std::optional<Settings> settingsFromJson(const nlohmann::json& document, std::string& problem);
std::optional<Event> eventFromJson(const nlohmann::json& document, std::string& problem);

}  // namespace game501::competition
