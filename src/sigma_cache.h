// Tables that depend on a player's sigma, built once per sigma by the first
// caller that needs one, while callers for other sigmas go on. The skill
// levels' sigmas, and any the owner pins, are never dropped; of the others
// the oldest goes once more than `others` are kept. May be used from any
// thread at once. For the library's own use; not installed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "checkout_hint.h"
#include "mutex.h"

namespace game501 {

template <typename Table>
class SigmaCache {
public:
    // Fills a default-constructed table for a sigma.
    using Build = std::function<void(double sigma_mm, Table& table)>;

    SigmaCache(std::size_t others, Build build) : others_(others), build_(std::move(build)) {
        for (const SkillLevel& level : skillLevels()) {
            pinned_.insert(level.sigma_mm);
        }
    }

    std::shared_ptr<const Table> get(double sigma_mm) {
        std::shared_ptr<Entry> entry;
        {
            const MutexLock lock(mutex_);
            std::shared_ptr<Entry>& slot = entries_[sigma_mm];
            if (!slot) {
                slot = std::make_shared<Entry>();
                if (pinned_.count(sigma_mm) == 0) {
                    drop_order_.push_back(sigma_mm);
                    if (drop_order_.size() > others_) {
                        entries_.erase(drop_order_.front());
                        drop_order_.pop_front();
                    }
                }
            }
            entry = slot;
        }
        std::call_once(entry->built, [this, &entry, sigma_mm] {
            auto table = std::make_shared<Table>();
            build_(sigma_mm, *table);
            entry->table = std::move(table);
        });
        return entry->table;
    }

    // Keeps the table of `sigma_mm` for good.
    void pin(double sigma_mm) {
        const MutexLock lock(mutex_);
        pinned_.insert(sigma_mm);
        drop_order_.erase(std::remove(drop_order_.begin(), drop_order_.end(), sigma_mm),
                          drop_order_.end());
    }

private:
    struct Entry {
        std::once_flag built;
        std::shared_ptr<const Table> table;
    };

    const std::size_t others_;
    const Build build_;
    Mutex mutex_;
    std::map<double, std::shared_ptr<Entry>> entries_ GAME501_GUARDED_BY(mutex_);
    std::deque<double> drop_order_ GAME501_GUARDED_BY(mutex_);
    std::set<double> pinned_ GAME501_GUARDED_BY(mutex_);
};

}  // namespace game501
