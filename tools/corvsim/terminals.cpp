// tools/corvsim/terminals.cpp - the table of terminal kinds.
#include <cctype>

#include "tools/corvsim/terminal.h"
#if __has_include("tools/corvsim/ucp_terminal.h")
#include "tools/corvsim/ucp_terminal.h"
#endif
#if __has_include("tools/corvsim/tapm_session.h")
#include "tools/corvsim/tapm_session.h"
#endif
#if __has_include("tools/corvsim/script_session.h")
#include "tools/corvsim/script_session.h"
#endif
#if __has_include("tools/corvsim/numeric_session.h")
#include "tools/corvsim/numeric_session.h"
#endif

namespace corvsim {
namespace {

constexpr TerminalKind kKinds[] = {
    {"tap", RunTapTerminal, false},
#ifdef CORVSIM_HAS_UCP
    {"ucp", RunUcpTerminal, false},
#endif
#ifdef CORVSIM_HAS_TAPM
    {"tapm", RunTapmTerminal, false},
#endif
#ifdef CORVSIM_HAS_SCRIPT
    {"script", RunScriptTerminal, false},
#endif
#ifdef CORVSIM_HAS_NUMERIC
    {"numeric", RunNumericPager, true},
#endif
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
