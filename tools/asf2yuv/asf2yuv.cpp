// asf2yuv [--no-deblock] [--audio OUT.s16le] IN.asf OUT.yuv
//
// Reads a camera-profile ASF file through the stream demultiplexer, exactly
// as a camera's live stream is read (exact-size reads of at most one
// look-ahead window; a file that starts inside a frame, as recordings do, is
// read from the first frame that starts in it), decodes its video the way the channel pipeline does
// (codec data in front of the first key frame and kept there until a picture
// decodes, frames before that skipped, frames that do not start with a VOP
// start code skipped, the deblocking flag cleared after every call) and
// writes every decoded picture as raw planar YUV 4:2:0. Prints the width,
// height, number of pictures written and number of frames skipped before the
// first picture.
//
// --audio also decodes the file's G.726 audio blocks with our decoder exactly
// as the audio output decodes them (2-bit codes, post-filter on, one decoder
// state for the whole stream), every block whole, and writes the samples as
// 8 kHz mono signed 16-bit little-endian. Prints the number of blocks and
// samples; a file without an audio stream is an error.
//
// The decoding happens on the reading thread: before the demultiplexer gets
// more bytes, the frames it has queued are decoded, so the queue stays short
// and the output order is the stream's.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "viewer/media/g726/g726.h"
#include "viewer/media/mpeg4/decoder.h"
#include "viewer/net/asf_demux.h"
#include "viewer/net/byte_source.h"
#include "viewer/net/stream_sinks.h"

namespace {

constexpr size_t kInputBytes = 307200;  // the pipeline's decoder input buffer
constexpr int kAudioCodeBits = 2;       // the cameras' 16 kbit/s G.726 at 8 kHz

// Takes the frames the demultiplexer queues and decodes them.
class DecodingSink final : public net::VideoSink {
public:
    DecodingSink(DECODER* decoder, std::FILE* out, bool no_deblock)
        : decoder_(decoder), out_(out), no_deblock_(no_deblock), input_(kInputBytes), picture_(640 * 480 * 3 / 2)
    {
    }

    bool setup(int width, int height, const uint8_t* codec_data, int codec_len) override
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
    // Frames passed over before the first picture decoded.
    int skipped() const { return skipped_; }
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
        if (codec_pending_) {
            // Until a picture has decoded, only a key frame can start one: a
            // recording (or a file cut by hand) may begin inside a picture,
            // or with frames that predict from one it does not hold.
            if (frame.marker() != net::kMarkerVideoKey) {
                ++skipped_;
                return;
            }
        } else if (length < 4 || std::memcmp(data, kVopStart, 4) != 0) {
            return;
        }
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
        if (no_deblock_) decoder_->deblocking_enabled = 0;
        int32_t status = 0;
        const int result = decoder_decode(decoder_, picture_.data(), input_.data(), used, &status);
        decoder_->deblocking_enabled = 0;
        if (result != kDecodeOk) {
            // Dropped, as the pipeline drops it; the codec data stays in front
            // of the next key frame until one decodes with it.
            if (codec_pending_) ++skipped_;
            return;
        }
        codec_pending_ = false;
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
    int skipped_ = 0;
};

// Takes the audio blocks the demultiplexer queues and decodes them. The
// demultiplexer keeps at most three blocks waiting and drops the oldest for a
// fourth, which suits live sound but not a file: so every block is decoded
// the moment the demultiplexer asks whether the audio thread has ended,
// which it does right before it queues each block. The queue then never
// holds more than the one block just queued.
class PcmSink final : public net::AudioSink {
public:
    explicit PcmSink(std::FILE* out) : out_(out), decoder_(media::G726_decoder_create()) {}

    bool setup() override
    {
        has_stream_ = true;
        return decoder_ != nullptr;
    }
    void start() override {}
    void set_volume(int) override {}
    bool thread_ended() const override
    {
        drain();
        return failed_;
    }
    net::FrameQueue& queue() override { return queue_; }
    std::uint32_t clock() const override { return 0; }
    void set_clock_wakeup(platform::Event*) override {}
    void stop() override {}
    void pause() override {}
    void resume() override {}

