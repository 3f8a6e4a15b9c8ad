#include "launcher/core/hyperlink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace launcher {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Puts value in place of every field code that stands for the file or the
// address; drops the arguments that are only an icon, name or entry code.
std::vector<std::string> fill_field_codes(const std::vector<std::string>& args, const std::string& url,
                                          const std::string& file) {
  std::vector<std::string> out;
  bool filled = false;
  for (std::size_t a = 0; a < args.size(); ++a) {
    const std::string& arg = args[a];
    if (a > 0 && (arg == "%i" || arg == "%c" || arg == "%k")) continue;
    std::string value;
    for (std::size_t i = 0; i < arg.size(); ++i) {
      if (arg[i] != '%' || i + 1 == arg.size()) {
        value += arg[i];
        continue;
      }
      const char code = arg[++i];
      if (code == '%') {
        value += '%';
      } else if (code == 'u' || code == 'U') {
        value += url;
        filled = true;
      } else if (code == 'f' || code == 'F') {
        value += file;
        filled = true;
      }
    }
    out.push_back(std::move(value));
  }
  if (!filled) out.push_back(url);
  return out;
}

}  // namespace

std::optional<std::string> local_path_of(std::string_view address) {
  constexpr std::string_view scheme = "file://";
  if (address.substr(0, scheme.size()) != scheme) return std::nullopt;
  std::string_view rest = address.substr(scheme.size());
  // file://localhost/path names the same file as file:///path.
  if (rest.substr(0, 9) == "localhost") rest.remove_prefix(9);
  if (rest.empty() || rest.front() != '/') return std::nullopt;
  rest = rest.substr(0, rest.find_first_of("?#"));
  std::string path;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && hex_value(rest[i + 1]) >= 0 && hex_value(rest[i + 2]) >= 0) {
      path += static_cast<char>(hex_value(rest[i + 1]) * 16 + hex_value(rest[i + 2]));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  return path;
}

int check_link_target(std::string_view address) {
  const std::optional<std::string> path = local_path_of(address);
  if (!path) return kLinkOpened;
  struct stat st {};
  if (::stat(path->c_str(), &st) != 0) {
    if (errno == EACCES) return kLinkAccessDenied;
    const std::size_t slash = path->rfind('/');
    const std::string folder = slash == 0 ? "/" : path->substr(0, slash);
    struct stat dir {};
    return ::stat(folder.c_str(), &dir) == 0 && S_ISDIR(dir.st_mode) ? kLinkFileNotFound : kLinkPathNotFound;
  }
  if (::access(path->c_str(), R_OK) != 0) return kLinkAccessDenied;
  return kLinkOpened;
}

std::vector<std::string> fallback_command(const XdgDirs& dirs, std::string_view address) {
  const std::string id = default_app(dirs, "text/html");
  if (id.empty()) return {};
  const std::string entry = find_desktop_entry(dirs, id);
  if (entry.empty()) return {};
  const std::string program = entry_program(dirs, entry);
  const std::optional<std::string> exec = desktop_entry_value(entry, "Exec");
  if (program.empty() || !exec) return {};
  std::vector<std::string> args = split_exec(*exec);
  if (args.empty()) return {};
  args[0] = program;
  const std::string url(address);
  return fill_field_codes(args, url, local_path_of(address).value_or(url));
}

std::string hyperlink_failure_reason(int result) {
  switch (result) {
    case 0:
      return "The operating system is out\nof memory or resources.";
    case 2:
      return "The specified file was not found.";
    case 3:
      return "The specified path was not found.";
    case 5:
      return "The operating system denied\naccess to the specified file.";
    case 8:
      return "There was not enough memory to complete the operation.";
    case 11:
      return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26:
      return "A sharing violation occurred. ";
    case 27:
      return "The filename association is\nincomplete or invalid.";
    case 28:
      return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29:
      return "The DDE transaction failed.";
    case 30:
      return "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
    case 31:
      return "There is no application associated\nwith the given filename extension.";
    case 32:
      return "The specified dynamic-link library was not found.";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Unknown Error (%d) occurred.", result);
      return text;
    }
  }
}

std::string hyperlink_failure_message(int result) {
  return "Unable to open hyperlink:\n\n" + hyperlink_failure_reason(result);
}

}  // namespace launcher
