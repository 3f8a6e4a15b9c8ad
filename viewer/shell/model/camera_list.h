// The camera list and channel grid of the main window, without drawing: the
// pool of 128 cameras, the list of pool indices in order of addition, the
// eight channel slots, the grid position, the list page and the selection,
// and every rule of adding, deleting, binding, dropping,
// double-clicking and the per-camera list controls.
//
// The main window owns one CameraList, draws what it says and tells it what
// the user did, in the list's own terms: a row selected, a camera dropped on
// a channel, a control of a row clicked, the grid or the list scrolled. The
// window turns mouse positions into those calls (its layout module does the
// hit-testing); nothing here knows a pixel of the skin, except the four cell
// rectangles the window hands over for the cameras' pictures.
//
// Everything runs on the user-interface thread; the stream and recording
// threads only read the pool's cameras, and the recording loops take the
// listed cameras through record::CameraSource.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/record/recording_camera.h"
#include "viewer/shell/model/camera.h"
#include "viewer/shell/model/camera_connection.h"
#include "viewer/shell/model/grid.h"

namespace model {

// What the list asks of the windows around it. The default does nothing.
// Called on the user-interface thread, except redraw_list(), which the
// recording loops also call from their threads (it must only schedule a
// repaint).
class ShellHooks {
 public:
  virtual ~ShellHooks() = default;
  virtual void redraw_list() {}
  virtual void redraw_channels() {}
  virtual void redraw_all() {}
  // The three list controls of a listed camera (audio, video, recording mark).
  virtual void create_list_controls(Camera&) {}
  virtual void destroy_list_controls(Camera&) {}
  // Opens the pop-up camera window for the camera on this channel; true when
  // it is shown (the list then marks the camera as shown there).
  virtual bool open_popup(Camera&, int channel) { return false; }
  // Closes the camera's pop-up window; the window reports back through
  // CameraList::popup_closed().
  virtual void close_popup(Camera&) {}
  // The camera was muted from outside its pop-up window: refresh its look.
  virtual void popup_muted(Camera&) {}
};

enum class DropResult {
  None,         // no drop: no camera selected, or not over a cell
  Refused,      // a running camera plays on the target channel
  Started,      // the camera plays on the target channel
  StartFailed,  // the camera has the target channel but could not be started
  MovedPopup,   // the camera's pop-up window now belongs to the target channel
};

// How a cell of the grid looks when no live picture covers it.
enum class CellLook {
  Live,       // a camera of the channel slot is drawn there
  Popup,      // placeholder: the camera is viewed in its pop-up window
  NoCamera,   // placeholder: no camera installed
  CameraOff,  // background artwork: a camera has this channel but is not started
};

enum class RecordingMark { Hidden, Red, ScheduleYellow };

// One visible row of the camera list.
struct ListRow {
  int position = 0;  // list position (1-based)
  Camera* camera = nullptr;
  bool selected = false;
  std::string channel_text;  // "%d" of the channel, empty when none
  std::string name;
  RecordingMark mark = RecordingMark::Hidden;
};

enum class ListControl { None, RecordingMark, AudioToggle, VideoToggle };

// Where a camera is added from: the user (camera dialog), or "param.dat".
// Loading does not refuse text that the file's own escape carried.
enum class AddOrigin { User, SettingsFile };

class CameraList final : public record::CameraSource {
 public:
  // cells: where the window that shows the grid draws its four cells.
  explicit CameraList(const ConnectionFactory& make_connection, ShellHooks* hooks = nullptr,
                      record::RecordingEnv env = {}, const CellRects& cells = kHeadlessCellRects);
  ~CameraList() override;
  CameraList(const CameraList&) = delete;
  CameraList& operator=(const CameraList&) = delete;

  // --- pool and list ---
  Camera& pool(int index) { return *pool_[index]; }
  int count() const { return static_cast<int>(list_.size()); }
  Camera* camera_by_tag(std::uintptr_t tag);
  // Camera at list position n (1-based), or nullptr.
  Camera* camera_at(int position);
  // List position of a listed camera, or 0.
  int position_of(const Camera& camera) const;
  // Listed camera with exactly this MAC and location, searched in list order.
  Camera* find_camera(std::string_view mac, int location);

  // Listed camera of the same device: the same location and the same MAC,
  // also when written in another case. Searched in list order.
  Camera* find_same_camera(std::string_view mac, int location);

  // Adds a camera: 1 added, 0 refused with a message (list full, a text or
  // MAC that breaks the rules, or the same device already listed). A camera
  // of the settings file keeps its MAC and location as stored.
  [[nodiscard]] int add_camera(const CameraRecord& record, AddOrigin origin = AddOrigin::User);
  // Changes a listed camera's texts (camera dialog in edit mode) under the
  // same rules (a MAC left unchanged is kept whatever its form): 1 changed,
  // 0 refused with a message. A running camera uses the new address and
  // account from its next connection attempt on.
  [[nodiscard]] int change_camera(Camera& camera, const CameraRecord& texts);
  // Deletes the selected camera after the user confirmed; true when deleted.
  bool delete_selected();

