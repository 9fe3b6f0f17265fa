#include "correction.h"

#include <nlohmann/json.hpp>

#include "parsing.h"

namespace game501::server {

std::string_view operationOf(Correction::Kind kind) {
    switch (kind) {
        case Correction::Kind::rename:
            return "rename";
        case Correction::Kind::merge:
            return "merge";
        case Correction::Kind::void_match:
            return "void";
        case Correction::Kind::add_player:
            break;
    }
    return "add_player";
}

std::string argumentsJson(const Correction& correction) {
    using json = nlohmann::json;
    switch (correction.kind) {
        case Correction::Kind::rename:
            return json{{"name", correction.name}, {"player", correction.player}}.dump();
        case Correction::Kind::merge:
            return json{{"into", correction.into}, {"player", correction.player}}.dump();
        case Correction::Kind::void_match:
            return json{{"match", matchId(correction.board, correction.start_event)},
                        {"void", correction.voided}}
                .dump();
        case Correction::Kind::add_player:
            break;
    }
    return json{{"name", correction.name}}.dump();
}

}  // namespace game501::server
