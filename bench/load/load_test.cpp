// The load generator's own rules: how a scorer reads an answer and what it
// sends after each as the legs of a match go by, the options that choose the
// kinds of run, and how an older server is told from its --help.
#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "match_501.h"
#include "options.h"
#include "script.h"
#include "server_process.h"

namespace game501 {
namespace {

using game501::load::LegStatus;
using game501::load::Step;

// A reading that need not go to the status stops after awaiting_clear, so
// what follows it is never parsed; a refusal is read whole.
TEST(ReadAnswer, ReadsTheLegOfAnAnswerOrAStateDocumentAsFarAsAsked) {
    using game501::load::Reading;
    const std::string answer =
        R"({"accepted":true,"game":{"awaiting_clear":true,"history":[{"outcome":"bust",)"
        R"("status":"finished"}],"status":"playing"},"message":""})";
    const std::string head = R"({"accepted":true,"game":{"awaiting_clear":false,)";
    const struct {
        std::string document;
        bool status_needed;
        std::optional<Reading> reading;
    } cases[] = {
        {answer, true, Reading{true, true, LegStatus::playing}},
        {answer, false, Reading{true, true, LegStatus::unknown}},
        {head + "not JSON", false, Reading{true, false, LegStatus::unknown}},
        {R"({"accepted":false,"game":{"awaiting_clear":false,"status":"idle"}})", false,
         Reading{false, false, LegStatus::idle}},
        {R"({"awaiting_clear":false,"history":[],"status":"finished"})", true,
         Reading{false, false, LegStatus::finished}},
        {head + R"("status":"paused"}})", true, Reading{true, false, LegStatus::unknown}},
        {head + "not JSON", true, std::nullopt},
        {"[true]", true, std::nullopt},
        {"", false, std::nullopt},
    };
    const auto text = [](const std::optional<Reading>& reading) {
        return reading ? std::to_string(reading->accepted) + " " +
                             std::to_string(reading->awaiting_clear) + " " +
                             std::to_string(static_cast<int>(reading->status))
                       : std::string("nothing");
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text(game501::load::readAnswer(c.document, c.status_needed)), text(c.reading))
            << c.document;
    }
}

TEST(NextStep, ClearsAfterALegAndStartsOnlyWhenTheClearLeftItFinished) {
    const std::string playing =
        R"({"accepted":true,"game":{"awaiting_clear":false,"status":"playing"}})";
    const std::string turn_over =
        R"({"accepted":true,"game":{"awaiting_clear":true,"status":"playing"}})";
    const std::string finished =
        R"({"accepted":true,"game":{"awaiting_clear":false,"status":"finished"}})";
    const std::string idle = R"({"accepted":true,"game":{"awaiting_clear":false,"status":"idle"}})";
    const struct {
        const std::string& answer;
        Step answered;
        Step next;
    } cases[] = {
        {playing, Step::dart, Step::dart},    {playing, Step::clear, Step::dart},
        {turn_over, Step::dart, Step::clear}, {finished, Step::dart, Step::clear},
        {finished, Step::clear, Step::start}, {idle, Step::dart, Step::start},
        {idle, Step::clear, Step::start},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(game501::load::nextStep(c.answer, c.answered), c.next)
            << c.answer << " after " << static_cast<int>(c.answered);
    }
}

// Every leg plays one scripted game from its first dart, so no dart is
// refused, and a new match starts only once the last one is over.
TEST(ScriptPlay, PlaysWholeMatchesOfEveryFormatWithoutARefusedDart) {
    const game501::load::Script script = game501::load::buildScript();
    for (const Match501::Format format :
         {Match501::Format{1, 1}, Match501::Format{3, 1}, Match501::Format{2, 2}}) {
        SCOPED_TRACE(game501::load::formatName(format));
        Match501 match;
        game501::load::ScriptPlay play(script, 3);
        int matches = 0;
        int darts = 0;
        while (matches < 3 && darts < 10'000) {
            const Step step = play.next();
            std::string answer;
            if (step == Step::start) {
                ASSERT_NE(match.match()["status"], "playing");
                answer = match.start(game501::load::kPlayers, format).dump();
            } else if (step == Step::clear) {
                answer = match.markBoardClear().dump();
            } else {
                answer = match.addDart(play.dart().notation, game501::load::kSource).dump();
                ASSERT_TRUE(
                    game501::load::readAnswer(answer).value_or(game501::load::Reading{}).accepted)
                    << answer;
                ++darts;
            }
            matches += play.onAnswer(answer) == Step::start ? 1 : 0;
        }
        ASSERT_EQ(matches, 3);
        const Game501::json last = match.match();
        EXPECT_EQ(last["status"], "finished");
        EXPECT_GE(last["finished_legs"].size(),
                  static_cast<std::size_t>(format.legs * format.sets));
    }
}

// The opening misses leave the score at 501, so the rest of each game is the
// plain script's game.
TEST(Script, OpeningMissesLengthenEveryGameAndLeaveItsEndAsItWas) {
    const game501::load::Script plain = game501::load::buildScript();
    const game501::load::Script longer = game501::load::buildScript(2);
    ASSERT_EQ(longer.games.size(), plain.games.size());
    const std::size_t missed = 2 * game501::load::kPlayers.size() * Game501::kDartsPerTurn;
    for (std::size_t i = 0; i < plain.games.size(); ++i) {
        const std::vector<game501::load::ScriptDart>& game = longer.games[i];
        ASSERT_EQ(game.size(), plain.games[i].size() + missed) << "game " << i;
        EXPECT_EQ(game.front().notation, "MISS");
        EXPECT_EQ(game.back().body, plain.games[i].back().body);
    }
    EXPECT_EQ(longer.turns, plain.turns + 2 * game501::load::kPlayers.size() * plain.games.size());
}

// A server before matches refuses fields it does not know.
TEST(StartBody, NamesTheFormatOnlyForMoreThanASingleGame) {
    EXPECT_EQ(game501::load::startBody({"Ymma", "Sjörk"}, {}), R"({"players":["Ymma","Sjörk"]})");
    EXPECT_EQ(game501::load::startBody({"Ymma", "Sjörk"}, {3, 2}),
              R"({"legs":3,"players":["Ymma","Sjörk"],"sets":2})");
}

TEST(ServerProbe, AsksTheProgramItselfAndWaitsForItsEnd) {
    EXPECT_TRUE(game501::load::probeServer(GAME501_SERVER_PATH).takes_data);
    EXPECT_FALSE(game501::load::probeServer("/bin/true").takes_data);
}

TEST(ServerProbe, FindsTheDataOptionOnlyAsAWordOfItsOwn) {
    const struct {
        std::string_view help;
        bool names_data;
    } cases[] = {
        {"  [--tokens FIL] [--data FIL] [--computer-pause MS]\n", true},
        {"  --data FIL            databasen\n", true},
        {"--data=FIL", true},
        {"  --database FIL\n  --data-dir DIR\n", false},
        {"  --boards N\n  --help\n", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(game501::load::helpNamesData(std::string(c.help)), c.names_data) << c.help;
    }
}

std::vector<game501::load::RunKind> kindsOf(const std::vector<std::string>& args) {
    return game501::load::runKinds(*game501::load::parseOptions(args));
}

TEST(RunKinds, TakeEveryFormatAndServerByTurnsThisServerFirst) {
    const std::vector<game501::load::RunKind> match = kindsOf({"--scenario", "throughput-match"});
    ASSERT_EQ(match.size(), 2U);
    EXPECT_TRUE(game501::load::isSingleGame(match[0].format));
    EXPECT_EQ(match[1].format.legs, 3);

    const std::vector<game501::load::RunKind> compared =
        kindsOf({"--scenario", "throughput", "--compare-server", "/old", "--legs", "2"});
    ASSERT_EQ(compared.size(), 4U);  // two journals of each server
    EXPECT_FALSE(compared[0].other_server);
    EXPECT_EQ(compared[1].journal, game501::load::JournalKind::memory);
    EXPECT_TRUE(compared[2].other_server);
    EXPECT_EQ(compared[3].format.legs, 2);
}

TEST(Options, RefuseFormatsOutOfRangeAndComparingWhatIsNoLoad) {
    const std::vector<std::vector<std::string>> refused = {
        {"--legs", "0"},
        {"--legs", "21"},
        {"--sets", "11"},
        {"--compare-server="},
        {"--scenario", "career", "--compare-server", "/old"},
        {"--scenario", "restart", "--compare-server", "/old"},
    };
    for (const std::vector<std::string>& args : refused) {
        EXPECT_THROW(game501::load::parseOptions(args), game501::load::UsageError)
            << args[0] << " " << args[1];
    }
}

}  // namespace
}  // namespace game501
