// Which players of .asf files lose the recordings' sound.
//
// Our recordings carry G.726 sound under the ASF format tag 0x0064. Players
// built on libavformat/libavcodec (VLC, mpv and its front ends, SMPlayer,
// Kodi, xine) map that tag to their G.726 decoder and play the sound.
// GStreamer's asfdemux (1.22, Debian 12) exposes the tag as
// "audio/x-asf-unknown": the picture plays and the sound is silently missing,
// although GStreamer has a G.726 decoder. So every player that plays through
// GStreamer is one to warn about.
//
// No Qt here; any thread.
#pragma once

#include <string_view>

namespace launcher {

// True when the desktop entry id (such as "org.gnome.Totem.desktop"; case and
// a missing ".desktop" do not matter) or the file name of its program (such
// as "/usr/bin/totem") is a GStreamer-based player. Unknown players count as
// playing the sound: the launcher warns only about what it knows.
[[nodiscard]] bool plays_without_sound(std::string_view desktop_id, std::string_view program = {});

}  // namespace launcher
