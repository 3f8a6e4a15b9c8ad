#include "tools/clipkit/asf.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace clipkit {
namespace {

// GUID text a-b-c-d-e in its stored form: the first three groups
// little-endian, the last two as written (ASF 1.20, 2.1 GUID).
constexpr Guid make_guid(uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
  return Guid{static_cast<uint8_t>(a),       static_cast<uint8_t>(a >> 8),  static_cast<uint8_t>(a >> 16),
              static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(b),       static_cast<uint8_t>(b >> 8),
              static_cast<uint8_t>(c),       static_cast<uint8_t>(c >> 8),  static_cast<uint8_t>(d >> 56),
              static_cast<uint8_t>(d >> 48), static_cast<uint8_t>(d >> 40), static_cast<uint8_t>(d >> 32),
              static_cast<uint8_t>(d >> 24), static_cast<uint8_t>(d >> 16), static_cast<uint8_t>(d >> 8),
              static_cast<uint8_t>(d)};
}

class LeWriter {
 public:
  explicit LeWriter(std::vector<uint8_t>* out) : out_(out) {}
  void u8(uint32_t v) { out_->push_back(static_cast<uint8_t>(v)); }
  void u16(uint32_t v) {
    u8(v);
    u8(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v);
    u16(v >> 16);
  }
  void u64(uint64_t v) {
    u32(static_cast<uint32_t>(v));
    u32(static_cast<uint32_t>(v >> 32));
  }
  void guid(const Guid& g) { out_->insert(out_->end(), g.begin(), g.end()); }
  void bytes(const uint8_t* p, size_t n) { out_->insert(out_->end(), p, p + n); }

 private:
  std::vector<uint8_t>* out_;
};

void put_le16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(uint8_t* p, uint32_t v) {
  put_le16(p, v);
  put_le16(p + 2, v >> 16);
}

constexpr uint32_t kFilePropertiesBytes = 104;
constexpr uint32_t kVideoStreamPropertiesBytes = 147;  // 78 + 11 + 40 + 18
constexpr uint32_t kAudioStreamPropertiesBytes = 104;  // 78 + 18 + 8
constexpr uint32_t kHeaderExtensionBytes = 46;
constexpr uint32_t kBitmapInfoBytes = 40;
constexpr uint32_t kWaveFormatBytes = 18;
constexpr uint32_t kAudioSpreadBytes = 8;
constexpr uint32_t kBroadcastFlag = 0x01;  // File Properties Flags: live, no sizes known
constexpr uint16_t kWaveFormatG726 = 0x0064;

bool fail(std::string* error, const std::string& reason) {
  if (error) *error = reason;
  return false;
}

}  // namespace

const Guid kAsfHeaderObject = make_guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
const Guid kAsfDataObject = make_guid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6Cull);
const Guid kAsfFilePropertiesObject = make_guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365ull);
const Guid kAsfStreamPropertiesObject = make_guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365ull);
const Guid kAsfHeaderExtensionObject = make_guid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365ull);
const Guid kAsfReserved1 = make_guid(0xABD3D211, 0xA9BA, 0x11CF, 0x8EE600C00C205365ull);
const Guid kAsfVideoMedia = make_guid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
const Guid kAsfAudioMedia = make_guid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442Bull);
const Guid kAsfNoErrorCorrection = make_guid(0x20FB5700, 0x5B55, 0x11CF, 0xA8FD00805F5C442Bull);
const Guid kAsfAudioSpread = make_guid(0xBFC3CD50, 0x618F, 0x11CF, 0x8BB200AA00B4E220ull);

bool load_clip(const std::string& prefix, Clip* out, std::string* error) {
  if (!load_m4v_file(prefix + ".m4v", &out->video, error)) return false;
  out->audio.clear();
  const std::string audio_path = prefix + ".g726";
  std::error_code ec;
  if (std::filesystem::exists(audio_path, ec)) {
    if (!read_file_bytes(audio_path, &out->audio, error)) return false;
    if (out->audio.size() < kAudioBlockBytes)
      return fail(error, audio_path + ": shorter than one 400-byte audio block");
    out->audio.resize(out->audio.size() / kAudioBlockBytes * kAudioBlockBytes);
  }
  return true;
}

