// Runs the game-501 command line with scripted standard input, as a person's
// terminal or another program's pipe would, and checks what it writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "checkout_hint.h"
#include "computer_player.h"
#include "game_501.h"
#include "match.h"
#include "match_501.h"
#include "test_support.h"

namespace game501 {
namespace {

using game501::test::json;
using game501::test::withoutTimestamps;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Runs the command line with `args` (each passed as one shell word) and
// `input` as its whole standard input.
CliRun runCli(const std::vector<std::string>& args, const std::string& input) {
    const std::string base = ::testing::TempDir() + "game501_cli_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::ofstream(base + ".in", std::ios::binary) << input;
    const auto quoted = [](const std::string& word) { return "'" + word + "'"; };
    std::string command = quoted(GAME501_CLI);
    for (const std::string& arg : args) {
        command += " " + quoted(arg);
    }
    command += " < " + quoted(base + ".in") + " 2> " + quoted(base + ".err");

    CliRun run;
    FILE* const pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return run;
    }
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        run.out.append(buffer, n);
    }
    const int wait_status = pclose(pipe);
    run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    run.err = readFile(base + ".err");
    std::remove((base + ".in").c_str());
    std::remove((base + ".err").c_str());
    return run;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

// Parses each output line as one compact JSON document.
std::vector<json> documents(const std::string& out) {
    std::vector<json> parsed;
    for (const std::string& line : lines(out)) {
        const json document = json::parse(line, nullptr, false);
        EXPECT_FALSE(document.is_discarded()) << line;
        EXPECT_EQ(line, document.dump()) << "not compact";
        parsed.push_back(withoutTimestamps(document));
    }
    return parsed;
}

TEST(CommandLineJson, AnswersEachEngineCallWithTheEnginesDocument) {
    const std::string script =
        "start Ymma, Sjörk\n"
        "T20 T20 T20\n"
        "T20\n"  // refused: the board is not yet clear
        "clear\n"
        "\n"               // ignored
        "  t20  x  s5 \n"  // stops at the unreadable notation
        "undo\n"
        "S1 m 0\n"
        "clear\n"
        "T20 T20 T20\n"
        "clear\n"
        "S20 S20 S20\n"
        "clear\n"
        "T20 T19 D20\n"  // 40 on 24 busts
        "undo\n"
        "D12\n"
        "state\n"
        "T20\n"  // refused: the game is over
        "quit\n"
        "reset\n";

    // The engine itself, fed the same calls, is the oracle for whole documents.
    Game501 game;
    std::vector<json> expected;
    const auto darts = [&](const std::vector<std::string>& notations) {
        for (const std::string& notation : notations) {
            expected.push_back(game.addDart(notation, "cli"));
        }
    };
    expected.push_back(game.start({"Ymma", "Sjörk"}));
    darts({"T20", "T20", "T20", "T20"});
    expected.push_back(game.markBoardClear());
    darts({"t20", "x"});
    expected.push_back(game.undo());
    darts({"S1", "m", "0"});
    expected.push_back(game.markBoardClear());
    darts({"T20", "T20", "T20"});
    expected.push_back(game.markBoardClear());
    darts({"S20", "S20", "S20"});
    expected.push_back(game.markBoardClear());
    darts({"T20", "T19", "D20"});
    expected.push_back(game.undo());
    darts({"D12"});
    expected.push_back(game.state());
    darts({"T20"});
    for (json& document : expected) {
        document = withoutTimestamps(document);
    }

    const CliRun run = runCli({"--json"}, script);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::vector<json> actual = documents(run.out);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "line " << i + 1;
    }

