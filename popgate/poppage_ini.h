// popgate/poppage_ini.h - POPPAGE.INI: the mailbox list, read with the shared lexer and
// parse loop and this file's own keyword list, state table and actions.
#pragma once

#include <string>
#include <string_view>

#include "popgate/mailbox.h"

namespace popgate {

constexpr size_t kPopPageTokenMax = 99;

constexpr int kPopPageRead = 0;      // read without error
constexpr int kPopPageFaulty = 1;    // missing, unreadable or with syntax errors
constexpr int kPopPageNoMemory = 2;  // the mailbox table could not grow ("Error - calloc")

// Reads the file at path into context.Mailboxes (appending). Log lines: "Error opening
// POPPAGE.INI file - File not found" for a missing file, one syntax-error line per bad
// line, "Error - calloc" when the table cannot grow (the gateway then ends). One of the
// values above; the mailboxes read so far stay either way.
[[nodiscard]] int ReadPopPageIni(const std::string& path, GatewayContext& context);

// The same over text in memory; fileName is only shown in syntax-error lines.
[[nodiscard]] int ParsePopPageIniText(std::string_view text, std::string_view fileName, GatewayContext& context);

// The pagers' code page from the MapCodePage line of the paging server's page.ini at path:
// 0 CP437 (also when the file or the line is missing), 1 CP850. Reads quietly: page.ini's
// other lines are the server's business and are neither checked nor logged here.
int ReadMapCodePage(const std::string& path);

}  // namespace popgate