std::vector<uint8_t> build_camera_header(const AsfProfile& profile) {
  const uint32_t header_bytes = profile.audio ? kHeaderObjectBytesAv : kHeaderObjectBytesVideoOnly;
  std::vector<uint8_t> out;
  out.reserve(header_bytes + kDataObjectStartBytes);
  LeWriter w(&out);

  // Header Object preamble: ID, size, number of child objects, reserved 1, 2.
  w.guid(kAsfHeaderObject);
  w.u64(header_bytes);
  w.u32(profile.audio ? 4 : 3);
  w.u8(0x01);
  w.u8(0x02);

  w.guid(kAsfFilePropertiesObject);
  w.u64(kFilePropertiesBytes);
  w.guid(profile.file_id);
  w.u64(0);  // file size: unknown while live
  w.u64(0);  // creation date
  w.u64(0);  // data packets count
  w.u64(0);  // play duration
  w.u64(0);  // send duration
  w.u64(0);  // preroll: presentation times are used as they are
  w.u32(kBroadcastFlag);
  w.u32(profile.packet_bytes);  // minimum data packet size
  w.u32(profile.packet_bytes);  // maximum data packet size
  w.u32(profile.max_bitrate);

  // Video Stream Properties: fixed part, then the video type-specific data
  // (encoded width and height, reserved flags, format data size) and the
  // format data: a BITMAPINFOHEADER whose biSize counts the 18 codec bytes
  // that follow it, as readers take the codec data from that size.
  const uint32_t format_bytes = kBitmapInfoBytes + kCodecDataBytes;
  w.guid(kAsfStreamPropertiesObject);
  w.u64(kVideoStreamPropertiesBytes);
  w.guid(kAsfVideoMedia);
  w.guid(kAsfNoErrorCorrection);
  w.u64(0);                  // time offset
  w.u32(11 + format_bytes);  // type-specific data length
  w.u32(0);                  // error correction data length
  w.u16(kVideoStream);       // flags: stream number 1, not encrypted
  w.u32(0);                  // reserved
  w.u32(static_cast<uint32_t>(profile.width));
  w.u32(static_cast<uint32_t>(profile.height));
  w.u8(0x02);  // reserved flags
  w.u16(format_bytes);
  w.u32(format_bytes);  // biSize
  w.u32(static_cast<uint32_t>(profile.width));
  w.u32(static_cast<uint32_t>(profile.height));
  w.u16(1);                                                          // biPlanes
  w.u16(24);                                                         // biBitCount
  w.bytes(reinterpret_cast<const uint8_t*>("M4S2"), 4);              // biCompression: ISO MPEG-4 video
  w.u32(static_cast<uint32_t>(profile.width * profile.height * 3));  // biSizeImage
  w.u32(0);                                                          // biXPelsPerMeter
  w.u32(0);                                                          // biYPelsPerMeter
  w.u32(0);                                                          // biClrUsed
  w.u32(0);                                                          // biClrImportant
  w.bytes(profile.codec_data.data(), profile.codec_data.size());

  if (profile.audio) {
    // Audio Stream Properties: WAVEFORMATEX for G.726 (format tag 0x0064,
    // 8 kHz mono, 2 bits a sample) and audio-spread error correction data
    // with a span of 1, i.e. no spreading.
    w.guid(kAsfStreamPropertiesObject);
    w.u64(kAudioStreamPropertiesBytes);
    w.guid(kAsfAudioMedia);
    w.guid(kAsfAudioSpread);
    w.u64(0);
    w.u32(kWaveFormatBytes);
    w.u32(kAudioSpreadBytes);
    w.u16(kAudioStream);
    w.u32(0);
    w.u16(kWaveFormatG726);
    w.u16(1);                     // channels
    w.u32(8000);                  // samples per second
    w.u32(kAudioBytesPerSecond);  // average bytes per second
    w.u16(kAudioBlockBytes);      // block align: one audio block
    w.u16(2);                     // bits per sample: 2-bit codes, 16 kbit/s
    w.u16(0);                     // cbSize
    w.u8(1);                      // span
    w.u16(kAudioBlockBytes);      // virtual packet length
    w.u16(kAudioBlockBytes);      // virtual chunk length
    w.u16(1);                     // silence data length
    w.u8(0);                      // silence data
  }

  // Header Extension Object: reserved field 1, reserved field 2 = 6, no data.
  w.guid(kAsfHeaderExtensionObject);
  w.u64(kHeaderExtensionBytes);
  w.guid(kAsfReserved1);
  w.u16(6);
  w.u32(0);

  // Data Object start: ID, size (0: endless), file ID, total data packets
  // (0: endless), reserved 0x0101.
  w.guid(kAsfDataObject);
  w.u64(0);
  w.guid(profile.file_id);
  w.u64(0);
  w.u8(0x01);
  w.u8(0x01);
  return out;
}

