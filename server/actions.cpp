#include "actions.h"

#include <nlohmann/json.hpp>

#include "json_writers.h"

namespace game501::server {

namespace {

using json = nlohmann::json;

const Action* actionOfOperation(std::string_view operation) {
    for (const Action& action : kActions) {
        if (action.operation == operation) {
            return &action;
        }
    }
    return nullptr;
}

}  // namespace

std::string argumentsJson(const Command& command) {
    switch (command.kind) {
        case Command::Kind::start: {
            json arguments{
                {"legs", command.legs}, {"players", command.players}, {"sets", command.sets}};
            if (!command.computers.empty()) {
                arguments["computers"] = command.computers;
                arguments["seed"] = command.seed;
            }
            if (command.competition != 0) {
                arguments["competition"] = command.competition;
                arguments["competition_match"] = command.competition_match;
            }
            return arguments.dump();
        }
        case Command::Kind::dart: {
            // Every dart has one: written straight, with no document between.
            JsonText arguments(32 + command.notation.size() + command.source.size());
            arguments.beginObject();
            arguments.key("notation");
            arguments.value(command.notation);
            arguments.key("source");
            arguments.value(command.source);
            arguments.endObject();
            return arguments.take();
        }
        case Command::Kind::undo:
        case Command::Kind::clear:
        case Command::Kind::reset:
            break;
    }
    return "{}";
}

std::optional<Command> commandFrom(std::string_view operation, std::string_view arguments) {
    const Action* const action = actionOfOperation(operation);
    const json values = json::parse(arguments, nullptr, false);
    if (action == nullptr || !values.is_object()) {
        return std::nullopt;
    }
    Command command;
    command.kind = action->kind;
    try {
        if (command.kind == Command::Kind::start) {
            command.players = values.at("players").get<std::vector<std::string>>();
            // A start journalled before matches existed played one leg.
            command.legs = values.value("legs", 1);
            command.sets = values.value("sets", 1);
            command.computers = values.value("computers", std::vector<std::string>());
            command.seed = values.value("seed", std::uint64_t{0});
            command.competition = values.value("competition", 0);
            command.competition_match = values.value("competition_match", 0);
        } else if (command.kind == Command::Kind::dart) {
            command.notation = values.at("notation").get<std::string>();
            command.source = values.at("source").get<std::string>();
        }
    } catch (const json::exception&) {
        return std::nullopt;
    }
    return command;
}

}  // namespace game501::server