    // The oracle shares the engine with the command line, so check the story
    // it tells in its own words as well.
    std::vector<std::string> messages;
    for (const json& document : actual) {
        messages.push_back(document.contains("message") ? document["message"].get<std::string>()
                                                        : "<state>");
    }
    const std::vector<std::string> story = {
        "501-spelet har startat",
        "T20 registrerad",
        "T20 registrerad",
        "Tur klar – ta bort pilarna",
        "Ta bort pilarna och bekräfta att tavlan är tom",
        "Tavlan är redo för nästa spelare",
        "T20 registrerad",
        messages[7],  // the refusal text of an unreadable notation
        "Senaste kastet ångrades",
        "S1 registrerad",
        "MISS registrerad",
        "Tur klar – ta bort pilarna",
        "Tavlan är redo för nästa spelare",
        "T20 registrerad",
        "T20 registrerad",
        "Tur klar – ta bort pilarna",
        "Tavlan är redo för nästa spelare",
        "S20 registrerad",
        "S20 registrerad",
        "Tur klar – ta bort pilarna",
        "Tavlan är redo för nästa spelare",
        "T20 registrerad",
        "T19 registrerad",
        "Bust – turens poäng återställdes",
        "Senaste kastet ångrades",
        "Ymma vann med D12",
        "<state>",
        "Inget aktivt 501-spel",
    };
    EXPECT_EQ(messages, story);
    EXPECT_FALSE(actual[7]["accepted"].get<bool>());
    const json& final_state = actual[26];
    EXPECT_EQ(final_state["status"], "finished");
    EXPECT_EQ(final_state["winner"], 0);
    EXPECT_EQ(final_state["players"][0]["score"], 0);
    EXPECT_EQ(final_state["players"][1]["score"], 440);
    EXPECT_EQ(final_state["current_turn"]["darts"][0]["source"], "cli");
}

TEST(CommandLineJson, StoresTheSourceLabelWithEveryDart) {
    const CliRun run = runCli({"--source", "kamera 2", "--json"}, "start Zef\nT20\n");
    const std::vector<json> actual = documents(run.out);
    ASSERT_EQ(actual.size(), 2U);
    EXPECT_EQ(actual[1]["game"]["current_turn"]["darts"][0]["source"], "kamera 2");
    EXPECT_EQ(documents(runCli({"--source=", "--json"}, "start Zef\nT20\n")
                            .out)[1]["game"]["current_turn"]["darts"][0]["source"],
              "");
    const std::string longest(1024, 's');
    EXPECT_EQ(documents(runCli({"--source=" + longest, "--json"}, "start Zef\nT20\n")
                            .out)[1]["game"]["current_turn"]["darts"][0]["source"],
              longest);
}

