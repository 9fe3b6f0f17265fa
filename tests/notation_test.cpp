#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

namespace game501 {
namespace {

using game501::test::json;

struct AcceptedCase {
    std::string input;
    std::string notation;
    int value;
    bool is_double;
};

TEST(Notation, AcceptsEveryFormOfTheGrammar) {
    const std::vector<AcceptedCase> cases = {
        {"t20", "T20", 60, false},
        {"D20", "D20", 40, true},
        {"BULL", "BULL", 50, true},
        {"bull", "BULL", 50, true},
        {" Bull ", "BULL", 50, true},
        {"db", "BULL", 50, true},
        {"D25", "BULL", 50, true},
        {"50", "BULL", 50, true},
        {"OUTER", "OUTER", 25, false},
        {"outer", "OUTER", 25, false},
        {"sb", "OUTER", 25, false},
        {"S25", "OUTER", 25, false},
        {"25", "OUTER", 25, false},
        {"MISS", "MISS", 0, false},
        {"miss", "MISS", 0, false},
        {"m", "MISS", 0, false},
        {"0", "MISS", 0, false},
        {"20", "S20", 20, false},
        {"s20", "S20", 20, false},
        {"S020", "S20", 20, false},
        {"7", "S7", 7, false},
        {"T020", "T20", 60, false},
        {"T00000000000000000020", "T20", 60, false},
        {"d1", "D1", 2, true},
        {"D01", "D1", 2, true},
        {"t1", "T1", 3, false},
        {"\tT19\n", "T19", 57, false},
        {"\v\f\rS5 ", "S5", 5, false},
    };
    for (const AcceptedCase& c : cases) {
        SCOPED_TRACE("input \"" + c.input + "\"");
        const std::optional<Game501::DartValue> dart = Game501::parseDart(c.input);
        ASSERT_TRUE(dart.has_value());
        EXPECT_EQ(dart->notation, c.notation);
        EXPECT_EQ(dart->value, c.value);
        EXPECT_EQ(dart->is_double, c.is_double);
    }
}

TEST(Notation, RejectsEverythingElse) {
    const std::vector<std::string> rejected = {
        "T21",
        "S21",
        "21",
        "T25",
        "t25",
        "T025",
        "S50",
        "D50",
        "T0",
        "S0",
        "D0",
        "00",
        "S025",
        "D025",
        "025",
        "050",
        "",
        "   ",
        "T",
        "D",
        "S",
        "T 20",
        "T+5",
        "T-1",
        "T2x",
        "X20",
        "TB",
        "-5",
        "1.5",
        "MI SS",
        "+5",
        "T4294967297",
        "T4294967316",
        "T99999999999",
        "2147483648",
        "T2147483647",
        "Tö20",
        "S20\u00A0",
        "\u00A0S20",
        "MISS\xFF",
        std::string("T2\0", 3),
        std::string("\0T20", 4),
    };
    for (const std::string& input : rejected) {
        SCOPED_TRACE("input \"" + input + "\"");
        EXPECT_FALSE(Game501::parseDart(input).has_value());
    }
}

struct NameCase {
    std::string input;
    std::size_t index;
    std::string expected;
};

TEST(PlayerNames, AreTrimmedDefaultedAndCut) {
    const std::string ascii40 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";
    const std::string bytes32 = ascii40.substr(0, 32);
    const std::vector<NameCase> cases = {
        {"  Zef  ", 0, "Zef"},
        {"", 2, "Spelare 3"},
        {"   ", 2, "Spelare 3"},
        {"\t\n", 7, "Spelare 8"},
        {"Anna  Lind", 0, "Anna  Lind"},
        {"Sjörk", 1, "Sjörk"},
        {ascii40, 0, bytes32},
        {bytes32, 0, bytes32},
        {"  " + ascii40 + "  ", 0, bytes32},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE("name \"" + c.input + "\"");
        std::vector<std::string> names(c.index + 1, "x");
        names[c.index] = c.input;
        Game501 game;
        const json answer = game.start(names);
        EXPECT_EQ(answer["game"]["players"][c.index]["name"], c.expected);
    }
}

// A name cut at 32 bytes must stay valid UTF-8, or serialising the state
// document throws.
TEST(PlayerNames, CutNeverSplitsAMultiByteCharacter) {
    const std::string o_umlaut = "\xC3\xB6";       // 2 bytes
    const std::string euro = "\xE2\x82\xAC";       // 3 bytes
    const std::string emoji = "\xF0\x9F\x8E\xAF";  // 4 bytes
    const std::string a31(31, 'a');
    const std::string a30(30, 'a');
    const std::string a29(29, 'a');
    const std::vector<NameCase> cases = {
        {a31 + o_umlaut + "z", 0, a31},             // straddles 32 by one byte
        {a30 + o_umlaut + "z", 0, a30 + o_umlaut},  // ends exactly at 32
        {a31 + euro, 0, a31},
        {a30 + euro, 0, a30},
        {a29 + euro + "z", 0, a29 + euro},
        {a29 + emoji, 0, a29},
        {std::string(28, 'a') + emoji + "z", 0, std::string(28, 'a') + emoji},
        {std::string(8, 'x') + emoji + emoji + emoji + emoji + emoji + emoji, 0,
         std::string(8, 'x') + emoji + emoji + emoji + emoji + emoji + emoji},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE("name of " + std::to_string(c.input.size()) + " bytes");
        Game501 game;
        const json state = game.start({c.input})["game"];
        EXPECT_EQ(state["players"][0]["name"], c.expected);
        EXPECT_NO_THROW((void)state.dump());
    }
}

// Names that are not valid UTF-8 to begin with are kept byte for byte up to
// the limit rather than shortened further.
TEST(PlayerNames, InvalidUtf8IsCutAtTheLimit) {
    const std::string continuation_bytes(40, '\x80');
    Game501 game;
    const json state = game.start({continuation_bytes})["game"];
    EXPECT_EQ(state["players"][0]["name"], std::string(32, '\x80'));
}

}  // namespace
}  // namespace game501
