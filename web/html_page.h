// web/html_page.h - HTML templates with their %-directives, and the list of names.
//
// Directives: %% a percent sign, %d the date (mm-dd-yy), %t the time (HH:MM), %e the script
// path, %n the name being sent, %p the names as "<option> name" lines, %g a group capture
// (the letters and digits that follow name the group %p lists; the byte that ends it is
// dropped). Any other directive writes nothing; a Ctrl-Z is dropped. Template text is
// copied as it is; every name written into it is escaped.
#pragma once

#include <string>

#include "web/web_run.h"

namespace web {

constexpr size_t kTemplateBlock = 2048;

// Copies the file at path into run.Out with its directives expanded. A directive that
// straddles two read blocks is handled as if the file were one block. The path is taken in
// run.TemplateFolder and must stay inside it (TemplatePath). 0, or 1 (and nothing written)
// when the file is refused or cannot be opened.
[[nodiscard]] int ExpandHtmlFile(WebRun& run, const std::string& path);

// Fills run.Snpp.NameChoices: over SNPP (LIST with the group filter) or over the pipe
// (persons, then groups, pages of 50; or the members of the group filter), at most 2500.
void FetchNames(WebRun& run);

// SCRIPT_NAME when the web server set one; else "/scripts/tools/" (when argv0 contains
// "tools") or "/cgi-bin/", followed by the program's own file name.
std::string ScriptPathFor(const char* scriptName, const std::string& argv0);

}  // namespace web
