#include "viewer/record/recording_writer.h"

#include <cerrno>

namespace record {

namespace {

// Packets gathered into one write; the camera's packets are a few KiB, so a
// batch stays well inside one writev.
constexpr std::size_t kBatchPackets = 64;
// Written frames kept for reuse per writer (beyond this they are freed, so a
// burst does not pin its memory for ever).
constexpr std::size_t kMaxSpareFrames = 256;

}  // namespace

RecordingWriter::RecordingWriter(RecordingEnv env, PacketBuffer* source) : env_(env), source_(source) {
  batch_parts_.reserve(kBatchPackets);
  batch_frames_.reserve(kBatchPackets);
}

RecordingWriter::~RecordingWriter() {
  std::lock_guard lock(mutex_);
  close_locked();
}

int RecordingWriter::SetHeader(const std::uint8_t* bytes, std::uint32_t length) {
  {
    std::lock_guard lock(mutex_);
    if (bytes == nullptr) length = 0;
    header_.assign(bytes, bytes + length);
  }
  // A new header means a new connection: packets still queued from the old
  // one would follow the new header in the next file (a file reopened before
  // the new connection delivers its first packet never sees a ClearQueue).
  ClearQueue();
  return 1;
}

int RecordingWriter::Open(const std::string& path, std::uint32_t preroll_ms) {
  std::lock_guard lock(mutex_);
  if (fd_ >= 0) return -1;
  const int fd = env_.fs->create_exclusive(path);
  if (fd < 0) return 0;
  fd_ = fd;
  path_ = path;
  length_ = 0;
  header_written_ = false;
  write_failed_.store(false, std::memory_order_release);
  open_.store(true, std::memory_order_release);
  // The header comes with the packets, from the same connection.
  if (source_ != nullptr) (void)source_->attach(*this, preroll_ms, &header_);
  return 1;
}

int RecordingWriter::Turnover(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (fd_ < 0) return 0;
  // Without a key frame to begin the next file at, this one goes on; asked
  // first so that a long group of pictures does not cost a file per try.
  if (source_ != nullptr && !source_->has_key_frame_start()) return 0;
  const int fd = env_.fs->create_exclusive(path);
  if (fd < 0) return 0;
  std::vector<std::uint8_t> next_header = header_;
  std::size_t old_packets = queue_.count();
  if (source_ != nullptr) {
    const long before = source_->restart(*this, &next_header);
    if (before < 0) {
      env_.fs->close(fd);
      (void)env_.fs->remove(path);
      return 0;
    }
    old_packets = static_cast<std::size_t>(before);
  }
  // The old file takes everything queued up to the switch; what the source
  // queued behind it belongs to the new file.
  const int flushed = flush_locked(old_packets);
  if (flushed < 0) {
    env_.fs->close(fd);
    (void)env_.fs->remove(path);
    return -1;
  }
  // Unwritten for want of a header: they must not slip into the new file.
  if (flushed == 0)
    for (std::size_t i = 0; i < old_packets; ++i)
      if (std::unique_ptr<net::MediaFrame> f = queue_.take_front()) recycle(std::move(f));
  finish_file_locked();
  fd_ = fd;
  path_ = path;
  length_ = 0;
  header_ = std::move(next_header);
  return 1;
}

int RecordingWriter::write_header_locked(bool force) {
  if (fd_ < 0) return 0;
  // Opened between two connections: the header is that of the connection
  // whose packets followed.
  if (header_.empty() && source_ != nullptr) (void)source_->header(&header_);
  // Without a stored header nothing counts as written: packets must never
  // reach a file ahead of its header.
  if ((!header_written_ || force) && !header_.empty()) {
    iovec part{header_.data(), header_.size()};
    const std::uint64_t before = length_;
    const std::uint64_t wrote = env_.fs->write_all(fd_, &part, 1);
    if (wrote != header_.size()) return fail_locked(before);
    length_ += wrote;
    header_written_ = true;
  }
  return header_.empty() ? 0 : 1;
}

int RecordingWriter::WriteHeader(bool force) {
  std::lock_guard lock(mutex_);
  return write_header_locked(force);
}

std::unique_ptr<net::MediaFrame> RecordingWriter::spare_frame() {
  {
    std::lock_guard lock(spare_mutex_);
    if (!spare_.empty()) {
      std::unique_ptr<net::MediaFrame> f = std::move(spare_.back());
      spare_.pop_back();
      return f;
    }
  }
  return std::make_unique<net::MediaFrame>();
}

void RecordingWriter::recycle(std::unique_ptr<net::MediaFrame> frame) {
  std::lock_guard lock(spare_mutex_);
  if (spare_.size() < kMaxSpareFrames) spare_.push_back(std::move(frame));
}

void RecordingWriter::AddPacket(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t arrival_tick) {
  if (bytes == nullptr || length == 0) return;
  std::unique_ptr<net::MediaFrame> frame = spare_frame();
  // A copy that cannot be made (out of memory) is a lost packet, as a full
  // queue would be; the file stays consistent because packets are whole.
  if (!frame->set(bytes, length, arrival_tick, 0)) return;
  queue_.push_back(std::move(frame));
}

void RecordingWriter::ClearQueue() {
  while (std::unique_ptr<net::MediaFrame> f = queue_.take_front()) recycle(std::move(f));
}

int RecordingWriter::Flush() {
  std::lock_guard lock(mutex_);
  return flush_locked(queue_.count());
}

int RecordingWriter::flush_locked(std::size_t pending) {
  if (pending == 0 || fd_ < 0) return 0;
  if (!header_written_) {
    const int r = write_header_locked(false);
    if (r < 0) return -1;
  }
  if (header_.empty()) return 0;

  // Only the packets queued now; later ones wait for the next Flush, so a
  // busy stream cannot keep one Flush going for ever.
  while (pending > 0) {
    batch_parts_.clear();
    batch_frames_.clear();
    while (pending > 0 && batch_frames_.size() < kBatchPackets) {
      std::unique_ptr<net::MediaFrame> f = queue_.take_front();
      if (!f) {
        pending = 0;
        break;
      }
      --pending;
      batch_parts_.push_back(iovec{const_cast<std::uint8_t*>(f->data()), f->length()});
      batch_frames_.push_back(std::move(f));
    }
    if (batch_frames_.empty()) break;

    std::uint64_t expected = 0;
    for (const iovec& p : batch_parts_) expected += p.iov_len;
    const std::uint64_t before = length_;
    const std::uint64_t wrote = env_.fs->write_all(fd_, batch_parts_.data(), static_cast<int>(batch_parts_.size()));
    if (wrote != expected) {
      // Keep only the packets that reached the file whole.
      std::uint64_t good = before;
      for (const iovec& p : batch_parts_) {
        if (good + p.iov_len > before + wrote) break;
        good += p.iov_len;
      }
      for (auto& f : batch_frames_) recycle(std::move(f));
      batch_frames_.clear();
      return fail_locked(good);
    }
    length_ += wrote;
    for (auto& f : batch_frames_) {
      if (written_hook_) written_hook_(written_context_, f->time(), f->length());
      recycle(std::move(f));
    }
    batch_frames_.clear();
  }
  return 1;
}

int RecordingWriter::fail_locked(std::uint64_t good_length) {
  const int saved = errno;
  // Whatever part of a packet reached the disk goes again, so that the file
  // still ends on a packet boundary. (If the media is gone even that fails;
  // there is nothing better to do with the file then.)
  (void)env_.fs->truncate(fd_, good_length);
  length_ = good_length;
  write_failed_.store(true, std::memory_order_release);
  close_locked();
  errno = saved;
  return -1;
}

void RecordingWriter::close_locked() {
  if (fd_ < 0) return;
  if (source_ != nullptr) {
    source_->detach(*this);
    ClearQueue();
  }
  open_.store(false, std::memory_order_release);
  finish_file_locked();
}

void RecordingWriter::finish_file_locked() {
  const std::int64_t actual = env_.fs->length(fd_);
  const std::uint64_t length = actual >= 0 ? static_cast<std::uint64_t>(actual) : length_;
  env_.fs->close(fd_);
  fd_ = -1;
  header_written_ = false;
  file_stamp_.clear();
  const std::string path = std::move(path_);
  path_.clear();

  if (length < static_cast<std::uint64_t>(kSmallestKeptFile)) {
    (void)env_.fs->remove(path);
    return;
  }
  if (env_.tool != nullptr) {
    std::string argument;
    if (analysis_argument(path, env_.clock->now(), *env_.clock, &argument)) (void)env_.tool->start(argument);
  }
}

void RecordingWriter::Close() {
  std::lock_guard lock(mutex_);
  close_locked();
}

std::string RecordingWriter::path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

std::string RecordingWriter::file_stamp() const {
  std::lock_guard lock(mutex_);
  return file_stamp_;
}

void RecordingWriter::set_file_stamp(std::string stamp) {
  std::lock_guard lock(mutex_);
  file_stamp_ = std::move(stamp);
}

std::string RecordingWriter::start_stamp() const {
  std::lock_guard lock(mutex_);
  return start_stamp_;
}

void RecordingWriter::set_start_stamp(std::string stamp) {
  std::lock_guard lock(mutex_);
  start_stamp_ = std::move(stamp);
}

std::uint32_t RecordingWriter::header_length() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::uint32_t>(header_.size());
}

std::uint64_t RecordingWriter::length() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0 ? length_ : 0;
}

void RecordingWriter::set_written_hook(WrittenHook hook, void* context) {
  std::lock_guard lock(mutex_);
  written_hook_ = hook;
  written_context_ = context;
}

}  // namespace record
