// libFuzzer target: any bytes as a page.ini. Beyond the sanitizers' own checks it traps when
// a stored entry breaks a rule the rest of the server relies on (counts, field lengths,
// clamps), so a silent overrun of a fixed field is found too.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/log.h"
#include "directory/page_ini.h"
#include "directory/parse_machine.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool LettersAndDigits(const std::string& s) {
  for (char c : s)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

void CheckDirectory(const directory::Directory& d, int portsRegistered) {
  using namespace directory;
  Check(d.SystemCount >= 0 && d.SystemCount < kSystemSlots);
  Check(d.PersonCount >= 0 && d.PersonCount < kPersonSlots);
  Check(d.GroupCount >= 0 && d.GroupCount < kGroupSlots);
  int ports = 0;
  for (int i = 0; i < d.SystemCount; ++i) {
    const SystemRecord& s = d.Systems[i];
    Check(!s.SystemName.empty() && s.SystemName.size() <= kSystemNameMax);
    Check(d.FindSystemByName(s.SystemName) == i);  // no duplicates are stored
    Check(s.PortCount >= 0 && s.PortCount <= kMaxPorts);
    for (int p = 0; p < s.PortCount; ++p) Check(s.Port[p].size() <= kPortNameMax);
    ports += s.PortCount;
    Check(s.MaxMessageLength >= kMinMaxMessageLength && s.MaxMessageLength <= kMaxMaxMessageLength);
    Check(s.ModemInitString.size() <= kModemInitStringMax);
    Check(s.SystemPhoneNumber.size() <= kSystemPhoneNumberMax);
    Check(s.ScriptFileName.size() <= kScriptFileNameMax);
    Check(s.TapPassWord.size() <= kTapPassWordMax && LettersAndDigits(s.TapPassWord));
    Check(s.OverrideHostName.size() <= kOverrideHostNameMax);
    Check(s.OverrideLanServerName.size() <= kOverrideLanServerNameMax);
    Check(static_cast<int>(s.SystemType) <= 3);
  }
  Check(ports <= portsRegistered);
  for (int i = 0; i < d.PersonCount; ++i) {
    const PersonRecord& p = d.Persons[i];
    Check(!p.Name.empty() && p.Name.size() <= kPersonNameMax);
    Check(d.FindPersonByName(p.Name) == i);
    Check(p.PageID.size() <= kPageIdMax && p.SystemName.size() <= kSystemNameMax);
    if (p.PagerType == PagerType::Alphanumeric) Check(d.FindSystemByName(p.SystemName) >= 0);
    (void)d.PieceLimitForName(p.Name);
    (void)d.SystemForPerson(p);
  }
  for (int i = 0; i < d.GroupCount; ++i) {
    Check(!d.Groups[i].Name.empty() && d.Groups[i].Name.size() <= kGroupNameMax);
    Check(d.Groups[i].Members.empty() || d.Groups[i].Members.back() == '|');
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Syntax errors are logged; keep the console quiet and the log out of the file system.
  const int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, 1);
    ::close(null);
  }
  common::SetProgramName("CORVD32");
  common::SetLogFileName("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  directory::Directory dir;
  directory::PageIniSettings settings;
  int ports = 0;
  directory::PageIniHooks hooks;
  hooks.RegisterPort = [&ports](std::string_view name) {
    Check(name.size() <= directory::kPortNameMax);
    ++ports;
  };
  hooks.ResizeMainQueue = [](int entries) { Check(entries > 100 && entries < 30000); };
  hooks.ApplyLogFileName = [](std::string_view name) { Check(name.size() <= directory::kIniTokenMax); };
  const int result = directory::ParsePageIniText(text, "page.ini", dir, settings, hooks);
  Check(result == 0 || result == 1);
  CheckDirectory(dir, ports);
  Check(settings.HostName.size() <= directory::kHostNameMax);
  Check(settings.DialingPrefix.size() <= directory::kDialingPrefixMax);
  Check(settings.DisplayGroupName.size() <= directory::kDisplayGroupNameMax);
  // A reload into the same settings over a fresh directory must hold the same rules.
  directory::Directory again;
  ports = 0;
  (void)directory::ParsePageIniText(text, "page.ini", again, settings, hooks);
  CheckDirectory(again, ports);
  return 0;
}
