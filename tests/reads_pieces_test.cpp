// The pieces of the reads of the archive: the queue that bounds them and
// its 503, the record a board shares with its readers, the reports kept of
// matches that are over, and If-None-Match.
#include <gtest/gtest.h>
#include <sched.h>

#include <future>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "api.h"
#include "journal.h"
#include "kept_reports.h"
#include "live_record.h"
#include "match.h"
#include "match_report.h"
#include "parsing.h"
#include "read_queue.h"
#include "replay.h"

namespace game501::server {
namespace {

TEST(ReadQueue, RefusesAReadPastItsBound) {
    ReadQueue queue(1, 1);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> running;
    ASSERT_TRUE(queue.post([&running, released] {
        running.set_value();
        released.wait();
    }));
    running.get_future().wait();  // the one thread is busy
    std::promise<void> second_ran;
    EXPECT_TRUE(queue.post([&second_ran] { second_ran.set_value(); }));
    EXPECT_FALSE(queue.post([] {}));
    release.set_value();
    second_ran.get_future().wait();  // what was queued still runs
}

TEST(ReadQueue, ReadsRunOnlyWhenNoOtherThreadWantsTheProcessor) {
    ReadQueue queue(1, 1);
    std::promise<int> policy;
    ASSERT_TRUE(queue.post([&policy] { policy.set_value(sched_getscheduler(0)); }));
    EXPECT_EQ(policy.get_future().get(), SCHED_IDLE);
}

TEST(ReadQueue, AReadThatFindsItFullIsAnswered503WithRetryAfter) {
    std::string problem;
    const std::unique_ptr<Journal> journal = Journal::open(Journal::kInMemory, problem);
    ASSERT_NE(journal, nullptr) << problem;
    journal->setTokens({"0123456789abcdef0123456789abcdef"});
    journal->start();
    Boards boards;
    boards.push_back(std::make_unique<Board>(1, "0123456789abcdef0123456789abcdef", *journal));
    const Reports reports(journal->reader(), boards, journal->accuracies());
    const Organiser organiser("fedcba9876543210fedcba9876543210", *journal);
    Competitions competitions(*journal, boards);
    ReadQueue full(0, 0);
    const Api api(boards, reports, organiser, competitions, nullptr, &full);

    for (const char* target : {"/api/matches/1-1", "/api/matches/1-1/darts.csv", "/api/players",
                               "/api/matches?page=1"}) {
        Routed routed = api.route(Request{http::verb::get, target, 11});
        ASSERT_TRUE(std::holds_alternative<ArchiveRead>(routed)) << target;
        std::optional<Response> answer;
        api.answerLater(std::move(routed), [&answer](Response response) { answer = response; });
        ASSERT_TRUE(answer.has_value()) << target;
        EXPECT_EQ(answer->result(), http::status::service_unavailable) << target;
        EXPECT_EQ(answer->at(http::field::retry_after), "1") << target;
        EXPECT_NE(answer->body().view().find("\"too_many_reads\""), std::string::npos) << target;
    }
}

TEST(Parsing, IfNoneMatchListsATagOrAny) {
    const struct {
        std::string_view list;
        bool listed;
    } rows[] = {
        {"\"abc\"", true},   {"W/\"abc\"", true}, {"\"x\", \"abc\"", true}, {"*", true},
        {"", false},         {"\"abcd\"", false}, {"abc", false},           {"\"x\",,\"y\"", false},
        {" \"abc\" ", true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(listsTag(row.list, "\"abc\""), row.listed) << row.list;
    }
}

// Returns what a report and a file of darts make of `legs`.
std::string reported(const std::vector<LegRecord>& legs) {
    return legsJson(legs, 2) + match_report::dartsCsvRows("1-1", legs, {"Ymma", "Sjörk"});
}

TEST(LiveRecord, SharesOnlyWhatNoWriteChanged) {
    // Writes at random, undos across legs and new matches among them, each
    // record made from the one before as a board makes it; every record
    // reports what the match holds, and the last what a replay of its
    // calls holds.
    std::int64_t now = 0;
    Match match([&now] { return now; });
    std::vector<JournalRow> rows;
    std::shared_ptr<const LiveRecord> record = LiveRecord::of(match, nullptr);
    std::mt19937 random(501);
    const std::vector<std::string> beds = {"T20", "D20", "S19", "D10", "S5",
                                           "M",   "D1",  "S1",  "T19"};
    for (int call = 0; call < 1500; ++call) {
        Command command;
        const auto pick = static_cast<unsigned>(random() % 100);
        command.kind = pick < 1    ? Command::Kind::start
                       : pick < 15 ? Command::Kind::undo
                       : pick < 30 ? Command::Kind::clear
                                   : Command::Kind::dart;
        if (call == 0 || command.kind == Command::Kind::start) {
            command.kind = Command::Kind::start;
            command.players = {"Ymma", "Sjörk"};
            command.legs = 3;
            command.sets = 2;
        }
        command.notation = beds[random() % beds.size()];
        command.source = "test";
        now += 1000;
        const Answer answer = runCommand(match, command);
        rows.push_back(JournalRow{
            1, static_cast<std::uint64_t>(call + 1), now, command, "", answer.accepted, {}});
        if (!answer.accepted) {
            continue;
        }
        record = LiveRecord::of(match, record.get());
        ASSERT_EQ(reported(record->legs()), reported(match.legs())) << "call " << call;
        ASSERT_EQ(record->legsJson(2), legsJson(match.legs(), 2)) << "call " << call;
    }
    std::size_t start = rows.size();
    while (rows[--start].command.kind != Command::Kind::start || !rows[start].accepted) {
    }
    const Replay replay(
        std::vector<JournalRow>(rows.begin() + static_cast<long>(start), rows.end()));
    EXPECT_EQ(reported(record->legs()), reported(replay.match().legs()));
}

TEST(KeptReports, LetsTheLeastRecentlyReadGoFirst) {
    KeptReports kept(2, 1024 * 1024);
    const auto report = [](std::uint64_t last_event) {
        auto made = std::make_shared<KeptReport>();
        made->last_event = last_event;
        return made;
    };
    kept.keep(1, 1, report(10));
    kept.keep(1, 11, report(20));
    ASSERT_NE(kept.find(1, 1), nullptr);  // read: board 1's second match is now the oldest
    kept.keep(2, 1, report(5));
    EXPECT_EQ(kept.find(1, 11), nullptr);
    EXPECT_EQ(kept.find(1, 1)->last_event, 10U);
    EXPECT_EQ(kept.find(2, 1)->last_event, 5U);

    KeptReports small(10, 2 * sizeof(KeptReport) + 100);
    auto big = report(1);
    big->csv_rows.assign(150, 'x');
    small.keep(1, 1, report(1));
    small.keep(1, 2, big);  // too many bytes beside the first: it goes
    EXPECT_EQ(small.find(1, 1), nullptr);
    EXPECT_NE(small.find(1, 2), nullptr);
}

}  // namespace
}  // namespace game501::server
