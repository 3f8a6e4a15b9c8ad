#include "viewer/shell/ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QThread>
#include <QUrl>

#include <ctime>

#include "viewer/platform/ui_seams.h"
#include "viewer/shell/model/camera.h"
#include "viewer/shell/skin/fonts.h"
#include "viewer/shell/skin/palette.h"
#include "viewer/shell/ui/about_dialog.h"
#include "viewer/shell/ui/main_layout.h"
#include "viewer/shell/ui/picture_painter.h"

namespace ui {
namespace {

namespace L = layout;

constexpr int kClockMs = 1000;
constexpr int kTrayMs = 500;
constexpr int kRefreshMs = 50;
constexpr int kTrayFrames = 4;
constexpr const char* kCantAdd = "can't add anymore!";

QString qs(const std::string& s) { return QString::fromStdString(s); }

QRect to_qrect(const model::Rect& r) { return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)); }

// The recording mark: red, or the schedule's yellow as the "on" set, each
// normal, hover, pressed.
skin::ButtonStrip mark_strip(qreal dpr) {
  const QSize cell = L::row_mark(0).size();
  QImage image(QSize(cell.width() * 6, cell.height()) * dpr, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(dpr);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 6; ++i) {
    const QColor base = i < 3 ? skin::kRecordRed : skin::kScheduleYellow;
    const QColor c = i % 3 == 1 ? base.lighter(118) : i % 3 == 2 ? base.darker(125) : base;
    p.setBrush(c);
    p.drawRoundedRect(QRectF(i * cell.width() + 0.5, 0.5, cell.width() - 1, cell.height() - 1), 3, 3);
  }
  p.end();
  return skin::ButtonStrip(image, cell, 6);
}

QIcon program_icon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128}) {
    icon.addPixmap(QPixmap::fromImage(skin::render(QStringLiteral("app_icon"), QSize(size, size), 1)));
  }
  return icon;
}

}  // namespace

MainWindow::MainWindow(MainWindowOptions options)
    : options_(std::move(options)),
      popups_(options_.popups ? options_.popups : &default_popups_),
      dialogs_(options_.dialogs ? options_.dialogs : &default_dialogs_),
      thumb_top_(L::thumb_top_for(1)) {
  setWindowTitle(QLatin1String(kWindowTitle));
  setWindowIcon(program_icon());
  set_rounded_shape(L::kWindowSize, L::kCorner, L::kCorner);

  model::ViewerCoreOptions core_options = options_.core;
  core_options.hooks = this;
  core_options.cells = L::cell_rects();
  core_ = std::make_unique<model::ViewerCore>(core_options);
  // A drop never holds the window: the camera's picture comes when its
  // stream runs, and every other camera goes on playing meanwhile.
  cameras().set_drop_wait_ms(0);
  // Pictures are converted no larger than the cells draw them on this
  // screen.
  cameras().set_device_scale(current_ratio());
  make_buttons();

  clock_timer_.setInterval(kClockMs);
  tray_timer_.setInterval(kTrayMs);
  refresh_timer_.setInterval(kRefreshMs);
  connect(&clock_timer_, &QTimer::timeout, this, [this] { tick_clock(); });
  connect(&tray_timer_, &QTimer::timeout, this, [this] { tick_tray(); });
  connect(&refresh_timer_, &QTimer::timeout, this, [this] { refresh(); });
  menu_delay_.setSingleShot(true);
  connect(&menu_delay_, &QTimer::timeout, this, [this] {
    if (!menu_) return;
    const QPoint at = QCursor::pos();
    menu_->popup(at - QPoint(menu_->sizeHint().width() / 2, 0));
  });
}

MainWindow::~MainWindow() {
  shutdown();
  // The cameras go before the window: their threads are joined by now.
  core_.reset();
}

