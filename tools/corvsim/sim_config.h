// tools/corvsim/sim_config.h - the simulator's configuration file.
//
// An INI-like text: a [modem] section for the Hayes modem, one [number NNN] section per
// dialled number, and optionally a [direct] section for a line without a modem (the
// terminal answers at once; a paging system with an empty SystemPhoneNumber). A [tap-tcp]
// section starts a TAP terminal on the network, a [wctp] section a WCTP carrier (both on
// 127.0.0.1; tap_listener.h and wctp_carrier.h list their keys). Lines are
// "key = value"; "#" or ";" start a comment. Keys a section does not know are kept for the
// terminal of that number (each terminal documents its own keys).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvsim {

struct SectionConfig {
  std::string Number;                          // the dialled number ("" for [modem]/[direct])
  std::map<std::string, std::string> Options;  // keys in lower case

  std::string Get(const std::string& key, const std::string& fallback = "") const;
  long GetInt(const std::string& key, long fallback) const;
  bool GetBool(const std::string& key, bool fallback) const;       // on/yes/true/1
  std::vector<std::string> GetList(const std::string& key) const;  // split at blanks and commas
};

struct SimConfig {
  SectionConfig Modem;
  std::vector<SectionConfig> Numbers;
  std::optional<SectionConfig> Direct;
  std::optional<SectionConfig> TapTcp;
  std::optional<SectionConfig> Wctp;

  // The section of the first field of a dial string ("9,5551234" -> fields 9 and 5551234)
  // that names a configured number, or null.
  const SectionConfig* FindNumber(std::string_view dialled) const;
};

// Parses the text of a configuration file. Returns false with error set (line number and
// reason) for a malformed line.
bool ParseSimConfig(std::string_view text, SimConfig& config, std::string& error);

}  // namespace corvsim
