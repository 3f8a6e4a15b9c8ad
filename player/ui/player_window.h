// The player's window: the picture, a position bar that seeks, play/pause,
// step, speed, snapshot and the time, over the engine that does the work.
// It only turns clicks and keys into engine calls and paints what the engine
// shows; the engine's threads reach it by posting to the window's thread.
#pragma once

#include <QString>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "player/engine/engine.h"
#include "player/ui/window_layout.h"

class QLabel;
class QPushButton;

namespace player::ui {

class VideoView;
class PositionBar;

class PlayerWindow final : public QWidget, private EngineListener {
 public:
  // program_folder: where the viewer's "param.dat" is looked for (snapshot
  // folder and quality). options: the engine's (tests turn sound off or
  // start paused).
  explicit PlayerWindow(std::string program_folder, EngineOptions options = {});
  ~PlayerWindow() override;  // stops the engine before any widget goes

  // Opens and starts playing a recording. When it cannot be played, shows
  // why in a modal message box and returns false. UI thread, once.
  bool open(const QString& path);

  Engine& engine() { return *engine_; }
  const WindowLayout& layout() const { return layout_; }
  QString status_text() const;

  // What the buttons do (also reached by keys).
  void toggle_play();
  void step();
  void next_speed();
  void take_snapshot();
  void seek_to_bar_x(int x);

 protected:
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void picture_presented(const PresentedPicture& picture) override;
  void status_changed() override;
  void post_refresh();
  void refresh();
  void place_controls();

  const std::string program_folder_;
  std::unique_ptr<Engine> engine_;
  WindowLayout layout_;
  VideoView* video_ = nullptr;
  PositionBar* bar_ = nullptr;
  QPushButton* play_ = nullptr;
  QPushButton* step_ = nullptr;
  QPushButton* speed_ = nullptr;
  QPushButton* snapshot_ = nullptr;
  QLabel* time_ = nullptr;
  QLabel* status_ = nullptr;
  std::atomic<bool> refresh_posted_{false};
  bool told_no_picture_ = false;
};

}  // namespace player::ui
