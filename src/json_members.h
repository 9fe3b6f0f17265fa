// How the engine's documents are built: each object is filled in ascending
// key order, so that each member goes in at the end of the map after a
// single comparison, and each value is built in place. For the library's own
// use; not installed.
#pragma once

#include <nlohmann/json.hpp>
#include <utility>

namespace game501 {

// Adds a member at the end of an object built in ascending key order, with
// no temporary document and no copy.
template <typename Value>
nlohmann::json& addMember(nlohmann::json::object_t& members, const char* key, Value&& value) {
    return members.emplace_hint(members.end(), key, std::forward<Value>(value))->second;
}

}  // namespace game501
