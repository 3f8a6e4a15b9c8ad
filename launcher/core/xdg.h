// The desktop's shared files as the launcher reads and writes them:
// the base folders, desktop entries (application files) and the lists that
// name each file type's default application. These are the freedesktop.org
// rules every desktop on Linux follows (base directories, desktop entries,
// MIME applications associations).
//
// No Qt here. Everything reads an XdgDirs taken once from the environment, so
// tests point it at temporary folders. Call from the launcher's thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

struct XdgDirs {
  std::string data_home;                 // $XDG_DATA_HOME, default ~/.local/share
  std::vector<std::string> data_dirs;    // $XDG_DATA_DIRS, default /usr/local/share:/usr/share
  std::string config_home;               // $XDG_CONFIG_HOME, default ~/.config
  std::vector<std::string> config_dirs;  // $XDG_CONFIG_DIRS, default /etc/xdg
  std::vector<std::string> desktops;     // $XDG_CURRENT_DESKTOP, lower case, in order
  std::string path;                      // $PATH

  // Read from the process environment; relative values count as unset.
  [[nodiscard]] static XdgDirs from_environment();

  // The folder user desktop entries go in: data_home + "/applications".
  [[nodiscard]] std::string user_applications() const { return data_home + "/applications"; }
};

// The file of the desktop entry with this id (such as "vlc.desktop"): the
// user's applications folder first, then the system ones, as the desktop
// looks them up. Empty when none exists.
[[nodiscard]] std::string find_desktop_entry(const XdgDirs& dirs, std::string_view id);

// The value of key in the file's [Desktop Entry] group, with the format's
// string escapes undone and no locale variants; nothing when the file or the
// key is missing.
[[nodiscard]] std::optional<std::string> desktop_entry_value(const std::string& file, std::string_view key);

// An Exec value split into its arguments (quoting and escapes undone, field
// codes such as %f left as they are); empty when the quoting is broken.
[[nodiscard]] std::vector<std::string> split_exec(std::string_view exec_value);

// The program of an entry's Exec line as something that can be started: an
// absolute path as it is, a bare name looked up in PATH (absolute folders
// only). Empty when the entry has no usable Exec or the program is missing.
[[nodiscard]] std::string entry_program(const XdgDirs& dirs, const std::string& entry_file);

// The default application id for a MIME type from the association lists, in
// the desktop's order: mimeapps.list (and the current desktops' own lists)
// in the config folders, then in the applications folders; then the older
// defaults.list and mimeinfo.cache; then, among the installed entries that
// claim the type, the one with the highest InitialPreference. Ids whose entry
// is not installed are passed over. Empty when nothing plays the type.
[[nodiscard]] std::string default_app_from_lists(const XdgDirs& dirs, std::string_view mime);

// The desktop's default application id for a MIME type: what
// `xdg-mime query default` answers (when xdg-mime is on PATH and answers
// within a few seconds; it knows each desktop's own ways), else what the
// association lists say. Empty when there is none.
[[nodiscard]] std::string default_app(const XdgDirs& dirs, std::string_view mime);

// Makes app_id the default for mime in the user's own lists
// (config_home/mimeapps.list, created when missing, and any of the current
// desktops' lists there that name a default for it), keeping every other
// line. Each file is replaced whole (written beside it, then renamed). Returns
// 0 on success, else the errno of what failed.
[[nodiscard]] int write_default_app(const XdgDirs& dirs, std::string_view mime, std::string_view app_id);

// Replaces the file whole: written beside it, synced, renamed into place, so
// that nobody reads a half-written file. Returns 0 or the errno.
[[nodiscard]] int replace_file(const std::string& path, const std::string& text, unsigned mode = 0644);

}  // namespace launcher
