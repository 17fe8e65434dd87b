// web/template_path.cpp
#include "web/template_path.h"

#include <filesystem>
#include <system_error>

namespace web {

namespace fs = std::filesystem;

std::string ProgramFolder(const std::string& argv0) {
  const fs::path folder = fs::path(argv0).parent_path();
  return folder.empty() ? std::string(".") : folder.string();
}

std::optional<std::string> TemplatePath(const std::string& folder, std::string_view name) {
  if (name.empty() || folder.empty()) return std::nullopt;
  const fs::path given(name);
  // Refused outright, even where it would land inside the folder again: a name that climbs
  // is never one a form links to.
  for (const fs::path& part : given) {
    if (part == "..") return std::nullopt;
  }
  std::error_code ec;
  const fs::path base = fs::canonical(folder, ec);
  if (ec) return std::nullopt;
  // The real path, every symlink followed, must still be inside the folder's real path.
  const fs::path real = fs::canonical(given.is_absolute() ? given : base / given, ec);
  if (ec) return std::nullopt;
  const fs::path inside = real.lexically_relative(base);
  if (inside.empty() || inside == "." || *inside.begin() == "..") return std::nullopt;
  if (!fs::is_regular_file(real, ec)) return std::nullopt;
  return real.string();
}

}  // namespace web
