// asf2yuv [--no-deblock] IN.asf OUT.yuv
//
// Reads a camera-profile ASF file through the stream demultiplexer, exactly
// as a camera's live stream is read (exact-size reads of at most one
// look-ahead window), decodes its video the way the channel pipeline does
// (codec data in front of the first frame, frames that do not start with a
// VOP start code skipped, the deblocking flag cleared after every call) and
// writes every decoded picture as raw planar YUV 4:2:0. Prints the width,
// height and number of pictures written.
//
// The decoding happens on the reading thread: before the demultiplexer gets
// more bytes, the frames it has queued are decoded, so the queue stays short
// and the output order is the stream's.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "viewer/media/mpeg4/decoder.h"
#include "viewer/net/asf_demux.h"
#include "viewer/net/byte_source.h"
#include "viewer/net/stream_sinks.h"

namespace {

constexpr size_t kInputBytes = 307200;  // the pipeline's decoder input buffer

// Takes the frames the demultiplexer queues and decodes them.
class DecodingSink final : public net::VideoSink {
public:
    DecodingSink(DECODER* decoder, std::FILE* out, bool no_deblock)
        : decoder_(decoder), out_(out), no_deblock_(no_deblock), input_(kInputBytes), picture_(640 * 480 * 3 / 2)
    {
    }

    bool setup(int width, int height, const uint8_t* codec_data, int codec_len, platform::View*) override
    {
        if (codec_data == nullptr || codec_len <= 0) return false;
        width_ = width;
        height_ = height;
        codec_data_.assign(codec_data, codec_data + codec_len);
        codec_pending_ = true;
        return true;
    }
    bool start() override { return true; }
    void set_audio_source(net::AudioSink*) override {}
    bool thread_ended() const override { return failed_; }
    net::FrameQueue& queue() override { return queue_; }
    void stop() override {}
    void pause() override {}
    void resume() override {}

    // Decodes every queued frame.
    void drain()
    {
        while (std::unique_ptr<net::MediaFrame> frame = queue_.take_front()) decode(*frame);
    }

    int frames() const { return frames_; }
    int width() const { return decoder_->width; }
    int height() const { return decoder_->height; }
    bool failed() const { return failed_; }

private:
    void decode(const net::MediaFrame& frame)
    {
        const uint8_t* data = frame.data();
        const uint32_t length = frame.length();
        if (data == nullptr || failed_) return;
        static constexpr uint8_t kVopStart[4] = {0x00, 0x00, 0x01, 0xb6};
        if (!codec_pending_ && (length < 4 || std::memcmp(data, kVopStart, 4) != 0)) return;
        size_t used = 0;
        if (codec_pending_) {
            std::memcpy(input_.data(), codec_data_.data(), codec_data_.size());
            used = codec_data_.size();
        }
        if (used + length >= input_.size()) {
            std::fprintf(stderr, "asf2yuv: a frame of %u bytes is too large\n", length);
            failed_ = true;
            return;
        }
        std::memcpy(input_.data() + used, data, length);
        used += length;
        codec_pending_ = false;
        if (no_deblock_) decoder_->deblocking_enabled = 0;
        int32_t status = 0;
        const int result = decoder_decode(decoder_, picture_.data(), input_.data(), used, &status);
        decoder_->deblocking_enabled = 0;
        if (result != kDecodeOk) return;  // dropped, as the pipeline drops it
        const size_t bytes = static_cast<size_t>(decoder_->width) * decoder_->height * 3 / 2;
        if (std::fwrite(picture_.data(), 1, bytes, out_) != bytes) {
            std::fprintf(stderr, "asf2yuv: cannot write the output\n");
            failed_ = true;
            return;
        }
        ++frames_;
    }

    DECODER* decoder_;
    std::FILE* out_;
    bool no_deblock_;
    net::FrameQueue queue_;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> picture_;
    std::vector<uint8_t> codec_data_;
    bool codec_pending_ = false;
    bool failed_ = false;
    int width_ = 0, height_ = 0;
    int frames_ = 0;
};

// The file as the stream connection serves a live stream: exact-size reads
// of at most one look-ahead window. Queued frames are decoded first.
class FileSource final : public net::ByteSource {
public:
    FileSource(std::ifstream& in, DecodingSink& sink) : in_(in), sink_(sink) {}
    int read(uint8_t* destination, uint32_t n) override
    {
        sink_.drain();
        if (destination == nullptr || n == 0 || n > net::kStreamWindowBytes) return -1;
        if (!in_.read(reinterpret_cast<char*>(destination), n)) return -1;
        return static_cast<int>(n);
    }

private:
    std::ifstream& in_;
    DecodingSink& sink_;
};

struct DecoderOwner {
    DECODER* d = decoder_create();
    ~DecoderOwner() { (void)decoder_destroy(d); }
};

struct FileOwner {
    std::FILE* f;
    ~FileOwner()
    {
        if (f != nullptr) std::fclose(f);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    bool no_deblock = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--no-deblock")
            no_deblock = true;
        else
            args.push_back(a);
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: asf2yuv [--no-deblock] IN.asf OUT.yuv\n");
        return 2;
    }
    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "asf2yuv: cannot open %s\n", args[0].c_str());
        return 1;
    }
    FileOwner out{std::fopen(args[1].c_str(), "wb")};
    if (out.f == nullptr) {
        std::fprintf(stderr, "asf2yuv: cannot create %s\n", args[1].c_str());
        return 1;
    }
    DecoderOwner decoder;
    if (decoder.d == nullptr) {
        std::fprintf(stderr, "asf2yuv: out of memory\n");
        return 1;
    }
    net::StreamBuffers buffers;
    if (!buffers.allocate()) {
        std::fprintf(stderr, "asf2yuv: out of memory\n");
        return 1;
    }
    DecodingSink sink(decoder.d, out.f, no_deblock);
    FileSource source(in, sink);
    net::StreamSinks sinks;
    sinks.video = &sink;
    std::atomic<bool> stop{false}, muted{true};
    net::DemuxControl control{&stop, &muted};
    net::AsfDemux demux;
    (void)demux.run(source, sinks, buffers, control);  // always -1: the stream ended
    sink.drain();
    if (demux.header_length() == 0) {
        std::fprintf(stderr, "asf2yuv: %s is not a camera stream\n", args[0].c_str());
        return 1;
    }
    std::printf("width: %d\nheight: %d\nframes: %d\n", sink.width(), sink.height(), sink.frames());
    return sink.failed() ? 1 : 0;
}
