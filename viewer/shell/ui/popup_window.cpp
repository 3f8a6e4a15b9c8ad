#include "viewer/shell/ui/popup_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>

#include "viewer/media/video_pipeline.h"
#include "viewer/record/recording_camera.h"
#include "viewer/shell/model/camera.h"
#include "viewer/shell/model/viewer_core.h"
#include "viewer/shell/skin/fonts.h"
#include "viewer/shell/skin/palette.h"
#include "viewer/shell/ui/picture_painter.h"
#include "viewer/shell/ui/popup_layout.h"
#include "viewer/shell/ui/popup_windows.h"

namespace ui {
namespace {

namespace P = popup_layout;

// Outside the window's shape in every frame picture.
const QColor kFrameKey(30, 0, 40);
// The volume track left of the thumb.
const QColor kVolumeFill(0, 255, 0);
constexpr int kSecondMs = 1000;
constexpr const char* kRecordingText = "Recording....";

QString frame_name(int size) { return QStringLiteral("popup_frame_%1").arg(size); }

model::Rect to_model(const QRect& r) { return {r.left(), r.top(), r.right() + 1, r.bottom() + 1}; }

// The largest skin font, at most 13 pixels high, in which "Recording...."
// fits its rectangle.
QFont recording_font(int width) {
  for (int height = 13; height > 8; --height) {
    const QFont f = skin::font(height, 700);
    if (QFontMetrics(f).horizontalAdvance(QLatin1String(kRecordingText)) <= width) return f;
  }
  return skin::font(9, 700);
}

// A picture of a camera whose connection is down: the same picture in
// darkened grey, so that it cannot be taken for a live one.
void make_grey(const media::Picture& from, media::Picture& out) {
  out.width = from.width;
  out.height = from.height;
  out.rgb.resize(from.rgb.size());
  for (std::size_t i = 0; i + 2 < from.rgb.size(); i += 3) {
    const int b = from.rgb[i], g = from.rgb[i + 1], r = from.rgb[i + 2];
    const auto y = static_cast<std::uint8_t>(((r * 77 + g * 150 + b * 29) >> 8) * 3 / 5);
    out.rgb[i] = out.rgb[i + 1] = out.rgb[i + 2] = y;
  }
}

}  // namespace

PopupWindow::PopupWindow(PopupWindows& host, int channel) : host_(host), channel_(channel) {
  setObjectName(QStringLiteral("child_cam_wnd"));
  // Closing a pop-up never ends the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  make_buttons();
  second_timer_.setInterval(kSecondMs);
  connect(&second_timer_, &QTimer::timeout, this, [this] {
    update(P::geometry(size_).recording_text);
    sync_looks(false);
  });
}

PopupWindow::~PopupWindow() { (void)release_camera(); }

void PopupWindow::make_buttons() {
  const P::Geometry& g = P::geometry(size_);
  record_ = &add_button({QStringLiteral("popup_record"), g.record.size(), 6, true}, g.record, QStringLiteral("Record"),
                        [this] { record(); });
  play_ = &add_button({QStringLiteral("popup_play"), g.play.size(), 6, false}, g.play, QStringLiteral("Play"),
                      [this] { play(); });
  stop_ = &add_button({QStringLiteral("popup_stop"), g.stop.size(), 6, false}, g.stop, QStringLiteral("Stop"),
                      [this] { stop(); });
  snapshot_ = &add_button({QStringLiteral("popup_snapshot"), g.snapshot.size(), 3, false}, g.snapshot,
                          QStringLiteral("Take snapshot"), [this] { snapshot(); });
  zoom_ = &add_button({QStringLiteral("popup_zoom"), g.zoom.size(), 6, false}, g.zoom,
                      QStringLiteral("Zoom selected area"), [this] { toggle_zoom(); });
  // Three looks: its strip is swapped (no sound) besides the "on" set.
  mute_ = &add_button(skin::StripSource{}, g.mute, QStringLiteral("Mute option"), [this] { toggle_mute(); });
  size_button_ = &add_button({QStringLiteral("popup_size"), g.size_button.size(), 6, false}, g.size_button, QString(),
                             [this] { change_size(); });
  close_ = &add_button({QStringLiteral("button_exit"), g.close.size(), 3, false}, g.close, QStringLiteral("Minimize"),
                       [this] { close(); });
  const qreal dpr = current_ratio();
  mute_strip_ = skin::drawn_strip(QStringLiteral("popup_mute"), g.mute.size(), 6, dpr);
  no_sound_strip_ = skin::drawn_strip(QStringLiteral("popup_mute_none"), g.mute.size(), 3, dpr);
  mute_->set_strip(mute_strip_);
}

void PopupWindow::show_camera(model::Camera& camera) {
  if (camera_ != &camera) (void)release_camera();
  camera_ = &camera;
  setWindowTitle(QString::fromStdString(camera.name()));
  native_size_ = P::size_for_width(camera.picture_width());
  // Zoom mode starts off; a source area the camera kept from an earlier
  // window stays until zoom is turned off.
  zoom_mode_ = false;
  selection_ = ZoomSelection::None;
  thumb_dragging_ = false;
  drawn_sequence_ = 0;
  apply_size(native_size_);
  second_timer_.start();
  show();
  raise();
  activateWindow();
}

model::Camera* PopupWindow::release_camera() {
  model::Camera* camera = std::exchange(camera_, nullptr);
  second_timer_.stop();
  // Nothing is drawn for this window any more; the main window places the
  // picture where it belongs.
  if (camera) camera->set_picture_rect(model::kOffWindowRect);
  return camera;
}

void PopupWindow::apply_size(int size) {
  size_ = std::clamp(size, 0, P::kSizeCount - 1);
  const P::Geometry& g = P::geometry(size_);
  setFixedSize(g.window);
  setMask(skin::region_without(skin::render(frame_name(size_), g.window, 1), kFrameKey));
  frame_ = skin::render(frame_name(size_), g.window, current_ratio());
  place_controls();
  cancel_selection();
  if (camera_) {
    camera_->set_picture_rect(to_model(g.picture), current_ratio());
    thumb_left_ = P::thumb_left_for_volume(size_, camera_->volume());
  }
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (screen) move(screen->availableGeometry().center() - rect().center());
  sync_looks(true);
  update();
}

void PopupWindow::place_controls() {
  const P::Geometry& g = P::geometry(size_);
  record_->set_rect(g.record);
  play_->set_rect(g.play);
  stop_->set_rect(g.stop);
  snapshot_->set_rect(g.snapshot);
  zoom_->set_rect(g.zoom);
  mute_->set_rect(g.mute);
  size_button_->set_rect(g.size_button);
  close_->set_rect(g.close);
}

// --- the buttons ---

void PopupWindow::play() {
  if (!camera_) return;
  if (camera_->connection_state() == model::kStatePaused) {
    camera_->resume_stream();
    camera_->set_output_volume(camera_->muted() ? model::kSilentVolume : camera_->volume());
  }
  sync_looks(false);
}

void PopupWindow::stop() {
  if (!camera_) return;
  record::CameraRecording& rec = camera_->recording();
  if (camera_->recording_indicator() || rec.manual_request.load()) {
    // Stop ends whatever records the camera. A schedule or motion file is
    // ended as the list's recording mark ends it (the window's entry is
    // cancelled until it is over); clearing only the flag would leave the
    // file being written while the window says it stopped.
    if (camera_->writer_open(record::kScheduleWriter) || camera_->writer_open(record::kMotionWriter) ||
        rec.motion_recording.load()) {
      rec.stop_all();
    } else {
      host_.core().stop_recording(*camera_);
    }
    host_.redraw_main();
  } else if (camera_->connection_state() == model::kStatePlaying) {
    // The picture and the sound pause; the connection and any recording go on.
    camera_->pause();
    camera_->set_output_volume(model::kSilentVolume);
  }
  sync_looks(false);
}

void PopupWindow::record() {
  if (!camera_) return;
  // Refused with a message while a schedule or motion window is current.
  (void)host_.core().record_action(*camera_);
  // The message box may have closed this window meanwhile.
  if (!camera_) return;
  host_.redraw_main();
  sync_looks(false);
}

void PopupWindow::snapshot() {
  if (!camera_) return;
  (void)host_.core().take_snapshot(*camera_);
}

void PopupWindow::toggle_zoom() {
  // Zooming selects pixels of the picture as it comes: only at its own size.
  if (!camera_ || size_ != native_size_) return;
  if (zoom_mode_) {
    end_zoom();
  } else {
    zoom_mode_ = true;
    selection_ = ZoomSelection::None;
  }
  sync_looks(false);
}

void PopupWindow::end_zoom() {
  zoom_mode_ = false;
  cancel_selection();
  if (camera_) camera_->set_source_area({});
  update(P::geometry(size_).picture);
}

void PopupWindow::toggle_mute() {
  if (!camera_) return;
  if (camera_->muted()) {
    // Every other camera on a channel is muted (through its own pop-up
    // window when it has one); then this one sounds at the thumb's volume.
    host_.core().cameras().make_only_audible(*camera_, true);
    apply_volume_from_thumb();
  } else {
    camera_->set_muted(true);
    camera_->set_output_volume(model::kSilentVolume);
  }
  host_.redraw_main();
  host_.user_changed();
  sync_looks(false);
}

void PopupWindow::muted_from_outside() {
  if (!camera_) return;
  camera_->set_muted(true);
  camera_->set_output_volume(model::kSilentVolume);
  sync_looks(false);
}

void PopupWindow::change_size() {
  if (!camera_ || native_size_ == P::kSizeCount - 1) return;
  if (size_ != native_size_) {
    apply_size(native_size_);
    return;
  }
  if (zoom_mode_) end_zoom();
  apply_size(native_size_ + 1);
}

void PopupWindow::set_thumb_left(int left) {
  const int clamped = P::clamp_thumb_left(size_, left);
  if (clamped == thumb_left_) return;
  update(P::volume_area(size_));
  thumb_left_ = clamped;
}

void PopupWindow::apply_volume_from_thumb() {
  if (!camera_) return;
  // A thumb still where the camera's volume put it means that volume
  // itself: reading it back through the pixels would lose a little of it
  // each time.
  if (thumb_left_ != P::thumb_left_for_volume(size_, camera_->volume())) {
    camera_->set_volume(P::volume_for_thumb(size_, thumb_left_));
  }
  camera_->set_output_volume(camera_->muted() ? model::kSilentVolume : camera_->volume());
}

// --- refresh and looks ---

void PopupWindow::refresh() {
  if (!camera_) return;
  const std::uint64_t sequence = camera_->picture_sequence();
  if (sequence != drawn_sequence_) {
    drawn_sequence_ = sequence;
    update(P::geometry(size_).picture);
  }
  sync_looks(false);
}

void PopupWindow::sync_looks(bool force) {
  if (!camera_) return;
  auto set_on = [&](skin::SkinButton* b, bool on) {
    if (force || b->on() != on) {
      b->set_on(on);
      update_button(*b);
    }
  };
  const bool playing = camera_->connection_state() == model::kStatePlaying;
  set_on(record_, camera_->recording_indicator());
  set_on(play_, playing);
  set_on(stop_, !playing);
  set_on(zoom_, zoom_mode_);
  set_on(size_button_, size_ != native_size_);

  const MuteLook look = !camera_->has_audio() ? MuteLook::NoSound
                        : camera_->muted()    ? MuteLook::Muted
                                              : MuteLook::SoundOn;
  if (force || look != mute_look_) {
    mute_look_ = look;
    mute_->set_strip(look == MuteLook::NoSound ? no_sound_strip_ : mute_strip_);
    mute_->set_on(look == MuteLook::SoundOn);
    update_button(*mute_);
  }
  const bool recording = camera_->recording_indicator();
  if (force || recording != recording_shown_) {
    recording_shown_ = recording;
    update(P::geometry(size_).recording_text);
  }
  // Running but not connected: the stream is reconnecting.
  const bool reconnecting = camera_->running() && camera_->connected() == 0;
  if (force || reconnecting != reconnecting_) {
    reconnecting_ = reconnecting;
    update(P::geometry(size_).picture);
  }
}

// --- the mouse ---

bool PopupWindow::is_client(const QPoint& p) const { return P::is_client(size_, p); }

skin::Tip PopupWindow::tip_at(const QPoint& p) const {
  if (skin::SkinButton* b = button_at(p)) {
    if (!b->tool_tip().isEmpty()) return {b->tool_tip(), b->rect()};
    return {};
  }
  if (P::volume_area(size_).contains(p)) return {QStringLiteral("Volume"), P::volume_area(size_)};
  return {};
}

Qt::CursorShape PopupWindow::cursor_at(const QPoint& p) const {
  if (zoom_mode_ && selection_ != ZoomSelection::Applied && P::geometry(size_).picture.contains(p)) {
    return Qt::CrossCursor;
  }
  if (!button_at(p) && P::volume_area(size_).contains(p)) return Qt::PointingHandCursor;
  return skin::Skinned<QWidget>::cursor_at(p);
}

void PopupWindow::client_press(const QPoint& p) {
  if (!camera_) return;
  const P::Geometry& g = P::geometry(size_);
  if (P::volume_area(size_).contains(p)) {
    // Grabbed where it was pressed, or, on the track beside it, by its middle.
    thumb_dragging_ = true;
    const QRect thumb = thumb_rect();
    thumb_grab_ = thumb.contains(p) ? p.x() - thumb_left_ : P::kThumb.width() / 2;
    set_thumb_left(p.x() - thumb_grab_);
    apply_volume_from_thumb();
    return;
  }
  if (zoom_mode_ && selection_ == ZoomSelection::None && g.picture.contains(p)) {
    selection_ = ZoomSelection::Dragging;
    selection_from_ = selection_to_ = p;
  }
}

void PopupWindow::client_move(const QPoint& p, Qt::MouseButtons buttons) {
  if (thumb_dragging_) {
    if (buttons & Qt::LeftButton) {
      set_thumb_left(p.x() - thumb_grab_);
      apply_volume_from_thumb();
    }
    return;
  }
  if (selection_ != ZoomSelection::Dragging) return;
  // Leaving the picture gives the selection up.
  if (!P::geometry(size_).picture.contains(p) || !(buttons & Qt::LeftButton)) {
    cancel_selection();
    return;
  }
  update(selection_rect().adjusted(-1, -1, 1, 1));
  selection_to_ = p;
  update(selection_rect().adjusted(-1, -1, 1, 1));
}

void PopupWindow::client_release(const QPoint& p) {
  if (thumb_dragging_) {
    thumb_dragging_ = false;
    host_.user_changed();
    return;
  }
  if (selection_ != ZoomSelection::Dragging || !camera_) return;
  const P::Geometry& g = P::geometry(size_);
  if (!g.picture.contains(p)) {
    cancel_selection();
    return;
  }
  selection_to_ = p;
  const std::shared_ptr<const media::Picture> picture = camera_->picture();
  // The zoom area is in the decoded picture's coordinates, whatever size
  // the presented picture was converted at.
  const QSize picture_size =
      picture ? QSize(picture->width * picture->scale, picture->height * picture->scale) : g.picture.size();
  const model::Rect area = P::zoom_area(size_, selection_from_, selection_to_, picture_size);
  update(g.picture);
  camera_->set_source_area(area);
  // A click without a drag selects nothing: the whole picture stays, and a
  // real selection may still be made.
  selection_ = area.width() > 0 ? ZoomSelection::Applied : ZoomSelection::None;
}

void PopupWindow::cancel_selection() {
  if (selection_ != ZoomSelection::Dragging) return;
  update(selection_rect().adjusted(-1, -1, 1, 1));
  selection_ = ZoomSelection::None;
}

QRect PopupWindow::selection_rect() const {
  if (selection_ != ZoomSelection::Dragging) return {};
  return P::selection_rect(size_, selection_from_, selection_to_);
}

QRect PopupWindow::thumb_rect() const { return P::thumb_rect(size_, thumb_left_); }

void PopupWindow::closeEvent(QCloseEvent* event) {
  thumb_dragging_ = false;
  event->accept();
  host_.closed(*this);
}

// --- painting ---

void PopupWindow::render_artwork(qreal dpr) {
  frame_ = skin::render(frame_name(size_), P::geometry(size_).window, dpr);
  thumb_ = skin::render(QStringLiteral("popup_thumb"), P::kThumb, dpr);
  mute_strip_ = skin::drawn_strip(QStringLiteral("popup_mute"), mute_->rect().size(), 6, dpr);
  no_sound_strip_ = skin::drawn_strip(QStringLiteral("popup_mute_none"), mute_->rect().size(), 3, dpr);
  mute_->set_strip(mute_look_ == MuteLook::NoSound ? no_sound_strip_ : mute_strip_);
}

void PopupWindow::paint_skin(QPainter& painter, const QRect& dirty) {
  const P::Geometry& g = P::geometry(size_);
  painter.drawImage(QPoint(0, 0), frame_);

  // The camera's name beside the lens of the header.
  const QRect name(g.picture.left() + 14, 6, g.close.left() - g.picture.left() - 22, 16);
  if (dirty.intersects(name) && camera_) {
    painter.setFont(skin::font(12, 700));
    painter.setPen(skin::kText);
    const QString text = QFontMetrics(painter.font()).elidedText(windowTitle(), Qt::ElideRight, name.width());
    painter.drawText(name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
  }
  if (dirty.intersects(g.picture)) paint_picture(painter);
  paint_buttons(painter, dirty);

  painter.setFont(skin::font(14, 500));
  painter.setPen(skin::kTextBright);
  painter.drawText(g.channel_box.translated(0, 3), Qt::AlignCenter, QString::number(channel_));

  if (recording_shown_ && dirty.intersects(g.recording_text)) {
    painter.setFont(recording_font(g.recording_text.width()));
    painter.setPen(skin::kRecordRed);
    painter.drawText(g.recording_text, Qt::AlignCenter | Qt::TextSingleLine, QLatin1String(kRecordingText));
  }

  if (dirty.intersects(P::volume_area(size_))) {
    if (thumb_left_ > g.track.left()) {
      painter.fillRect(QRect(g.track.left(), g.track.top(), thumb_left_ - g.track.left(), g.track.height()),
                       kVolumeFill);
    }
    painter.drawImage(thumb_rect().topLeft(), thumb_);
  }
}

void PopupWindow::paint_picture(QPainter& painter) {
  const QRect target = P::geometry(size_).picture;
  painter.save();
  painter.setClipRect(target, Qt::IntersectClip);
  std::shared_ptr<const media::Picture> picture = camera_ ? camera_->picture() : nullptr;
  if (picture) {
    if (reconnecting_) {
      // The last picture stays, held by our reference, greyed while the
      // stream reconnects (made once per picture).
      if (!grey_ || grey_sequence_ != picture->sequence) {
        if (!grey_) grey_ = std::make_unique<media::Picture>();
        make_grey(*picture, *grey_);
        grey_sequence_ = picture->sequence;
      }
      draw_picture(painter, *grey_, camera_->source_area(), target, &scaled_);
    } else {
      draw_picture(painter, *picture, camera_->source_area(), target, &scaled_);
    }
  }
  if (!picture || reconnecting_) {
    painter.setFont(skin::font(11, 700));
    painter.setPen(skin::kTextDim);
    painter.drawText(target, Qt::AlignCenter,
                     reconnecting_ ? QStringLiteral("RECONNECTING") : QStringLiteral("CONNECTING"));
  }
  const QRect selection = selection_rect();
  if (!selection.isEmpty()) {
    // The focus rectangle of the selection being dragged.
    QPen pen(skin::kAccent);
    pen.setStyle(Qt::DashLine);
    pen.setWidth(1);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(selection.adjusted(0, 0, -1, -1));
  }
  painter.restore();
}

}  // namespace ui
