// Plays a short one-player game with the installed engine: two full turns,
// then the checkout that the hint suggests for what is left.
#include <iostream>
#include <string>
#include <vector>

#include "checkout_hint.h"
#include "game_501.h"

int main() {
    Game501 game;
    game.start({"Ymma"});
    for (int turn = 0; turn < 2; ++turn) {
        for (int dart = 0; dart < 3; ++dart) {
            game.addDart("T20", "example");
        }
        game.markBoardClear();
    }

    const int left = game.state()["players"][0]["score"].get<int>();
    std::cout << "Kvar: " << left << "\nUtgång:";
    const std::vector<std::string> route = game501::checkoutHint(left, 3);
    for (const std::string& dart : route) {
        std::cout << ' ' << dart;
    }
    std::cout << '\n';

    Game501::json answer;
    for (const std::string& dart : route) {
        answer = game.addDart(dart, "example");
    }
    std::cout << answer["message"].get<std::string>() << '\n';
    return game.state()["status"] == "finished" ? 0 : 1;
}
