// XDG autostart entry (freedesktop.org desktop entry format 1.5: "The Exec
// key" and "Possible value types" for quoting and escapes; the XDG autostart
// rules for the folder).
#include "viewer/platform/autostart.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string config_home() {
  // A relative XDG_CONFIG_HOME is invalid and must be ignored.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (!home || !*home) {
    if (const passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
  }
  return std::string(home ? home : "") + "/.config";
}

bool is_reserved(char c) {
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '"':
    case '\'':
    case '\\':
    case '>':
    case '<':
    case '~':
    case '|':
    case '&':
    case ';':
    case '$':
    case '*':
    case '?':
    case '#':
    case '(':
    case ')':
    case '`':
      return true;
    default:
      return false;
  }
}

// String escapes of the file format: backslash, line breaks and tabs.
std::string escape_string(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Writes the entry next to its final name and renames it into place, so that
// the session never sees a half-written file.
bool write_file_replacing(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace

std::string unescape_desktop_string(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    switch (s[++i]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += '\\';
        out += s[i];
    }
  }
  return out;
}

std::string autostart_entry_path() { return config_home() + "/autostart/" + std::string(kAutostartName) + ".desktop"; }

std::string exec_value_for(std::string_view program_path) {
  std::string arg;
  for (char c : program_path) {
    if (c == '%')
      arg += "%%";  // "%" starts a field code
    else
      arg += c;
  }
  bool quote = false;
  for (char c : arg) quote = quote || is_reserved(c);
  if (quote) {
    std::string quoted = "\"";
    for (char c : arg) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
      quoted += c;
    }
    quoted += '"';
    arg = std::move(quoted);
  }
  return escape_string(arg);
}

std::optional<std::string> parse_exec_program(std::string_view exec_value) {
  std::string line = unescape_desktop_string(exec_value);
  std::string program;
  std::size_t i = 0;
  while (i < line.size() && line[i] == ' ') ++i;
  if (i < line.size() && line[i] == '"') {
    bool closed = false;
    for (++i; i < line.size(); ++i) {
      char c = line[i];
      if (c == '\\' && i + 1 < line.size()) {
        program += line[++i];
      } else if (c == '"') {
        closed = true;
        break;
      } else {
        program += c;
      }
    }
    if (!closed) return std::nullopt;
  } else {
    while (i < line.size() && line[i] != ' ') program += line[i++];
  }
  std::string out;
  for (std::size_t k = 0; k < program.size(); ++k) {
    out += program[k];
    if (program[k] == '%' && k + 1 < program.size() && program[k + 1] == '%') ++k;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

int set_start_with_session(bool on, std::string_view program_path) {
  const std::string path = autostart_entry_path();
  if (!on) {
    std::error_code ec;
    fs::remove(path, ec);
    return ec ? 0 : 1;
  }
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  if (ec) return 0;
  std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=" +
      std::string(kAutostartName) +
      "\n"
      "Exec=" +
      exec_value_for(program_path) +
      "\n"
      "Terminal=false\n";
  return write_file_replacing(path, text) ? 1 : 0;
}

std::optional<std::string> read_start_with_session() {
  std::ifstream in(autostart_entry_path(), std::ios::binary);
  if (!in) return std::nullopt;
  std::string line;
  bool in_entry_group = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      in_entry_group = line == "[Desktop Entry]";
      continue;
    }
    if (in_entry_group && line.rfind("Exec=", 0) == 0) return parse_exec_program(std::string_view(line).substr(5));
  }
  return std::nullopt;
}

std::string running_program_path() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

}  // namespace platform
