// The recent data packets of one camera's connection, so that a recording
// can begin with a whole key frame (and, for motion, a few seconds before the
// motion that opened it) instead of with whatever packet arrives next.
//
// The stream thread adds every packet of the connection, saying where in it
// a key frame begins, if one does. The buffer keeps the packets from the
// newest key-frame start, or from an older one when a pre-roll is asked for
// (set_keep_ms: the newest key-frame start at least that long before the
// newest packet), never more than kKeptBytesLimit bytes of packets nor a span
// of more than kKeptSpanLimitMs between its oldest and newest packet. Past a
// bound it drops whole groups of pictures from the front; when only one group
// is left and it is still too long, it drops everything and starts again at
// the next key frame.
//
// Writers attach to the buffer when they open a file. Attaching, turning over
// to the next file and handing live packets to attached writers all happen
// under the buffer's one lock, and every packet of the connection gets one
// sequence number, so a writer's queue holds each packet from its start on
// exactly once: kept packets first, then live ones, nothing twice and no gap
// between them. A file's first packet is given without the payloads ahead
// of the key frame (net::packet_from_payload), so players meet the key
// frame first.
//
// Memory: packets are stored in chunks of about 16 KiB that are reused while
// the connection lasts and freed when it ends. The chunks allocated never
// hold more than kKeptBytesLimit bytes plus two chunks (see memory_bound()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace record {

class RecordingWriter;

// At most this many bytes of packets are kept per camera (4 MB).
inline constexpr std::size_t kKeptBytesLimit = 4000000;
// ... and never a longer span of arrival time than this.
inline constexpr std::uint32_t kKeptSpanLimitMs = 30000;
// A pre-roll longer than the span limit could never be kept.
inline constexpr std::uint32_t kMaxKeepMs = kKeptSpanLimitMs;

struct PacketBufferStats {
  std::size_t kept_packets = 0;
  std::size_t kept_bytes = 0;
  std::size_t allocated_bytes = 0;   // chunks in use and spare
  std::size_t key_frame_starts = 0;  // kept packets that begin a key frame
  std::uint32_t span_ms = 0;         // arrival ticks from the oldest to the newest kept packet
  std::uint64_t packets_seen = 0;    // of the connection, kept or not
  std::uint64_t oldest_kept = 0;     // sequence number of the oldest kept packet (when any)
};

class PacketBuffer {
 public:
  PacketBuffer() = default;
  ~PacketBuffer() = default;
  PacketBuffer(const PacketBuffer&) = delete;
  PacketBuffer& operator=(const PacketBuffer&) = delete;

  // The largest number of bytes a buffer allocates for packets of this size
  // (chunks included). Any thread.
  static std::size_t memory_bound(std::uint32_t packet_bytes);

  // --- the stream thread ---

  // A new connection's header (Header Object and the 50-byte Data Object
  // header): the kept packets of the last connection are dropped, and
  // attached writers wait for the new connection's first key frame.
  void set_header(const std::uint8_t* bytes, std::uint32_t length);
  // One whole data packet with its arrival tick (milliseconds); key_at: the
  // offset of the payload in it that begins a key frame, 0 when none does.
  // Kept as described above and queued to every attached writer that has
  // begun.
  void add(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t arrival_tick, std::uint32_t key_at);
  // The connection ended: forgets header and packets and frees the memory.
  // Attached writers stay attached (their files are closed by the caller).
  void end_stream();

  // How long before the newest packet the kept packets must reach back
  // (cut to kMaxKeepMs); 0 keeps only the newest group of pictures. Any
  // thread.
  void set_keep_ms(std::uint32_t ms);

  // --- writers, with their own lock held (any thread, never from within add) ---

  // Starts feeding w: its queue is emptied and given the kept packets from
  // the newest key-frame start at least preroll_ms before the newest packet
  // (the oldest kept one if none is that old); live packets follow. With
  // nothing kept, w begins at the next key-frame start. *header receives the
  // connection's header (empty before one arrived). Returns the number of
  // kept packets queued.
  std::size_t attach(RecordingWriter& w, std::uint32_t preroll_ms, std::vector<std::uint8_t>* header);
  // For a file that follows w's current one without a gap: leaves w's queue
  // as it is and queues behind it the kept packets from the newest key-frame
  // start, so the packets queued before belong to the old file and the rest
  // to the new one (the two overlap by the packets since that key frame).
  // Returns how many were queued before, or -1 when no key-frame start is
  // kept (nothing changes; try again later). *header as for attach.
  long restart(RecordingWriter& w, std::vector<std::uint8_t>* header);
  // Stops feeding w. Harmless when it is not attached.
  void detach(RecordingWriter& w);
  // A key-frame start is kept (restart would succeed now). Any thread.
  bool has_key_frame_start() const;
  // The connection's header; false before one arrived.
  bool header(std::vector<std::uint8_t>* out) const;

  PacketBufferStats stats() const;

 private:
  struct SlotInfo {
    std::uint32_t tick = 0;
    std::uint32_t key_at = 0;  // where a key frame begins in the packet, or 0
  };
  struct Chunk {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::unique_ptr<SlotInfo[]> info;
  };
  struct Attachment {
    RecordingWriter* writer = nullptr;
    bool waiting = false;  // for the next key-frame start
  };

  static std::size_t slots_per_chunk(std::uint32_t packet_bytes);
  static std::size_t chunk_bytes(std::uint32_t packet_bytes);
  // Kept packet i (0 = oldest).
  const std::uint8_t* packet_at(std::size_t i) const;
  const SlotInfo& info_at(std::size_t i) const;
  std::size_t index_of(std::uint64_t seq) const { return static_cast<std::size_t>(seq - first_seq_); }
  bool append(const std::uint8_t* bytes, std::uint32_t tick, std::uint32_t key_at);
  // Queues a packet that begins a file: from its key frame on.
  void queue_first(RecordingWriter& w, const std::uint8_t* bytes, std::uint32_t length, std::uint32_t tick,
                   std::uint32_t key_at);
  void drop_front(std::size_t n);
  void drop_all();
  void release_chunks();
  void trim(std::uint32_t newest_tick);
  void queue_from(RecordingWriter& w, std::size_t first);
  Attachment* find(RecordingWriter& w);

  mutable std::mutex mutex_;
  std::vector<std::uint8_t> header_;
  std::uint32_t slot_bytes_ = 0;               // the connection's packet size
  std::deque<std::unique_ptr<Chunk>> chunks_;  // oldest first
  std::vector<std::unique_ptr<Chunk>> spare_;
  std::size_t allocated_chunks_ = 0;
  std::size_t first_slot_ = 0;          // of the oldest kept packet, in chunks_.front()
  std::size_t count_ = 0;               // kept packets
  std::uint64_t first_seq_ = 0;         // sequence number of the oldest kept packet
  std::uint64_t next_seq_ = 0;          // of the next packet to arrive
  std::deque<std::uint64_t> key_seqs_;  // kept key-frame starts, oldest first
  std::uint32_t keep_ms_ = 0;
  std::vector<Attachment> attached_;
  std::vector<std::uint8_t> first_packet_;  // reused for queue_first
};

}  // namespace record
