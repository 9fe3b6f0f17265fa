// The games the scorers play: a fixed script of whole two-player games,
// thrown by the library's computer player with a fixed seed and the same in
// every run; how an answer is read; and where a scorer is in the script.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "match_501.h"

namespace game501::load {

extern const std::vector<std::string> kPlayers;
extern const std::string kSource;

enum class Step { start, dart, clear };

// The leg's status as a document names it; unknown when it was not read, or
// for a word the generator does not know.
enum class LegStatus { unknown, idle, playing, finished };

// What a scorer reads of an answer ({"accepted", "game": the leg's state,
// ...}) or of a leg's state document (no "accepted").
struct Reading {
    bool accepted = false;
    bool awaiting_clear = false;
    LegStatus status = LegStatus::unknown;
};

// Parses `document` as JSON far enough for a Reading: to its end when
// `status_needed` or when the answer is a refusal, else only up to the leg's
// awaiting_clear near its start (the status comes after the leg's history,
// which makes up most of an answer). Returns nothing for a document that is
// not a JSON object.
std::optional<Reading> readAnswer(std::string_view document, bool status_needed = true);

// Returns what a scorer sends after `answer`, the answer to `answered`: the
// board clear after a turn or a leg that ended, a new match when none is
// being played or that clear left the leg finished, else the next dart. A
// status not read counts as playing.
Step nextStep(const Reading& answer, Step answered);
// Reads `answer` whole; one that is not JSON asks for the next dart.
Step nextStep(std::string_view answer, Step answered);

bool isSingleGame(const Match501::Format& format);

// Returns the request body that starts a match of `players` in `format`; a
// single game's names no format, as servers before matches take it.
std::string startBody(const std::vector<std::string>& players, const Match501::Format& format);
// Returns the request body that throws `notation` with the script's label.
std::string dartBody(const std::string& notation);

struct ScriptDart {
    std::string notation;
    std::string body;  // the request body that throws it
};

// The darts each game takes to its checkout, as the engine scored them.
struct Script {
    std::vector<std::vector<ScriptDart>> games;
    std::size_t darts = 0;
    std::size_t turns = 0;
    std::size_t busts = 0;
};

// Plays the script's games on an engine, the darts thrown by a strong
// computer player of a fixed seed for each player, each game opening with
// `opening_misses` visits of three missed darts by each player, which make
// a game longer and leave its end as it was. Throws std::logic_error if the
// engine refuses a dart or a game does not end.
Script buildScript(int opening_misses = 0);

// Where a scorer is in the script: the call it makes next and, for a dart,
// which one. Each leg plays the script's next game: the players' names and
// who throws first change none of the scores its darts make.
class ScriptPlay {
public:
    // Starts a match and plays `first_game` of the script in its first leg;
    // `shared_board`: other scorers throw on the same board.
    ScriptPlay(const Script& script, std::size_t first_game, bool shared_board = false);

    Step next() const { return next_; }
    // The dart to throw when next() is Step::dart.
    const ScriptDart& dart() const { return script_.games[game_][dart_]; }

    // Returns whether the answer to next() must be read to the leg's status
    // (readAnswer). Alone on its board, a scorer's own calls are the only
    // ones, so the leg can end only with the last dart of a scripted game,
    // and only a start, that dart and the clear after it can leave a status
    // other than playing; a refusal is read whole anyway.
    bool needsStatus() const;

    // Takes the answer to the call next() named and returns the next call.
    Step onAnswer(const Reading& answer);
    // Reads `answer` as needsStatus() says; one that is not JSON asks for
    // the next dart.
    Step onAnswer(std::string_view answer);

private:
    const Script& script_;
    std::size_t game_;
    std::size_t dart_ = 0;
    Step next_ = Step::start;
    bool shared_board_;
};

}  // namespace game501::load
