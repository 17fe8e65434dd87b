// platform/pipe_path.h - where the request pipe lives, and whether its folder can be trusted.
//
// Every program, server and client alike, finds the socket with PipePath(), so a server and
// its clients of one user always agree; a CGI run as the web server's user finds a server
// run by root or by the service in the system's runtime folder.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr const char* kSystemPipeFolder = "/run/corvel";
inline constexpr const char* kPipeFileName = "CORVD";

// Who may connect to the pipe: everyone (socket mode 0666, the default) or the server's
// group only (0660, for an installed service whose clients share its group).
enum class PipeAccess : uint8_t { kEveryone, kGroup };

// The private folder of this user for a pipe when the system's runtime folder cannot be
// used: $XDG_RUNTIME_DIR/corvel (an absolute XDG_RUNTIME_DIR only), else /tmp/corvel-UID.
std::string PrivatePipeFolder();

// The pipe's path: CORVEL_PIPE when set; else /run/corvel/CORVD when a socket is there or
// this user owns /run/corvel or may make it; else PrivatePipeFolder()/CORVD.
std::string PipePath();

// The same rule over given places (PipePath passes the environment's and the system's).
struct PipePlaces {
  std::string Named;          // CORVEL_PIPE, or empty
  std::string SystemFolder;   // /run/corvel
  std::string PrivateFolder;  // PrivatePipeFolder()
};
std::string ChoosePipePath(const PipePlaces& places);

// Whether folder may hold a server's socket: 0, or -ENOTDIR (missing, or no folder),
// -ELOOP (a symlink), -EPERM (another user's) or -EACCES (group or others may write in it:
// they could swap the socket for their own).
[[nodiscard]] int CheckPipeFolder(const std::string& folder);

// The folder part of a socket path ("." for a bare name, "/" for a file at the root).
std::string PipeFolderOf(const std::string& path);

}  // namespace platform
