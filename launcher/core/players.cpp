#include "launcher/core/players.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace launcher {
namespace {

struct GstPlayer {
  std::string_view id;       // desktop entry id without ".desktop", lower case
  std::string_view program;  // file name of the program it runs
};

// Players that decode through GStreamer (each project describes GStreamer
// as its playback back end). Front ends of mpv (Celluloid, Haruna),
// VLC, Kaffeine (libvlc), Dragon Player (Phonon, whose Debian default
// back end is VLC), SMPlayer and xine decode with libavcodec and are not here.
constexpr GstPlayer kGstPlayers[] = {
    {"org.gnome.totem", "totem"},                      // GNOME Videos, Debian 12's default
    {"totem", "totem"},                                // the same under its older id
    {"org.gnome.showtime", "showtime"},                // GNOME's newer video player
    {"org.xfce.parole", "parole"},                     // Xfce's player
    {"parole", "parole"},                              // the same under its older id
    {"com.github.rafostar.clapper", "clapper"},        // GTK 4 player on GStreamer
    {"io.elementary.videos", "io.elementary.videos"},  // elementary OS Videos
    {"net.baseart.glide", "glide"},                    // Glide
    {"org.sigxcpu.livi", "livi"},                      // Livi (phones)
    {"", "gst-play-1.0"},                              // GStreamer's own test player
    {"", "gst-launch-1.0"},
};

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

}  // namespace

bool plays_without_sound(std::string_view desktop_id, std::string_view program) {
  std::string id = lower(desktop_id);
  if (id.size() > 8 && id.ends_with(".desktop")) id.resize(id.size() - 8);
  const std::size_t slash = program.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? program : program.substr(slash + 1);
  for (const GstPlayer& p : kGstPlayers) {
    if (!p.id.empty() && id == p.id) return true;
    if (!name.empty() && name == p.program) return true;
  }
  return false;
}

}  // namespace launcher
