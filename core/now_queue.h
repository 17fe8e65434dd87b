// core/now_queue.h - putting pages into the NOW queues and taking them out.
//
// Producers (pipe threads, the AT delay thread, the router) call InsertNow; each ring's
// single consumer (the router for Main, a dial thread for a port) uses PeekHead, PopHead,
// DropHead and HeadMessageNumber.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/dial_context.h"
#include "core/server_state.h"

namespace core {

// Next piece of a long message: clamps limit to 60..4000; a rest of at most limit
// characters is the last piece; otherwise the cut is the rightmost blank above the lower
// bound (limit - 20 from 80 up, else 60), or the lower bound when there is none. The
// character at the cut is dropped. Advances rest past the piece; nothing when rest is empty.
std::optional<std::string_view> SplitMessage(int limit, std::string_view& rest);

// InsertNow's and InsertPieces' result when the page store could not record the page
// (logged by the store with its cause): nothing was queued.
constexpr int kNotRecorded = -2;

// Queues a page for a person's name, a group (each member) or a pager ID. Returns the
// index of the last piece stored, -1 (unknown name, full queue; logged and counted) or
// kNotRecorded (the last member's). numbered: a new page; each piece gets the next
// MessageNumber, is recorded `waiting` in the page store (when there is one) before it
// becomes visible to the consumer, and "Page Queued(#n)" is logged; otherwise every piece
// gets presetNumber and nothing is recorded. cause gets the store's words on kNotRecorded.
// numbers, when given, gets the message numbers of the pieces queued.
[[nodiscard]] int InsertNow(ServerState& state, DialContext& dc, const char* name, const char* message, bool numbered,
                            int32_t presetNumber = 0, std::string* cause = nullptr,
                            std::vector<int32_t>* numbers = nullptr);

// Stores a message for one recipient, cut into pieces: all of them or none (a queue without
// room for every piece refuses the message). Index of the last piece stored, -1 or
// kNotRecorded as for InsertNow.
[[nodiscard]] int InsertPieces(ServerState& state, DialContext& dc, const char* name, const char* message,
                               bool numbered, int32_t presetNumber = 0, std::string* cause = nullptr);

// The pieces a page for name (a person, a group's members, a pager ID) becomes, in queue
// order, with Name, PageID and Message set and MessageNumber, Piece and Attempts left 0.
// systems gets each piece's paging system name (empty when unknown). False when name is
// none of these or a member is unknown (unknown names listed in unknown).
bool PlanPage(ServerState& state, const char* name, const char* message, std::vector<QueueEntry>& pieces,
              std::vector<std::string>& systems, std::vector<std::string>& unknown);

// The paging system name of a recipient (person by name, else by pager ID), or empty.
std::string SystemNameFor(ServerState& state, std::string_view name, std::string_view pageId);

// Reserves n places for pages being recorded. 0, or 1 when the queue has no room for all n
// (nothing reserved).
[[nodiscard]] int ReserveRoom(DialContext& dc, int n);
// Gives back places reserved for pages that will not come.
void ReleaseRoom(DialContext& dc, int n);
// Moves reserved pages in, in order, and gives their places back. Index of the last one.
int MoveIn(DialContext& dc, std::vector<QueueEntry>&& pages, int reserved);
// Queues pages that were accepted but found no room behind the backlog; they move in as
// room frees, ahead of new requests.
void AddToBacklog(DialContext& dc, std::vector<QueueEntry>&& pages);
// Appends one page as it is (the router's move to a port queue). Index, or -1 when full.
[[nodiscard]] int AppendEntry(DialContext& dc, QueueEntry&& entry);

// Copies the head entry (all fields) into *out under the lock, clears the head and moves
// on (the backlog's first page then moves in); records the head recipient's PagerType in
// dc. 0, or 1 when empty or out is null.
[[nodiscard]] int PopHead(ServerState& state, DialContext& dc, QueueEntry* out);

// The head entry, or null when empty (no lock; consumer only). Records its PagerType. On a
// port's queue the head's message and pager ID have their control characters (below 0x20,
// and 0x7F) made blanks first, so no driver frames a message that holds them.
QueueEntry* PeekHead(ServerState& state, DialContext& dc);
// Makes every byte below 0x20, and 0x7F, a blank.
void BlankControls(std::string& text);

// Clears the head and moves on (consumer only; the lock is taken for the moment of the
// change so a status report never reads a half-cleared entry). 0, or 1 when empty.
[[nodiscard]] int DropHead(DialContext& dc);

// The head's MessageNumber, or nothing when empty.
std::optional<int32_t> HeadMessageNumber(const DialContext& dc);

// The system index for the head page's recipient (person by Name, else by PageID, then
// SystemForPerson), or -1 (also when empty).
int ResolveHeadSystem(ServerState& state, const DialContext& dc);
// The same for the page `offset` places behind the head (0 is the head); -1 past the tail
// (consumer only).
int ResolveSystemAt(ServerState& state, const DialContext& dc, int offset);
// Takes the page `offset` places behind the head out of the ring into *out; the pages
// before it move up one place, so all others keep their order (consumer only; the lock is
// taken for the move). 0, or 1 when there is no such page or out is null.
[[nodiscard]] int TakeEntryAt(DialContext& dc, int offset, QueueEntry* out);

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
