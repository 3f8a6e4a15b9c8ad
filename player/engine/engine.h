// The player without its window: reads a recording, rebuilds and decodes its
// pictures and sound, and presents the pictures in time with the sound (at
// normal speed) or with the clock (2x, 4x, 8x, silent). Play, pause, step one
// picture, speed and seeking to the key frame at or before a time; the seek
// index is built in the background by reading the packets once.
//
// Threads: the caller's (open, the controls, status, the picture), the play
// thread (reads ahead, decodes, paces, presents), the index thread and the
// sound thread. The controls only leave a request and wake the play thread;
// nothing here waits for the caller. A listener hears of new pictures and
// status changes on the engine's threads and must only schedule work.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/engine/frame_decoder.h"
#include "player/engine/packet_demux.h"
#include "player/engine/recording_file.h"
#include "player/engine/seek_index.h"
#include "player/engine/sound_feeder.h"
#include "viewer/media/g726/g726.h"
#include "viewer/record/snapshot.h"

namespace player {

// A picture as it is presented. The pointers are valid during the call.
struct PresentedPicture {
  int width = 0;
  int height = 0;
  std::int64_t time_ms = 0;           // on the recording's timeline
  std::uint32_t stream_time = 0;      // the presentation time the file gives
  std::uint64_t number = 0;           // pictures presented since open, from 1
  const std::uint8_t* yuv = nullptr;  // planar 4:2:0, as the decoder wrote it
  const std::uint8_t* rgb = nullptr;  // 24-bit, bottom row first, blue green red
};

class EngineListener {
 public:
  virtual ~EngineListener() = default;
  // A new picture is the current one. Play thread; must return at once.
  virtual void picture_presented(const PresentedPicture& picture) = 0;
  // Something in status() changed. Any engine thread; must return at once.
  virtual void status_changed() = 0;
};

struct EngineOptions {
  bool paced = true;          // false: every picture as soon as it is decoded, no sound (benchmarks)
  bool sound = true;          // play the sound at normal speed when the device gives a buffer
  bool start_playing = true;  // else open shows the first picture and waits
  int speed = 1;              // 1, 2, 4 or 8
  std::size_t index_entries = SeekIndex::kDefaultMaxEntries;
};

struct EngineStatus {
  bool playing = false;
  bool at_end = false;
  int speed = 1;
  std::int64_t position_ms = 0;  // the picture shown, on the recording's timeline
  std::int64_t duration_ms = 0;  // the latest object time known
  bool index_ready = false;
  double index_progress = 0;   // 0..1
  bool sound = false;          // sound is being played
  std::uint64_t pictures = 0;  // presented since open
  bool no_picture = false;     // the whole file was read and no picture decoded
};

class Engine final : public record::SnapshotSource {
 public:
  static constexpr int kSpeeds[4] = {1, 2, 4, 8};

  explicit Engine(EngineOptions options = {}, EngineListener* listener = nullptr);
  ~Engine() override;  // stops and joins every thread
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Opens a recording and starts playing it (or shows its first picture).
  // Returns OpenError::None, or the reason it cannot be played, with the
  // message for the user in *message. Once per engine; caller's thread.
  [[nodiscard]] OpenError open(const std::string& path, std::string* message);

  const RecordingLayout& layout() const { return layout_; }
  const std::string& path() const { return path_; }

  // Controls; any thread, they return at once.
  void play();
  void pause();
  void toggle_play();
  // Shows the next picture and pauses.
  void step();
  // 1, 2, 4 or 8; sound plays only at 1.
  void set_speed(int speed);
  // Goes to the key frame at or before time_ms and shows it; playing goes
  // on from there if it was playing.
  void seek(std::int64_t time_ms);

  EngineStatus status() const;

  // Calls draw(picture) with the current picture under the picture lock, so
  // that the play thread cannot replace it meanwhile; false when there is
  // none yet. draw must not call into the engine. Any thread.
  template <class Draw>
  bool with_picture(Draw&& draw) const;

  // The current picture for a snapshot (record::SnapshotSource).
  bool copy_snapshot(std::vector<std::uint8_t>& out, int* width, int* height) override;

  // True when no thread has work it could do without time passing or a
  // request: the play thread waits, the sound buffer is as full as it can
  // be. Tests stepping a simulated sound clock use it.
  bool idle() const;

  // The seek index (tests, benchmarks).
  const SeekIndex& index() const { return index_; }

