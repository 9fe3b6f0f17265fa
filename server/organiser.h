// The organiser of the club: the one who may change the register and
// correct what has been played, with a token of its own that writes to no
// board. Its corrections go to the journal, which answers each once it is
// durable.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "correction.h"
#include "journal.h"
#include "members.h"
#include "tokens.h"

namespace game501::server {

// Thread-safe.
class Organiser {
public:
    Organiser(std::string token, Journal& journal) : token_(std::move(token)), journal_(journal) {}

    const std::string& token() const { return token_; }
    // Returns whether `token` is the organiser's, in constant time.
    bool acceptsToken(std::string_view token) const { return tokensEqual(token, token_); }

    // The register's names, which a start's names are resolved with.
    const Members& members() const { return journal_.members(); }
    // The members' accuracies, which a computer like a member is seated with.
    const Accuracies& accuracies() const { return journal_.accuracies(); }

    // Hands a correction to the journal; `done` is called once, on the
    // journal's thread, with its answer.
    void correct(Correction correction, Journal::Corrected done) const {
        journal_.correct(std::move(correction), std::move(done));
    }

private:
    const std::string token_;
    Journal& journal_;
};

}  // namespace game501::server
