// Shows the recording loops' messages ("space full!", a failed write) from a
// thread of its own, so that a message box waiting for the user never holds
// up the loop that reported it, and with it every other camera's recording.
//
// A message that is already waiting or on screen is not queued a second time
// (eight cameras filling one disk give one box, not eight).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace record {

// The system's texts for recording messages, all with the caption "warning".
inline constexpr const char* kMsgSpaceFull = "space full!";
inline constexpr const char* kMsgWriteFailed = "disk write failed, recording stopped!";
inline constexpr const char* kMsgNameExists = "file name already exist!";
inline constexpr const char* kMsgRecordingNow =
    "It's recording now, please remove the schedule or motion recording first.";
inline constexpr const char* kCaptionWarning = "warning";

class Notifier {
 public:
  Notifier();
  ~Notifier();  // stops and joins
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  // Queues a message box; returns at once. Any thread. Dropped after stop().
  void post(std::string text, std::string caption = kCaptionWarning);

  // Stops the thread once the box on screen (if any) is answered; messages
  // still waiting are dropped. Idempotent.
  void stop();

  // Waits until nothing is queued or on screen; false on time-out (tests).
  bool wait_idle(int timeout_ms);

 private:
  void run();

  struct Message {
    std::string text;
    std::string caption;
  };
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Message> queue_;
  Message showing_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace record
