#include "viewer/record/packet_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "viewer/net/asf_demux.h"
#include "viewer/platform/tick.h"
#include "viewer/record/recording_writer.h"

namespace record {

namespace {

// Chunks of about this many bytes: big enough that a chunk is taken only
// every ten packets or so, small enough that a quiet camera holds little more
// than its packets.
constexpr std::size_t kChunkTargetBytes = 16 * 1024;

}  // namespace

std::size_t PacketBuffer::slots_per_chunk(std::uint32_t packet_bytes) {
  return packet_bytes == 0 ? 1 : std::max<std::size_t>(1, kChunkTargetBytes / packet_bytes);
}

std::size_t PacketBuffer::chunk_bytes(std::uint32_t packet_bytes) {
  return slots_per_chunk(packet_bytes) * (packet_bytes + sizeof(SlotInfo));
}

std::size_t PacketBuffer::memory_bound(std::uint32_t packet_bytes) {
  if (packet_bytes == 0) return 0;
  // After a packet is added and before the buffer is trimmed it holds one
  // packet over the limit, and the oldest packet may sit anywhere in the
  // first chunk; chunks are only allocated when no spare one is left, so the
  // chunks allocated never outnumber the most ever in use at once.
  const std::size_t most_kept = kKeptBytesLimit / packet_bytes + 1;
  const std::size_t per_chunk = slots_per_chunk(packet_bytes);
  const std::size_t chunks = (per_chunk - 1 + most_kept + per_chunk - 1) / per_chunk;
  return chunks * chunk_bytes(packet_bytes);
}

const std::uint8_t* PacketBuffer::packet_at(std::size_t i) const {
  const std::size_t per_chunk = slots_per_chunk(slot_bytes_);
  const std::size_t pos = first_slot_ + i;
  return chunks_[pos / per_chunk]->bytes.get() + (pos % per_chunk) * slot_bytes_;
}

const PacketBuffer::SlotInfo& PacketBuffer::info_at(std::size_t i) const {
  const std::size_t per_chunk = slots_per_chunk(slot_bytes_);
  const std::size_t pos = first_slot_ + i;
  return chunks_[pos / per_chunk]->info[pos % per_chunk];
}

bool PacketBuffer::append(const std::uint8_t* bytes, std::uint32_t tick, std::uint32_t key_at) {
  const std::size_t per_chunk = slots_per_chunk(slot_bytes_);
  const std::size_t pos = first_slot_ + count_;
  if (pos == chunks_.size() * per_chunk) {
    std::unique_ptr<Chunk> chunk;
    if (!spare_.empty()) {
      chunk = std::move(spare_.back());
      spare_.pop_back();
    } else {
      chunk = std::unique_ptr<Chunk>(new (std::nothrow) Chunk);
      if (chunk) {
        chunk->bytes.reset(new (std::nothrow) std::uint8_t[per_chunk * slot_bytes_]);
        chunk->info.reset(new (std::nothrow) SlotInfo[per_chunk]);
      }
      // Out of memory: nothing can be kept; recordings start at the next key
      // frame that fits.
      if (!chunk || !chunk->bytes || !chunk->info) {
        drop_all();
        return false;
      }
      ++allocated_chunks_;
    }
    chunks_.push_back(std::move(chunk));
  }
  Chunk& c = *chunks_[pos / per_chunk];
  std::memcpy(c.bytes.get() + (pos % per_chunk) * slot_bytes_, bytes, slot_bytes_);
  c.info[pos % per_chunk] = SlotInfo{tick, key_at};
  ++count_;
  return true;
}

void PacketBuffer::drop_front(std::size_t n) {
  if (n >= count_) {
    drop_all();
    return;
  }
  const std::size_t per_chunk = slots_per_chunk(slot_bytes_);
  first_slot_ += n;
  count_ -= n;
  first_seq_ += n;
  while (!key_seqs_.empty() && key_seqs_.front() < first_seq_) key_seqs_.pop_front();
  std::size_t released = 0;
  while (first_slot_ >= per_chunk) {
    spare_.push_back(std::move(chunks_.front()));
    chunks_.pop_front();
    first_slot_ -= per_chunk;
    ++released;
  }
  // About as many chunks as were just released will be needed again before
  // the next drop; spares beyond that (a burst that is over) are freed.
  while (spare_.size() > released) {
    spare_.pop_back();
    --allocated_chunks_;
  }
}

void PacketBuffer::drop_all() {
  const std::size_t released = chunks_.size();
  for (auto& c : chunks_) spare_.push_back(std::move(c));
  chunks_.clear();
  while (spare_.size() > released) {
    spare_.pop_back();
    --allocated_chunks_;
  }
  first_slot_ = 0;
  first_seq_ += count_;
  count_ = 0;
  key_seqs_.clear();
}

void PacketBuffer::release_chunks() {
  chunks_.clear();
  spare_.clear();
  allocated_chunks_ = 0;
  first_slot_ = 0;
  count_ = 0;
  key_seqs_.clear();
  slot_bytes_ = 0;
}

void PacketBuffer::trim(std::uint32_t newest_tick) {
  // The newest key-frame start that lies at least keep_ms_ back is enough;
  // groups of pictures before it are not needed.
  while (key_seqs_.size() >= 2 && platform::tick_elapsed(info_at(index_of(key_seqs_[1])).tick, newest_tick) >= keep_ms_)
    drop_front(index_of(key_seqs_[1]));
  while (count_ > 0 && (count_ * slot_bytes_ > kKeptBytesLimit ||
                        platform::tick_elapsed(info_at(0).tick, newest_tick) > kKeptSpanLimitMs)) {
    if (key_seqs_.size() >= 2) {
      drop_front(index_of(key_seqs_[1]));
    } else {
      drop_all();  // one group of pictures longer than the bounds: wait for the next
    }
  }
}

void PacketBuffer::set_header(const std::uint8_t* bytes, std::uint32_t length) {
  std::lock_guard lock(mutex_);
  if (bytes == nullptr) length = 0;
  header_.assign(bytes, bytes + length);
  first_seq_ = next_seq_;
  release_chunks();
  // Packets of the new connection make sense only from its first key frame.
  for (Attachment& a : attached_) a.waiting = true;
}

void PacketBuffer::add(const std::uint8_t* bytes, std::uint32_t length, std::uint32_t arrival_tick,
                       std::uint32_t key_at) {
  std::lock_guard lock(mutex_);
  const bool key_start = key_at != 0;
  const std::uint64_t seq = next_seq_++;
  if (bytes == nullptr || length == 0) return;
  bool keep = key_start || count_ > 0;
  if (keep && length != slot_bytes_) {
    // All packets of a connection have its one packet size; a packet of
    // another size starts the buffer over.
    release_chunks();
    slot_bytes_ = length;
    keep = key_start;
  }
  if (count_ == 0) first_seq_ = seq;
  if (keep && append(bytes, arrival_tick, key_at)) {
    if (key_start) key_seqs_.push_back(seq);
    trim(arrival_tick);
  }
  for (Attachment& a : attached_) {
    if (!a.waiting) {
      a.writer->AddPacket(bytes, length, arrival_tick);
    } else if (key_start) {
      a.waiting = false;
      queue_first(*a.writer, bytes, length, arrival_tick, key_at);
    }
  }
}

void PacketBuffer::end_stream() {
  std::lock_guard lock(mutex_);
  header_.clear();
  first_seq_ = next_seq_;
  release_chunks();
  for (Attachment& a : attached_) a.waiting = true;
}

void PacketBuffer::set_keep_ms(std::uint32_t ms) {
  std::lock_guard lock(mutex_);
  keep_ms_ = std::min(ms, kMaxKeepMs);
}

PacketBuffer::Attachment* PacketBuffer::find(RecordingWriter& w) {
  for (Attachment& a : attached_)
    if (a.writer == &w) return &a;
  attached_.push_back(Attachment{&w, false});
  return &attached_.back();
}

void PacketBuffer::queue_first(RecordingWriter& w, const std::uint8_t* bytes, std::uint32_t length, std::uint32_t tick,
                               std::uint32_t key_at) {
  first_packet_.resize(length);
  if (net::packet_from_payload(bytes, length, key_at, first_packet_.data()) == length) bytes = first_packet_.data();
  w.AddPacket(bytes, length, tick);
}

void PacketBuffer::queue_from(RecordingWriter& w, std::size_t first) {
  // Kept packets always begin at a key-frame start, and files only there.
  queue_first(w, packet_at(first), slot_bytes_, info_at(first).tick, info_at(first).key_at);
  for (std::size_t i = first + 1; i < count_; ++i) w.AddPacket(packet_at(i), slot_bytes_, info_at(i).tick);
}

std::size_t PacketBuffer::attach(RecordingWriter& w, std::uint32_t preroll_ms, std::vector<std::uint8_t>* header) {
  std::lock_guard lock(mutex_);
  if (header != nullptr) *header = header_;
  Attachment* a = find(w);
  w.ClearQueue();
  if (count_ == 0) {
    a->waiting = true;
    return 0;
  }
  // The kept packets begin at a key-frame start; go forward to the newest one
  // that still lies preroll_ms back.
  const std::uint32_t newest = info_at(count_ - 1).tick;
  std::size_t first = 0;
  for (std::uint64_t k : key_seqs_) {
    if (platform::tick_elapsed(info_at(index_of(k)).tick, newest) < preroll_ms) break;
    first = index_of(k);
  }
  queue_from(w, first);
  a->waiting = false;
  return count_ - first;
}

long PacketBuffer::restart(RecordingWriter& w, std::vector<std::uint8_t>* header) {
  std::lock_guard lock(mutex_);
  if (key_seqs_.empty()) return -1;
  if (header != nullptr) *header = header_;
  Attachment* a = find(w);
  const long before = static_cast<long>(w.queued());
  queue_from(w, index_of(key_seqs_.back()));
  a->waiting = false;
  return before;
}

void PacketBuffer::detach(RecordingWriter& w) {
  std::lock_guard lock(mutex_);
  attached_.erase(
      std::remove_if(attached_.begin(), attached_.end(), [&](const Attachment& a) { return a.writer == &w; }),
      attached_.end());
}

bool PacketBuffer::has_key_frame_start() const {
  std::lock_guard lock(mutex_);
  return !key_seqs_.empty();
}

bool PacketBuffer::header(std::vector<std::uint8_t>* out) const {
  std::lock_guard lock(mutex_);
  if (header_.empty()) return false;
  *out = header_;
  return true;
}

PacketBufferStats PacketBuffer::stats() const {
  std::lock_guard lock(mutex_);
  PacketBufferStats s;
  s.kept_packets = count_;
  s.kept_bytes = count_ * slot_bytes_;
  s.allocated_bytes = allocated_chunks_ * chunk_bytes(slot_bytes_);
  s.key_frame_starts = key_seqs_.size();
  s.span_ms = count_ > 0 ? platform::tick_elapsed(info_at(0).tick, info_at(count_ - 1).tick) : 0;
  s.packets_seen = next_seq_;
  s.oldest_kept = first_seq_;
  return s;
}

}  // namespace record