void MainWindow::make_buttons() {
  for (int id = 0; id < L::kPanelButtons; ++id) {
    const L::PanelButton& b = L::kButtons[id];
    add_button({QLatin1String(b.art), b.rect.size(), 3, false}, b.rect, QLatin1String(b.tip),
               [this, id] { panel_button(id); });
  }
  list_up_ = &add_button({QStringLiteral("list_up"), L::kListUp.size(), 3, false}, L::kListUp, QString(),
                         [this] { cameras().page_up(); });
  list_down_ = &add_button({QStringLiteral("list_down"), L::kListDown.size(), 3, false}, L::kListDown, QString(),
                           [this] { cameras().page_down(); });
  const skin::ButtonStrip marks = mark_strip(current_ratio());
  for (int k = 0; k < model::kRowsPerPage; ++k) {
    RowButtons& r = row_buttons_[k];
    auto control = [this, k](model::ListControl c) {
      return [this, k, c] {
        cameras().click(cameras().position_of_row(k), c);
        user_changed();
        update(L::kListRedraw);
      };
    };
    r.audio = &add_button({QStringLiteral("toggle_audio"), L::row_audio(k).size(), 6, false}, L::row_audio(k),
                          QString(), control(model::ListControl::AudioToggle));
    r.video = &add_button({QStringLiteral("toggle_video"), L::row_video(k).size(), 6, false}, L::row_video(k),
                          QString(), control(model::ListControl::VideoToggle));
    r.mark = &add_button(skin::StripSource{}, L::row_mark(k), QLatin1String(L::kMarkTip),
                         control(model::ListControl::RecordingMark));
    r.mark->set_strip(marks);
    for (skin::SkinButton* b : {r.mark, r.audio, r.video}) b->set_visible(false);
  }
  list_up_->set_visible(false);
  list_down_->set_visible(false);
}

bool MainWindow::create(const std::string& program_folder) {
  if (created_ || shut_down_) return false;
  if (core_->start(program_folder) != 1) return false;
  created_ = true;
  // Placed at its size, then centred on the desktop's work area.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  sync_rows();
  status_ = count_status();
  show();
  make_tray();
  clock_timer_.start();
  tray_timer_.start();
  refresh_timer_.start();
  return true;
}

void MainWindow::make_tray() {
  menu_ = std::make_unique<QMenu>();
  // The house palette (docs/skin.md), also where the desktop's style differs.
  menu_->setStyleSheet(
      QStringLiteral("QMenu { background: #1c232b; color: #d6dee6; border: 1px solid #4a5867; padding: 4px; }"
                     "QMenu::item { padding: 4px 28px 4px 16px; }"
                     "QMenu::item:selected { background: #1f6f87; color: #ffffff; }"));
  menu_->setFont(skin::font(15, 400));
  connect(menu_->addAction(QStringLiteral("Viewer")), &QAction::triggered, this, [this] { show_from_tray(); });
  connect(menu_->addAction(QStringLiteral("About")), &QAction::triggered, this, [this] { show_about(); });
  connect(menu_->addAction(QStringLiteral("Exit")), &QAction::triggered, this, [this] { request_exit(); });
  tray_ = new QSystemTrayIcon(windowIcon(), this);
  tray_->setToolTip(QLatin1String(kTrayTip));
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
      case QSystemTrayIcon::Trigger:
        // A single click opens the menu, unless it turns out to be the first
        // half of a double click.
        menu_delay_.start(QApplication::doubleClickInterval());
        break;
      case QSystemTrayIcon::Context:
        menu_delay_.start(0);
        break;
      case QSystemTrayIcon::DoubleClick:
        menu_delay_.stop();
        show_from_tray();
        break;
      default:
        break;
    }
  });
  // Without a tray host this shows nothing; the window then stays reachable
  // (Minimize minimizes, the same menu opens on a right click).
  tray_->show();
}

int MainWindow::shutdown() {
  if (shut_down_) return save_result_;
  shut_down_ = true;
  popups_->close_all();
  clock_timer_.stop();
  tray_timer_.stop();
  refresh_timer_.stop();
  menu_delay_.stop();
  if (QWidget::mouseGrabber() == this) releaseMouse();
  // Loops joined, "param.dat" saved, cameras stopped (their recordings end
  // on whole packets), colour tables and the sound device released.
  save_result_ = core_->shutdown();
  if (tray_) {
    tray_->hide();
    delete tray_;
    tray_ = nullptr;
  }
  if (menu_) menu_->close();
  return save_result_;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  shutdown();
  event->accept();
  QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  // The tray's menu, also where there is no tray.
  if (menu_) menu_->popup(event->globalPos());
}

