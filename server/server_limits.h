// Every limit of game-501-server in one place. Each bounds what a client can
// make the server hold or wait for.
#pragma once

#include <chrono>
#include <cstddef>

#include "front_end.h"

namespace game501::server {

constexpr int kMaxBoards = 100;

// A request's header block and body; past them the answer is 431 or 413.
constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
constexpr std::size_t kMaxBodyBytes = 16 * 1024;

// Every undo point of an engine copies each label, so labels are bounded
// before they reach one, as at every front end.
constexpr std::size_t kMaxSourceBytes = front_end::kMaxSourceBytes;

// An Idempotency-Key is 1 to this many visible ASCII characters, and a
// retry is recognised for at least each board's last so many keyed writes.
constexpr std::size_t kMaxIdempotencyKeyBytes = 255;
constexpr std::size_t kRememberedKeysPerBoard = 10000;

// A page of GET /api/matches.
constexpr std::size_t kMatchesPerPage = 50;

// Open connections of every kind, event streams included; one more is
// answered 503 and closed. A few more such answers may be in flight at once;
// past those a connection is closed without one.
constexpr int kMaxConnections = 2048;
constexpr int kMaxRejectionsInFlight = 64;
// Event streams, which need no token, may take every connection but these,
// so that viewers can never lock the scorers out.
constexpr int kConnectionsKeptForRequests = 128;

// A request must arrive whole within this time from the end of the previous
// answer (or from the connection's start), which also closes idle
// keep-alive connections.
constexpr std::chrono::seconds kReadTimeout{15};
// Each answer or batch of events must be taken by the client within this.
constexpr std::chrono::seconds kWriteTimeout{15};
// A comment line on an otherwise silent event stream, so that proxies and
// browsers keep it open and a vanished viewer is noticed.
constexpr std::chrono::seconds kKeepAliveInterval{15};
// How long a stop waits for answers in flight before it closes everything.
constexpr std::chrono::seconds kStopGrace{5};

// Events waiting for one viewer; a viewer that falls further behind is
// disconnected, so a slow viewer never makes the server's memory grow.
constexpr std::size_t kMaxQueuedEvents = 512;
constexpr std::size_t kMaxQueuedEventBytes = 4 * 1024 * 1024;
// A viewer sends nothing after its request; one that does is cut off past
// this, and one that closes is noticed at once.
constexpr std::size_t kMaxStreamInputBytes = 4 * 1024;

}  // namespace game501::server
