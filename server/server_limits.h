// Every limit of game-501-server in one place. Each bounds what a client or
// an operator can make the server hold or wait for.
#pragma once

#include <chrono>
#include <cstddef>

#include "competition.h"
#include "front_end.h"

namespace game501::server {

// Boards are numbered from 1 to this, in addresses, options and match ids.
constexpr int kMaxBoards = 100;

// A request's header block and body; past them the answer is 431 or 413.
constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
constexpr std::size_t kMaxBodyBytes = 16 * 1024;
// What an idle connection holds to read its next request into: a scorer's
// or a browser's request fits whole; a longer one is read on, to the limits
// above, and the room it took is given back once it is answered.
constexpr std::size_t kIdleReadBytes = 2 * 1024;

// An engine keeps each label with its dart for as long as the match, so
// labels are bounded before they reach one, as at every front end.
constexpr std::size_t kMaxSourceBytes = front_end::kMaxSourceBytes;

// An Idempotency-Key is 1 to this many visible ASCII characters, and a
// retry is recognised for at least each board's last so many keyed writes.
constexpr std::size_t kMaxIdempotencyKeyBytes = 255;
constexpr std::size_t kRememberedKeysPerBoard = 10000;

// Digits of the numbers clients write: an entity tag's event id (If-Match;
// any such number fits 64 bits), the event of a match id (it fits the
// journal's signed 64-bit integers), and a page of a list.
constexpr std::size_t kMaxEntityTagDigits = 19;
constexpr std::size_t kMaxMatchIdDigits = 18;
constexpr std::size_t kMaxPageDigits = 6;

// A page of GET /api/matches.
constexpr std::size_t kMatchesPerPage = 50;
// The days of GET /api/matches.csv, both included: a month at most, so that
// one request never plays a whole season's matches again.
constexpr int kMaxCsvDays = 31;

// Open connections of every kind, event streams included. When every one is
// taken, the connection that has waited longest for a request (or for the
// rest of one) is closed to make room for a new one; only when none waits is
// the new one answered 503 and closed. A few more such answers may be in
// flight at once; past those a connection is closed without one.
constexpr int kMaxConnections = 2048;
constexpr int kMaxRejectionsInFlight = 64;
// Connections closed to make room whose descriptors are not yet given back;
// past these a new connection is answered 503 rather than wait.
constexpr int kMaxClosingInFlight = 64;
// Connections from one client (an IPv4 address, or an IPv6 address's /64,
// which one host may hold whole) by default, and at most, through
// --connections-per-address. A client at its bound makes room among its own
// waiting connections, never among others'.
constexpr int kDefaultConnectionsPerAddress = 64;
constexpr int kMaxConnectionsPerAddress = kMaxConnections;
// Event streams, which need no token, may take every connection but these,
// so that viewers can never lock the scorers out.
constexpr int kConnectionsKeptForRequests = 128;
// The server's own descriptors beside its connections: the journal, the
// pages, the listener, the connections being answered 503 and those being
// closed to make room.
constexpr int kOwnDescriptors = 32 + kMaxRejectionsInFlight + kMaxClosingInFlight;

// A request's header must arrive whole within this time from the
// connection's start, or from the first byte of a later request on it.
constexpr std::chrono::seconds kHeaderTimeout{5};
// Between an answer and the first byte of the next request a keep-alive
// connection may idle this long before it is closed.
constexpr std::chrono::seconds kIdleTimeout{15};
// A request's body must arrive whole within this time from its header.
constexpr std::chrono::seconds kBodyTimeout{15};
// Each answer or batch of events must be taken by the client within this.
constexpr std::chrono::seconds kWriteTimeout{15};
// After an answer that ends a connection, what the client still sends is
// read and dropped for this long, up to so many bytes, before it closes.
constexpr std::chrono::seconds kLingerTime{1};
constexpr std::size_t kLingerBytes = 64 * 1024;
// Accepting again after it failed (out of descriptors, say), rather than spin.
constexpr std::chrono::milliseconds kAcceptRetry{50};
// A comment line on an otherwise silent event stream, so that proxies and
// browsers keep it open and a vanished viewer is noticed.
constexpr std::chrono::seconds kKeepAliveInterval{15};
// How long a viewer's browser waits before it reconnects a stream.
constexpr std::chrono::milliseconds kViewerReconnect{1000};
// How long a stop waits for answers in flight before it closes everything.
constexpr std::chrono::seconds kStopGrace{5};
// What a 503 asks the client to wait before it tries again.
constexpr std::chrono::seconds kRetryAfter{1};
// Between tries to open the journal again after a commit that failed part
// way; writes are refused meanwhile.
constexpr std::chrono::milliseconds kReopenPause{500};

// Events waiting for one viewer; a viewer that falls further behind is
// disconnected, so a slow viewer never makes the server's memory grow.
constexpr std::size_t kMaxQueuedEvents = 512;
constexpr std::size_t kMaxQueuedEventBytes = 4 * 1024 * 1024;
// A viewer sends nothing after its request; one that does is cut off past
// this, and one that closes is noticed at once.
constexpr std::size_t kMaxStreamInputBytes = 4 * 1024;

// How long a read of the archive waits for the database (a checkpoint, say)
// before it is answered 503.
constexpr std::chrono::milliseconds kArchiveReadWait{2000};

// Competitions a server keeps, and the players of one (the library's bound).
constexpr std::size_t kMaxCompetitions = 1000;
constexpr std::size_t kMaxPlayersPerCompetition = competition::kMaxPlayers;
// A competition's name, in bytes of UTF-8.
constexpr std::size_t kMaxCompetitionNameBytes = 64;
// Reads of the archive (reports, careers, files of darts) run on threads of
// their own, which take the processor only when no other thread of the
// machine wants it (SCHED_IDLE); so many reads wait for a thread at most,
// and one more is answered 503 "too_many_reads" at once.
constexpr unsigned kReadThreads = 2;
constexpr std::size_t kMaxQueuedReads = 64;
// The members' accuracies, a cache that must keep up with the matches that
// end, run at this nice value: below the boards', never starved.
constexpr int kBackgroundNice = 10;
// The members' accuracies are brought up to date in rounds at least this far
// apart: the boards' advice learns of a match that ended within a round.
constexpr std::chrono::milliseconds kAccuracyRound{1000};

// The journal writer's page cache, in KiB (SQLite's own default is 2,000 KiB
// a connection).
constexpr int kWriterCacheKiB = 512;
// The reports of matches that are over, kept once made: at most so many
// matches, and so many bytes of their texts, the least recently read going
// first.
constexpr std::size_t kMaxKeptReports = 256;
constexpr std::size_t kMaxKeptReportBytes = 64 * 1024 * 1024;

// The pages read at start, all files together.
constexpr std::size_t kMaxWebBytes = 4 * 1024 * 1024;

// The command line: threads answering requests, the tokens file, and the
// digits of an option's number. The computer's pause before each of its
// darts is the library's (kDefaultComputerPause, kMaxComputerPause).
constexpr unsigned kMaxThreads = 4;
constexpr std::size_t kMaxOptionDigits = 9;
constexpr std::size_t kMaxTokensFileBytes = 64 * 1024;

}  // namespace game501::server
