// core/now_queue.h - putting pages into the NOW queues and taking them out.
//
// Producers (pipe threads, the AT delay thread, the router) call InsertNow; each ring's
// single consumer (the router for Main, a dial thread for a port) uses PeekHead, PopHead,
// DropHead and HeadMessageNumber.
#pragma once

#include <optional>
#include <string_view>

#include "core/dial_context.h"
#include "core/server_state.h"

namespace core {

// Next piece of a long message: clamps limit to 60..4000; a rest of at most limit
// characters is the last piece; otherwise the cut is the rightmost blank above the lower
// bound (limit - 20 from 80 up, else 60), or the lower bound when there is none. The
// character at the cut is dropped. Advances rest past the piece; nothing when rest is empty.
std::optional<std::string_view> SplitMessage(int limit, std::string_view& rest);

// Queues a page for a person's name, a group (each member) or a pager ID. Returns the
// index of the last piece stored, or -1 (unknown name, full queue; logged and counted).
// numbered: give each piece the next MessageNumber and log "Page Queued(#n)"; otherwise
// every piece stored gets presetNumber (a routed page or a due AT page keeps its number),
// set before the piece becomes visible to the consumer.
[[nodiscard]] int InsertNow(ServerState& state, DialContext& dc, const char* name, const char* message, bool numbered,
                            int32_t presetNumber = 0);

// Stores a message for one recipient, cut into pieces, holding the ring's lock for all of
// them. Index of the last piece stored, or -1 (pieces stored before a failure stay queued).
[[nodiscard]] int InsertPieces(ServerState& state, DialContext& dc, const char* name, const char* message,
                               bool numbered, int32_t presetNumber = 0);

// Copies the head entry (all fields) into *out under the lock, clears the head and moves
// on; records the head recipient's PagerType in dc. 0, or 1 when empty or out is null.
[[nodiscard]] int PopHead(ServerState& state, DialContext& dc, QueueEntry* out);

// The head entry, or null when empty (no lock; consumer only). Records its PagerType.
QueueEntry* PeekHead(ServerState& state, DialContext& dc);

// Clears the head and moves on (consumer only; the lock is taken for the moment of the
// change so a status report never reads a half-cleared entry). 0, or 1 when empty.
[[nodiscard]] int DropHead(DialContext& dc);

// The head's MessageNumber, or nothing when empty.
std::optional<int32_t> HeadMessageNumber(const DialContext& dc);

// The system index for the head page's recipient (person by Name, else by PageID, then
// SystemForPerson), or -1 (also when empty).
int ResolveHeadSystem(ServerState& state, const DialContext& dc);

// The next port context of system s in round-robin order whose queue has room, or null.
// Only one port is tried per call.
DialContext* ChoosePort(ServerState& state, int s);

// Makes a port context for portName unless one exists (names compare case-insensitively
// over their first 29 characters). 0 (made or present), 1 out of memory or no room for a
// 21st port (logged). The page.ini loader calls it for each port of a new system.
int RegisterPort(ServerState& state, std::string_view portName);

// The port context named portName, or null.
DialContext* FindPort(ServerState& state, std::string_view portName);

}  // namespace core