// Invalid UTF-8 passed in by a caller must not stop the game or the output.
TEST(CommandLineJson, ReplacesInvalidUtf8InsteadOfFailing) {
    const std::string replacement = "\xEF\xBF\xBD";
    const CliRun run = runCli({"--json", "--source", "cam\xFF"},
                              "start \xFFZef\xC3, Ok\xE2\x82\nT20\xFF\nT20\nstate\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::vector<json> actual = documents(run.out);
    ASSERT_EQ(actual.size(), 4U);
    EXPECT_EQ(actual[0]["game"]["players"][0]["name"], replacement + "Zef" + replacement);
    EXPECT_EQ(actual[0]["game"]["players"][1]["name"], "Ok" + replacement);
    EXPECT_FALSE(actual[1]["accepted"].get<bool>());
    EXPECT_TRUE(actual[2]["accepted"].get<bool>());
    EXPECT_EQ(actual[3]["current_turn"]["darts"][0]["source"], "cam" + replacement);
}

TEST(CommandLineJson, KeepsHelpOffStandardOutput) {
    const CliRun run = runCli({"--json"}, "help\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("start NAMN[, NAMN...]"), std::string::npos);
}

// A leg won in nine darts by the player who starts it, the other missing.
const std::string kNineDartLeg =
    "T20 T20 T20\nclear\nMISS MISS MISS\nclear\n"
    "T20 T20 T20\nclear\nMISS MISS MISS\nclear\nT20 T19 D12\n";

TEST(CommandLineJson, PlaysAMatchAndPrintsItsDocument) {
    const CliRun run = runCli({"--json", "--legs", "2"},
                              "start Ymma, Sjörk\n" + kNineDartLeg + "clear\nmatch\nundo\nmatch\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");

    Match501 match;
    std::vector<json> expected = {match.start({"Ymma", "Sjörk"}, Match501::Format{2, 1})};
    for (const char* visit : {"T20", "MISS", "T20", "MISS"}) {
        for (int dart = 0; dart < 3; ++dart) {
            expected.push_back(match.addDart(visit, "cli"));
        }
        expected.push_back(match.markBoardClear());
    }
    for (const char* dart : {"T20", "T19", "D12"}) {
        expected.push_back(match.addDart(dart, "cli"));
    }
    expected.push_back(match.markBoardClear());
    expected.push_back(match.match());
    expected.push_back(match.undo());
    expected.push_back(match.match());
    for (json& document : expected) {
        document = withoutTimestamps(document);
    }
    const std::vector<json> actual = documents(run.out);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "line " << i + 1;
    }
    EXPECT_EQ(actual[21]["leg"], 2);
    EXPECT_EQ(actual[21]["players"][0]["legs"], 1);
    EXPECT_EQ(actual[23]["leg"], 1);  // the undo took back the winning dart
}

TEST(CommandLineText, ShowsTheScoreboardAfterEachCommand) {
    const CliRun run = runCli({}, "start Ymma, Sjörk\nT20 T20 T20\nclear\nT20 T20\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "501-spelet har startat\n"
              "Runda 1\n"
              "  > Ymma   501\n"
              "    Sjörk  501\n"
              "\n"
              "T20 registrerad\n"
              "T20 registrerad\n"
              "Tur klar – ta bort pilarna\n"
              "Runda 1\n"
              "    Ymma   321\n"
              "  > Sjörk  501\n"
              "Förra turen, Ymma: T20 T20 T20 (180)\n"
              "Ta bort pilarna och skriv \"clear\" när tavlan är tom.\n"
              "\n"
              "Tavlan är redo för nästa spelare\n"
              "Runda 1\n"
              "    Ymma   321\n"
              "  > Sjörk  501\n"
              "\n"
              "T20 registrerad\n"
              "T20 registrerad\n"
              "Runda 1\n"
              "    Ymma   321\n"
              "  > Sjörk  381\n"
              "Kast: T20 T20 (120)\n"
              "\n");
}

TEST(CommandLineText, ShowsTheCheckoutRouteAndTheWinner) {
    const CliRun run = runCli({},
                              "start Zef, Kovik\n"
                              "T20 T20 T20\nclear\nMISS MISS MISS\nclear\n"
                              "T20 T20 T20\nclear\nMISS MISS MISS\nclear\n"
                              "state\nT20\nT19 D12\n");
    const std::vector<std::string> out = lines(run.out);
    ASSERT_GE(out.size(), 20U);
    const std::vector<std::string> last(out.end() - 20, out.end());
    EXPECT_EQ(last, (std::vector<std::string>{
                        "Runda 3",
                        "  > Zef    141",
                        "    Kovik  501",
                        "Utgång: T20 T19 D12",
                        "",
                        "T20 registrerad",
                        "Runda 3",
                        "  > Zef     81",
                        "    Kovik  501",
                        "Kast: T20 (60)",
                        "Utgång: T19 D12",
                        "",
                        "T19 registrerad",
                        "Zef vann med D12",
                        "Runda 3",
                        "  * Zef      0  vinnare",
                        "    Kovik  501",
                        "Kast: T20 T19 D12 (141)",
                        "Spelet är slut. Skriv \"start NAMN, NAMN\" för ett nytt spel.",
                        "",
                    }));
}

// With a level the route is that level's advice, with its chance.
TEST(CommandLineText, ShowsTheAdviceForALevelWithItsChance) {
    const std::string script =
        "start Zef\n"
        "T20 T20 T20\nclear\nT20 T20 T20\nclear\nT20 S20 S2\nclear\nS1\n";  // 59 left, then 58
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--level", "club"}, std::vector<std::string>{"--level=club"}}) {
        SCOPED_TRACE(args.front());
        const CliRun run = runCli(args, script);
        EXPECT_EQ(run.status, 0);
        const std::vector<std::string> out = lines(run.out);
        const auto shown = [&out](const std::string& line) {
            return std::find(out.begin(), out.end(), line) != out.end();
        };
        const auto percent = [](int score, int darts_left) {
            const double chance = checkoutAdvice(score, darts_left, 19.0).probability;
            return std::to_string(std::lround(100.0 * chance)) + " %)";
        };
        std::string route141 = "Utgång:";
        for (const std::string& aim : checkoutAdvice(141, 3, 19.0).route) {
            route141 += " " + aim;
        }
        EXPECT_TRUE(shown(route141 + " (< 1 %)")) << run.out;  // a chance that rounds to 0
        EXPECT_TRUE(shown("Utgång: S19 D20 (" + percent(59, 3))) << run.out;
        EXPECT_TRUE(shown("Utgång: S18 D20 (" + percent(58, 2))) << run.out;
    }
}

