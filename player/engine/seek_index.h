// Where the key frames of a recording are, for seeking: built by reading the
// packets once (on a thread of its own while the recording plays) and held
// within a fixed number of entries whatever the file holds.
//
// Each entry is the start of a key frame: its time on the file's timeline
// and the packet and payload where its first piece lies. When the entries
// would pass the limit, every second one is forgotten and from then on only
// every second key frame (then every fourth, ...) is kept. A look-up then
// finds the nearest kept key frame at or before the time and the stretch of
// packets up to the next kept one; refine_key() reads that stretch to find
// the exact key frame at or before the time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "player/engine/packet_demux.h"
#include "player/engine/recording_file.h"

namespace player {

struct KeyEntry {
  std::int64_t time_ms = 0;  // on the file's timeline
  StreamPosition start;
};

class SeekIndex {
 public:
  // 65,536 entries of 24 bytes: 1.5 MB at most, enough to keep every key
  // frame of a day of one-per-second key frames.
  static constexpr std::size_t kDefaultMaxEntries = 65536;

  explicit SeekIndex(std::size_t max_entries = kDefaultMaxEntries);

  // --- the thread that scans ---
  void add_key(const KeyEntry& key);
  // Everything up to (not including) packet `scanned` has been read; the
  // latest object time seen so far is last_ms.
  void progress(std::uint64_t scanned, std::int64_t last_ms);
  void finish();

  // --- any thread ---
  enum class Lookup {
    Found,       // *key and *stretch_end are set
    NotYet,      // the scan has not yet gone past the time
    NoKeyFrame,  // the scan is complete and found none
  };
  // The last kept key frame at or before time_ms (the first one for an
  // earlier time), and the packet where the stretch that may hold a closer
  // key frame ends (exclusive).
  Lookup lookup(std::int64_t time_ms, KeyEntry* key, std::uint64_t* stretch_end) const;

  bool finished() const;
  std::uint64_t scanned_packets() const;
  std::int64_t last_ms() const;
  std::size_t entries() const;
  std::size_t max_entries() const { return max_entries_; }
  // Every how many key frames one is kept (1 until the limit was reached).
  std::uint64_t stride() const;

 private:
  const std::size_t max_entries_;
  mutable std::mutex mutex_;
  std::vector<KeyEntry> keys_;  // in file order
  std::uint64_t stride_ = 1;
  std::uint64_t seen_ = 0;  // key frames met by the scan
  std::uint64_t scanned_ = 0;
  std::int64_t last_ms_ = 0;
  bool finished_ = false;
};

// Reads every packet of a recording once and adds each key frame start to
// index, reporting progress after each piece of about 256 KB. between()
// is called before each piece; when it returns false the scan stops and
// returns false. The index is finished when the end is reached.
template <class Between>
bool scan_key_frames(FileBytes& bytes, const RecordingLayout& layout, const TimeBase& base, SeekIndex& index,
                     Between&& between);

// The last key frame that starts in packets [from.packet, end) at or after
// `from` with a time at or before time_ms; `from` itself when there is none
// closer. Reads the packets of that stretch.
KeyEntry refine_key(FileBytes& bytes, const RecordingLayout& layout, const TimeBase& base, const KeyEntry& from,
                    std::uint64_t end, std::int64_t time_ms);

// Calls key(entry) for every key frame start in one packet.
template <class OnKey>
void key_frames_in_packet(const std::uint8_t* packet, const RecordingLayout& layout, const TimeBase& base,
                          std::uint64_t index, std::int64_t* last_ms, OnKey&& key);

// ---- templates ----

template <class OnKey>
void key_frames_in_packet(const std::uint8_t* packet, const RecordingLayout& layout, const TimeBase& base,
                          std::uint64_t index, std::int64_t* last_ms, OnKey&& key) {
  (void)net::asf::for_each_payload(packet, layout.packet_size, [&](const net::asf::Payload& p) {
    if (!p.new_object) return true;
    const std::int64_t t = base.relative(p.object_time);
    if (t > *last_ms) *last_ms = t;
    if (p.stream == 0x81) key(KeyEntry{t, StreamPosition{index, p.index}});
    return true;
  });
}

template <class Between>
bool scan_key_frames(FileBytes& bytes, const RecordingLayout& layout, const TimeBase& base, SeekIndex& index,
                     Between&& between) {
  // Reads in pieces of about 256 KB: few system calls, little memory.
  const std::uint64_t batch =
      std::min(layout.packet_count, std::max<std::uint64_t>(1, (256 * 1024) / layout.packet_size));
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(batch * layout.packet_size));
  std::int64_t last = 0;
  std::uint64_t at = 0;
  while (at < layout.packet_count) {
    if (!between()) return false;
    const std::uint64_t got = read_packets(bytes, layout, at, batch, chunk.data());
    for (std::uint64_t i = 0; i < got; ++i) {
      key_frames_in_packet(chunk.data() + i * layout.packet_size, layout, base, at + i, &last,
                           [&](const KeyEntry& k) { index.add_key(k); });
    }
    at += got;
    index.progress(at, last);
    if (got == 0) break;  // the file became shorter
  }
  index.finish();
  return true;
}

}  // namespace player
