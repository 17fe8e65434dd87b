// tools/corvsim/ucp_centre.h - a simulated UCP paging centre behind a CONNECT.
//
// It reads operation 30 frames (STX ... ETX), checks the length field and the checksum,
// decodes the recipient (AdC) and the message (AMsg), records what it got and answers
// with a positive (A) or negative (N) result frame. Pure: bytes in, bytes out.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvsim {

struct UcpCentreOptions {
  std::set<std::string> RejectAdc;  // recipients answered with a negative result
  bool RejectAll = false;
  bool Silent = false;  // never answer
  bool Garble = false;  // answer with a result frame whose checksum is wrong (line noise)
};

// One frame as the centre understood it.
struct UcpFrameReport {
  std::string Text;       // TRN through the last "/" before the checksum
  std::string Checksum;   // the two digits received
  bool LengthOk = false;  // LEN equals the characters from TRN through the checksum
  bool ChecksumOk = false;
  bool Operation30 = false;
  std::string AdC;
  std::string Message;  // AMsg decoded from hexadecimal
  bool HexOk = false;
};

// Parses the bytes between STX and ETX. Pure.
UcpFrameReport ParseUcpFrame(std::string_view betweenStxAndEtx);

// The centre's result frame for a report: "00/LEN/R/30/A//AdC:DDMMYYhhmmss/" or
// "00/LEN/R/30/N/EC//" with STX, checksum and ETX around it.
std::string UcpResultFrame(const UcpFrameReport& report, bool positive, std::string_view errorCode);

class UcpCentre {
 public:
  explicit UcpCentre(UcpCentreOptions options) : options_(std::move(options)) {}

  // Bytes from the caller; returns the bytes to send back. Record lines for every frame
  // are appended to Records().
  std::string OnBytes(std::string_view bytes);

  const std::vector<std::string>& Records() const { return records_; }
  std::vector<std::string> TakeRecords() { return std::exchange(records_, {}); }

 private:
  UcpCentreOptions options_;
  std::string pending_;
  bool inFrame_ = false;
  std::vector<std::string> records_;
};

// Bytes as a record shows them: printable ASCII as is, backslash as \\, others as \xHH.
std::string UcpEscape(std::string_view bytes);

}  // namespace corvsim