TEST(CommandLineText, ShowsUnprintableNameBytesAsReplacements) {
    const CliRun run = runCli({}, "start A\xFF\x1B[2J\n");
    EXPECT_EQ(run.out,
              "501-spelet har startat\n"
              "Runda 1\n"
              "  > A\xEF\xBF\xBD\xEF\xBF\xBD[2J  501\n"
              "\n");
}

TEST(CommandLineText, ShowsLegsAndSetsWonAndWhoStarted) {
    const CliRun run =
        runCli({"--sets=2", "--legs=1"}, "start Ymma, Sjörk\n" + kNineDartLeg + "clear\n");
    EXPECT_EQ(run.status, 0);
    const std::vector<std::string> out = lines(run.out);
    ASSERT_GE(out.size(), 14U);
    EXPECT_EQ(std::vector<std::string>(out.end() - 14, out.end()),
              (std::vector<std::string>{
                  "Ymma vann med D12",
                  "Set 1, leg 1 – först till 2 set, 1 leg per set",
                  "Runda 3",
                  "  * Ymma     0  set 1  legs 1  (började)  vinnare",
                  "    Sjörk  501  set 0  legs 0",
                  "Kast: T20 T19 D12 (141)",
                  "Ymma vann set 1. Skriv \"clear\" för nästa set.",
                  "",
                  "501-spelet har startat",
                  "Set 2, leg 1 – först till 2 set, 1 leg per set",
                  "Runda 1",
                  "  > Sjörk  501  set 0  legs 0  (började)",
                  "    Ymma   501  set 1  legs 0",
                  "",
              }));
}

// The visit just thrown stands with its total until the clear, a bust with
// none; a dart between two legs is told that the next leg begins at the clear.
TEST(CommandLineText, ShowsTheVisitJustThrownAndWaitsForTheNextLeg) {
    const CliRun run = runCli({"--legs=2"}, "start Ymma, Sjörk\n" + kNineDartLeg +
                                                "T20\nclear\nT20 T20 T20\nclear\n"
                                                "S19 S19 S19\nclear\nT20 T20 S20\n");
    const std::vector<std::string> out = lines(run.out);
    const auto count = [&out](const std::string& line) {
        return std::count(out.begin(), out.end(), line);
    };
    EXPECT_EQ(count("Nästa leg börjar när tavlan är tom"), 1) << run.out;
    EXPECT_EQ(count("Inget aktivt 501-spel"), 0) << run.out;
    EXPECT_EQ(count("Förra turen, Sjörk: T20 T20 T20 (180)"), 1) << run.out;
    EXPECT_EQ(count("Förra turen, Ymma: S19 S19 S19 (57)"), 1) << run.out;
    EXPECT_EQ(count("Förra turen, Sjörk: T20 T20 S20 (140)"), 1) << run.out;
    const std::vector<std::string> bust =
        lines(runCli({}, "start Zef\nT20 T20 T20\nclear\nT20 T20 T20\nclear\nT20 T20 T20\n").out);
    EXPECT_EQ(std::count(bust.begin(), bust.end(), "Förra turen, Zef: T20 T20 T20 (0, bust)"), 1);
    // In JSON the refusal is the engine's document, as ever.
    const std::vector<json> documents_out = documents(
        runCli({"--json", "--legs=2"}, "start Ymma, Sjörk\n" + kNineDartLeg + "T20\n").out);
    EXPECT_EQ(documents_out.back()["message"], "Inget aktivt 501-spel");
}

