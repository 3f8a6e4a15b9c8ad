// The recording loops' messages ("space full!", a failed write) as notices:
// posted without waiting, so that a message the user has not read yet never
// holds up the loop that reported it, and with it every other camera's
// recording. Identical notices are not stacked (eight cameras filling one
// disk give one box, not eight); see platform::NoticeBoard.
#pragma once

#include <atomic>
#include <string>

namespace record {

// The system's texts for recording messages, all with the caption "warning".
inline constexpr const char* kMsgSpaceFull = "space full!";
inline constexpr const char* kMsgWriteFailed = "disk write failed, recording stopped!";
inline constexpr const char* kMsgNameExists = "file name already exist!";
// The pop-up window's record button says this one with a trailing blank.
inline constexpr const char* kMsgRecordingNow =
    "It's recording now, please remove the schedule or motion recording first. ";
inline constexpr const char* kCaptionWarning = "warning";

class Notifier {
 public:
  // Posts a notice; returns at once. Any thread. Dropped after stop().
  void post(const std::string& text, const std::string& caption = kCaptionWarning);

  // Later posts are dropped (the program is ending). Idempotent.
  void stop() { stopped_.store(true); }

 private:
  std::atomic<bool> stopped_{false};
};

}  // namespace record
