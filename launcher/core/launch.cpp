#include "launcher/core/launch.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "launcher/core/players.h"
#include "launcher/core/process.h"
#include "viewer/platform/autostart.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;

std::string beside(const LaunchContext& ctx, std::string_view program) {
  if (ctx.folder.empty()) return {};
  return (ctx.folder == "/" ? std::string() : ctx.folder) + "/" + std::string(program);
}

// Percent-encodes what may not stand in a URL path as it is.
std::string file_url(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-._~", c) != nullptr) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

}  // namespace

bool player_registered(const XdgDirs& dirs) {
  const std::string entry = find_desktop_entry(dirs, kPlayerEntryId);
  return !entry.empty() && !entry_program(dirs, entry).empty();
}

std::string player_entry_text(std::string_view player_path) {
  // The same entry as the one installed with the player, naming the program
  // by its absolute path: a player registered from a build or an unpacked
  // copy is not on PATH.
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" +
         std::string(kPlayerName) +
         "\n"
         "GenericName=Video Player\n"
         "Comment=Play camera recordings with their sound\n"
         "Exec=" +
         platform::exec_value_for(player_path) +
         " %f\n"
         "Icon=video-x-generic\n"
         "Terminal=false\n"
         "Categories=AudioVideo;Video;Player;\n"
         "MimeType=" +
         std::string(kRecordingType) +
         ";\n"
         "Keywords=asf;camera;recording;\n";
}

int start_registration(const LaunchContext& ctx) {
  const std::string player = beside(ctx, kPlayerProgram);
  if (player.empty() || !is_executable_file(player)) return ENOENT;
  const std::string apps = ctx.dirs.user_applications();
  std::error_code ec;
  fs::create_directories(apps, ec);
  if (ec) return ec.value();
  if (const int error = replace_file(apps + "/" + std::string(kPlayerEntryId), player_entry_text(player))) return error;
  // The desktop database (mimeinfo.cache) lists the entry among the players
  // of .asf files; rebuilding it takes a while on a full folder, so it runs
  // on its own.
  const std::string update = find_in_path(ctx.dirs.path, "update-desktop-database");
  if (!update.empty()) (void)start_detached({update, "-q", apps});
  return 0;
}

PlayerCheck check_default_player(const XdgDirs& dirs) {
  PlayerCheck check;
  check.id = default_app(dirs, kRecordingType);
  if (check.id.empty()) {
    check.verdict = PlayerVerdict::no_player;
    return check;
  }
  const std::string entry = find_desktop_entry(dirs, check.id);
  const std::string program = entry.empty() ? std::string() : entry_program(dirs, entry);
  std::optional<std::string> name = entry.empty() ? std::nullopt : desktop_entry_value(entry, "Name");
  check.name = name && !name->empty() ? *name : check.id;
  if (plays_without_sound(check.id, program)) check.verdict = PlayerVerdict::plays_without_sound;
  return check;
}

Information information_for(const PlayerCheck& check, const LaunchContext& ctx, bool player_available) {
  Information info;
  const std::string ours(kPlayerName);
  if (check.verdict == PlayerVerdict::no_player) {
    info.text = "No player is set for recorded files (.asf) on this desktop. ";
  } else {
    info.text = "Recorded files (.asf) play without sound in " + check.name +
                ", the desktop's player for them: it cannot decode the cameras' sound. ";
  }
  if (player_available) {
    info.text += ours +
                 " plays them with their sound. To open .asf files with it, use the button below. "
                 "The help page tells more:";
  } else {
    info.text += "The help page tells how to play them with their sound:";
  }
  info.link = help_page_url(ctx.folder);
  info.button = "Play .asf files with " + ours;
  info.can_make_default = player_available;
  return info;
}

std::string help_page_url(std::string_view folder) {
  const fs::path base(folder);
  const fs::path build_tree = base / "help/index.html";
  const fs::path installed = (base / ".." / kInstalledHelpPage).lexically_normal();
  std::error_code ec;
  if (fs::is_regular_file(build_tree, ec)) return file_url(build_tree.lexically_normal().string());
  return file_url(installed.string());
}

int make_player_default(const XdgDirs& dirs) { return write_default_app(dirs, kRecordingType, kPlayerEntryId); }

std::string viewer_program_folder(const LaunchContext& ctx) {
  if (ctx.folder.empty()) return {};
  std::error_code ec;
  if (!fs::is_directory(fs::path(ctx.folder) / ".." / kInstalledDataFolder, ec)) return {};
  return ctx.dirs.data_home + "/" + std::string(kUserDataFolder);
}

int start_viewer(const LaunchContext& ctx) {
  const std::string viewer = beside(ctx, kViewerProgram);
  if (viewer.empty()) return ENOENT;
  const std::string folder = viewer_program_folder(ctx);
  if (folder.empty()) return start_detached({viewer});
  // The settings and recordings of one user: private to that user.
  std::error_code ec;
  if (fs::create_directories(folder, ec)) fs::permissions(folder, fs::perms::owner_all, ec);
  return start_detached({viewer, "--folder", folder});
}

std::string start_failure_message(int error) {
  switch (error) {
    case 0:
      return {};
    case ENOENT:
      return "The specified file was not found.";
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return "The specified path was not found.";
    case EACCES:
    case EPERM:
      return "The operating system denied access to the specified file.";
    case ENOMEM:
    case EAGAIN:
      return "There was not enough memory to complete the operation.";
    case ENOEXEC:
    case ELIBBAD:
      return "The .EXE file is invalid (non-Win32 .EXE or error in .EXE image).";
    case ETXTBSY:
      return "A sharing violation occurred.";
    case ELIBACC:
      return "The specified dynamic-link library was not found.";
    default: {
      // A failure is never passed over in silence.
      std::string text = std::strerror(error);
      return text + ".";
    }
  }
}

int run_launcher(const LaunchContext& ctx, LauncherUi& ui) {
  if (!player_registered(ctx.dirs)) (void)start_registration(ctx);
  const bool player_available = player_registered(ctx.dirs);

  const PlayerCheck check = check_default_player(ctx.dirs);
  if (check.verdict != PlayerVerdict::plays_sound) {
    const Information info = information_for(check, ctx, player_available);
    if (ui.show_information(info) && info.can_make_default) {
      const std::string ours(kPlayerName);
      if (const int error = make_player_default(ctx.dirs)) {
        ui.show_message(ours + " could not be made the player for .asf files: " + std::strerror(error) + ".");
      } else if (default_app(ctx.dirs, kRecordingType) != kPlayerEntryId) {
        // Some desktops keep their own choice elsewhere; say so rather than
        // let the user believe it worked.
        ui.show_message("The desktop still opens .asf files with another player. Choose " + ours +
                        " under \"Open With\" in the file manager.");
      }
    }
  }

  if (const int error = start_viewer(ctx)) ui.show_message(start_failure_message(error));
  return 0;
}

}  // namespace launcher