// Every bad option stops the program before it reads a line, with status 2
// and nothing on standard output.
TEST(CommandLineOptions, RejectsBadOptionsWithStatusTwo) {
    struct Row {
        std::vector<std::string> args;
        std::string err;  // without the line that points to --help
    };
    const std::vector<Row> rows = {
        {{"--bogus"}, "game-501: okänt argument: --bogus\n"},
        {{"--json", "extra"}, "game-501: okänt argument: extra\n"},
        {{"--source"}, "game-501: --source saknar etikett\n"},
        {{"--source", std::string(1025, 's')}, "game-501: --source får vara högst 1024 byte\n"},
        {{"--level"}, "game-501: --level saknar nivå\n"},
        {{"--level", "pro"}, "game-501: okänd nivå: pro (välj beginner, club eller strong)\n"},
        {{"--level=Club"}, "game-501: okänd nivå: Club (välj beginner, club eller strong)\n"},
        {{"--legs", "0"}, "game-501: --legs ska vara ett heltal från 1 till 20: 0\n"},
        {{"--legs=21"}, "game-501: --legs ska vara ett heltal från 1 till 20: 21\n"},
        {{"--legs=0005"}, "game-501: --legs ska vara ett heltal från 1 till 20: 0005\n"},
        {{"--sets", "x"}, "game-501: --sets ska vara ett heltal från 1 till 10: x\n"},
        {{"--sets=-1"}, "game-501: --sets ska vara ett heltal från 1 till 10: -1\n"},
        {{"--sets=+1"}, "game-501: --sets ska vara ett heltal från 1 till 10: +1\n"},
        {{"--sets"}, "game-501: --sets saknar antal\n"},
        {{"--seed=18446744073709551616"},  // one past the largest
         "game-501: --seed ska vara ett heltal från 0 till 18446744073709551615: "
         "18446744073709551616\n"},
        {{"--seed", " 1"},
         "game-501: --seed ska vara ett heltal från 0 till 18446744073709551615:  1\n"},
        {{"--computer-pause", "60001"},
         "game-501: --computer-pause ska vara ett heltal från 0 till 60000: 60001\n"},
        {{"--computer-pause="},
         "game-501: --computer-pause ska vara ett heltal från 0 till 60000: \n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.front());
        const CliRun run = runCli(row.args, "start Zef, dator\n");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, row.err + "Skriv \"game-501 --help\" för hjälp.\n");
    }
}

TEST(CommandLineOptions, PrintsUsageForHelp) {
    const CliRun run = runCli({"--help"}, "start Zef\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("Användning: game-501 [--json] [--source ETIKETT] [--level NIVÅ]\n", 0),
              0U);
    EXPECT_NE(run.out.find("quit"), std::string::npos);
}

