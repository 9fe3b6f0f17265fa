#include "script_play.h"

namespace game501::load {

ScriptPlay::ScriptPlay(const Script& script, std::size_t first_game)
    : script_(script), game_(first_game % script.games.size()) {}

// A scripted game ends with its checkout, so a game whose darts are all
// thrown is a leg that ended: when the clear after it leaves a leg to play,
// that is the next leg. Run out after a dart, the board's leg went on with
// the darts of others who throw on the same board: start again.
Step ScriptPlay::onAnswer(std::string_view answer) {
    const Step answered = next_;
    dart_ = answered == Step::start ? 0 : dart_ + (answered == Step::dart ? 1 : 0);
    next_ = nextStep(answer, answered);
    const bool ran_out = next_ == Step::dart && dart_ == script_.games[game_].size();
    if ((next_ == Step::start && answered != Step::start) || ran_out) {
        game_ = (game_ + 1) % script_.games.size();
        dart_ = 0;
        if (ran_out && answered != Step::clear) {
            next_ = Step::start;
        }
    }
    return next_;
}

}  // namespace game501::load
