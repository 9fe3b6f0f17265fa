// The server's pure pieces, each as a table: how a request's numbers, ids,
// escapes, queries and write headers are read, the idempotency keys a
// board remembers, and the levels a start's computers are kept as.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "accuracies.h"
#include "archive.h"
#include "journal.h"
#include "match_follower.h"
#include "members.h"
#include "parsing.h"
#include "recent_keys.h"
#include "server_limits.h"

namespace game501::server {
namespace {

using Ids = std::vector<std::uint64_t>;

Request withFields(const std::vector<std::pair<std::string, std::string>>& fields) {
    Request request{http::verb::post, "/api/boards/1/darts", 11};
    for (const auto& [name, value] : fields) {
        request.insert(name, value);
    }
    return request;
}

TEST(Parsing, DecimalTakesDigitsOnly) {
    const struct {
        std::string_view text;
        std::size_t max_digits;
        std::optional<std::uint64_t> expected;
    } rows[] = {
        {"0", 1, 0},
        {"007", 3, 7},
        {"18446744073709551615", 20, UINT64_MAX},
        {"18446744073709551616", 20, std::nullopt},  // past 64 bits
        {"1234", 3, std::nullopt},
        {"", 3, std::nullopt},
        {"-1", 3, std::nullopt},
        {"+1", 3, std::nullopt},
        {" 1", 3, std::nullopt},
        {"1x", 3, std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(decimal(row.text, row.max_digits), row.expected) << row.text;
    }
}

// Runs `body` with the local time of the zone `zone`, then puts the
// process's zone back.
template <typename Body>
void inZone(const char* zone, Body body) {
    const char* const kept = std::getenv("TZ");
    const std::string before = kept ? kept : "";
    setenv("TZ", zone, 1);
    tzset();
    body();
    if (kept) {
        setenv("TZ", before.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(Parsing, DayStartIsLocalMidnightOfARealDate) {
    constexpr std::int64_t kDay = 86'400'000;
    const struct {
        std::string_view date;
        int days_after;
        std::optional<std::int64_t> expected;
    } rows[] = {
        {"2026-03-14", 0, 1'773'446'400'000},
        {"2026-03-14", 1, 1'773'446'400'000 + kDay},
        {"2026-02-28", 1, 1'772'323'200'000},  // the next month
        {"2026-12-31", 1, 1'798'761'600'000},  // the next year
        {"2024-02-29", 0, 1'709'164'800'000},
        {"2026-02-29", 0, std::nullopt},
        {"2026-04-31", 0, std::nullopt},
        {"2026-13-01", 0, std::nullopt},
        {"2026-00-10", 0, std::nullopt},
        {"2026-01-00", 0, std::nullopt},
        {"2026-3-14", 0, std::nullopt},
        {"2026-03-14 ", 0, std::nullopt},
        {"2026/03/14", 0, std::nullopt},
        {"+026-03-14", 0, std::nullopt},
        {"", 0, std::nullopt},
    };
    inZone("UTC", [&] {
        for (const auto& row : rows) {
            EXPECT_EQ(dayStart(row.date, row.days_after), row.expected) << row.date;
        }
    });
    // The night the clocks go forward is an hour short.
    inZone("Europe/Stockholm", [] {
        EXPECT_EQ(*dayStart("2026-03-29", 1) - *dayStart("2026-03-29"), 23 * 3'600'000);
        EXPECT_EQ(*dayStart("2026-03-14"), 1'773'446'400'000 - 3'600'000);
    });
}

TEST(Parsing, BoardNumbersAreOneToTheCountAsPrinted) {
    const struct {
        std::string_view text;
        std::size_t count;
        std::size_t expected;
    } rows[] = {
        {"1", 1, 1},       {"100", kMaxBoards, 100},
        {"3", 2, 0},       {"0", 5, 0},
        {"01", 5, 0},      {"", 5, 0},
        {"1000", 5000, 0},  // never past the largest board number's digits
        {"+1", 5, 0},      {"-1", 5, 0},
        {"1/", 5, 0},      {"2 ", 5, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(boardNumber(row.text, row.count), row.expected) << row.text;
    }
}

TEST(Parsing, MatchIdsReadBackWhatTheyPrint) {
    using Id = std::optional<std::pair<int, std::uint64_t>>;
    const std::string longest(kMaxMatchIdDigits, '9');
    const struct {
        std::string text;
        Id expected;
    } rows[] = {
        {"1-57", Id({1, 57})},
        {"100-1", Id({100, 1})},
        {"1-" + longest, Id({1, std::stoull(longest)})},
        {"1-" + longest + "9", std::nullopt},
        {"101-1", std::nullopt},  // past the largest board
        {"0-5", std::nullopt},
        {"1-0", std::nullopt},
        {"1-05", std::nullopt},
        {"01-5", std::nullopt},
        {"1-", std::nullopt},
        {"-5", std::nullopt},
        {"1-2-3", std::nullopt},
        {"1_57", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(parseMatchId(row.text), row.expected) << row.text;
    }
    EXPECT_EQ(parseMatchId(matchId(kMaxBoards, 123456)), Id({kMaxBoards, 123456}));
}

TEST(Parsing, PercentEscapesDecodeOrRefuse) {
    const struct {
        std::string_view text;
        bool plus_is_space;
        std::optional<std::string> expected;
    } rows[] = {
        {"Sj%C3%B6rk", false, "Sjörk"},
        {"%3dSj%c3%b6rk", false, "=Sjörk"},
        {"a+b", true, "a b"},
        {"a+b", false, "a+b"},
        {"100%25", false, "100%"},
        {"a%2Fb", false, "a/b"},
        {"%00", false, std::string(1, '\0')},
        {"%", false, std::nullopt},
        {"%2", false, std::nullopt},
        {"a%2", false, std::nullopt},
        {"%zz", false, std::nullopt},
        {"%+1", true, std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(percentDecoded(row.text, row.plus_is_space), row.expected) << row.text;
    }
}

TEST(Parsing, QueryValueIsTheFirstOfItsNameDecoded) {
    const struct {
        std::string_view query;
        std::string_view name;
        std::optional<std::string> expected;
    } rows[] = {
        {"player=Ymma&page=2", "page", "2"},
        {"page=2&page=3", "page", "2"},
        {"player=Sj%C3%B6rk+B", "player", "Sjörk B"},
        {"page", "page", ""},
        {"page=", "page", ""},
        {"pages=3", "page", std::nullopt},
        {"&&page=4&", "page", "4"},
        {"page=%zz", "page", std::nullopt},
        {"", "page", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(queryValue(row.query, row.name), row.expected) << row.query;
    }
    EXPECT_EQ(queryOf("/api/matches?page=2&x"), "page=2&x");
    EXPECT_EQ(queryOf("/api/matches"), "");
}

TEST(Parsing, IfMatchIsAnyOrTheBoardsEventIds) {
    const std::string longest(kMaxEntityTagDigits, '9');
    const struct {
        std::string name;
        std::vector<std::string> fields;
        std::optional<Precondition> expected;
    } rows[] = {
        {"none", {}, std::nullopt},
        {"any", {"*"}, Precondition{true, {}}},
        {"one", {"\"5\""}, Precondition{false, {5}}},
        {"a list", {" \"5\" , \"7\","}, Precondition{false, {5, 7}}},
        {"two fields", {"\"5\"", "\"7\""}, Precondition{false, {5, 7}}},
        {"any in a list", {"\"5\", *"}, Precondition{true, {5}}},
        {"leading zeros", {"\"007\""}, Precondition{false, {7}}},
        {"longest", {"\"" + longest + "\""}, Precondition{false, {std::stoull(longest)}}},
        {"too long", {"\"" + longest + "9\""}, Precondition{false, {}}},
        {"weak", {"W/\"5\""}, Precondition{false, {}}},
        {"unquoted", {"5"}, Precondition{false, {}}},
        {"empty tag", {"\"\""}, Precondition{false, {}}},
        {"signed", {"\"-1\"", "\"+1\""}, Precondition{false, {}}},
        {"not a number", {"\"abc\""}, Precondition{false, {}}},
    };
    for (const auto& row : rows) {
        std::vector<std::pair<std::string, std::string>> fields;
        for (const std::string& value : row.fields) {
            fields.emplace_back("If-Match", value);
        }
        const std::optional<Precondition> read = precondition(withFields(fields));
        ASSERT_EQ(read.has_value(), row.expected.has_value()) << row.name;
        if (read) {
            EXPECT_EQ(read->any, row.expected->any) << row.name;
            EXPECT_EQ(read->event_ids, row.expected->event_ids) << row.name;
        }
    }
}

TEST(Parsing, PreconditionHoldsAfterItsEventsOrAny) {
    EXPECT_TRUE((Precondition{true, {}}.holdsAfter(9)));
    EXPECT_TRUE((Precondition{false, {5, 9}}.holdsAfter(9)));
    EXPECT_FALSE((Precondition{false, {5, 7}}.holdsAfter(9)));
    EXPECT_FALSE((Precondition{false, {}}.holdsAfter(0)));
}

TEST(Parsing, IdempotencyKeyIsOneVisibleAsciiValue) {
    const std::string longest(kMaxIdempotencyKeyBytes, 'k');
    const struct {
        std::string name;
        std::vector<std::string> values;
        std::optional<std::string> expected;  // "": refused
    } rows[] = {
        {"none", {}, std::nullopt},
        {"a key", {"abc-123"}, "abc-123"},
        {"blanks around", {" \tabc "}, "abc"},
        {"longest", {longest}, longest},
        {"too long", {longest + "k"}, ""},
        {"empty", {""}, ""},
        {"a space inside", {"a b"}, ""},
        {"not ASCII", {"nyckel-å"}, ""},
        {"a control character", {"a\x01"}, ""},
        {"given twice", {"abc", "abc"}, ""},
    };
    for (const auto& row : rows) {
        std::vector<std::pair<std::string, std::string>> fields;
        for (const std::string& value : row.values) {
            fields.emplace_back("Idempotency-Key", value);
        }
        EXPECT_EQ(idempotencyKey(withFields(fields)), row.expected) << row.name;
    }
}

TEST(Parsing, BearerTokenInAnyLetterCase) {
    const struct {
        std::string value;
        std::optional<std::string_view> expected;
    } rows[] = {
        {"Bearer abc", "abc"},     {"bearer  abc ", "abc"},     {"BEARER abc", "abc"},
        {"Bearer ", std::nullopt}, {"Basic abc", std::nullopt}, {"Bearerabc", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(bearerToken(withFields({{"Authorization", row.value}})), row.expected)
            << row.value;
    }
    EXPECT_EQ(bearerToken(withFields({})), std::nullopt);
}

TEST(Parsing, JsonBodyByItsContentType) {
    const struct {
        std::vector<std::pair<std::string, std::string>> fields;
        bool expected;
    } rows[] = {
        {{{"Content-Type", "application/json"}}, true},
        {{{"Content-Type", " Application/JSON ; charset=utf-8"}}, true},
        {{{"Content-Type", "application/jsonx"}}, false},
        {{{"Content-Type", "text/json"}}, false},
        {{}, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(isJson(withFields(row.fields)), row.expected)
            << (row.fields.empty() ? "none" : row.fields.front().second);
    }
}

TEST(RecentKeys, RemembersTheLastTenThousandKeys) {
    RecentKeys keys(kRememberedKeysPerBoard);
    const std::uint64_t added = kRememberedKeysPerBoard + 1;
    for (std::uint64_t event_id = 1; event_id <= added; ++event_id) {
        keys.add("key-" + std::to_string(event_id), event_id);
    }
    EXPECT_EQ(keys.candidates("key-1"), Ids{});  // the oldest is forgotten
    EXPECT_EQ(keys.candidates("key-2"), Ids{2});
    EXPECT_EQ(keys.candidates("key-" + std::to_string(added)), Ids{added});
    EXPECT_EQ(keys.candidates("never"), Ids{});

    keys.forgetAfter(5000);
    EXPECT_EQ(keys.candidates("key-5001"), Ids{});
    EXPECT_EQ(keys.candidates("key-5000"), Ids{5000});
    keys.add("key-5001", 5001);
    EXPECT_EQ(keys.candidates("key-5001"), Ids{5001});
}

TEST(RecentKeys, CollidingHashesGiveEveryCandidateNewestFirst) {
    RecentKeys keys(3, [](std::string_view) -> std::uint64_t { return 7; });
    keys.add("a", 1);
    keys.add("b", 2);
    keys.add("c", 3);
    EXPECT_EQ(keys.candidates("anything"), (Ids{3, 2, 1}));
    keys.add("d", 4);
    EXPECT_EQ(keys.candidates("a"), (Ids{4, 3, 2}));
    keys.forgetAfter(3);
    EXPECT_EQ(keys.candidates("d"), (Ids{3, 2}));
}

TEST(RecentKeys, HashIsStableFromRunToRun) {
    // Keys found again after a restart hash as they did before it.
    EXPECT_EQ(RecentKeys::fnv1a(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(RecentKeys::fnv1a("a"), 0xaf63dc4c8601ec8cULL);
}

TEST(Archive, CountsCellKeepsEveryCountInItsColumn) {
    statistics::Counts counts;
    std::int64_t value = 1;
    for (const statistics::CountField& field : statistics::kCountFields) {
        counts.*field.member = value++;
    }
    const std::string cell = archive::countsCell({counts, statistics::Counts{}});
    EXPECT_EQ(cell, "[[1,2,3,4,5,6,7,8,9,10,11,12,13],[0,0,0,0,0,0,0,0,0,0,0,0,0]]");
    EXPECT_EQ(archive::countsFromCell(cell), (std::vector<statistics::Counts>{counts, {}}));
    EXPECT_EQ(archive::countsFromCell("not json"), std::vector<statistics::Counts>{});
}

TEST(Archive, CountsCellReadsWhatItCanAndNothingOfACellThatIsNone) {
    using Cell = std::vector<statistics::Counts>;
    statistics::Counts first_two;
    first_two.darts = 9;
    first_two.points = 501;
    const struct {
        std::string cell;
        Cell expected;
    } rows[] = {
        {"[[9,501]]", {first_two}},                           // a count that is missing reads 0
        {"[[9,501,0,0,0,0,0,0,0,0,0,0,0,77]]", {first_two}},  // one it does not know is left
        {"[[9,501,\"x\",1.5,null,true]]", {first_two}},
        {"[[],[9,501]]", {{}, first_two}},
        {"[]", {}},
        {"[[9,501],7]", {}},  // a player that is no array: the cell is none
        {"[9,501]", {}},
        {"{\"darts\":9}", {}},
        {"[[9,501]", {}},
        {"", {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(archive::countsFromCell(row.cell), row.expected) << row.cell;
    }
}

TEST(Archive, CountsFinishedMatchesOfMembersEachOnOneSeat) {
    const struct {
        const char* status;
        bool voided;
        std::vector<std::int64_t> members;  // 0: the computer
        bool counts;
        bool practice;
        bool teaches = counts || practice;  // the member's accuracy
    } rows[] = {
        {"finished", false, {1, 2}, true, false},
        {"finished", false, {1}, true, false},
        {"finished", true, {1, 2}, false, false},
        {"abandoned", false, {1, 2}, false, false},
        {"playing", false, {1, 2}, false, false},
        {"finished", false, {1, 0}, false, true},
        {"abandoned", false, {0, 0}, false, true},
        {"finished", false, {1, 1}, false, false},  // one member on two seats
        {"finished", false, {3, 1, 3}, false, false},
        {"playing", false, {1, 0}, false, true, false},
        {"finished", true, {1, 0}, false, true, false},
    };
    for (const auto& row : rows) {
        archive::MatchEntry entry;
        entry.status = row.status;
        entry.voided = row.voided;
        entry.members = row.members;
        SCOPED_TRACE(std::string(row.status) + (row.voided ? ", void" : "") + ", " +
                     std::to_string(row.members.size()) + " seats");
        EXPECT_EQ(archive::counts(entry), row.counts);
        EXPECT_EQ(archive::practice(entry), row.practice);
        EXPECT_EQ(teachesAccuracy(entry), row.teaches);
    }
}

TEST(SeatLevel, ReadsALevelOrTheSigmaOfAComputerLikeAMember) {
    const struct {
        std::string text;
        std::optional<double> sigma_mm;  // none: no level
    } rows[] = {
        {likeLevel(12.34, "Anna"), 12.3},
        {likeLevel(8.0, "Per: den andre"), 8.0},
        {"like:19.0:", 19.0},
        {"club", 19.0},
        {"like:0:Anna", std::nullopt},
        {"like:-3:Anna", std::nullopt},
        {"like:nan:Anna", std::nullopt},
        {"like:12.3x:Anna", std::nullopt},
        {"like:12.3", std::nullopt},
        {"like::Anna", std::nullopt},
        {"like:1e9:Anna", std::nullopt},
        {"Like:12.3:Anna", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const std::optional<ComputerLevel> level = seatLevel(row.text);
        EXPECT_EQ(level ? std::optional<double>(level->sigma_mm) : std::nullopt, row.sigma_mm);
    }
    EXPECT_EQ(likeLevel(12.34, "Anna"), "like:12.3:Anna");
}

TEST(Members, FindsAMemberByTheKeyOfAName) {
    Members members;
    members.apply({{"", "nils berg", "Nils Berg"}, {"", "åsa", "åsa"}, {"", "ymmma", "Ymmma"}});
    // Ymmma renamed Ymma, then Nils Berg merged into someone else.
    members.apply({{"ymmma", "ymma", "Ymma"}, {"nils berg", "", ""}});
    const struct {
        std::string_view name;
        std::optional<std::string> found;
    } rows[] = {
        {"Ymma", "Ymma"},      {" YMMA\t", "Ymma"},         {"Ymmma", std::nullopt}, {"åsa", "åsa"},
        {"Åsa", std::nullopt}, {"Nils Berg", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(members.find(row.name), row.found) << row.name;
    }
}

}  // namespace
}  // namespace game501::server