TEST(CommandLineOptions, EndsAtQuitOrEndOfInputWithStatusZero) {
    EXPECT_EQ(runCli({"--json"}, "").status, 0);
    const CliRun run = runCli({"--json"}, "start Zef\nQUIT\nT20\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(documents(run.out).size(), 1U);
    // The last line counts without its line feed.
    EXPECT_NE(runCli({"--json"}, "start Zef\nT20").out.find("T20 registrerad"), std::string::npos);
}

// The library tells what the computer throws; the command line must play
// exactly that, through the match's calls, by itself after each command.
TEST(CommandLineComputer, ThrowsItsTurnAndClearsByItselfAndAgainAfterAnUndo) {
    const std::string script = "start Ymma, dator\nT20 T20 T20\nclear\nundo\n";
    const CliRun run = runCli({"--json", "--seed", "1"}, script);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::vector<json> actual = documents(run.out);

    Match match;
    const auto respond = [&match](const Answer& answer) {
        return Game501::responseDocument(answer, match.leg());
    };
    // Each computer's seed is the start's plus its index, as on the server.
    const std::vector<std::optional<ComputerThrower>> computers = {
        std::nullopt, ComputerThrower(*parseComputerLevel("club"), 2)};
    std::vector<json> expected = {
        respond(match.start({"Ymma", std::string(kComputerName)}, Match::Format{}))};
    for (int dart = 0; dart < 3; ++dart) {
        expected.push_back(respond(match.addDart("T20", "cli")));
    }
    expected.push_back(respond(match.markBoardClear()));
    const auto computerTurn = [&] {
        for (ComputerMove move;
             (move = nextComputerMove(match, computers)).kind != ComputerMove::Kind::none;) {
            expected.push_back(respond(move.kind == ComputerMove::Kind::dart
                                           ? match.addDart(move.dart, std::string(kComputerSource))
                                           : match.markBoardClear()));
        }
    };
    computerTurn();
    ASSERT_EQ(expected.size(), 9U);  // its three darts and its clear
    expected.push_back(respond(match.undo()));
    computerTurn();  // the dart taken back, and the clear
    for (json& document : expected) {
        document = withoutTimestamps(document);
    }
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i], expected[i]) << "line " << i + 1;
    }
    // The turn is over at its third dart: its darts are the last of the history.
    const auto third = [&actual](std::size_t line) {
        return actual.at(line).at("game").at("history").at(0).at("darts").at(2);
    };
    EXPECT_EQ(third(10), third(7));
    EXPECT_EQ(third(10).at("source"), "dator");
    EXPECT_EQ(actual.back()["game"]["active_player"], 0);

    EXPECT_EQ(documents(runCli({"--json", "--seed", "1"}, script).out), actual);
    EXPECT_NE(documents(runCli({"--json", "--seed=2"}, script).out), actual);
}

TEST(CommandLineComputer, PlaysAMatchOfTwoComputersToItsEnd) {
    const CliRun run = runCli({"--json", "--seed", "7"}, "start dator, dator:strong=Robban\n");
    EXPECT_EQ(run.status, 0);
    const std::vector<json> actual = documents(run.out);
    ASSERT_GT(actual.size(), 20U);
    for (std::size_t i = 1; i < actual.size(); ++i) {
        ASSERT_TRUE(actual[i]["accepted"].get<bool>()) << "line " << i + 1;
    }
    const json& last = actual.back()["game"];
    EXPECT_EQ(last["status"], "finished");
    EXPECT_EQ(last["players"][last["winner"].get<std::size_t>()]["score"], 0);
    EXPECT_EQ(last["current_turn"]["darts"].back()["source"], "dator");
    EXPECT_EQ(last["players"][1]["name"], "Robban");
}

TEST(CommandLineComputer, TagsTheComputerOnTheScoreboard) {
    const CliRun run = runCli({"--seed", "1"}, "start Ymma, dator:strong=Robban, dator\n");
    EXPECT_EQ(run.out,
              "501-spelet har startat\n"
              "Runda 1\n"
              "  > Ymma                           501\n"
              "    Robban (dator, Stark spelare)  501\n"
              "    Datorn (Klubbspelare)          501\n"
              "\n");
}

// Nothing starts, and a game being played goes on as it stood.
TEST(CommandLineComputer, RefusesAStartWithAnUnknownLevel) {
    const std::string choices = " (välj beginner, club, strong eller ett snitt från 30 till 110)";
    for (const std::string level : {"pro", "29", "111", "Club", "70.5", ""}) {
        SCOPED_TRACE(level);
        const CliRun run =
            runCli({"--json"}, "start Zef\nT20\nstart Ymma, dator:" + level + "\nstate\n");
        const std::vector<json> actual = documents(run.out);
        ASSERT_EQ(actual.size(), 4U);
        EXPECT_FALSE(actual[2]["accepted"].get<bool>());
        EXPECT_EQ(actual[2]["message"], "Okänd nivå för datorn: \"" + level + "\"" + choices);
        EXPECT_EQ(actual[2]["game"], actual[1]["game"]);
        EXPECT_EQ(actual[3]["players"][0]["score"], 441);
    }
}

}  // namespace
}  // namespace game501
