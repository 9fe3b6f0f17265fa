// Drives one engine with a sequence of operations read from the input bytes
// and checks every answer: the document rules, that a refusal changes
// nothing, that an accepted dart scores as the rules say, that undo gives back
// exactly the document from before the dart, and that documents serialise
// whenever the names and sources given were valid UTF-8.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "document_checks.h"
#include "fuzz_support.h"
#include "game_501.h"

namespace {

using json = Game501::json;
using game501::check::idleState;
using game501::check::isValidUtf8;
using game501::check::responseProblem;
using game501::check::stateProblem;
using game501::fuzz::fail;
using game501::fuzz::require;
using game501::fuzz::requireNoProblem;

constexpr std::size_t kMaxUndoSteps = 100;
constexpr std::size_t kMaxOperations = 5000;

// Mostly real darts, so that games reach busts and checkouts, and a few texts
// that must be refused; raw bytes cover the rest.
const std::vector<std::string> kNotations = {
    "T20", "T19", "D12", "D20", "S1", "BULL", "MISS", "OUTER", " t20\t", "d16",
    "S2",  "D1",  "T21", "x",   "",   "S20",  "D25",  "050",   "T7",     "D8",
};
const std::vector<std::string> kSources = {
    "test", "", "keyboard", "kamera 2", "Sjörk", " padded ", "\xF0\x9F\x8E\xAF",
};
const std::vector<std::string> kNames = {
    "Ymma",
    "Sjörk",
    "",
    "   ",
    "  Zef  ",
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn",
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcde\xC3\xB6",
    "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"
    "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC",
};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool done() const { return position_ >= size_; }

    std::uint8_t byte() { return done() ? 0 : data_[position_++]; }

    // A length byte, then up to that many bytes (fewer at the end of input).
    std::string bytes(std::size_t max_length) {
        std::size_t length = byte() % (max_length + 1);
        if (length > size_ - position_) {
            length = size_ - position_;
        }
        const std::string text(reinterpret_cast<const char*>(data_ + position_), length);
        position_ += length;
        return text;
    }

