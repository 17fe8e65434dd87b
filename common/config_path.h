// common/config_path.h - where a program finds its configuration files.
//
// Every program reads its configuration (page.ini, SNPP.INI, POPPAGE.INI, wwwpage.ini,
// HTTP.INI) from one configuration folder and keeps its state (at.dat, the page store,
// log.txt) in its current folder. The folder is named by "-c DIR" as the first argument,
// else by CORVEL_CONFIG_DIR (how a web server tells the CGI program), else it is the current
// folder, so a program started in a folder that holds everything works as it always did.
#pragma once

#include <string>
#include <string_view>

namespace common {

inline constexpr std::string_view kConfigDirVariable = "CORVEL_CONFIG_DIR";

// Takes "-c DIR", "-cDIR", "--config DIR" or "--config=DIR" from the front of argv (the
// option is read only as the first argument, so a message or name that happens to read
// "-c" is never taken for it), sets the folder and closes the gap in argv, so the program's
// own argument handling never sees the option. Returns the new argc, or -1 after writing
// a message to stderr when the option has no folder or the folder cannot be read.
[[nodiscard]] int TakeConfigDirOption(int argc, char** argv);

// Sets the folder for this process; empty means "CORVEL_CONFIG_DIR, else the current folder".
void SetConfigDir(std::string_view dir);

// The folder in force: the option's, else the variable's, else empty (the current folder).
std::string ConfigDir();

// The path of a configuration file: name itself in the current folder, else DIR/name.
std::string ConfigFile(std::string_view name);

}  // namespace common
