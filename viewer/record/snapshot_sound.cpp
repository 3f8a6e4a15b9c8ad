// The shutter sound, made once from a few lines of arithmetic rather than
// stored as a recording.
#include "viewer/record/snapshot.h"

namespace record {

namespace {

constexpr std::uint32_t kRate = 8000;

void put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(static_cast<std::uint8_t>(x & 0xff));
  v.push_back(static_cast<std::uint8_t>((x >> 8) & 0xff));
}

void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  put16(v, x & 0xffff);
  put16(v, x >> 16);
}

std::vector<std::uint8_t> make_wav() {
  // Two clicks (noise under a falling envelope with a touch of 1 kHz tone),
  // then 300 ms of silence as padding.
  std::vector<std::int16_t> samples;
  std::uint32_t seed = 0x2545F491u;
  auto click = [&](int length, int peak) {
    for (int i = 0; i < length; ++i) {
      seed = seed * 1664525u + 1013904223u;  // LCG noise
      const int noise = static_cast<int>(seed >> 16) - 32768;
      const int tone = (i / 4) % 2 == 0 ? 16384 : -16384;  // 1 kHz square at 8 kHz
      const int envelope = peak * (length - i) / length;
      samples.push_back(static_cast<std::int16_t>(((noise * 3 + tone) / 4) * envelope / 32768));
    }
  };
  click(200, 26000);                                 // 25 ms
  samples.insert(samples.end(), 320, 0);             // 40 ms
  click(280, 20000);                                 // 35 ms
  samples.insert(samples.end(), kRate * 3 / 10, 0);  // 300 ms

  const std::uint32_t data_bytes = static_cast<std::uint32_t>(samples.size() * 2);
  std::vector<std::uint8_t> wav;
  wav.reserve(44 + data_bytes);
  for (char c : {'R', 'I', 'F', 'F'}) wav.push_back(static_cast<std::uint8_t>(c));
  put32(wav, 36 + data_bytes);
  for (char c : {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}) wav.push_back(static_cast<std::uint8_t>(c));
  put32(wav, 16);         // fmt chunk size
  put16(wav, 1);          // PCM
  put16(wav, 1);          // mono
  put32(wav, kRate);      // sample rate
  put32(wav, kRate * 2);  // byte rate
  put16(wav, 2);          // block align
  put16(wav, 16);         // bits per sample
  for (char c : {'d', 'a', 't', 'a'}) wav.push_back(static_cast<std::uint8_t>(c));
  put32(wav, data_bytes);
  for (std::int16_t s : samples) put16(wav, static_cast<std::uint16_t>(s));
  return wav;
}

}  // namespace

const std::vector<std::uint8_t>& snapshot_sound_wav() {
  static const std::vector<std::uint8_t> wav = make_wav();
  return wav;
}

}  // namespace record