    // An entry of the table for low selector bytes, raw bytes otherwise.
    std::string pick(const std::vector<std::string>& table, std::size_t max_length) {
        const std::uint8_t selector = byte();
        if (selector < 0xC0) {
            return table[selector % table.size()];
        }
        return bytes(max_length);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Everything the fuzzer remembers between operations on one engine.
struct Model {
    json state;                      // the last document the engine returned
    std::vector<json> before_darts;  // the document before each undoable dart
    bool text_valid = true;          // every stored name and source is UTF-8
};

// Only darts and names bring new text into a document, so only their answers
// need serialising. A refused dart's echo must serialise whatever was typed.
void requireSerialisable(const json& answer, const Model& model, const std::string& operation) {
    if (!model.text_valid) {
        return;
    }
    try {
        (void)answer.dump();
    } catch (const json::exception& error) {
        fail(operation + " answer does not serialise: " + error.what());
    }
}

void expectRefusal(const json& answer, const Model& model, const std::string& message) {
    require(answer["accepted"] == false, "refusal expected: " + message);
    require(answer["message"] == message, "wrong refusal message, expected: " + message);
    require(answer["game"] == model.state, "a refusal changed the state: " + message);
}

// The accepted dart must have done exactly what the rules say to the
// document from before it.
void checkAcceptedDart(const json& before, const json& answer, const Game501::DartValue& dart,
                       const std::string& source) {
    const json& after = answer["game"];
    const std::size_t thrower = before["active_player"].get<std::size_t>();
    const std::string name = before["players"][thrower]["name"].get<std::string>();
    const int score = before["players"][thrower]["score"].get<int>();
    const int turn_start = before["current_turn"]["start_score"].get<int>();
    const json& earlier_darts = before["current_turn"]["darts"];
    const int candidate = score - dart.value;
    const bool bust = candidate < 0 || candidate == 1 || (candidate == 0 && !dart.is_double);
    const bool checkout = !bust && candidate == 0;
    const bool turn_ends = bust || checkout || earlier_darts.size() == 2;

    require(after["can_undo"] == true, "an accepted dart leaves nothing to undo");
    for (std::size_t i = 0; i < before["players"].size(); ++i) {
        if (i != thrower) {
            require(after["players"][i]["score"] == before["players"][i]["score"],
                    "a dart changed another player's score");
        }
        require(after["players"][i]["name"] == before["players"][i]["name"],
                "a dart renamed a player");
    }

    const json& darts = turn_ends ? after["history"][0]["darts"] : after["current_turn"]["darts"];
    require(darts.size() == earlier_darts.size() + 1, "the dart is not added to its turn");
    for (std::size_t i = 0; i < earlier_darts.size(); ++i) {
        require(darts[i] == earlier_darts[i], "a dart changed the earlier darts of its turn");
    }
    const json& stored = darts.back();
    require(stored["notation"] == dart.notation && stored["value"] == dart.value &&
                stored["double"] == dart.is_double && stored["bust"] == bust,
            "the stored dart differs from the parsed one");
    require(stored["source"] == source, "the source is not stored byte for byte");

    if (turn_ends) {
        const json& earlier_history = before["history"];
        const json& history = after["history"];
        const std::size_t kept = std::min<std::size_t>(earlier_history.size(), 19);
        require(history.size() == kept + 1, "the ended turn is not kept in the history once");
        for (std::size_t i = 0; i < kept; ++i) {
            require(history[i + 1] == earlier_history[i], "keeping the turn changed older turns");
        }
        require(history[0]["player_index"] == thrower && history[0]["start_score"] == turn_start,
                "the kept turn names the wrong player or start");
    } else {
        require(after["history"] == before["history"], "a dart within a turn changed history");
    }

    const std::string message = answer["message"].get<std::string>();
    const json& player = after["players"][thrower];
    if (bust) {
        require(message == "Bust – turens poäng återställdes", "bust message");
        require(player["score"] == turn_start, "a bust did not restore the turn's start score");
        require(after["history"][0]["outcome"] == "bust", "a bust is not kept as bust");
        require(after["awaiting_clear"] == true, "a bust does not wait for a clear");
    } else if (checkout) {
        require(message == name + " vann med " + dart.notation, "checkout message");
        require(after["status"] == "finished" && after["winner"] == thrower,
                "a checkout did not finish the game");
        require(after["history"][0]["outcome"] == "checkout", "checkout not kept in the history");
    } else if (turn_ends) {
        require(message == "Tur klar – ta bort pilarna", "third dart message");
        require(player["score"] == candidate, "the third dart did not count");
        require(after["history"][0]["outcome"] == "scored", "third dart not kept as scored");
        require(after["awaiting_clear"] == true, "a third dart does not wait for a clear");
    } else {
        require(message == dart.notation + " registrerad", "ordinary dart message");
        require(player["score"] == candidate, "the dart did not count");
        require(after["status"] == "playing" && after["awaiting_clear"] == false &&
                    after["active_player"] == thrower && after["round"] == before["round"],
                "an ordinary dart changed more than its turn");
    }
}

void addDart(Game501& game, Model& model, const std::string& notation, const std::string& source) {
    json answer = game.addDart(notation, source);
    requireNoProblem(responseProblem(answer), "addDart");
    const std::optional<Game501::DartValue> dart = Game501::parseDart(notation);
    if (model.state["status"] != "playing") {
        expectRefusal(answer, model, "Inget aktivt 501-spel");
    } else if (model.state["awaiting_clear"] == true) {
        expectRefusal(answer, model, "Ta bort pilarna och bekräfta att tavlan är tom");
    } else if (!dart) {
        const std::string message = answer["message"].get<std::string>();
        const std::string prefix = "Ogiltigt kast: ";
        require(message.compare(0, prefix.size(), prefix) == 0, "invalid dart message");
        // Valid text is echoed byte for byte; the echo may differ only where
        // the notation could not be shown as text at all.
        if (isValidUtf8(notation)) {
            require(message == prefix + notation, "the refusal does not echo the notation");
        }
        expectRefusal(answer, model, message);
    } else {
        require(answer["accepted"] == true, "a valid dart in play was refused");
        checkAcceptedDart(model.state, answer, *dart, source);
        if (!isValidUtf8(source)) {
            model.text_valid = false;
        }
        model.before_darts.push_back(std::move(model.state));
        if (model.before_darts.size() > kMaxUndoSteps) {
            model.before_darts.erase(model.before_darts.begin());
        }
    }
    requireSerialisable(answer, model, "addDart");
    model.state = std::move(answer["game"]);
}

void undo(Game501& game, Model& model) {
    json answer = game.undo();
    requireNoProblem(responseProblem(answer), "undo");
    if (model.before_darts.empty()) {
        expectRefusal(answer, model, "Det finns inget kast att ångra");
    } else {
        require(answer["accepted"] == true, "undo refused with darts to undo");
        require(answer["message"] == "Senaste kastet ångrades", "undo message");
        // Exactly the document from before the dart, except that snapshots
        // older than the dart may have been dropped from the undo stack since.
        json expected = std::move(model.before_darts.back());
        model.before_darts.pop_back();
        expected["can_undo"] = !model.before_darts.empty();
        require(answer["game"] == expected,
                "undo did not give back the document from before the dart");
    }
    model.state = std::move(answer["game"]);
}

void markBoardClear(Game501& game, Model& model) {
    json answer = game.markBoardClear();
    requireNoProblem(responseProblem(answer), "markBoardClear");
    require(answer["accepted"] == true && answer["message"] == "Tavlan är redo för nästa spelare",
            "markBoardClear answer");
    model.state["awaiting_clear"] = false;
    require(answer["game"] == model.state, "markBoardClear changed more than the pending clear");
}

void start(Game501& game, Model& model, const std::vector<std::string>& names) {
    const json answer = game.start(names);
    requireNoProblem(responseProblem(answer), "start");
    if (names.empty() || names.size() > game501::check::kMaxPlayers) {
        expectRefusal(answer, model, "Välj mellan 1 och 8 spelare");
        return;
    }
    require(answer["accepted"] == true && answer["message"] == "501-spelet har startat",
            "start answer");
    const json& state = answer["game"];
    json expected = idleState();
    expected["status"] = "playing";
    for (std::size_t i = 0; i < names.size(); ++i) {
        const json& player = state["players"][i];
        const std::string name = player["name"].get<std::string>();
        expected["players"].push_back(
            {{"name", name}, {"score", 501}, {"active", i == 0}, {"winner", false}});
        // The name is the given one without surrounding white space, cut to
        // at most 32 bytes, or a default when nothing is left.
        if (name != "Spelare " + std::to_string(i + 1)) {
            require(names[i].find(name) != std::string::npos, "a name is not taken from its input");
        }
    }
    require(state == expected, "start did not begin a fresh game");
    model.before_darts.clear();
    model.text_valid = true;
    for (const std::string& name : names) {
        model.text_valid = model.text_valid && isValidUtf8(name);
    }
    requireSerialisable(answer, model, "start");
    model.state = state;
}

void reset(Game501& game, Model& model) {
    json answer = game.reset();
    requireNoProblem(responseProblem(answer), "reset");
    require(answer["accepted"] == true && answer["message"] == "Spelet nollställdes",
            "reset answer");
    require(answer["game"] == idleState(), "reset did not restore the initial state");
    model.before_darts.clear();
    model.text_valid = true;
    model.state = std::move(answer["game"]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    Game501 game;
    Model model;
    model.state = game.state();
    require(model.state == idleState(), "a new engine is not idle");

    for (std::size_t operation = 0; operation < kMaxOperations && !input.done(); ++operation) {
        switch (input.byte() % 8) {
            case 0:
            case 1: {
                const std::string notation = input.pick(kNotations, 40);
                const std::string source = input.pick(kSources, 24);
                addDart(game, model, notation, source);
                break;
            }
            case 2:
                undo(game, model);
                break;
            case 3:
                markBoardClear(game, model);
                break;
            case 4: {
                std::vector<std::string> names(input.byte() % 11);
                for (std::string& name : names) {
                    name = input.pick(kNames, 48);
                }
                start(game, model, names);
                break;
            }
            case 5:
                reset(game, model);
                break;
            case 6: {
                const json state = game.state();
                requireNoProblem(stateProblem(state), "state");
                require(state == model.state, "state() differs from the last answer");
                break;
            }
            default:
                require(game.isPlaying() == (model.state["status"] == "playing"),
                        "isPlaying disagrees with the status");
                break;
        }
    }
    return 0;
}
