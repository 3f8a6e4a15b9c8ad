// RecordingWriter: turns a camera's live ASF stream into a playable ".asf"
// file by copying bytes. The file is the stream header the camera sent when
// the connection was made (Header Object and the 50-byte Data Object header),
// followed by whole data packets exactly as received, in arrival order.
// Nothing is parsed or patched.
//
// A writer of a camera is fed by the camera's PacketBuffer: opening a file
// attaches it, so the file begins with the connection's header and the kept
// packets from a key-frame start, followed by the live packets; Turnover
// moves on to the next file without losing a packet. A writer without a
// buffer (tests, tools) is given its header and packets directly.
//
// Threads: the stream thread queues packet copies (through the buffer); a
// recording thread (or the user-interface thread for manual start and stop)
// opens, flushes and closes; the stream's clean-up closes too. Every
// operation on the file runs under the writer's own lock, so a Close from one
// thread waits for a Flush on another to finish its packet: a file always
// ends on a packet boundary. The queue has its own lock, so the stream thread
// never waits for the disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "viewer/net/media_frame.h"
#include "viewer/record/analysis_tool.h"
#include "viewer/record/clock.h"
#include "viewer/record/file_system.h"
#include "viewer/record/packet_buffer.h"

namespace record {

// What the writer needs from the rest of the system. Defaults: the real file
// system, the system clock, no analysis tool.
struct RecordingEnv {
  FileSystem* fs = &posix_file_system();
  Clock* clock = &system_clock();
  AnalysisTool* tool = nullptr;
};

// Files of this many bytes or fewer hold no packet worth keeping (a header
// alone is larger) and are deleted when closed.
inline constexpr std::int64_t kSmallestKeptFile = 231;

class RecordingWriter final {
 public:
  // source: the camera's packet buffer that feeds the files, or nullptr when
  // the owner hands header and packets over itself. It must outlive the
  // writer.
  explicit RecordingWriter(RecordingEnv env = {}, PacketBuffer* source = nullptr);
  ~RecordingWriter();
  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  // Stores a copy of the stream header, replacing any earlier one, and drops
  // packets still queued from the previous connection; returns 1. For a
  // writer without a source, when a connection's header has arrived.
  int SetHeader(const std::uint8_t* bytes, std::uint32_t length);

  // Creates path exclusively. -1 when a file is already open, 0 when it
  // cannot be created (it exists, or the folder is missing), 1 on success.
  // With a source the file is fed from it: it begins with the connection's
  // header and the kept packets from the newest key-frame start at least
  // preroll_ms before the newest packet, or with the next key-frame start
  // when none is kept. Recording threads and the user-interface thread.
  [[nodiscard]] int Open(const std::string& path, std::uint32_t preroll_ms = 0);

  // Moves on to a new file at path without losing a packet: everything
  // queued for the open file is written to it and it is finished as by
  // Close; the new file begins at the newest kept key-frame start, so the
  // two share the packets since then. 1 done; 0 nothing changed (no file
  // open, no key-frame start kept yet, or path cannot be created): the open
  // file goes on and the caller tries again later; -1 a write to the old file
  // failed (it is cut back and closed as by Flush, and no new file is left).
  [[nodiscard]] int Turnover(const std::string& path);

  // Writes the stored header at the current position unless it was already
  // written to this file (force writes it again). 0 when no file is open or
  // no header is stored, 1 when a header is stored, -1 when the write failed
  // (the file is then closed, see Flush).
  [[nodiscard]] int WriteHeader(bool force);

  // Queues a copy of one data packet. Stream thread (through the source).
  void AddPacket(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t arrival_tick);
  // Drops every queued packet.
  void ClearQueue();

  // Writes the packets queued when it starts (header first, if not yet
  // written). 1 when it wrote, 0 when there was nothing to write (no file, no
  // packets, no header). -1 when a write failed: the file is cut back to its
  // last whole packet and closed (kept or deleted as by Close) and the
  // writer's failure flag is set for the caller to report.
  [[nodiscard]] int Flush();

  bool IsOpen() const { return open_.load(std::memory_order_acquire); }

  // Finishes the file: one of 230 bytes or less is deleted; otherwise the
  // analysis tool is started for it. Queued packets are not written (with a
  // source they are dropped and the feed stops). Clears the header-written
  // flag and the file stamp. Any thread.
  void Close();

  // Full path of the open file (empty while closed).
  std::string path() const;

  // The start stamps the manual recording loop keeps with the writer.
  std::string file_stamp() const;
  void set_file_stamp(std::string stamp);
  std::string start_stamp() const;
  void set_start_stamp(std::string stamp);

  std::uint32_t header_length() const;
  // Bytes written to the open file (0 while closed).
  std::uint64_t length() const;
  std::size_t queued() const { return queue_.count(); }

  // Set by a failed write, cleared by the next successful Open. Lets callers
  // report a failure once rather than per packet.
  bool write_failed() const { return write_failed_.load(std::memory_order_acquire); }

  // Optional observer of each written packet (benchmarks measure the delay
  // from arrival to write with it). Called once per packet that reached the
  // file whole, in file order, with the arrival tick the stream stamped on it
  // (platform::tick_ms) and its length; never for the header or for packets
  // a failed write cut off. It runs on the flushing thread with the writer's
  // lock held: it must be quick and must not call back into this writer's
  // file operations. Unset (the default), Flush pays one test per packet.
  // Setting or clearing it takes the writer's lock, so after clearing it no
  // call is running and everything it recorded is visible to the caller.
  using WrittenHook = void (*)(void* context, std::uint32_t arrival_tick, std::uint32_t length);
  void set_written_hook(WrittenHook hook, void* context);

 private:
  void close_locked();
  void finish_file_locked();
  int fail_locked(std::uint64_t good_length);
  int write_header_locked(bool force);
  int flush_locked(std::size_t pending);
  std::unique_ptr<net::MediaFrame> spare_frame();
  void recycle(std::unique_ptr<net::MediaFrame> frame);

  RecordingEnv env_;
  PacketBuffer* const source_;

  mutable std::mutex mutex_;  // the file, path, header, stamps; taken before the source's lock
  int fd_ = -1;
  std::atomic<bool> open_{false};
  std::string path_;
  std::string file_stamp_;
  std::string start_stamp_;
  std::vector<std::uint8_t> header_;
  bool header_written_ = false;
  std::uint64_t length_ = 0;  // bytes in the file (writes are sequential)
  std::atomic<bool> write_failed_{false};

  net::FrameQueue queue_;  // packets waiting; its own lock

  // Frames already written are kept for reuse so that steady recording does
  // not allocate per packet.
  std::mutex spare_mutex_;
  std::vector<std::unique_ptr<net::MediaFrame>> spare_;

  // Reused gather list and the frames of one batch.
  std::vector<iovec> batch_parts_;
  std::vector<std::unique_ptr<net::MediaFrame>> batch_frames_;

  WrittenHook written_hook_ = nullptr;
  void* written_context_ = nullptr;
};

}  // namespace record
