// The main window: the skinned 601 x 448 window with the camera list, the
// grid of four channel cells over eight channels, the panel buttons, the
// clock, the tray icon and the three timers; and the start and end of
// everything else (it owns the ViewerCore).
//
// It is a thin skin: mouse positions go through the layout module
// (main_layout.h) into the camera list's own operations (select, drop,
// click a row's control, scroll), and it paints what the list says. The
// rules live in model::CameraList and are tested there.
//
// After every change the user makes, "param.dat" is saved at once (and
// again at exit), so that a crash loses nothing the user did.
//
// User-interface thread only, except redraw_list() (any thread).
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "viewer/shell/model/viewer_core.h"
#include "viewer/shell/skin/skinned.h"
#include "viewer/shell/ui/window_parts.h"

class QMenu;
class QSystemTrayIcon;
class QIcon;

namespace ui {

inline constexpr const char* kWindowTitle = "Quorvan Viewer & Recorder";
inline constexpr const char* kTrayTip = "Quorvan Viewer &Recorder";
inline constexpr const char* kProductVersion = "1.0";

struct MainWindowOptions {
  PopupHost* popups = nullptr;    // nullptr: no pop-up windows
  DialogHost* dialogs = nullptr;  // nullptr: the panel's dialogs do nothing
  // The core's options; the window sets hooks and cells itself.
  model::ViewerCoreOptions core;
  // The help page; empty: found beside the program.
  std::string help_file;
};

class MainWindow final : public skin::Skinned<QWidget>, public model::ShellHooks {
 public:
  explicit MainWindow(MainWindowOptions options = {});
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // The creation sequence from the settings on: loads "param.dat" from the
  // program folder (cameras that were playing start again), shows the
  // window centred on the desktop with its rounded shape, starts the
  // recording loops, the tray icon and the timers. False when the core
  // would not start (called twice).
  bool create(const std::string& program_folder);

  // The shutdown sequence: pop-ups closed, timers stopped, recording loops
  // joined, "param.dat" saved, cameras stopped, tray icon removed. Returns
  // the save's result (1 saved). Harmless to repeat.
  int shutdown();
  bool shut_down() const { return shut_down_; }

  model::ViewerCore& core() { return *core_; }
  model::CameraList& cameras() { return core_->cameras(); }

  // What the program's message router delivers (kMsgCameraRefused).
  void handle_message(std::uint32_t msg, std::uintptr_t wparam, std::uintptr_t lparam);

  // The user's actions that are not tied to one place of the skin (tray
  // menu, panel buttons).
  void show_from_tray();
  void minimize();
  void show_about();
  void open_help();
  // "Exit": closes the window, which shuts everything down and quits.
  void request_exit();

  QSystemTrayIcon* tray_icon() const { return tray_; }
  QMenu* tray_menu() const { return menu_.get(); }
  // Where the help page is looked for.
  QString help_file() const;
  // The grid thumb's top edge (it stays where it was dragged).
  int thumb_top() const { return thumb_top_; }
  // 0 idle, 1 armed (pressed on a listed camera), 2 dragging.
  int drag_state() const { return drag_state_; }

  // The timers' work, also for tests: 1 the clock, 2 the tray icon, 3 the
  // pictures and the list.
  void tick_clock();
  void tick_tray();
  void refresh();
  // The clock's text now.
  static QString clock_text();

  // Called at the end of every paint with the damaged rectangle (tests and
  // the benchmark).
  void set_paint_observer(std::function<void(const QRect&)> observer) { paint_observer_ = std::move(observer); }

  // --- model::ShellHooks ---
  void redraw_list() override;
  void redraw_channels() override;
  void redraw_all() override;
  void create_list_controls(model::Camera&) override;
  void destroy_list_controls(model::Camera&) override;
  bool open_popup(model::Camera& camera, int channel) override;
  void close_popup(model::Camera& camera) override;
  void popup_muted(model::Camera& camera) override;

  // The tool-tip at a point and the cursor there (tests).
  skin::Tip tip_at(const QPoint& p) const override;
  Qt::CursorShape cursor_at(const QPoint& p) const override;

 protected:
  void render_artwork(qreal dpr) override;
  void paint_skin(QPainter& painter, const QRect& dirty) override;
  bool is_client(const QPoint& p) const override;
  void client_press(const QPoint& p) override;
  void client_move(const QPoint& p, Qt::MouseButtons buttons) override;
  void client_release(const QPoint& p) override;
  void client_double_click(const QPoint& p) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct RowButtons {
    skin::SkinButton* mark = nullptr;
    skin::SkinButton* audio = nullptr;
    skin::SkinButton* video = nullptr;
  };
  // What a list row shows, to notice when it must be repainted.
  struct RowLook {
    int position = 0;
    const model::Camera* camera = nullptr;
    bool selected = false;
    std::string channel, name;
    model::RecordingMark mark = model::RecordingMark::Hidden;
    bool audio_shown = false, audio_on = false, video_on = false;
    bool operator==(const RowLook&) const = default;
  };

  void make_buttons();
  void make_tray();
  void panel_button(int id);
  // Something the user did changed what "param.dat" keeps.
  void user_changed();
  // Brings the list controls and the row looks up to date; true when a row
  // looks different.
  bool sync_rows();
  model::Camera* selected_camera();
  QIcon tray_frame(int step) const;
  void set_tray_icon(int step);

  void paint_list(QPainter& painter);
  void paint_cell(QPainter& painter, int cell);
  void paint_labels(QPainter& painter);
  void paint_status(QPainter& painter);
  // Cameras playing, cameras recording.
  std::pair<int, int> count_status();
  void paint_drag_label(QPainter& painter);
  QRect drag_label_rect(const QPoint& at) const;
  void update_drag_label(const QPoint& at);
  void set_thumb_top(int top);

  MainWindowOptions options_;
  PopupHost default_popups_;
  DialogHost default_dialogs_;
  PopupHost* popups_;
  DialogHost* dialogs_;
  std::unique_ptr<model::ViewerCore> core_;

  // Artwork at the window's device pixel ratio.
  QImage background_;
  QImage thumb_;
  skin::ButtonStrip rows_;
  skin::ButtonStrip placeholders_;
  // Each cell's picture at the cell's size, reused from picture to picture.
  std::array<QImage, model::kVisibleCells> scaled_;

  std::array<RowButtons, model::kRowsPerPage> row_buttons_{};
  std::array<RowLook, model::kRowsPerPage> row_looks_{};
  skin::SkinButton* list_up_ = nullptr;
  skin::SkinButton* list_down_ = nullptr;

  // Set by any thread that wants the list repainted; the refresh timer
  // repaints it.
  std::atomic<bool> list_dirty_{false};
  // The picture sequence each cell shows now.
  std::array<std::uint64_t, model::kVisibleCells> drawn_sequence_{};
  // Cameras whose video was seen decoded at the last refresh (pool index).
  std::array<bool, model::kPoolSize> decoded_{};

  std::pair<int, int> status_{0, 0};
  int thumb_top_;
  bool thumb_dragging_ = false;
  int thumb_grab_ = 0;
  int drag_state_ = 0;
  QPoint drag_at_;
  QRect drag_label_;

  QTimer clock_timer_;
  QTimer tray_timer_;
  QTimer refresh_timer_;
  QSystemTrayIcon* tray_ = nullptr;
  std::unique_ptr<QMenu> menu_;
  int tray_step_ = -1;  // -1: the program's icon
  QTimer menu_delay_;

  bool created_ = false;
  bool shut_down_ = false;
  int save_result_ = 1;
  std::function<void(const QRect&)> paint_observer_;
};

}  // namespace ui
