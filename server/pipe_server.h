// server/pipe_server.h - the request pipe's server side: ten threads, one record per message.
#pragma once

#include <cstddef>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "common/request_record.h"
#include "core/server_state.h"
#include "platform/unique_fd.h"

namespace server {

constexpr int kPipeThreads = 10;

// Fixed texts of the refusals the record checks make; each begins with "ERR".
constexpr const char* kErrTooLong = "ERR - Request too long";
constexpr const char* kErrTooShort = "ERR - Request too short";
constexpr const char* kErrBadLength = "ERR - Bad message length";
constexpr const char* kErrBadType = "ERR - Unknown request type";
constexpr const char* kErrBadTime = "ERR - Time not valid";  // unknown time mode, impossible date
constexpr const char* kErrNoName = "ERR - Name not given";   // a delete must name whose pages
// A page the page store could not record (disk full, I/O error, read-only): not accepted.
// The store's words for the cause follow the text.
constexpr const char* kErrNotRecorded = "ERR: Page store failed - ";

// Handles one request (types 0-5) for one recipient. reply gets the text to send. Returns
// the queue or slot index of what was stored, 0 for reports and deletes, -1 on failure
// (core::kNotRecorded when the page store failed). numbers, when given, gets the message
// numbers of the pages queued.
int HandleRequest(core::ServerState& state, std::string& reply, common::RequestRecord& request, const char* name,
                  const char* message, std::vector<int32_t>* numbers = nullptr);

// List replies (types 6, 7, 8): "OK", a count at offset 16, 32-byte names from offset 18.
void ListPersons(core::ServerState& state, std::string& reply, int page);
void ListGroups(core::ServerState& state, std::string& reply, int page);
void ListMembers(core::ServerState& state, std::string& reply, const char* groupName);

// One received message: buffer holds `length` bytes (the buffer has room for at least
// common::kMaxRequestBytes + 1 bytes, zero beyond the message), realLength is the
// message's full size. Checks the record, counts it, dispatches it and sets reply.
void HandleMessage(core::ServerState& state, std::span<char> buffer, size_t length, size_t realLength,
                   std::string& reply);

// PipeServerThread's result when the listening socket itself failed (logged): no client can
// reach the server any more, so the owner ends the program.
constexpr int kPipeBroken = 1;

// Serves clients accepted on listener until stopped (0) or until the listening socket fails
// (kPipeBroken, after its log line).
[[nodiscard]] int PipeServerThread(core::ServerState& state, const platform::UniqueFd& listener, std::stop_token stop);

}  // namespace server