  // --- channels ---
  Camera* slot(int channel) const;
  // For channel 1 to 8: 1 stored, -1 the slot is taken. For channel 0: the
  // lowest free slot is taken and its channel returned, -1 when all are taken.
  // 0 for any other channel. The camera's channel number is not changed.
  [[nodiscard]] int bind(Camera& camera, int channel);
  // Empties a channel slot when it holds this camera.
  void release_slot(Camera& camera);
  // Every pool camera with this channel number gets 0.
  void clear_channel_number(int channel);

  // --- grid ---
  int grid_position() const { return grid_position_; }
  // Moves the grid to a position (kept within 1 to 3), places the pictures
  // and redraws the channels.
  void set_grid_position(int position);
  // One or more positions down (positive) or up (negative).
  void scroll_grid(int steps) { set_grid_position(grid_position_ + steps); }
  // Cell (0 to 3) showing the channel at the current grid position, or -1.
  int cell_of_channel(int channel) const;
  int channel_of_cell(int cell) const { return cell + 2 * grid_position_ - 1; }
  // Where the window draws cell k's picture (its own coordinates).
  const Rect& cell_rect(int cell) const { return cells_[cell]; }
  // Places the pictures of the cameras in the channel slots: the cell of a
  // visible channel, else off the window. Cameras without a channel number or
  // shown in a pop-up window are left alone, and stopped ones too when
  // skip_stopped is set.
  void reposition_pictures(bool skip_stopped);
  // Device pixels per window coordinate unit of the main window (its
  // screen's scale), so that pictures are converted no larger than the
  // cells show them. User-interface thread; takes effect at the next
  // placement.
  void set_device_scale(double scale) { device_scale_ = scale > 0 ? scale : 1.0; }

  // --- list paging ---
  int list_page() const { return list_page_; }
  void page_up();
  void page_down();
  bool scroll_buttons_visible() const { return count() > kRowsPerPage; }
  // List position shown in row k (0 to 7) of the current page; it may lie
  // past the end of the list (an empty row).
  int position_of_row(int row) const { return kRowsPerPage * list_page_ - (kRowsPerPage - 1) + row; }
  // The eight rows of the current page.
  std::array<ListRow, kRowsPerPage> visible_rows();

  // --- selection and drop ---
  int selected() const { return selected_; }
  // The user clicked a row: it becomes the selected list position (also an
  // empty row's, which selects no camera).
  void select(int position);
  Camera* selected_camera() { return camera_at(selected_); }
  // Drops a camera on a channel (1 to 8): the rules of dropping a dragged
  // camera there.
  DropResult drop(Camera& camera, int channel);
  // How long a drop waits for the camera's stream to run, at most (0: not
  // at all; the windows set that).
  void set_drop_wait_ms(int ms) { drop_wait_ms_ = ms; }

  // --- double clicks ---
  // On the row showing a list position: starts its camera on a free channel.
  void double_click_row(int position);
  // Starts a listed camera on a free channel (or its own), muted.
  void start_on_free_channel(Camera& camera);
  // On the cell showing a channel: opens its camera's pop-up window.
  void double_click_channel(int channel);
  // The pop-up window of a camera was closed.
  void popup_closed(Camera& camera);

  // --- per-camera list controls ---
  // A control of the row showing a list position was clicked.
  void click(int position, ListControl control);
  void click_list_control(ListControl control, Camera& camera);
  // Audio toggle: makes the camera the only audible one, or mutes it.
  void audio_toggle(Camera& camera);
  // Unmutes the camera after muting every other listed camera (only those on
  // a channel when only_on_channels), so that at most one camera is audible.
  void make_only_audible(Camera& camera, bool only_on_channels);
  void video_toggle(Camera& camera);
  void recording_mark_click(Camera& camera);

  // The stream thread of the camera with this tag reported a refusal (the
  // main window's kMsgCameraRefused): the camera is stopped. Returns it, or
  // nullptr for an unknown tag.
  Camera* camera_refused(std::uintptr_t tag);

  // --- the recording loops' view (any thread) ---
  void list_cameras(std::vector<record::RecordingCamera*>& out) override;
  void redraw_camera_list() override { hooks_->redraw_list(); }

  // Some listed camera has a recording file open (the tray animation). Any
  // thread.
  bool any_recording_open() const;

  // --- painting ---
  CellLook cell_look(int cell) const;
  std::string channel_label(int cell) const;

 private:
  void mute(Camera& camera);
  bool channel_used_by_listed(int channel) const;
  void place_if_visible(Camera& camera);
  void wait_for_stream(Camera& camera) const;
  ShellHooks& hooks() { return *hooks_; }

  std::vector<std::unique_ptr<Camera>> pool_;
  // Pool indices in order of addition. Changed only on the user-interface
  // thread, under list_mutex_ so that the recording loops can copy it.
  std::vector<int> list_;
  mutable std::mutex list_mutex_;
  std::array<Camera*, kChannelCount + 1> slots_{};  // index 1 to 8
  ShellHooks default_hooks_;
  ShellHooks* hooks_;
  const CellRects cells_;
  int grid_position_ = 1;
  int list_page_ = 1;
  int selected_ = 0;
  int drop_wait_ms_ = 5000;
  double device_scale_ = 1.0;
};

}  // namespace model
