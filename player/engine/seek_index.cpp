#include "player/engine/seek_index.h"

#include <algorithm>

namespace player {

SeekIndex::SeekIndex(std::size_t max_entries) : max_entries_(std::max<std::size_t>(max_entries, 2)) {
  keys_.reserve(std::min<std::size_t>(max_entries_, 4096));
}

void SeekIndex::add_key(const KeyEntry& key) {
  std::lock_guard lock(mutex_);
  if (seen_++ % stride_ != 0) return;
  if (keys_.size() == max_entries_) {
    // Keep every second entry; the key frames counted from here on are
    // kept at the new spacing, so the entries stay evenly spread.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < keys_.size(); i += 2) keys_[kept++] = keys_[i];
    keys_.resize(kept);
    stride_ *= 2;
    if ((seen_ - 1) % stride_ != 0) return;
  }
  keys_.push_back(key);
}

void SeekIndex::progress(std::uint64_t scanned, std::int64_t last_ms) {
  std::lock_guard lock(mutex_);
  scanned_ = scanned;
  last_ms_ = std::max(last_ms_, last_ms);
}

void SeekIndex::finish() {
  std::lock_guard lock(mutex_);
  finished_ = true;
}

SeekIndex::Lookup SeekIndex::lookup(std::int64_t time_ms, KeyEntry* key, std::uint64_t* stretch_end) const {
  std::lock_guard lock(mutex_);
  // Until the scan has gone past the time, a closer key frame may still come.
  if (!finished_ && last_ms_ <= time_ms) return Lookup::NotYet;
  if (keys_.empty()) return finished_ ? Lookup::NoKeyFrame : Lookup::NotYet;
  // The last entry in file order at or before the time: times normally grow
  // with the file, and a file whose times do not still gets an answer.
  std::size_t found = 0;
  bool any = false;
  for (std::size_t i = keys_.size(); i-- > 0;) {
    if (keys_[i].time_ms <= time_ms) {
      found = i;
      any = true;
      break;
    }
  }
  *key = keys_[any ? found : 0];
  if (!any) {
    *stretch_end = key->start.packet;  // before the first key frame: nothing to refine
  } else if (found + 1 < keys_.size()) {
    *stretch_end = keys_[found + 1].start.packet + 1;
  } else {
    *stretch_end = scanned_;
  }
  if (stride_ == 1) *stretch_end = key->start.packet;  // every key frame is kept
  return Lookup::Found;
}

bool SeekIndex::finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

std::uint64_t SeekIndex::scanned_packets() const {
  std::lock_guard lock(mutex_);
  return scanned_;
}

std::int64_t SeekIndex::last_ms() const {
  std::lock_guard lock(mutex_);
  return last_ms_;
}

std::size_t SeekIndex::entries() const {
  std::lock_guard lock(mutex_);
  return keys_.size();
}

std::uint64_t SeekIndex::stride() const {
  std::lock_guard lock(mutex_);
  return stride_;
}

KeyEntry refine_key(FileBytes& bytes, const RecordingLayout& layout, const TimeBase& base, const KeyEntry& from,
                    std::uint64_t end, std::int64_t time_ms) {
  KeyEntry best = from;
  if (from.time_ms > time_ms) return best;
  std::vector<std::uint8_t> packet(layout.packet_size);
  std::int64_t last = 0;
  end = std::min(end, layout.packet_count);
  for (std::uint64_t i = from.start.packet; i < end; ++i) {
    if (!read_packet(bytes, layout, i, packet.data())) break;
    key_frames_in_packet(packet.data(), layout, base, i, &last, [&](const KeyEntry& k) {
      if (k.start > from.start && k.time_ms <= time_ms) best = k;
    });
  }
  return best;
}

}  // namespace player
