// tools/corvsim/ucp_centre.cpp - the simulated UCP centre.
#include "tools/corvsim/ucp_centre.h"

#include <cstdio>
#include <utility>

namespace corvsim {
namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr size_t kMaxFrame = 20000;  // a frame longer than any page could make is noise

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // UCP writes upper case only
}

std::string TwoHex(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
  return text;
}

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '/') {
      fields.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return fields;
}

}  // namespace

std::string UcpEscape(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (u >= 0x20 && u < 0x7F) {
      out.push_back(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    }
  }
  return out;
}

UcpFrameReport ParseUcpFrame(std::string_view body) {
  UcpFrameReport report;
  if (body.size() < 2) return report;
  report.Text = std::string(body.substr(0, body.size() - 2));
  report.Checksum = std::string(body.substr(body.size() - 2));
  unsigned sum = 0;
  for (char c : report.Text) sum += static_cast<unsigned char>(c);
  report.ChecksumOk = TwoHex(sum) == report.Checksum;

  const std::vector<std::string_view> f = SplitFields(report.Text);
  // TRN/LEN/O/30/AdC/OAdC/AC/NRq/NAd/NPID/DD/DDT/VP/AMsg/ : 15 fields, the last empty.
  if (f.size() >= 2 && f[1].size() == 5) {
    unsigned len = 0;
    bool digits = true;
    for (char c : f[1]) {
      if (c < '0' || c > '9') digits = false;
      len = len * 10 + static_cast<unsigned>(c - '0');
    }
    report.LengthOk = digits && len == body.size();
  }
  if (f.size() == 15 && f[2] == "O" && f[3] == "30" && f[14].empty()) {
    report.Operation30 = true;
    report.AdC = std::string(f[4]);
    const std::string_view hex = f[13];
    report.HexOk = hex.size() % 2 == 0;
    for (size_t i = 0; report.HexOk && i < hex.size(); i += 2) {
      const int hi = HexValue(hex[i]);
      const int lo = HexValue(hex[i + 1]);
      if (hi < 0 || lo < 0) {
        report.HexOk = false;
        break;
      }
      report.Message.push_back(static_cast<char>(hi * 16 + lo));
    }
  }
  return report;
}

std::string UcpResultFrame(const UcpFrameReport& report, bool positive, std::string_view errorCode) {
  // Fixed service-centre time stamp: the driver does not read it, the test needs no clock.
  const std::string rest =
      positive ? "/R/30/A//" + report.AdC + ":081226120000/" : "/R/30/N/" + std::string(errorCode) + "//";
  const size_t len = 2 + 1 + 5 + rest.size() + 2;
  char lenText[6];
  std::snprintf(lenText, sizeof lenText, "%05u", static_cast<unsigned>(len % 100000));
  const std::string text = std::string("00/") + lenText + rest;
  unsigned sum = 0;
  for (char c : text) sum += static_cast<unsigned char>(c);
  return std::string(1, kStx) + text + TwoHex(sum) + std::string(1, kEtx);
}

std::string UcpCentre::OnBytes(std::string_view bytes) {
  std::string reply;
  for (char c : bytes) {
    if (c == kStx) {
      if (inFrame_) records_.push_back("UCP broken frame=" + UcpEscape(pending_));
      pending_.clear();
      inFrame_ = true;
      continue;
    }
    if (!inFrame_) continue;  // line noise between frames
    if (c != kEtx) {
      pending_.push_back(c);
      if (pending_.size() > kMaxFrame) {
        records_.push_back("UCP oversized frame dropped");
        pending_.clear();
        inFrame_ = false;
      }
      continue;
    }
    inFrame_ = false;
    const UcpFrameReport r = ParseUcpFrame(pending_);
    pending_.clear();
    const bool valid = r.LengthOk && r.ChecksumOk && r.Operation30 && r.HexOk;
    const bool positive = valid && !options_.RejectAll && options_.RejectAdc.count(r.AdC) == 0;
    std::string answer = options_.Silent ? "none" : options_.Garble ? "garbled" : (positive ? "A" : "N");
    records_.push_back("UCP frame=" + UcpEscape(r.Text) + " checksum=" + r.Checksum +
                       " len=" + (r.LengthOk ? "ok" : "bad") + " sum=" + (r.ChecksumOk ? "ok" : "bad") +
                       " adc=" + r.AdC + " msg=" + UcpEscape(r.Message) + " answer=" + answer);
    if (options_.Silent) continue;
    // 02 syntax error for a damaged frame, 01 (checksum) and 04 (operation) per the
    // EMI error list; a refused recipient gets 06 (AdC invalid).
    const char* code = !r.ChecksumOk ? "01" : !valid ? "02" : "06";
    std::string frame = UcpResultFrame(r, positive, code);
    if (options_.Garble) frame[frame.size() - 2] = frame[frame.size() - 2] == '0' ? '1' : '0';
    reply += frame;
  }
  return reply;
}

}  // namespace corvsim
