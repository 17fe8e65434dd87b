// tools/corvsim/terminals.cpp - the table of terminal kinds.
#include <cctype>

#include "tools/corvsim/numeric_session.h"
#include "tools/corvsim/script_session.h"
#include "tools/corvsim/tapm_session.h"
#include "tools/corvsim/terminal.h"
#include "tools/corvsim/ucp_terminal.h"

namespace corvsim {
namespace {

constexpr TerminalKind kKinds[] = {
    {"tap", RunTapTerminal, false},       {"ucp", RunUcpTerminal, false},     {"tapm", RunTapmTerminal, false},
    {"script", RunScriptTerminal, false}, {"numeric", RunNumericPager, true},
};

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

const TerminalKind* FindTerminal(std::string_view name) {
  for (const TerminalKind& kind : kKinds) {
    if (SameNoCase(kind.Name, name)) return &kind;
  }
  return nullptr;
}

}  // namespace corvsim
