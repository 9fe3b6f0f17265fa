// Input a board camera, a keyboard or a network front end might send: huge
// texts, NUL bytes, bytes that are not UTF-8, absurd player lists, and many
// threads at once. Each must get its documented answer and leave a game that
// still keeps every document rule.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "document_checks.h"
#include "test_support.h"

namespace game501 {
namespace {

using game501::check::isValidUtf8;
using game501::check::responseProblem;
using game501::check::stateProblem;
using game501::test::json;

const std::string kMiB(std::size_t{1} << 20, 'A');
const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// A refused notation is echoed so the player sees what arrived; bytes that
// are not UTF-8 would make the answer impossible to serialise, so each
// ill-formed sequence shows as one U+FFFD and everything else stays as typed.
TEST(BadInput, RefusedNotationIsEchoedAsValidText) {
    struct EchoCase {
        std::string name;
        std::string notation;
        std::string echo;
    };
    const std::string r = kReplacement;
    const std::vector<EchoCase> cases = {
        {"NUL inside", std::string("T2\0", 3), std::string("T2\0", 3)},
        {"NUL first", std::string("\0T20", 4), std::string("\0T20", 4)},
        {"valid two-byte letter", "Tö20", "Tö20"},
        {"valid four-byte character", "\xF0\x9F\x8E\xAF", "\xF0\x9F\x8E\xAF"},
        {"no-break space", "S20\u00A0", "S20\u00A0"},
        {"stray 0xFF", "MISS\xFF", "MISS" + r},
        {"lone continuation byte",
         "a\x80"
         "b",
         "a" + r + "b"},
        {"truncated at the end", "T\xC3", "T" + r},
        {"truncated three-byte",
         "\xE2\x82"
         "T20",
         r + "T20"},
        {"overlong slash", "\xC0\xAF", r},
        {"stray continuation bytes after a bad sequence", "\xE0\x80\xAF\x80\x80", r},
        {"lead byte then ASCII", "\xC3(", r + "("},
    };
    for (const EchoCase& c : cases) {
        SCOPED_TRACE(c.name);
        Game501 game;
        game.start({"Zef"});
        const json before = game.state();
        const json answer = game.addDart(c.notation, "test");
        EXPECT_EQ(
            answer,
            json({{"accepted", false}, {"message", "Ogiltigt kast: " + c.echo}, {"game", before}}));
        EXPECT_NO_THROW((void)answer.dump());
    }
}

// At the edges of UTF-8 (the smallest and largest character of each length,
// overlong forms, surrogates, values beyond U+10FFFF, cut-off sequences) a
// valid character is echoed and kept whole by the name cut, and anything else
// becomes one U+FFFD in the echo and is cut at the limit in a name.
TEST(BadInput, Utf8BoundariesDecideWhatIsKeptWhole) {
    struct BoundaryCase {
        std::string name;
        std::string bytes;
        bool valid;
    };
    const std::vector<BoundaryCase> cases = {
        {"U+0080", "\xC2\x80", true},
        {"U+07FF", "\xDF\xBF", true},
        {"U+0800", "\xE0\xA0\x80", true},
        {"U+D7FF, below the surrogates", "\xED\x9F\xBF", true},
        {"U+E000, above the surrogates", "\xEE\x80\x80", true},
        {"U+FFFF", "\xEF\xBF\xBF", true},
        {"U+10000", "\xF0\x90\x80\x80", true},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
        {"overlong NUL", "\xC0\x80", false},
        {"overlong U+007F", "\xC1\xBF", false},
        {"overlong U+07FF", "\xE0\x9F\xBF", false},
        {"overlong U+FFFF", "\xF0\x8F\xBF\xBF", false},
        {"U+D800", "\xED\xA0\x80", false},
        {"U+DFFF", "\xED\xBF\xBF", false},
        {"U+110000", "\xF4\x90\x80\x80", false},
        {"lead byte F5", "\xF5\x80\x80\x80", false},
        {"byte FF", "\xFF", false},
        {"two-byte cut off", "\xC3", false},
        {"three-byte cut off", "\xE2\x82", false},
        {"four-byte cut off", "\xF0\x9F\x8E", false},
    };
    for (const BoundaryCase& c : cases) {
        SCOPED_TRACE(c.name);
        Game501 game;
        game.start({"Zef"});
        const std::string echo = game.addDart("x" + c.bytes + "y", "test")["message"];
        EXPECT_EQ(echo, "Ogiltigt kast: x" + (c.valid ? c.bytes : kReplacement) + "y");
        EXPECT_TRUE(isValidUtf8(echo));

        // The sequence straddles the 32-byte limit by one byte.
        const std::string before(33 - c.bytes.size(), 'a');
        const std::string name = game.start({before + c.bytes})["game"]["players"][0]["name"];
        EXPECT_EQ(name, c.valid ? before : before + c.bytes.substr(0, c.bytes.size() - 1));
    }
}

TEST(BadInput, HugeNotationsGetTheirDocumentedAnswer) {
    struct HugeCase {
        std::string name;
        std::string notation;
        bool accepted;
        std::string message;
    };
    const std::string half_mib_spaces(std::size_t{1} << 19, ' ');
    const std::vector<HugeCase> cases = {
        {"1 MiB of letters", kMiB, false, "Ogiltigt kast: " + kMiB},
        {"1 MiB around a dart", half_mib_spaces + "t20" + half_mib_spaces, true, "T20 registrerad"},
        {"1 MiB of leading zeros", "D" + std::string(std::size_t{1} << 20, '0') + "7", true,
         "D7 registrerad"},
        {"1 MiB of digits", "T" + std::string(std::size_t{1} << 20, '9'), false,
         "Ogiltigt kast: T" + std::string(std::size_t{1} << 20, '9')},
    };
    for (const HugeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Game501 game;
        game.start({"Zef"});
        const json answer = game.addDart(c.notation, "test");
        EXPECT_EQ(answer["accepted"], c.accepted);
        EXPECT_EQ(answer["message"], c.message);
        EXPECT_EQ(responseProblem(answer), "");
    }

    Game501 game;
    game.start({"Zef"});
    const json answer = game.addDart(std::string(std::size_t{1} << 20, '\xFF'), "test");
    std::string echo;
    for (std::size_t i = 0; i < (std::size_t{1} << 20); ++i) {
        echo += kReplacement;
    }
    EXPECT_EQ(answer["message"], "Ogiltigt kast: " + echo);
}

// The source label is the caller's own text: kept byte for byte, whatever it
// holds and however long it is, and given back by undo together with its dart.
TEST(BadInput, SourcesAreStoredByteForByteWhateverTheirLength) {
    const std::vector<std::string> sources = {
        std::string("cam\0era", 7),
        "\xFF\xFE",
        "\xC3",
        "",
        std::string(65, 's'),
        std::string(300, 'q'),
        std::string(4096, 'k'),
        std::string(63, 'a') + "\xC3\xB6",
    };
    for (const std::string& source : sources) {
        SCOPED_TRACE("source of " + std::to_string(source.size()) + " bytes");
        Game501 game;
        game.start({"Zef"});
        game.addDart("T20", "test");
        const json answer = game.addDart("S5", source);
        ASSERT_EQ(answer["accepted"], true);
        EXPECT_EQ(answer["game"]["current_turn"]["darts"][1]["source"], source);
        EXPECT_EQ(responseProblem(answer), "");
        game.addDart("S1", "test");  // ends the turn, keeping the source in the history
        EXPECT_EQ(game.state()["history"][0]["darts"][1]["source"], source);
        game.undo();
        EXPECT_EQ(game.state()["current_turn"]["darts"][1]["source"], source);
        if (isValidUtf8(source)) {
            EXPECT_NO_THROW((void)game.state().dump());
        }
    }
}

TEST(BadInput, NamesAreCleanedWhateverTheyHold) {
    struct NameCase {
        std::string name;
        std::string input;
        std::string stored;
    };
    const std::vector<NameCase> cases = {
        {"1 MiB name", kMiB, kMiB.substr(0, 32)},
        {"NUL inside", std::string("Z\0f", 3), std::string("Z\0f", 3)},
        {"only NUL", std::string(1, '\0'), std::string(1, '\0')},
        {"invalid UTF-8 kept", "\xFF\xFEZef", "\xFF\xFEZef"},
        {"1 MiB of spaces", std::string(std::size_t{1} << 20, ' '), "Spelare 1"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name);
        Game501 game;
        const json answer = game.start({c.input});
        ASSERT_EQ(answer["accepted"], true);
        EXPECT_EQ(answer["game"]["players"][0]["name"], c.stored);
        EXPECT_EQ(responseProblem(answer), "");
    }
}

TEST(BadInput, AMillionNamesAreRefusedWithoutTouchingTheGame) {
    Game501 game;
    game.start({"Ymma", "Kovik"});
    game.addDart("T20", "test");
    const json before = game.state();
    const std::vector<std::string> names(1000000, "x");
    const json answer = game.start(names);
    EXPECT_EQ(
        answer,
        json({{"accepted", false}, {"message", "Välj mellan 1 och 8 spelare"}, {"game", before}}));
}

// Many threads sending every kind of bad input at once: each answer must be
// a well-formed document that keeps every rule.
TEST(BadInput, ManyThreadsMixingBadInputKeepEveryRule) {
    Game501 game;
    game.start({"Ymma", "Kovik", "Zef"});
    const std::vector<std::string> notations = {
        "T20", "d20", "BULL", "S1", "\xFF", std::string("T2\0", 3), "T21", "", " 19 ", "\xE2\x82",
    };
    const std::vector<std::string> sources = {"kamera", "", "\xC3\x28", std::string(4096, 's')};
    const auto problems = game501::test::runConcurrently(12, 300, [&](int t, int call) {
        const auto pick = static_cast<std::size_t>(call * 7 + t);
        switch ((call + t) % 8) {
            case 0:
            case 1:
            case 2:
                return responseProblem(game.addDart(notations[pick % notations.size()],
                                                    sources[pick % sources.size()]));
            case 3:
                return responseProblem(game.undo());
            case 4:
                return responseProblem(game.markBoardClear());
            case 5:
                return responseProblem(call % 50 == 0 ? game.reset()
                                                      : game.start(std::vector<std::string>(
                                                            pick % 10, std::string(40, 'n'))));
            case 6:
                return stateProblem(game.state());
            default:
                (void)game.isPlaying();
                return std::string();
        }
    });
    EXPECT_EQ(problems, std::vector<std::vector<std::string>>(12));
    EXPECT_EQ(stateProblem(game.state()), "");
}

// The checks the fuzzer relies on must notice a broken document, or a fuzz
// run without findings would prove nothing.
TEST(DocumentChecks, NoticeBrokenDocuments) {
    Game501 game;
    game.start({"Ymma", "Kovik"});
    game501::test::throwAll(game, {"T20", "T20", "T20"});
    game.markBoardClear();
    game.addDart("S1", "test");
    const json good = game.state();
    ASSERT_EQ(stateProblem(good), "");

    struct Breakage {
        std::string name;
        void (*apply)(json&);
    };
    const std::vector<Breakage> breakages = {
        {"score of 1", [](json& s) { s["players"][0]["score"] = 1; }},
        {"unsigned integer", [](json& s) { s["round"] = 1U; }},
        {"extra key", [](json& s) { s["extra"] = 0; }},
        {"missing key", [](json& s) { s.erase("can_undo"); }},
        {"turn total off", [](json& s) { s["current_turn"]["total"] = 2; }},
        {"bust dart in play", [](json& s) { s["current_turn"]["darts"][0]["bust"] = true; }},
        {"non-canonical notation",
         [](json& s) { s["current_turn"]["darts"][0]["notation"] = "S01"; }},
        {"value off its notation", [](json& s) { s["history"][0]["darts"][0]["value"] = 59; }},
        {"two active players", [](json& s) { s["players"][0]["active"] = true; }},
        {"winner while playing", [](json& s) { s["winner"] = 0; }},
        {"awaiting with darts", [](json& s) { s["awaiting_clear"] = true; }},
        {"wrong history player", [](json& s) { s["history"][0]["player"] = "Kovik"; }},
        {"21 history entries",
         [](json& s) {
             while (s["history"].size() < 21) {
                 s["history"].push_back(s["history"][0]);
             }
         }},
    };
    for (const Breakage& breakage : breakages) {
        json broken = good;
        breakage.apply(broken);
        EXPECT_NE(stateProblem(broken), "") << breakage.name;
    }
}

}  // namespace
}  // namespace game501
