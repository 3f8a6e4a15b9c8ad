#include "launcher/core/xdg.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "launcher/core/process.h"
#include "viewer/config/atomic_file.h"
#include "viewer/platform/autostart.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string without_trailing_slashes(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

std::string env_or_empty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string home_folder() {
  std::string home = env_or_empty("HOME");
  if (home.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid())) home = pw->pw_dir;
  }
  return home;
}

// A single absolute folder from the variable, or the fallback: the base
// directory rules treat relative values as invalid.
std::string single_dir(const char* name, const std::string& fallback) {
  std::string v = env_or_empty(name);
  return without_trailing_slashes(!v.empty() && v.front() == '/' ? v : fallback);
}

std::vector<std::string> split(std::string_view s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= s.size()) {
    std::size_t end = s.find(sep, start);
    if (end == std::string_view::npos) end = s.size();
    out.emplace_back(s.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::vector<std::string> dir_list(const char* name, std::vector<std::string> fallback) {
  std::vector<std::string> out;
  for (std::string& d : split(env_or_empty(name), ':')) {
    if (!d.empty() && d.front() == '/') out.push_back(without_trailing_slashes(std::move(d)));
  }
  return out.empty() ? fallback : out;
}

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Calls visit(key, value) for each "key=value" line of the group in an
// ini-style text ("[Default Applications]", "[Desktop Entry]"); visit returns
// false to stop.
template <class Visit>
void for_each_in_group(const std::string& text, std::string_view group, Visit&& visit) {
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    const std::string_view l = trim(line);
    if (l.empty() || l.front() == '#') continue;
    if (l.front() == '[') {
      inside = l == group;
      continue;
    }
    if (!inside) continue;
    const std::size_t eq = l.find('=');
    if (eq == std::string_view::npos) continue;
    if (!visit(trim(l.substr(0, eq)), trim(l.substr(eq + 1)))) return;
  }
}

// The ids of "mime=id;id;..." in the group of the list file.
std::vector<std::string> listed_ids(const std::string& file, std::string_view group, std::string_view mime) {
  std::vector<std::string> ids;
  for_each_in_group(read_text(file), group, [&](std::string_view key, std::string_view value) {
    if (key != mime) return true;
    for (std::string& id : split(value, ';')) {
      std::string_view t = trim(id);
      if (!t.empty()) ids.emplace_back(t);
    }
    return false;
  });
  return ids;
}

std::vector<std::string> applications_dirs(const XdgDirs& dirs) {
  std::vector<std::string> out{dirs.user_applications()};
  for (const std::string& d : dirs.data_dirs) out.push_back(d + "/applications");
  return out;
}

// An entry the desktop would offer: present, not deleted, its program there.
bool installed(const XdgDirs& dirs, std::string_view id) {
  const std::string file = find_desktop_entry(dirs, id);
  return !file.empty() && !entry_program(dirs, file).empty();
}

bool claims_type(const std::string& file, std::string_view mime) {
  const std::optional<std::string> types = desktop_entry_value(file, "MimeType");
  if (!types) return false;
  for (const std::string& t : split(*types, ';')) {
    if (trim(t) == mime) return true;
  }
  return false;
}

// The claimant with the highest InitialPreference below one applications
// folder (sub-folders give ids joined with "-"); the first found wins ties.
void best_claimant(const std::string& apps_dir, std::string_view mime, std::string& best_id, long& best_pref) {
  std::error_code ec;
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(apps_dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".desktop") files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    if (!is_regular_file(f.string()) || !claims_type(f.string(), mime)) continue;
    long pref = 0;
    if (std::optional<std::string> p = desktop_entry_value(f.string(), "InitialPreference"))
      pref = std::atol(p->c_str());
    if (pref > best_pref) {
      best_pref = pref;
      std::string id = f.lexically_relative(apps_dir).string();
      std::replace(id.begin(), id.end(), '/', '-');
      best_id = id;
    }
  }
}

// The text with mime's default in its [Default Applications] group set to
// app_id; every other line kept as it was.
std::string with_default(const std::string& text, std::string_view mime, std::string_view app_id) {
  std::vector<std::string> lines;
  {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
  }
  const std::string wanted = std::string(mime) + "=" + std::string(app_id);
  std::optional<std::size_t> group_end;  // last line of the first such group
  bool inside = false;
  bool replaced = false;
  for (std::size_t i = 0; i < lines.size() && !replaced; ++i) {
    const std::string_view l = trim(lines[i]);
    if (!l.empty() && l.front() == '[') {
      if (group_end && inside) break;  // the first group ended
      inside = l == "[Default Applications]";
      if (inside) group_end = i;
      continue;
    }
    if (!inside || l.empty()) continue;
    group_end = i;
    const std::size_t eq = l.find('=');
    if (l.front() != '#' && eq != std::string_view::npos && trim(l.substr(0, eq)) == mime) {
      lines[i] = wanted;
      replaced = true;
    }
  }
  if (!replaced && group_end) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*group_end) + 1, wanted);
  } else if (!replaced) {
    if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
    lines.emplace_back("[Default Applications]");
    lines.push_back(wanted);
  }
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

}  // namespace

XdgDirs XdgDirs::from_environment() {
  XdgDirs d;
  const std::string home = home_folder();
  d.data_home = single_dir("XDG_DATA_HOME", home + "/.local/share");
  d.config_home = single_dir("XDG_CONFIG_HOME", home + "/.config");
  d.data_dirs = dir_list("XDG_DATA_DIRS", {"/usr/local/share", "/usr/share"});
  d.config_dirs = dir_list("XDG_CONFIG_DIRS", {"/etc/xdg"});
  for (std::string& name : split(env_or_empty("XDG_CURRENT_DESKTOP"), ':')) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!name.empty()) d.desktops.push_back(name);
  }
  d.path = env_or_empty("PATH");
  if (d.path.empty()) d.path = "/usr/local/bin:/usr/bin:/bin";
  return d;
}

