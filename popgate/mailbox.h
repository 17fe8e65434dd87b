// popgate/mailbox.h - the mail gateway's records: one Mailbox per POPPAGE.INI section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace popgate {

// Text field widths, counted with the terminator of a fixed C field: a text keeps at most
// width - 1 characters, the longest value a POPPAGE.INI setting can hold.
constexpr size_t kMailboxNameWidth = 200;
constexpr size_t kDirectoryWidth = 260;
constexpr size_t kHostFieldWidth = 100;

constexpr int kPopsPort = 995;  // POP3 inside TLS

// One mailbox's settings. The member initialisers are the start values of a new mailbox.
// Only PollTime, PopPort, PopHostName, PopUser and PopPassword drive the gateway; the
// others are parsed and kept, so that existing POPPAGE.INI files that set them still read
// without syntax errors.
struct Mailbox {
  std::string Name;          // the section name
  int PopPageType = 1;       // UserMail 0, GateWay 1
  int PagingServerType = 0;  // Local 0, SNPP 1, LanServer 2
  int MailType = 0;          // Pop 0, Directory 1
  bool PopSaveMessages = false;
  bool AckEMail = false;
  int32_t PageFromStartHour = 0;
  int32_t PageFromStartMinute = 0;
  int32_t PageFromEndHour = 24;
  int32_t PageFromEndMinute = 0;
  int32_t PollTime = 120;  // seconds between the end of one poll and the next
  std::string IncomingDirectory;
  int32_t PopPort = 110;
  std::string PopHostName;
  std::string PopUser;
  std::string PopPassword;
  std::string PopSaveDircetory;  // the key's spelling, as users write it
  int32_t SNPPPort = 5100;
  std::string SNPPHostName;
  std::string LanServerName;
  int32_t MaxMessageSize = 1000;
  int32_t SMTPPort = 25;
  std::string SMTPHostName;
};

constexpr size_t kFirstTableCapacity = 5;
constexpr size_t kTableGrowth = 20;

// The program's one record.
struct GatewayContext {
  std::string ProgramName = "CORVPOP32";
  std::vector<Mailbox> Mailboxes;         // Mailboxes.size() is the count
  size_t Capacity = kFirstTableCapacity;  // grows by kTableGrowth when the count reaches it
  bool Debug = false;
  int MapCodePage = 0;  // 0 CP437, 1 CP850: the pagers' code page (from page.ini)
};

}  // namespace popgate
