// The snapshot's shutter sound on the speakers, through Qt Multimedia's
// sound effect player: the WAV the snapshot hands over is written once to a
// private temporary file, loaded ahead of the first snapshot, and played
// without waiting. Where the machine has no audio output (no sound server)
// nothing is played and nothing fails.
//
// User-interface thread (snapshots are taken there). Destroy it before the
// application object: it holds an audio output.
#pragma once

#include <QTemporaryFile>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "viewer/record/snapshot.h"

class QSoundEffect;

namespace ui {

class ShutterSound final : public record::SoundPlayer {
 public:
  // Loads wav (normally record::snapshot_sound_wav()) ahead of its first use.
  explicit ShutterSound(const std::vector<std::uint8_t>& wav = record::snapshot_sound_wav());
  ~ShutterSound() override;
  ShutterSound(const ShutterSound&) = delete;
  ShutterSound& operator=(const ShutterSound&) = delete;

  // record::SoundPlayer: plays the WAV (a different one replaces the loaded
  // sound first). Returns at once.
  void play_async(const std::uint8_t* wav, std::size_t size) override;

  // Whether there is an audio output to play on.
  bool has_output() const { return effect_ != nullptr; }
  // How many times a sound was started on the output (tests).
  int plays() const { return plays_; }

 private:
  bool load(const std::uint8_t* wav, std::size_t size);
  void start();

  std::vector<std::uint8_t> loaded_;
  QTemporaryFile file_;
  std::unique_ptr<QSoundEffect> effect_;
  bool play_when_ready_ = false;
  int plays_ = 0;
};

}  // namespace ui