std::string find_desktop_entry(const XdgDirs& dirs, std::string_view id) {
  if (id.empty() || id.find('/') != std::string_view::npos || id.find("..") != std::string_view::npos) return {};
  // "vendor-name.desktop" may also live as vendor/name.desktop.
  std::vector<std::string> relative{std::string(id)};
  for (std::size_t dash = id.find('-'); dash != std::string_view::npos; dash = id.find('-', dash + 1)) {
    std::string r(id);
    r[dash] = '/';
    relative.push_back(std::move(r));
  }
  for (const std::string& apps : applications_dirs(dirs)) {
    for (const std::string& r : relative) {
      const std::string file = apps + "/" + r;
      if (!is_regular_file(file)) continue;
      // A user's copy with Hidden=true deletes the entry for that user.
      if (desktop_entry_value(file, "Hidden") == std::optional<std::string>("true")) return {};
      return file;
    }
  }
  return {};
}

std::optional<std::string> desktop_entry_value(const std::string& file, std::string_view key) {
  std::optional<std::string> found;
  for_each_in_group(read_text(file), "[Desktop Entry]", [&](std::string_view k, std::string_view v) {
    if (k != key) return true;
    found = platform::unescape_desktop_string(v);
    return false;
  });
  return found;
}

std::vector<std::string> split_exec(std::string_view exec_value) {
  // The string escapes first, then the quoting of the Exec key.
  const std::string line = platform::unescape_desktop_string(exec_value);
  std::vector<std::string> args;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i == line.size()) break;
    std::string arg;
    if (line[i] == '"') {
      bool closed = false;
      for (++i; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
          arg += line[++i];
        } else if (line[i] == '"') {
          closed = true;
          ++i;
          break;
        } else {
          arg += line[i];
        }
      }
      if (!closed) return {};
    } else {
      while (i < line.size() && line[i] != ' ') arg += line[i++];
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string entry_program(const XdgDirs& dirs, const std::string& entry_file) {
  const std::optional<std::string> exec = desktop_entry_value(entry_file, "Exec");
  if (!exec) return {};
  const std::vector<std::string> args = split_exec(*exec);
  if (args.empty()) return {};
  const std::string& program = args[0];
  if (program.front() == '/') return is_executable_file(program) ? program : std::string();
  return find_in_path(dirs.path, program);
}

std::string default_app_from_lists(const XdgDirs& dirs, std::string_view mime) {
  std::vector<std::string> list_dirs{dirs.config_home};
  list_dirs.insert(list_dirs.end(), dirs.config_dirs.begin(), dirs.config_dirs.end());
  for (const std::string& apps : applications_dirs(dirs)) list_dirs.push_back(apps);
  for (const std::string& dir : list_dirs) {
    std::vector<std::string> names;
    for (const std::string& desktop : dirs.desktops) names.push_back(desktop + "-mimeapps.list");
    names.emplace_back("mimeapps.list");
    for (const std::string& name : names) {
      for (const std::string& id : listed_ids(dir + "/" + name, "[Default Applications]", mime)) {
        if (installed(dirs, id)) return id;
      }
    }
  }
  // Older lists: defaults.list (a default per type) and the cache that
  // update-desktop-database writes (the claimants per type).
  for (const std::string& apps : applications_dirs(dirs)) {
    for (const char* name : {"defaults.list", "mimeinfo.cache"}) {
      const char* group = std::string_view(name) == "defaults.list" ? "[Default Applications]" : "[MIME Cache]";
      for (const std::string& id : listed_ids(apps + "/" + name, group, mime)) {
        if (installed(dirs, id)) return id;
      }
    }
  }
  std::string best_id;
  long best_pref = -1;
  for (const std::string& apps : applications_dirs(dirs)) best_claimant(apps, mime, best_id, best_pref);
  return best_id;
}

std::string default_app(const XdgDirs& dirs, std::string_view mime) {
  const std::string xdg_mime = find_in_path(dirs.path, "xdg-mime");
  if (!xdg_mime.empty()) {
    const std::optional<std::string> out =
        run_for_output({xdg_mime, "query", "default", std::string(mime)}, std::chrono::seconds(3));
    if (out) {
      // One id on the first line; nothing at all means no default.
      std::string_view first(*out);
      first = trim(first.substr(0, first.find('\n')));
      return std::string(first);
    }
  }
  return default_app_from_lists(dirs, mime);
}

int write_default_app(const XdgDirs& dirs, std::string_view mime, std::string_view app_id) {
  std::error_code ec;
  fs::create_directories(dirs.config_home, ec);
  if (ec) return ec.value();
  std::vector<std::string> files{dirs.config_home + "/mimeapps.list"};
  // A desktop's own list is read before the common one: where it names a
  // default for the type, it would hide ours.
  for (const std::string& desktop : dirs.desktops) {
    const std::string f = dirs.config_home + "/" + desktop + "-mimeapps.list";
    if (!listed_ids(f, "[Default Applications]", mime).empty()) files.push_back(f);
  }
  for (const std::string& f : files) {
    if (is_regular_file(f) || !fs::exists(f, ec)) {
      if (const int error = replace_file(f, with_default(read_text(f), mime, app_id))) return error;
    } else {
      return EISDIR;
    }
  }
  return 0;
}

int replace_file(const std::string& path, const std::string& text, unsigned mode) {
  errno = 0;
  if (config::write_file_atomically(path, text, mode)) return 0;
  return errno != 0 ? errno : EIO;
}

}  // namespace launcher