void MainWindow::handle_message(std::uint32_t msg, std::uintptr_t, std::uintptr_t lparam) {
  if (shut_down_) return;
  if (msg == platform::kMsgCameraRefused) {
    (void)core_->camera_refused(lparam);
    update(L::kListRedraw);
  }
}

// --- the user's actions ---

void MainWindow::show_from_tray() {
  showNormal();
  raise();
  activateWindow();
  update();
}

void MainWindow::minimize() {
  // Hidden, it comes back only through the tray: without a tray host it is
  // minimized instead, or it could never come back.
  if (tray_ && tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable())
    hide();
  else
    showMinimized();
}

void MainWindow::show_about() {
  AboutDialog about(this);
  about.exec();
  update();
}

QString MainWindow::help_file() const {
  if (!options_.help_file.empty()) return qs(options_.help_file);
  const QString dir = QCoreApplication::applicationDirPath();
  for (const QString& candidate :
       {dir + QStringLiteral("/help/index.html"), dir + QStringLiteral("/../share/quorvan-viewer/help/index.html")}) {
    if (QFileInfo::exists(candidate)) return QFileInfo(candidate).canonicalFilePath();
  }
  return dir + QStringLiteral("/help/index.html");
}

void MainWindow::open_help() {
  const QString file = help_file();
  if (!QFileInfo::exists(file)) {
    (void)platform::ask("Can't find the help file!", "", platform::MsgButtons::Ok);
    return;
  }
  // The desktop's own handler, started without waiting for it.
  const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (opener.isEmpty() || !QProcess::startDetached(opener, {file})) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(file));
  }
}

void MainWindow::request_exit() {
  QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::panel_button(int id) {
  switch (id) {
    case L::kExit:
      request_exit();
      break;
    case L::kMinimize:
      minimize();
      break;
    case L::kHelp:
      open_help();
      break;
    case L::kUtility:
      if (dialogs_->utility_settings(this)) {
        core_->settings_changed();
        user_changed();
      }
      update();
      break;
    case L::kMotion:
    case L::kSchedule:
    case L::kChange: {
      model::Camera* camera = selected_camera();
      if (!camera) break;
      const bool changed = id == L::kMotion     ? dialogs_->motion_dialog(this, *camera)
                           : id == L::kSchedule ? dialogs_->schedule_dialog(this, *camera)
                                                : dialogs_->camera_dialog(this, camera);
      if (changed) user_changed();
      update();
      break;
    }
    case L::kDelete:
      if (cameras().delete_selected()) user_changed();
      break;
    case L::kAdd:
      if (cameras().count() >= model::kPoolSize) {
        (void)platform::ask(kCantAdd, "", platform::MsgButtons::Ok);
      } else if (dialogs_->camera_dialog(this, nullptr)) {
        user_changed();
      }
      update();
      break;
    case L::kSavedFiles:
      dialogs_->saved_files(this);
      break;
  }
}

void MainWindow::user_changed() {
  if (!shut_down_ && created_) (void)core_->save_now();
}

model::Camera* MainWindow::selected_camera() { return cameras().selected_camera(); }

// --- timers ---

QString MainWindow::clock_text() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, "%m-%d-%Y %I:%M %p", &local);
  return QString::fromLatin1(text, static_cast<qsizetype>(n));
}

void MainWindow::tick_clock() { update(L::kClock); }

