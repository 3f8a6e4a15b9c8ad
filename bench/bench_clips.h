// Clips the benchmarks make for themselves with ffmpeg.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "support/child_process.h"
#include "support/files.h"

namespace bench {

// A 30 frames/s version of the committed vga clip (testsrc2, the same
// encoder settings, its sound copied) in dir; its prefix, or "" when ffmpeg
// could not make it. camsim plays clips at their own rate and the committed
// one runs at 15.
inline std::string make_vga30(const test_support::TempDir& dir) {
  const std::string prefix = dir.file("vga30");
  const test_support::RunResult made = test_support::run_command({"ffmpeg",
                                                                  "-hide_banner",
                                                                  "-loglevel",
                                                                  "error",
                                                                  "-nostdin",
                                                                  "-y",
                                                                  "-f",
                                                                  "lavfi",
                                                                  "-i",
                                                                  "testsrc2=size=640x480:rate=30",
                                                                  "-t",
                                                                  "4",
                                                                  "-g",
                                                                  "60",
                                                                  "-b:v",
                                                                  "600k",
                                                                  "-flags:v",
                                                                  "+bitexact",
                                                                  "-c:v",
                                                                  "mpeg4",
                                                                  "-threads",
                                                                  "1",
                                                                  "-bf",
                                                                  "0",
                                                                  "-sc_threshold",
                                                                  "1000000000",
                                                                  "-fflags",
                                                                  "+bitexact",
                                                                  "-f",
                                                                  "m4v",
                                                                  prefix + ".m4v"},
                                                                 test_support::Stderr::Inherit);
  if (made.status != 0) return "";
  std::error_code ec;
  std::filesystem::copy_file(std::string(CAMVIEWER_CLIPS_DIR) + "/vga.g726", prefix + ".g726",
                             std::filesystem::copy_options::overwrite_existing, ec);
  return ec ? "" : prefix;
}

}  // namespace bench