AsfPacketizer::AsfPacketizer(uint32_t packet_bytes)
    : packet_bytes_(std::clamp(packet_bytes, kMinPacketBytes, kMaxPacketBytes)),
      packet_(packet_bytes_, 0),
      used_(kPacketHeaderBytes) {}

void AsfPacketizer::add(const MediaObject& object, std::deque<AsfPacket>* done) {
  const uint8_t number = object_number_[object.stream % 3]++;
  uint32_t offset = 0;
  while (offset < object.size) {
    const uint32_t header = offset == 0 ? kFirstPayloadHeaderBytes : kNextPayloadHeaderBytes;
    if (payloads_ == kMaxPayloadsPerPacket || used_ + header + 1 > packet_bytes_) finish(done);
    if (payloads_ == 0) send_ms_ = object.time_ms;
    const uint32_t n = std::min(packet_bytes_ - used_ - header, object.size - offset);
    uint8_t* p = packet_.data() + used_;
    p[0] = static_cast<uint8_t>(object.stream | (object.key ? kKeyFrameBit : 0));
    p[1] = number;
    put_le32(p + 2, offset);
    if (offset == 0) {
      p[6] = 8;
      put_le32(p + 7, object.size);
      put_le32(p + 11, object.time_ms);
      put_le16(p + 15, n);
    } else {
      p[6] = 0;
      put_le16(p + 7, n);
    }
    std::copy(object.data + offset, object.data + offset + n, p + header);
    used_ += header + n;
    offset += n;
    ++payloads_;
    due_ms_ = std::max(due_ms_, object.time_ms);
  }
}

void AsfPacketizer::flush(std::deque<AsfPacket>* done) { finish(done); }

void AsfPacketizer::finish(std::deque<AsfPacket>* done) {
  if (payloads_ == 0) return;
  uint8_t* p = packet_.data();
  p[0] = 0x82;  // error correction data present, 2 bytes of it
  p[1] = 0;
  p[2] = 0;
  p[3] = 0x11;  // multiple payloads; padding length is a WORD
  p[4] = 0x5D;  // replicated length BYTE, offset DWORD, object number BYTE, stream BYTE
  put_le16(p + 5, packet_bytes_ - used_);
  put_le32(p + 7, send_ms_);
  put_le16(p + 11, 0);                             // duration
  p[13] = static_cast<uint8_t>(0x80 | payloads_);  // 16-bit payload lengths
  done->push_back(AsfPacket{packet_, due_ms_});
  std::fill(packet_.begin(), packet_.end(), 0);
  used_ = kPacketHeaderBytes;
  payloads_ = 0;
}