    // Decodes every queued block.
    void drain() const
    {
        while (std::unique_ptr<net::MediaFrame> block = queue_.take_front()) decode(*block);
    }

    bool has_stream() const { return has_stream_; }
    long blocks() const { return blocks_; }
    long long samples() const { return samples_; }
    bool failed() const { return failed_; }

private:
    void decode(const net::MediaFrame& block) const
    {
        if (block.data() == nullptr || failed_) return;
        // Four 2-bit codes per byte.
        const size_t count = static_cast<size_t>(block.length()) * 4;
        if (pcm_.size() < count) pcm_.resize(count);
        const int n = media::G726_dec(decoder_.get(), kAudioCodeBits, block.data(), static_cast<int>(block.length()),
                                      pcm_.data());
        bytes_.resize(static_cast<size_t>(n) * 2);
        for (int i = 0; i < n; ++i) {
            const auto v = static_cast<uint16_t>(pcm_[static_cast<size_t>(i)]);
            bytes_[2 * static_cast<size_t>(i)] = static_cast<uint8_t>(v & 0xFF);
            bytes_[2 * static_cast<size_t>(i) + 1] = static_cast<uint8_t>(v >> 8);
        }
        if (std::fwrite(bytes_.data(), 1, bytes_.size(), out_) != bytes_.size()) {
            std::fprintf(stderr, "asf2yuv: cannot write the audio output\n");
            failed_ = true;
            return;
        }
        ++blocks_;
        samples_ += n;
    }

    std::FILE* out_;
    bool has_stream_ = false;
    // The demultiplexer's queries are const; decoding behind them changes
    // only what this tool keeps.
    mutable net::FrameQueue queue_;
    mutable media::G726Decoder decoder_;
    mutable std::vector<int16_t> pcm_;
    mutable std::vector<uint8_t> bytes_;
    mutable bool failed_ = false;
    mutable long blocks_ = 0;
    mutable long long samples_ = 0;
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
    std::string audio_path;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--no-deblock") {
            no_deblock = true;
        } else if (a == "--audio") {
            if (i + 1 >= argc) {
                args.clear();
                break;
            }
            audio_path = argv[++i];
        } else {
            args.push_back(a);
        }
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: asf2yuv [--no-deblock] [--audio OUT.s16le] IN.asf OUT.yuv\n");
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
    FileOwner audio_out{nullptr};
    if (!audio_path.empty()) {
        audio_out.f = std::fopen(audio_path.c_str(), "wb");
        if (audio_out.f == nullptr) {
            std::fprintf(stderr, "asf2yuv: cannot create %s\n", audio_path.c_str());
            return 1;
        }
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
    std::unique_ptr<PcmSink> audio;
    if (audio_out.f != nullptr) {
        audio = std::make_unique<PcmSink>(audio_out.f);
        sinks.audio = audio.get();
    }
    std::atomic<bool> stop{false}, muted{true};
    net::DemuxControl control{&stop, &muted};
    net::AsfDemux demux;
    (void)demux.run(source, sinks, buffers, control);  // always -1: the stream ended
    sink.drain();
    if (audio) audio->drain();
    if (demux.header_length() == 0) {
        std::fprintf(stderr, "asf2yuv: %s is not a camera stream\n", args[0].c_str());
        return 1;
    }
    // Frames before the first picture: those the demultiplexer passed over
    // before the first key frame, and those that failed to decode first.
    std::printf("width: %d\nheight: %d\nframes: %d\nskipped: %u\n", sink.width(), sink.height(), sink.frames(),
                demux.frames_before_first_key() + static_cast<unsigned>(sink.skipped()));
    if (audio) {
        if (!audio->has_stream()) {
            std::fprintf(stderr, "asf2yuv: %s has no audio stream\n", args[0].c_str());
            std::fclose(audio_out.f);
            audio_out.f = nullptr;
            std::remove(audio_path.c_str());
            return 1;
        }
        std::printf("audio_blocks: %ld\naudio_samples: %lld\n", audio->blocks(), audio->samples());
        if (audio->failed()) return 1;
    }
    return sink.failed() ? 1 : 0;
}
