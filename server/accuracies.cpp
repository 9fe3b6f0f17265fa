#include "accuracies.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <exception>
#include <iostream>
#include <iterator>
#include <limits>
#include <utility>

#include "read_queue.h"
#include "replay.h"
#include "rules.h"
#include "server_limits.h"

namespace game501::server {

namespace {

// Returns the calendar month of a time in the server's local time, as the
// days of the matches' lists are: "2026-12".
std::string monthOf(std::int64_t millis) {
    const auto seconds = static_cast<std::time_t>(millis / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m", &local);
    return std::string(text, length);
}

std::optional<double> boardSigma(const std::optional<accuracy::Estimate>& estimate) {
    if (!estimate) {
        return std::nullopt;
    }
    // A whole number divided gives the double nearest the decimal, as
    // likeLevel's text reads back.
    const double steps = Accuracies::kBoardSigmaStepsPerMm;
    return std::round(estimate->sigma_mm * steps) / steps;
}

}  // namespace

bool teachesAccuracy(const archive::MatchEntry& match) {
    return match.status != "playing" && !match.voided &&
           (archive::counts(match) || archive::practice(match));
}

Accuracies::Accuracies(ArchiveReader& reader) : reader_(reader) {}

Accuracies::~Accuracies() {
    {
        const MutexLock lock(queue_mutex_);
        stopping_ = true;
    }
    queue_changed_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void Accuracies::start() {
    thread_ = std::thread([this] { run(); });
}

void Accuracies::ended(int board, std::uint64_t start_event, std::int64_t updated,
                       std::shared_ptr<const std::vector<LegRecord>> legs) {
    {
        const MutexLock lock(queue_mutex_);
        ended_.insert_or_assign({board, start_event}, Ended{updated, std::move(legs)});
    }
    queue_changed_.notify_one();
}

void Accuracies::changed() {
    {
        const MutexLock lock(queue_mutex_);
        everyone_ = true;
    }
    queue_changed_.notify_one();
}

std::optional<double> Accuracies::sigmaOf(std::string_view name) const {
    const MutexLock lock(sigmas_mutex_);
    const auto found = sigmas_.find(nameKey(name));
    if (found == sigmas_.end()) {
        return std::nullopt;
    }
    return found->second;
}

MemberAccuracy Accuracies::of(const Member& member, const std::vector<Appearance>& appearances) {
    const MutexLock lock(work_mutex_);
    return refreshLocked(member.id, appearances, {}, true);
}

MemberAccuracy Accuracies::refreshLocked(std::int64_t member,
                                         const std::vector<Appearance>& appearances,
                                         const Fresh& fresh, bool with_months) {
    std::map<std::string, std::vector<Seat>> seats;
    for (const Appearance& appearance : appearances) {
        const archive::MatchEntry& match = appearance.match;
        if (teachesAccuracy(match)) {
            seats[monthOf(match.started)].emplace_back(match.board, match.start_event,
                                                       appearance.position, match.updated);
        }
    }
    Kept& kept = kept_[member];
    std::map<std::string, Month> months;
    accuracy::Tally all;
    MemberAccuracy answer;
    for (auto& [name, month_seats] : seats) {
        std::sort(month_seats.begin(), month_seats.end());
        const auto found = kept.months.find(name);
        Month month;
        if (found != kept.months.end() &&
            std::includes(month_seats.begin(), month_seats.end(), found->second.seats.begin(),
                          found->second.seats.end())) {
            // Tallies add: a month that only gained matches plays those alone.
            month = std::move(found->second);
            std::vector<Seat> gained;
            std::set_difference(month_seats.begin(), month_seats.end(), month.seats.begin(),
                                month.seats.end(), std::back_inserter(gained));
            if (!gained.empty()) {
                month.tally.add(tallyLocked(gained, fresh));
                month.estimated = false;
            }
        } else {
            month.tally = tallyLocked(month_seats, fresh);
        }
        month.seats = std::move(month_seats);
        if (with_months && !month.estimated) {
            month.estimate = accuracy::estimate(month.tally);
            month.estimated = true;
        }
        all.add(month.tally);
        if (month.tally.usableDarts() > 0) {
            answer.months.push_back(MonthAccuracy{name, month.tally.usableDarts(), month.estimate});
        }
        months.emplace(name, std::move(month));
    }
    if (all != kept.tally) {
        kept.estimate = accuracy::estimate(all);
        kept.tally = all;
    }
    kept.months = std::move(months);
    answer.estimate = kept.estimate;
    answer.darts = kept.tally.usableDarts();
    return answer;
}

accuracy::Tally Accuracies::tallyLocked(const std::vector<Seat>& seats, const Fresh& fresh) {
    accuracy::Tally tally;
    for (const Seat& seat : seats) {
        if (const auto found = fresh.find(seat); found != fresh.end()) {
            tally.add(found->second);
            continue;
        }
        const auto& [board, start_event, position, updated] = seat;
        // The darts themselves are in the journal: the match is played again.
        const Replay replay(reader_.matchRows(board, start_event));
        tally.add(accuracy::thrownDarts(replay.match().legs(), position));
    }
    return tally;
}

Accuracies::Learnt Accuracies::learnLocked(std::int64_t member,
                                           const std::vector<Appearance>& ended,
                                           const Fresh& fresh) {
    const auto found = kept_.find(member);
    if (found == kept_.end()) {
        return {};
    }
    Kept& kept = found->second;
    const accuracy::Tally before = kept.tally;
    for (const auto& [match, position] : ended) {
        if (!teachesAccuracy(match)) {
            continue;
        }
        Month& month = kept.months[monthOf(match.started)];
        const Seat seat{match.board, match.start_event, position, match.updated};
        const auto place = std::lower_bound(month.seats.begin(), month.seats.end(),
                                            Seat{match.board, match.start_event, position,
                                                 std::numeric_limits<std::int64_t>::min()});
        if (place != month.seats.end() && *place == seat) {
            continue;  // learnt already
        }
        if (place != month.seats.end() && std::get<0>(*place) == match.board &&
            std::get<1>(*place) == match.start_event && std::get<2>(*place) == position) {
            return {};  // it ended before, and again after a dart taken back
        }
        const accuracy::Tally tally = tallyLocked({seat}, fresh);
        month.seats.insert(place, seat);
        month.tally.add(tally);
        month.estimated = false;
        kept.tally.add(tally);
    }
    if (kept.tally != before) {
        kept.estimate = accuracy::estimate(kept.tally);
    }
    return Learnt{true, kept.estimate};
}

void Accuracies::refresh(const Member& member, const std::vector<Appearance>& ended,
                         const Fresh& fresh) {
    std::optional<double> sigma;
    {
        const MutexLock lock(work_mutex_);
        const Learnt learnt = learnLocked(member.id, ended, fresh);
        sigma = boardSigma(
            learnt.kept ? learnt.estimate
                        : refreshLocked(member.id, reader_.appearances(member.id, {}), fresh, false)
                              .estimate);
    }
    const MutexLock lock(sigmas_mutex_);
    if (sigma) {
        sigmas_.insert_or_assign(nameKey(member.name), *sigma);
    } else {
        sigmas_.erase(nameKey(member.name));
    }
}

void Accuracies::refreshEveryone() {
    std::map<std::string, double, std::less<>> sigmas;
    for (const Member& member : reader_.members()) {
        const MutexLock lock(work_mutex_);
        const std::optional<double> sigma = boardSigma(
            refreshLocked(member.id, reader_.appearances(member.id, {}), {}, false).estimate);
        if (sigma) {
            sigmas.emplace(nameKey(member.name), *sigma);
        }
    }
    const MutexLock lock(sigmas_mutex_);
    sigmas_ = std::move(sigmas);
}

void Accuracies::run() {
    // A cache the boards can wait for: their threads win the processor.
    lowerThreadPriority();
    while (true) {
        std::map<std::pair<int, std::uint64_t>, Ended> ended;
        bool everyone = false;
        {
            ReleasableMutexLock lock(queue_mutex_);
            while (!stopping_ && !everyone_ && ended_.empty()) {
                queue_changed_.wait(lock);
            }
            if (stopping_) {
                return;
            }
            everyone = std::exchange(everyone_, false);
            ended = std::exchange(ended_, {});
        }
        try {
            if (everyone) {
                refreshEveryone();
                continue;
            }
            // The matches' members, each once, under the register's names,
            // with their seats and the legs thrown from each.
            struct Seats {
                std::string name;
                std::vector<Appearance> appearances;
                std::vector<std::pair<Seat, const Ended*>> thrown;
            };
            std::map<std::int64_t, Seats> members;
            for (const auto& [key, match_ended] : ended) {
                const auto& [board, start_event] = key;
                const std::optional<archive::MatchEntry> match =
                    reader_.match(board, start_event, {});
                for (std::size_t seat = 0; match && seat < match->members.size(); ++seat) {
                    if (match->members[seat] == 0) {
                        continue;
                    }
                    const auto position = static_cast<int>(seat);
                    Seats& member = members[match->members[seat]];
                    member.name = match->players[seat];
                    member.appearances.push_back(Appearance{*match, position});
                    if (match_ended.legs) {
                        member.thrown.emplace_back(
                            Seat{board, start_event, position, match_ended.updated}, &match_ended);
                    }
                }
            }
            // A tally is some kilobytes: each member's are made only while
            // that member is brought up to date, however many matches ended.
            for (const auto& [id, member] : members) {
                Fresh fresh;
                for (const auto& [seat, match_ended] : member.thrown) {
                    fresh[seat].add(accuracy::thrownDarts(*match_ended->legs, std::get<2>(seat)));
                }
                refresh(Member{id, member.name}, member.appearances, fresh);
            }
        } catch (const std::exception& error) {
            // Tried again with the next match that ends.
            std::cerr << "game-501-server: träffsäkerheten kan inte läsas: " << error.what()
                      << "\n";
        }
        // The matches that end meanwhile wait for the next round: however
        // many end, a member's estimate is made once a round at most.
        const auto next_round = std::chrono::steady_clock::now() + kAccuracyRound;
        ReleasableMutexLock lock(queue_mutex_);
        while (!stopping_ &&
               queue_changed_.wait_until(lock, next_round) != std::cv_status::timeout) {
        }
    }
}

}  // namespace game501::server