namespace {

AsfProfile profile_for(const Clip& clip, const MuxOptions& options, bool audio) {
  AsfProfile profile;
  profile.width = clip.video.width;
  profile.height = clip.video.height;
  profile.codec_data = clip.video.codec_data;
  profile.audio = audio;
  profile.packet_bytes = std::clamp(options.packet_bytes, kMinPacketBytes, kMaxPacketBytes);
  profile.file_id = options.file_id;
  uint64_t video_bytes = 0;
  for (const Vop& vop : clip.video.vops) video_bytes += vop.bytes.size();
  const uint64_t duration_ms = std::max<uint64_t>(1, clip.video.duration_ms);
  uint64_t bitrate = video_bytes * 8000 / duration_ms + (audio ? kAudioBytesPerSecond * 8 : 0);
  bitrate += bitrate / 8;  // packet and payload headers, padding
  profile.max_bitrate = static_cast<uint32_t>(std::min<uint64_t>(bitrate, 0xFFFFFFFFu));
  return profile;
}

}  // namespace

CameraMuxer::CameraMuxer(const Clip& clip, const MuxOptions& options)
    : clip_(clip),
      audio_(options.audio && !clip.audio.empty()),
      header_(build_camera_header(profile_for(clip, options, audio_))),
      packetizer_(options.packet_bytes) {}

uint32_t CameraMuxer::next_video_ms() const {
  const M4vClip& v = clip_.video;
  const uint64_t pass = video_index_ / v.vops.size();
  const Vop& vop = v.vops[video_index_ % v.vops.size()];
  const uint64_t ticks = pass * v.duration_ticks + vop.ticks;
  return static_cast<uint32_t>(ticks * 1000 / static_cast<uint64_t>(v.time_resolution));
}

uint32_t CameraMuxer::next_audio_ms() const { return static_cast<uint32_t>(audio_index_ * kAudioBlockMs); }

void CameraMuxer::add_next_object() {
  MediaObject object;
  if (audio_ && next_audio_ms() <= next_video_ms()) {
    const size_t blocks = clip_.audio.size() / kAudioBlockBytes;
    object.stream = kAudioStream;
    object.time_ms = next_audio_ms();
    object.data = clip_.audio.data() + (audio_index_ % blocks) * kAudioBlockBytes;
    object.size = kAudioBlockBytes;
    ++audio_index_;
  } else {
    const Vop& vop = clip_.video.vops[video_index_ % clip_.video.vops.size()];
    object.stream = kVideoStream;
    object.key = vop.key;
    object.time_ms = next_video_ms();
    object.data = vop.bytes.data();
    object.size = static_cast<uint32_t>(vop.bytes.size());
    ++video_index_;
  }
  packetizer_.add(object, &ready_);
}

AsfPacket CameraMuxer::next_packet() {
  while (ready_.empty()) add_next_object();
  AsfPacket packet = std::move(ready_.front());
  ready_.pop_front();
  return packet;
}

std::vector<AsfPacket> CameraMuxer::drain_until(uint32_t end_ms) {
  while (next_video_ms() < end_ms || (audio_ && next_audio_ms() < end_ms)) add_next_object();
  packetizer_.flush(&ready_);
  std::vector<AsfPacket> out(std::make_move_iterator(ready_.begin()), std::make_move_iterator(ready_.end()));
  ready_.clear();
  return out;
}

bool write_camera_asf(const std::string& path, const Clip& clip, const MuxOptions& options, uint32_t duration_ms,
                      std::string* error) {
  if (clip.video.vops.empty()) return fail(error, "the clip has no video");
  CameraMuxer muxer(clip, options);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return fail(error, "cannot create " + path);
  const auto& header = muxer.header();
  out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
  for (const AsfPacket& packet : muxer.drain_until(duration_ms ? duration_ms : clip.video.duration_ms))
    out.write(reinterpret_cast<const char*>(packet.bytes.data()), static_cast<std::streamsize>(packet.bytes.size()));
  out.close();
  if (!out) return fail(error, "cannot write " + path);
  return true;
}

}  // namespace clipkit
