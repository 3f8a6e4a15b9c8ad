#include "player/engine/frame_decoder.h"

#include <cstring>
#include <new>

#include "viewer/media/mpeg4/decoder.h"

namespace player {
namespace {

// Every VOP starts with its start code (ISO/IEC 14496-2, 6.2.5).
constexpr std::uint8_t kVopStartCode[4] = {0x00, 0x00, 0x01, 0xB6};
// Codec data and the largest frame the demultiplexer can rebuild.
constexpr std::size_t kInputBytes = net::asf::kCodecDataBytes + net::asf::kPayloadOffsetLimit;

}  // namespace

void FrameDecoder::Deleter::operator()(DECODER* d) const { (void)decoder_destroy(d); }

FrameDecoder::FrameDecoder(const RecordingLayout& layout)
    : decoder_(decoder_create()),
      input_(new (std::nothrow) std::uint8_t[kInputBytes]),
      yuv_(new (std::nothrow) std::uint8_t[kMaxPictureBytes]()) {
  std::memcpy(codec_data_, layout.codec_data, sizeof codec_data_);
}

FrameDecoder::~FrameDecoder() = default;

void FrameDecoder::restart() {
  DECODER* fresh = decoder_create();
  if (fresh == nullptr) return;
  decoder_.reset(fresh);
  codec_pending_ = true;
}

int FrameDecoder::width() const { return decoder_ ? decoder_->width : 0; }
int FrameDecoder::height() const { return decoder_ ? decoder_->height : 0; }

bool FrameDecoder::decode(const std::uint8_t* data, std::uint32_t length, bool key) {
  if (!ok() || data == nullptr) return false;
  if (codec_pending_ && !key) return false;
  if (!codec_pending_ && (length < 4 || std::memcmp(data, kVopStartCode, 4) != 0)) return false;
  const std::size_t prefix = codec_pending_ ? sizeof codec_data_ : 0;
  if (prefix + length > kInputBytes) return false;
  if (prefix > 0) std::memcpy(input_.get(), codec_data_, prefix);
  std::memcpy(input_.get() + prefix, data, length);
  std::int32_t status = 0;
  const int result = decoder_decode(decoder_.get(), yuv_.get(), input_.get(), prefix + length, &status);
  decoder_->deblocking_enabled = 0;
  if (result != kDecodeOk) {
    ++failed_;
    return false;
  }
  codec_pending_ = false;
  const int w = decoder_->width, h = decoder_->height;
  if (w <= 0 || h <= 0 || w > 640 || h > 480 || (w & 1) || (h & 1)) {
    ++failed_;
    return false;
  }
  return true;
}

}  // namespace player
