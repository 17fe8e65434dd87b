// send/send_client.h - corvsend: one page from the command line to the SNPP server that
// page.ini names for the recipient.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "directory/directory.h"
#include "directory/settings.h"

namespace send {

constexpr const char* kSendProgramName = "CORVSEND";
constexpr size_t kRecipientLength = 149;    // the ID is held in 150 characters
constexpr size_t kFileMessageLength = 300;  // characters of message taken from a file
constexpr size_t kFileLineLength = 99;      // characters of the recipient line of a file
constexpr size_t kHostLength = 79;          // corvsend's server host
constexpr size_t kReceiveBlockSize = 4000;  // the SNPP client's receive block
constexpr size_t kCommandArea = 4300;       // where the message block is formatted, end marker included

// The usage text, exact: the version line and the four example lines.
std::string UsageText();

// The three forms: "id Message", "id @file" and "@file" (recipient on the first line, the
// message after it). False when the arguments fit none of them, a file cannot be opened, or
// a file gives no recipient or no message (empty file, empty first line). args excludes
// the program's own name.
[[nodiscard]] bool ParseArguments(const std::vector<std::string>& args, std::string& recipient, std::string& message);

struct SnppServer {
  std::string Host;
  uint16_t Port = 0;
};

// HostName and TcpPort, unless the recipient is a person whose system has an
// OverrideHostName: then that host, with OverrideTcpPort (or TcpPort when the system gives
// no port).
SnppServer ResolveServer(const directory::Directory& dir, const directory::PageIniSettings& settings,
                         const std::string& recipientId);

// The whole run; args excludes the program's own name. Returns the exit status.
int RunSend(const std::vector<std::string>& args);

}  // namespace send
