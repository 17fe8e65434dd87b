// web/template_path.h - which files corvweb may copy into a page.
//
// The web server hands corvweb a page name from the URL, and wwwpage.ini names the result
// page's files. Either could name any file the web server's user can read (a password file,
// a private key) and have it printed, so every template comes from one folder: the
// HtmlFolder of wwwpage.ini, else the program's own folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace web {

// The folder of the program's path as the web server started it (argument 0), so a CGI
// program linked into a web server's cgi-bin folder finds its templates there; the current
// folder when argument 0 names no folder.
std::string ProgramFolder(const std::string& argv0);

// The file to open for template name (relative names are taken inside folder, absolute ones
// must lie in it), or nothing when the name holds a ".." part, does not exist, is no
// regular file, or leads out of folder through a symlink.
std::optional<std::string> TemplatePath(const std::string& folder, std::string_view name);

}  // namespace web
