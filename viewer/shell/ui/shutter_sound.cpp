#include "viewer/shell/ui/shutter_sound.h"

#include <QAudioDevice>
#include <QDir>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

#include <algorithm>

namespace ui {

ShutterSound::ShutterSound(const std::vector<std::uint8_t>& wav)
    : file_(QDir::tempPath() + QStringLiteral("/quorvan-shutter-XXXXXX.wav")) {
  // Without a sound server there is no default output: stay silent rather
  // than let the player complain on every snapshot.
  if (QMediaDevices::defaultAudioOutput().isNull()) return;
  effect_ = std::make_unique<QSoundEffect>();
  QObject::connect(effect_.get(), &QSoundEffect::statusChanged, effect_.get(), [this] {
    if (effect_->status() == QSoundEffect::Ready && play_when_ready_) start();
  });
  (void)load(wav.data(), wav.size());
}

ShutterSound::~ShutterSound() {
  if (effect_) effect_->stop();
}

bool ShutterSound::load(const std::uint8_t* wav, std::size_t size) {
  if (!effect_ || wav == nullptr || size == 0) return false;
  if (loaded_.size() == size && std::equal(loaded_.begin(), loaded_.end(), wav)) return true;
  // The player reads files only: the sound goes into a file of our own,
  // readable by this user alone, removed with this object.
  if (!file_.isOpen() && !file_.open()) return false;
  if (!file_.resize(0) || !file_.seek(0) ||
      file_.write(reinterpret_cast<const char*>(wav), static_cast<qint64>(size)) != static_cast<qint64>(size) ||
      !file_.flush()) {
    return false;
  }
  loaded_.assign(wav, wav + size);
  effect_->setSource(QUrl());
  effect_->setSource(QUrl::fromLocalFile(file_.fileName()));
  return true;
}

void ShutterSound::play_async(const std::uint8_t* wav, std::size_t size) {
  if (!load(wav, size)) return;
  // A sound still loading plays as soon as it is ready.
  if (effect_->status() == QSoundEffect::Ready)
    start();
  else
    play_when_ready_ = true;
}

void ShutterSound::start() {
  play_when_ready_ = false;
  effect_->stop();
  effect_->play();
  ++plays_;
}

}  // namespace ui