 private:
  struct Frame {
    std::vector<std::uint8_t> data;
    std::uint32_t length = 0;
    std::int64_t time_ms = 0;
    std::uint32_t stream_time = 0;
    bool key = false;
    StreamPosition start;
  };
  struct Requests {
    bool quit = false;
    bool play_set = false;
    bool play = false;
    int steps = 0;
    int speed = 0;  // 0: unchanged
    bool seek = false;
    std::int64_t seek_ms = 0;
  };
  class Sink;

  struct Mark {
    std::size_t offset;    // where a block starts in pending_sound_
    std::int64_t time_us;  // its time on the recording's timeline
  };

  void play_main();
  void index_main();
  void apply(Requests& r);
  bool fill();
  bool read_one();
  bool feed_pending_sound();
  bool present_next();
  void check_end();
  void wait_for_work();
  bool try_seek();
  void recycle_front();
  void clear_read_ahead();
  void reposition(const StreamPosition& video_from, bool need_key, std::int64_t sound_from_us);
  void resync_sound();
  bool sound_active() const;
  std::int64_t media_now_us();
  void anchor_clock(std::int64_t media_us);
  void publish(const std::uint8_t* yuv, int width, int height, const Frame& frame);
  void on_video(const DemuxedObject& f);
  void on_audio(const DemuxedObject& b);
  void notify_status();
  void wake();

  const EngineOptions options_;
  EngineListener* const listener_;
  std::string path_;
  std::unique_ptr<FileBytes> bytes_;
  RecordingLayout layout_;
  TimeBase base_;
  SeekIndex index_;

  // Requests from the controls, and what wakes the play thread.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  Requests requests_;
  std::atomic<std::uint64_t> wakes_{0};    // every reason to look again
  std::atomic<std::uint64_t> handled_{0};  // the play thread has looked after this many
  std::atomic<bool> waiting_{false};

  // Published for status().
  std::atomic<bool> playing_{false};
  std::atomic<bool> at_end_{false};
  std::atomic<int> speed_{1};
  std::atomic<std::int64_t> position_ms_{0};
  std::atomic<std::int64_t> duration_ms_{0};
  std::atomic<std::uint64_t> pictures_{0};
  std::atomic<bool> no_picture_{false};
  std::atomic<bool> sound_playing_{false};
  std::atomic<bool> stop_index_{false};
  std::atomic<bool> seek_waiting_{false};  // the play thread waits for the index

  // The play thread's own.
  std::unique_ptr<PacketDemux> demux_;
  std::unique_ptr<FrameDecoder> decoder_;
  media::G726Decoder g726_;
  media::G726State g726_initial_{};
  std::unique_ptr<SoundFeeder> feeder_;
  std::vector<std::uint8_t> packet_;
  std::uint64_t next_packet_ = 0;
  bool eof_ = false;
  bool need_key_ = true;
  bool first_decoded_ = false;
  StreamPosition first_decoded_at_;  // the key frame that decoded with the codec data
  StreamPosition video_from_;        // video objects starting before this are not wanted
  std::int64_t sound_from_us_ = 0;   // samples before this time are not wanted
  std::deque<Frame> frames_;
  std::vector<Frame> spare_frames_;
  std::size_t queued_bytes_ = 0;
  // Sound blocks read but not yet decoded into the sound queue (it was full).
  std::vector<std::uint8_t> pending_sound_;
  std::deque<Mark> pending_marks_;
  std::size_t pending_pos_ = 0;
  bool end_told_ = false;
  std::vector<std::int16_t> pcm_;
  bool show_next_ = true;  // present the next picture whatever the clock says
  int steps_ = 0;
  bool moved_while_paused_ = false;
  bool seek_pending_ = false;
  std::int64_t seek_ms_ = 0;
  bool playing_local_ = false;
  int speed_local_ = 1;
  std::int64_t anchor_media_us_ = 0;
  std::int64_t anchor_wall_us_ = 0;
  bool clock_from_sound_ = false;
  std::int64_t last_time_ms_ = 0;

  // The current picture, read by the caller's thread.
  mutable std::mutex picture_mutex_;
  std::unique_ptr<std::uint8_t[]> front_rgb_;
  std::unique_ptr<std::uint8_t[]> back_rgb_;
  int picture_width_ = 0;
  int picture_height_ = 0;
  bool have_picture_ = false;

  std::thread play_thread_;
  std::thread index_thread_;
};

template <class Draw>
bool Engine::with_picture(Draw&& draw) const {
  std::lock_guard lock(picture_mutex_);
  if (!have_picture_) return false;
  PresentedPicture p;
  p.width = picture_width_;
  p.height = picture_height_;
  p.rgb = front_rgb_.get();
  draw(static_cast<const PresentedPicture&>(p));
  return true;
}

}  // namespace player
