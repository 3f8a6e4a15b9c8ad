// The launcher's start-up sequence, without a display: the decisions, the
// texts and the programs it starts. The dialog and message boxes are behind
// LauncherUi, so the whole sequence runs in tests on temporary XDG folders.
//
// 1. Player check: when our player's desktop entry is not registered for the
//    user, write it into $XDG_DATA_HOME/applications and start
//    update-desktop-database without waiting for it.
// 2. Default check: when the desktop's default application for .asf files
//    plays them without sound (a GStreamer-based player) or there is none,
//    show the Information dialog; its button makes our player the default.
// 3. Start `viewer` from the launcher's own folder; a failed start is
//    reported once.
// 4. End, waiting for nothing it started.
//
// No Qt here. Everything runs on the launcher's only thread.
#pragma once

#include <string>
#include <string_view>

#include "launcher/core/xdg.h"

namespace launcher {

inline constexpr std::string_view kRecordingType = "video/x-ms-asf";
inline constexpr std::string_view kPlayerEntryId = "asfplay.desktop";
inline constexpr std::string_view kPlayerProgram = "asfplay";
inline constexpr std::string_view kPlayerName = "Camera Recording Player";
inline constexpr std::string_view kViewerProgram = "viewer";
// The package's data folder below the prefix; its help page.
inline constexpr std::string_view kInstalledDataFolder = "share/quorvan-viewer";
inline constexpr std::string_view kInstalledHelpPage = "share/quorvan-viewer/help/index.html";
// Below $XDG_DATA_HOME: where an installed viewer keeps param.dat and the
// recordings of the user.
inline constexpr std::string_view kUserDataFolder = "quorvan-viewer";

// What the Information dialog shows.
struct Information {
  std::string text;               // why recorded files lose their sound, and the fix
  std::string link;               // address of our help page (a file:// URL)
  std::string button;             // caption of the button that makes our player the default
  bool can_make_default = false;  // false: our player is not there to be made the default
};

// The dialog and message boxes; a Qt implementation in the program, a
// recording one in tests. Called on the launcher's thread only.
class LauncherUi {
 public:
  virtual ~LauncherUi() = default;
  // Shows the dialog modally; true when the user asked to make our player the
  // default (only offered when info.can_make_default).
  virtual bool show_information(const Information& info) = 0;
  // A message box with an OK button; returns when it is closed.
  virtual void show_message(std::string_view text) = 0;
};

// What the launcher works on: its own folder and the desktop's folders.
struct LaunchContext {
  std::string folder;  // the launcher's own folder: viewer and asfplay are looked up here only
  XdgDirs dirs;
};

// --- step 1 -----------------------------------------------------------------

// True when an asfplay.desktop the desktop would use (user's first, then the
// system's) exists and its program can be started.
[[nodiscard]] bool player_registered(const XdgDirs& dirs);

// The text of our player's desktop entry with Exec naming player_path.
[[nodiscard]] std::string player_entry_text(std::string_view player_path);

// Writes the entry for the asfplay beside the launcher into the user's
// applications folder and starts update-desktop-database (when on PATH) on
// that folder without waiting. Returns 0 when the entry was written (the
// database update is best effort), ENOENT when there is no asfplay beside the
// launcher, else the errno of the failed write.
[[nodiscard]] int start_registration(const LaunchContext& ctx);

// --- step 2 -----------------------------------------------------------------

enum class PlayerVerdict { plays_sound, no_player, plays_without_sound };

struct PlayerCheck {
  PlayerVerdict verdict = PlayerVerdict::plays_sound;
  std::string id;    // the default's desktop entry id, empty when none
  std::string name;  // its Name= (or the id when it has none)
};

// Looks up the default player for .asf files and judges it.
[[nodiscard]] PlayerCheck check_default_player(const XdgDirs& dirs);

// The Information dialog for a verdict other than plays_sound.
[[nodiscard]] Information information_for(const PlayerCheck& check, const LaunchContext& ctx, bool player_available);

// The help page as a file:// URL: beside the launcher in the build tree
// (help/index.html), else below the installation prefix.
[[nodiscard]] std::string help_page_url(std::string_view folder);

// Makes asfplay.desktop the user's default for .asf files. Returns 0 or an
// errno.
[[nodiscard]] int make_player_default(const XdgDirs& dirs);

// --- step 3 -----------------------------------------------------------------

// The program folder to hand the viewer (its --folder): empty for a copy
// that lives in a folder of its own (a build, an unpacked copy), which keeps
// param.dat and the recordings beside the programs; for an installed copy
// (the package's data folder next to the programs' folder, where users may
// not write) the user's own data folder, $XDG_DATA_HOME/quorvan-viewer.
[[nodiscard]] std::string viewer_program_folder(const LaunchContext& ctx);

// Starts the viewer beside the launcher without waiting (with --folder when
// viewer_program_folder says so, that folder made first). Returns 0 or the
// errno of the failed start.
[[nodiscard]] int start_viewer(const LaunchContext& ctx);

// The message for a failed start of a program (an errno from starting it).
// Never empty for a failure: errors without a text of their own get the
// system's description.
[[nodiscard]] std::string start_failure_message(int error);

// --- the whole sequence --------------------------------------------------------

// Runs steps 1 to 3 in order and returns the launcher's exit code (0, also
// after a reported failure).
int run_launcher(const LaunchContext& ctx, LauncherUi& ui);

}  // namespace launcher
