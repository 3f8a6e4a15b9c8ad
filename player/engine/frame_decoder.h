// Decodes a recording's video frames the way the live pipeline decodes a
// camera's: the stream's codec data (VO and VOL headers) goes in front of the
// first frame and stays pending until a frame has decoded with it, so a
// damaged first frame does not leave the decoder without its headers; once
// the headers are in, a frame that does not start with a VOP start code is
// not given to the decoder; the deblocking filter is cleared after every
// call, so only the first picture is filtered.
//
// While the headers are pending only key frames are tried: a predicted frame
// has nothing to predict from. A recording usually begins in the middle of
// the camera's stream, so this is how playing starts at the first key frame
// that decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "player/engine/recording_file.h"

struct DECODER;

namespace player {

class FrameDecoder {
 public:
  static constexpr std::size_t kMaxPictureBytes = std::size_t{640} * 480 * 3 / 2;

  // False from ok() when memory ran out.
  explicit FrameDecoder(const RecordingLayout& layout);
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  bool ok() const { return decoder_ != nullptr && input_ != nullptr && yuv_ != nullptr; }

  // Decodes one frame into the picture. False when it gave no picture
  // (skipped or failed); the previous picture stays.
  [[nodiscard]] bool decode(const std::uint8_t* data, std::uint32_t length, bool key);

  // True until a frame has decoded with the codec data in front of it.
  bool headers_pending() const { return codec_pending_; }

  // Starts again as a new decoder, the codec data pending. Going back to
  // the picture the file began with, it is then decoded (and filtered) as
  // it was the first time. Keeps the old decoder when memory runs out.
  void restart();

  // The last picture: planar YUV 4:2:0, width x height.
  const std::uint8_t* picture() const { return yuv_.get(); }
  int width() const;
  int height() const;

  std::uint64_t failed() const { return failed_; }

 private:
  struct Deleter {
    void operator()(DECODER* d) const;
  };
  std::unique_ptr<DECODER, Deleter> decoder_;
  std::unique_ptr<std::uint8_t[]> input_;
  std::unique_ptr<std::uint8_t[]> yuv_;
  std::uint8_t codec_data_[net::asf::kCodecDataBytes] = {};
  bool codec_pending_ = true;
  std::uint64_t failed_ = 0;
};

}  // namespace player
