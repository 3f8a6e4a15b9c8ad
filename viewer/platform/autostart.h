// Starting the program with the user's session.
//
// The settings keep an `AutoRun` switch; this layer mirrors it into the
// desktop's autostart mechanism. On Linux that is an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/Vistaro.desktop (~/.config when the variable is
// unset or not absolute), whose Exec line runs the program file. Enabling
// writes the entry, disabling deletes it. The entry is read back to find the
// program folder when the program was started from elsewhere.
//
// All functions are meant for the user-interface thread (start-up and exit);
// they read the environment at each call, so tests can point them at a
// temporary directory by setting XDG_CONFIG_HOME.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Name of the entry (the file name without ".desktop", and its Name=).
inline constexpr std::string_view kAutostartName = "Vistaro";

// Full path of the autostart entry file.
[[nodiscard]] std::string autostart_entry_path();

// on: writes the entry with Exec naming program_path (an absolute path;
// quoted as the desktop entry format requires). Returns 1 when the entry was
// written, 0 when the folder or the file could not be written.
// off: deletes the entry. Returns 1 when no entry is left (also when there was
// none), 0 when it could not be deleted.
[[nodiscard]] int set_start_with_session(bool on, std::string_view program_path);

// The program path of the entry's Exec line, or nothing when there is no
// readable entry or it has no Exec line.
[[nodiscard]] std::optional<std::string> read_start_with_session();

// Absolute path of the running program file, or empty when it cannot be told.
[[nodiscard]] std::string running_program_path();

// A desktop entry's string value with the format's escapes (\s \n \t \r
// \\) undone; other backslashes stay as they are.
[[nodiscard]] std::string unescape_desktop_string(std::string_view s);

// Exec value for a program path: quoted when it holds reserved characters,
// "%" doubled, then the string escapes of the format applied. Exposed for
// tests; parse_exec_program reverses it.
[[nodiscard]] std::string exec_value_for(std::string_view program_path);
[[nodiscard]] std::optional<std::string> parse_exec_program(std::string_view exec_value);

}  // namespace platform
