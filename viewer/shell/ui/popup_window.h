// The camera pop-up window: one channel's camera shown alone, at its native
// picture size or one size larger (stretched), with its own controls: play
// and stop (pause), record, snapshot, zoom into a selected area, mute and
// volume, the channel number, the size button and close.
//
// A thin skin like the main window: its geometry and arithmetic live in
// popup_layout.h; what the buttons do is the core's (recording, snapshots,
// who is audible). While a window shows a camera, the camera's picture
// rectangle is the window's picture area, so its pictures are made for this
// window and the main window's cell shows that the camera is viewed here.
//
// PopupWindows (popup_windows.h) owns the eight windows and creates and
// destroys them. User-interface thread only.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "viewer/shell/skin/skinned.h"

namespace media {
struct Picture;
}
namespace model {
class Camera;
}

namespace ui {

class PopupWindows;

// How the mute button looks: the stream has no sound, muted, sound on.
enum class MuteLook { NoSound, Muted, SoundOn };

// The zoom selection: none yet, being dragged, applied (no new selection
// until zoom mode is turned off and on again).
enum class ZoomSelection { None, Dragging, Applied };

class PopupWindow final : public skin::Skinned<QWidget> {
 public:
  // The window of one channel (1 to 8); hidden until show_camera().
  PopupWindow(PopupWindows& host, int channel);
  ~PopupWindow() override;
  PopupWindow(const PopupWindow&) = delete;
  PopupWindow& operator=(const PopupWindow&) = delete;

  int channel() const { return channel_; }
  // The camera shown, or nullptr once the window has let it go.
  model::Camera* camera() const { return camera_; }

  // Shows the camera: title, native size from its picture width, picture
  // rectangle, controls from its state; centred, shown and activated.
  void show_camera(model::Camera& camera);
  // Lets the camera go (its pictures are no longer made for this window)
  // and returns it; nullptr when it showed none. The window stays as it is.
  model::Camera* release_camera();

  int size_index() const { return size_; }
  int native_size() const { return native_size_; }
  bool zoom_mode() const { return zoom_mode_; }
  ZoomSelection zoom_selection() const { return selection_; }
  // The selection as drawn now (empty when there is none).
  QRect selection_rect() const;
  int thumb_left() const { return thumb_left_; }
  MuteLook mute_look() const { return mute_look_; }
  bool recording_shown() const { return recording_shown_; }
  // The greyed "reconnecting" look of a camera whose connection is down.
  bool reconnecting_shown() const { return reconnecting_; }

  // The buttons' actions, as a click on them does them.
  void play();
  void stop();
  void record();
  void snapshot();
  void toggle_zoom();
  void toggle_mute();
  void change_size();
  // Another camera became the only audible one: this one is muted.
  void muted_from_outside();

  // The main window's picture refresh (every 50 ms): repaints the picture
  // when the camera has a new one, and the controls whose state changed.
  void refresh();

  skin::Tip tip_at(const QPoint& p) const override;
  Qt::CursorShape cursor_at(const QPoint& p) const override;

 protected:
  void render_artwork(qreal dpr) override;
  void paint_skin(QPainter& painter, const QRect& dirty) override;
  bool is_client(const QPoint& p) const override;
  void client_press(const QPoint& p) override;
  void client_move(const QPoint& p, Qt::MouseButtons buttons) override;
  void client_release(const QPoint& p) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void make_buttons();
  // Size index 0 to 2: window size and shape, picture rectangle, controls,
  // thumb; centred on the desktop.
  void apply_size(int size);
  void place_controls();
  // Brings the controls' looks up to the camera's state; repaints what
  // changed (everything when force).
  void sync_looks(bool force);
  void set_thumb_left(int left);
  // The volume from the thumb applied to the camera (silent while muted).
  void apply_volume_from_thumb();
  void end_zoom();
  void cancel_selection();
  void paint_picture(QPainter& painter);
  QRect thumb_rect() const;

  PopupWindows& host_;
  const int channel_;
  model::Camera* camera_ = nullptr;
  int size_ = 0;
  int native_size_ = 0;

  bool zoom_mode_ = false;
  ZoomSelection selection_ = ZoomSelection::None;
  QPoint selection_from_, selection_to_;

  int thumb_left_ = 0;
  bool thumb_dragging_ = false;
  int thumb_grab_ = 0;

  // What the controls show now.
  MuteLook mute_look_ = MuteLook::Muted;
  bool recording_shown_ = false;
  bool reconnecting_ = false;
  std::uint64_t drawn_sequence_ = 0;
  // The greyed copy of the last picture of a reconnecting camera.
  std::unique_ptr<media::Picture> grey_;
  std::uint64_t grey_sequence_ = 0;
  // The picture scaled to the window, reused between repaints.
  QImage scaled_;

  skin::SkinButton* record_ = nullptr;
  skin::SkinButton* play_ = nullptr;
  skin::SkinButton* stop_ = nullptr;
  skin::SkinButton* snapshot_ = nullptr;
  skin::SkinButton* zoom_ = nullptr;
  skin::SkinButton* mute_ = nullptr;
  skin::SkinButton* size_button_ = nullptr;
  skin::SkinButton* close_ = nullptr;

  // Artwork at the window's device pixel ratio.
  QImage frame_;
  QImage thumb_;
  skin::ButtonStrip mute_strip_;
  skin::ButtonStrip no_sound_strip_;

  // Redraws "Recording...." and the looks once a second.
  QTimer second_timer_;
};

}  // namespace ui