QIcon MainWindow::tray_frame(int step) const {
  // The program's icon with a red dot that pulses through four frames.
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48}) {
    QImage image = skin::render(QStringLiteral("app_icon"), QSize(size, size), 1);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal r = size * (0.16 + 0.04 * step);
    const QPointF centre(size * 0.76, size * 0.76);
    p.setPen(QPen(QColor(0, 0, 0, 160), size / 16.0));
    QColor red = skin::kRecordRed;
    red.setAlpha(255 - 30 * step);
    p.setBrush(red);
    p.drawEllipse(centre, r, r);
    p.end();
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

void MainWindow::set_tray_icon(int step) {
  tray_step_ = step;
  if (tray_) tray_->setIcon(step < 0 ? windowIcon() : tray_frame(step));
}

void MainWindow::tick_tray() {
  if (shut_down_) return;
  if (cameras().any_recording_open())
    set_tray_icon((tray_step_ + 1) % kTrayFrames);
  else if (tray_step_ != -1)
    set_tray_icon(-1);
}

void MainWindow::refresh() {
  if (shut_down_ || core_->closing()) return;
  bool list_changed = list_dirty_.exchange(false);
  model::CameraList& list = cameras();
  for (int position = 1; position <= list.count(); ++position) {
    model::Camera* camera = list.camera_at(position);
    const int index = camera->pool_index();
    if (!camera->running()) {
      decoded_[index] = false;
      continue;
    }
    if (camera->take_state_change()) list_changed = true;
    // The first decoded picture of a connection: the pictures are placed
    // again, and the video toggle turns on.
    const bool decoded = camera->video_decoded();
    if (decoded && !decoded_[index]) {
      list.reposition_pictures(true);
      list_changed = true;
    }
    decoded_[index] = decoded;
    if (camera->popup()) popups_->refresh(*camera);
  }
  // Only the visible cells whose camera has a new picture.
  for (int k = 0; k < model::kVisibleCells; ++k) {
    model::Camera* camera = list.cell_look(k) == model::CellLook::Live ? list.slot(list.channel_of_cell(k)) : nullptr;
    if (!camera) continue;
    const std::uint64_t sequence = camera->picture_sequence();
    if (sequence != drawn_sequence_[k]) {
      drawn_sequence_[k] = sequence;
      update(L::kCells[k]);
    }
  }
  if (sync_rows()) list_changed = true;
  if (list_changed) update(L::kListRedraw);
  const std::pair<int, int> status = count_status();
  if (status != status_) {
    status_ = status;
    update(L::kStatusPlaying.united(L::kStatusRecording));
  }
}

std::pair<int, int> MainWindow::count_status() {
  int playing = 0, recording = 0;
  model::CameraList& list = cameras();
  for (int position = 1; position <= list.count(); ++position) {
    const model::Camera* camera = list.camera_at(position);
    if (camera->running()) ++playing;
    if (camera->recording_indicator()) ++recording;
  }
  return {playing, recording};
}

bool MainWindow::sync_rows() {
  model::CameraList& list = cameras();
  const std::array<model::ListRow, model::kRowsPerPage> rows = list.visible_rows();
  bool changed = false;
  for (int k = 0; k < model::kRowsPerPage; ++k) {
    const model::ListRow& row = rows[k];
    RowLook look;
    look.position = row.position;
    look.camera = row.camera;
    look.selected = row.selected;
    look.channel = row.channel_text;
    look.name = row.name;
    look.mark = row.mark;
    if (row.camera) {
      look.audio_shown = row.camera->has_audio();
      look.audio_on = !row.camera->muted();
      look.video_on = row.camera->running() && row.camera->video_decoded();
    }
    RowButtons& b = row_buttons_[k];
    b.mark->set_visible(look.mark != model::RecordingMark::Hidden);
    b.mark->set_on(look.mark == model::RecordingMark::ScheduleYellow);
    b.audio->set_visible(look.audio_shown);
    b.audio->set_on(look.audio_on);
    b.video->set_visible(row.camera != nullptr);
    b.video->set_on(look.video_on);
    if (!(look == row_looks_[k])) {
      row_looks_[k] = look;
      changed = true;
    }
  }
  const bool scroll = list.scroll_buttons_visible();
  if (scroll != list_up_->visible()) {
    list_up_->set_visible(scroll);
    list_down_->set_visible(scroll);
    update(L::kListUp.united(L::kListDown));
  }
  return changed;
}

// --- hooks from the camera list ---

void MainWindow::redraw_list() {
  // The recording loops call this from their threads: only a flag there.
  if (QThread::currentThread() != thread()) {
    list_dirty_.store(true);
    return;
  }
  sync_rows();
  update(L::kListRedraw);
}

void MainWindow::redraw_channels() {
  update(L::channel_repaint_area());
  update(L::kTrack);
}

void MainWindow::redraw_all() {
  sync_rows();
  update();
}

void MainWindow::create_list_controls(model::Camera&) { redraw_list(); }
void MainWindow::destroy_list_controls(model::Camera&) { redraw_list(); }

bool MainWindow::open_popup(model::Camera& camera, int channel) { return popups_->open(camera, channel); }
void MainWindow::close_popup(model::Camera& camera) { popups_->close(camera); }
void MainWindow::popup_muted(model::Camera& camera) { popups_->muted_from_outside(camera); }

// --- the mouse ---

bool MainWindow::is_client(const QPoint& p) const { return L::is_client(p) || button_at(p) != nullptr; }

skin::Tip MainWindow::tip_at(const QPoint& p) const {
  if (skin::SkinButton* b = button_at(p); b && !b->tool_tip().isEmpty()) return {b->tool_tip(), b->rect()};
  if (L::kListArea.contains(p)) return {QLatin1String(L::kListTip), L::kListArea};
  return {};
}

Qt::CursorShape MainWindow::cursor_at(const QPoint& p) const {
  if (drag_state_ == 2) return Qt::ClosedHandCursor;
  return skin::Skinned<QWidget>::cursor_at(p);
}

void MainWindow::client_press(const QPoint& p) {
  switch (L::track_hit(p, thumb_top_)) {
    case L::TrackHit::Thumb:
      thumb_dragging_ = true;
      thumb_grab_ = p.y() - thumb_top_;
      return;
    case L::TrackHit::Above:
    case L::TrackHit::Below:
      cameras().scroll_grid(L::track_hit(p, thumb_top_) == L::TrackHit::Above ? -1 : 1);
      set_thumb_top(L::thumb_top_for(cameras().grid_position()));
      return;
    case L::TrackHit::None:
      break;
  }
  const int row = L::row_at(p);
  if (row < 0) return;
  const int position = cameras().position_of_row(row);
  cameras().select(position);
  if (cameras().camera_at(position)) {
    drag_state_ = 1;
    drag_at_ = p;
  }
}

void MainWindow::client_move(const QPoint& p, Qt::MouseButtons buttons) {
  if (thumb_dragging_) {
    set_thumb_top(L::clamp_thumb_top(p.y() - thumb_grab_));
    const int position = L::position_for_thumb(thumb_top_);
    if (position != cameras().grid_position()) cameras().set_grid_position(position);
    return;
  }
  if (drag_state_ == 1 && (buttons & Qt::LeftButton) && selected_camera()) drag_state_ = 2;
  if (drag_state_ == 2) update_drag_label(p);
}

void MainWindow::client_release(const QPoint& p) {
  thumb_dragging_ = false;
  if (drag_state_ == 2) {
    update_drag_label(QPoint());  // gone
    const int cell = L::cell_at(p);
    model::Camera* camera = selected_camera();
    if (cell >= 0 && camera) {
      const model::DropResult r = cameras().drop(*camera, cameras().channel_of_cell(cell));
      if (r != model::DropResult::None && r != model::DropResult::Refused) user_changed();
    }
  }
  drag_state_ = 0;
  unsetCursor();
}

void MainWindow::client_double_click(const QPoint& p) {
  if (const int row = L::row_at(p); row >= 0) {
    cameras().double_click_row(cameras().position_of_row(row));
    user_changed();
    return;
  }
  if (const int cell = L::cell_at(p); cell >= 0) {
    cameras().double_click_channel(cameras().channel_of_cell(cell));
    return;
  }
  // Elsewhere (the grid's track) a quick second click is a second click.
  client_press(p);
}

void MainWindow::set_thumb_top(int top) {
  if (top == thumb_top_) return;
  update(L::thumb_rect(thumb_top_));
  thumb_top_ = top;
  update(L::thumb_rect(thumb_top_));
}

QRect MainWindow::drag_label_rect(const QPoint& at) const {
  const QFontMetrics fm(skin::font(10, 500));
  return QRect(at.x(), at.y() - 20, fm.horizontalAdvance(QLatin1String(L::kDragText)) + 10, fm.height() + 8);
}

void MainWindow::update_drag_label(const QPoint& at) {
  update(drag_label_);
  drag_at_ = at;
  drag_label_ = at.isNull() ? QRect() : drag_label_rect(at);
  update(drag_label_);
}

// --- painting ---

void MainWindow::render_artwork(qreal dpr) {
  background_ = skin::render(QStringLiteral("main_window"), L::kWindowSize, dpr);
  {
    // Words the skin's font draws better than the drawing could.
    QPainter p(&background_);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(skin::kTextBright);
    p.setFont(skin::font(27, 700));
    const QString name = QStringLiteral("Quorvan");
    p.drawText(QRect(80, 22, 300, 30), Qt::AlignLeft | Qt::AlignVCenter, name);
    const int after = 80 + QFontMetrics(p.font()).horizontalAdvance(name) + 8;
    p.setPen(skin::kAccent);
    p.setFont(skin::font(20, 400));
    p.drawText(QRect(after, 26, 300, 26), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Viewer & Recorder"));
    p.setPen(skin::kTextDim);
    p.setFont(skin::font(13, 400));
    p.drawText(QRect(80, 52, 360, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Live view and recording  \u00b7  8 channels  \u00b7  128 cameras"));
    p.setFont(skin::font(11, 700));
    p.drawText(QRect(14, 146, 140, 12), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("CAMERAS"));
    p.setFont(skin::font(10, 500));
    p.drawText(L::ltrb(10, 159, 27, 170), Qt::AlignCenter, QStringLiteral("CH"));
    p.drawText(L::ltrb(31, 159, 100, 170), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("NAME"));
    for (const L::PanelButton& b : L::kButtons) {
      if (!b.caption) continue;
      p.drawText(QRect(b.rect.center().x() - 24, b.rect.bottom() + 2, 48, 11), Qt::AlignCenter,
                 QLatin1String(b.caption));
    }
  }
  // Opaque: drawn under every repaint, it is then copied, not blended (the
  // corners it would leave black lie outside the window's shape).
  background_ = background_.convertToFormat(QImage::Format_RGB32);
  background_.setDevicePixelRatio(dpr);
  thumb_ = skin::render(QStringLiteral("thumb"), L::kThumb, dpr);
  rows_ = skin::drawn_strip(QStringLiteral("row"), L::kRowImage, 2, dpr);
  placeholders_ = skin::drawn_strip(QStringLiteral("placeholders"), L::kPlaceholderCell, 3, dpr);
  if (!placeholders_.null()) {
    QImage image = placeholders_.image();
    QPainter p(&image);
    p.setPen(skin::kTextDim);
    p.setFont(skin::font(11, 700));
    const char* captions[] = {"NO CAMERA", "CAMERA OFF", "IN ITS OWN WINDOW"};
    for (int i = 0; i < 3; ++i) {
      p.drawText(QRect(i * L::kPlaceholderCell.width(), 80, L::kPlaceholderSize.width(), 14), Qt::AlignCenter,
                 QLatin1String(captions[i]));
    }
    p.end();
    placeholders_ = skin::ButtonStrip(image, L::kPlaceholderCell, 3);
  }
  const skin::ButtonStrip marks = mark_strip(dpr);
  for (RowButtons& r : row_buttons_) r.mark->set_strip(marks);
}

void MainWindow::paint_skin(QPainter& painter, const QRect& dirty) {
  // Only what was damaged: each refresh repaints the four cells' rectangles,
  // and nothing between them.
  const QRegion& damage = damaged();
  painter.drawImage(QPoint(0, 0), background_);
  if (damage.intersects(L::kTrack)) painter.drawImage(L::thumb_rect(thumb_top_).topLeft(), thumb_);
  const bool list = damage.intersects(L::kListRedraw);
  if (list) paint_list(painter);
  paint_buttons(painter, dirty);
  if (list) {
    // The channel number stays readable on a recording mark.
    painter.setFont(skin::font(10, 500));
    painter.setPen(skin::kTextBright);
    for (int k = 0; k < model::kRowsPerPage; ++k) {
      if (row_buttons_[k].mark->visible()) {
        painter.drawText(L::row_channel(k), Qt::AlignCenter, qs(row_looks_[k].channel));
      }
    }
  }
  for (int k = 0; k < model::kVisibleCells; ++k) {
    if (damage.intersects(L::kCells[k].united(QRect(L::kPlaceholderAt[k], L::kPlaceholderSize)))) {
      paint_cell(painter, k);
    }
  }
  paint_labels(painter);
  if (damage.intersects(L::kStatusPlaying.united(L::kStatusRecording))) paint_status(painter);
  paint_drag_label(painter);
  if (damage.intersects(L::kClock)) {
    painter.setFont(skin::font(13, 500));
    painter.setPen(skin::kClockText);
    painter.drawText(L::kClock, Qt::AlignCenter, clock_text());
  }
  if (paint_observer_) paint_observer_(dirty);
}

void MainWindow::paint_list(QPainter& painter) {
  painter.setFont(skin::font(10, 500));
  for (int k = 0; k < model::kRowsPerPage; ++k) {
    const RowLook& row = row_looks_[k];
    rows_.draw(painter, L::row_image(k), row.selected ? 1 : 0);
    if (!row.camera) continue;
    painter.setPen(row.selected ? skin::kTextBright : skin::kText);
    painter.save();
    painter.setClipRect(L::row_name(k), Qt::IntersectClip);
    painter.drawText(L::row_name(k), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, qs(row.name));
    painter.restore();
    painter.drawText(L::row_channel(k), Qt::AlignCenter, qs(row.channel));
  }
}

void MainWindow::paint_cell(QPainter& painter, int cell) {
  model::CameraList& list = cameras();
  const QRect placeholder(L::kPlaceholderAt[cell], L::kPlaceholderSize);
  auto draw_placeholder = [&](int frame) {
    const QImage& strip = placeholders_.image();
    const qreal dpr = strip.devicePixelRatio();
    const QRectF source(frame * L::kPlaceholderCell.width() * dpr, 0, L::kPlaceholderSize.width() * dpr,
                        L::kPlaceholderSize.height() * dpr);
    painter.drawImage(QRectF(placeholder), strip, source);
  };
  switch (list.cell_look(cell)) {
    case model::CellLook::NoCamera:
      draw_placeholder(0);
      return;
    case model::CellLook::Popup:
      draw_placeholder(2);
      return;
    case model::CellLook::CameraOff:
      return;  // the background shows a switched-off camera
    case model::CellLook::Live:
      break;
  }
  model::Camera* camera = list.slot(list.channel_of_cell(cell));
  if (!camera) return;
  // Drawn where the camera's picture rectangle says, which is this cell.
  const QRect target = to_qrect(camera->picture_rect());
  std::shared_ptr<const media::Picture> picture = camera->picture();
  if (picture && target == L::kCells[cell]) {
    painter.save();
    painter.setClipRect(target, Qt::IntersectClip);
    draw_picture(painter, *picture, camera->source_area(), target, &scaled_[cell]);
    painter.restore();
    return;
  }
  // Connecting: the switched-off camera of the background, with a word.
  painter.setFont(skin::font(11, 700));
  painter.setPen(skin::kTextDim);
  painter.drawText(QRect(L::kCells[cell].left(), L::kCells[cell].top() + 80, L::kCells[cell].width(), 14),
                   Qt::AlignCenter, QStringLiteral("CONNECTING"));
}

void MainWindow::paint_status(QPainter& painter) {
  auto figure = [&](const QRect& r, int n, const QColor& colour, const QString& what) {
    painter.setFont(skin::font(20, 700));
    painter.setPen(n > 0 ? colour : skin::kTextDim);
    painter.drawText(QRect(r.left(), r.top(), r.width(), 20), Qt::AlignCenter, QString::number(n));
    painter.setFont(skin::font(10, 700));
    painter.setPen(skin::kTextDim);
    painter.drawText(QRect(r.left(), r.top() + 21, r.width(), 12), Qt::AlignCenter, what);
  };
  figure(L::kStatusPlaying, status_.first, skin::kOnGreen, QStringLiteral("PLAYING"));
  figure(L::kStatusRecording, status_.second, skin::kRecordRed, QStringLiteral("RECORDING"));
}

void MainWindow::paint_labels(QPainter& painter) {
  painter.setFont(skin::font(13, 800));
  painter.setPen(skin::kTextBright);
  for (int k = 0; k < model::kVisibleCells; ++k) {
    if (!damaged().intersects(L::kLabels[k])) continue;
    painter.save();
    painter.setClipRect(L::kLabels[k], Qt::IntersectClip);
    painter.drawText(L::kLabels[k], Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     qs(cameras().channel_label(k)));
    painter.restore();
  }
}

void MainWindow::paint_drag_label(QPainter& painter) {
  if (drag_state_ != 2 || drag_label_.isNull() || !damaged().intersects(drag_label_)) return;
  painter.fillRect(drag_label_, skin::kDragLabel);
  painter.setFont(skin::font(10, 500));
  painter.setPen(Qt::black);
  painter.drawText(drag_label_.adjusted(5, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QLatin1String(L::kDragText));
}

}  // namespace ui
