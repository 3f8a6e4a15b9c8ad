#include "viewer/shell/model/camera_list.h"

#include <algorithm>

#include "viewer/platform/ui_seams.h"

namespace model {
namespace {

bool valid_channel(int channel) { return channel >= 1 && channel <= kChannelCount; }

}  // namespace

CameraList::CameraList(const ConnectionFactory& make_connection, ShellHooks* hooks, record::RecordingEnv env,
                       const CellRects& cells)
    : hooks_(hooks ? hooks : &default_hooks_), cells_(cells) {
  pool_.reserve(kPoolSize);
  for (int i = 0; i < kPoolSize; ++i) pool_.push_back(std::make_unique<Camera>(i, make_connection, env));
}

CameraList::~CameraList() {
  for (auto& camera : pool_) {
    if (camera->running()) camera->stop();
  }
}

Camera* CameraList::camera_by_tag(std::uintptr_t tag) {
  for (auto& camera : pool_) {
    if (camera->tag() == tag) return camera.get();
  }
  return nullptr;
}

Camera* CameraList::camera_at(int position) {
  if (position < 1 || position > count()) return nullptr;
  return pool_[list_[position - 1]].get();
}

int CameraList::position_of(const Camera& camera) const {
  auto it = std::find(list_.begin(), list_.end(), camera.pool_index());
  return it == list_.end() ? 0 : static_cast<int>(it - list_.begin()) + 1;
}

Camera* CameraList::find_camera(std::string_view mac, int location) {
  for (int index : list_) {
    Camera& c = *pool_[index];
    if (c.location() == location && c.mac() == mac) return &c;
  }
  return nullptr;
}

Camera* CameraList::find_same_camera(std::string_view mac, int location) {
  const std::optional<std::string> device = normalize_mac(mac);
  for (int index : list_) {
    Camera& c = *pool_[index];
    if (c.location() != location) continue;
    const std::string listed = c.mac();
    if (listed == mac) return &c;
    // The same device written another way ("AABB..." and "aabb...").
    if (device && normalize_mac(listed) == device) return &c;
  }
  return nullptr;
}

int CameraList::add_camera(const CameraRecord& record, AddOrigin origin) {
  if (count() >= kPoolSize) {
    platform::ask(kMsgListFull, "");
    return 0;
  }
  const bool from_file = origin == AddOrigin::SettingsFile;
  if (!from_file) {
    if (auto problem = check_camera_texts(record)) {
      platform::ask(*problem, "");
      return 0;
    }
  }
  // A camera of the file is never dropped for the form of its MAC or its
  // location: both identify it (its schedule record is keyed with them) and
  // are saved back as they were. The folder names made from the MAC are
  // safe whatever it holds (record::camera_directory). Cameras the user adds
  // from now on follow the stricter rules.
  std::optional<std::string> mac = from_file ? std::optional<std::string>(record.mac) : normalize_mac(record.mac);
  if (!mac) {
    platform::ask(kMsgMacRule, "");
    return 0;
  }
  const int location = from_file ? record.location : (record.location == 1 ? 1 : 0);
  if (find_same_camera(*mac, location)) {
    platform::ask(kMsgCameraExists, "");
    return 0;
  }
  int free_index = 0;
  while (std::find(list_.begin(), list_.end(), free_index) != list_.end()) ++free_index;

  Camera& camera = *pool_[free_index];
  camera.take_for(record, *mac, location);
  camera.set_listed(true);
  {
    std::lock_guard lock(list_mutex_);
    list_.push_back(free_index);
  }
  hooks().create_list_controls(camera);
  hooks().redraw_list();
  return 1;
}

int CameraList::change_camera(Camera& camera, const CameraRecord& texts) {
  if (auto problem = check_camera_texts(texts)) {
    platform::ask(*problem, "");
    return 0;
  }
  // A MAC left as it was stays valid, whatever its form; a new one must
  // follow the rule.
  std::optional<std::string> mac =
      texts.mac == camera.mac() ? std::optional<std::string>(texts.mac) : normalize_mac(texts.mac);
  if (!mac) {
    platform::ask(kMsgMacRule, "");
    return 0;
  }
  Camera* same = find_same_camera(*mac, camera.location());
  if (same && same != &camera) {
    platform::ask(kMsgCameraExists, "");
    return 0;
  }
  CameraRecord changed = texts;
  changed.mac = *mac;
  camera.set_texts(changed);
  hooks().redraw_list();
  return 1;
}

bool CameraList::delete_selected() {
  Camera* selected = camera_at(selected_);
  if (!selected) return false;
  Camera* camera = find_camera(selected->mac(), selected->location());
  if (!camera) return false;
  const std::string question = camera->name() + std::string(kDeleteQuestionSuffix);
  if (platform::ask(question, kCaptionDelete, platform::MsgButtons::OkCancel) != platform::MsgAnswer::Ok) {
    return false;
  }
  hooks().destroy_list_controls(*camera);
  {
    std::lock_guard lock(list_mutex_);
    list_.erase(std::find(list_.begin(), list_.end(), camera->pool_index()));
  }
  camera->set_listed(false);
  release_slot(*camera);
  camera->set_channel(0);
  // A pop-up window must not go on showing a camera that left the list.
  if (camera->popup()) hooks().close_popup(*camera);
  camera->set_popup(false);
  camera->stop();
  if (count() <= kRowsPerPage) list_page_ = 1;
  hooks().redraw_all();
  return true;
}

Camera* CameraList::slot(int channel) const { return valid_channel(channel) ? slots_[channel] : nullptr; }

int CameraList::bind(Camera& camera, int channel) {
  if (channel == 0) {
    for (int ch = 1; ch <= kChannelCount; ++ch) {
      if (!slots_[ch]) {
        slots_[ch] = &camera;
        return ch;
      }
    }
    return -1;
  }
  if (!valid_channel(channel)) return 0;
  if (slots_[channel]) return -1;
  slots_[channel] = &camera;
  return 1;
}

void CameraList::release_slot(Camera& camera) {
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    if (slots_[ch] == &camera) slots_[ch] = nullptr;
  }
}

void CameraList::clear_channel_number(int channel) {
  for (auto& camera : pool_) {
    if (camera->channel() == channel) camera->set_channel(0);
  }
}

void CameraList::set_grid_position(int position) {
  grid_position_ = std::clamp(position, 1, kGridPositions);
  reposition_pictures(true);
  hooks().redraw_channels();
}

int CameraList::cell_of_channel(int channel) const {
  int cell = channel - (2 * grid_position_ - 1);
  return cell >= 0 && cell < kVisibleCells ? cell : -1;
}

void CameraList::reposition_pictures(bool skip_stopped) {
  for (int ch = 1; ch <= kChannelCount; ++ch) {
    Camera* c = slots_[ch];
    if (!c || (skip_stopped && !c->running()) || c->channel() == 0 || c->popup()) continue;
    int cell = cell_of_channel(c->channel());
    c->set_picture_rect(cell >= 0 ? cells_[cell] : kOffWindowRect, device_scale_);
  }
}

void CameraList::page_up() {
  list_page_ = std::max(1, list_page_ - 1);
  hooks().redraw_list();
}

void CameraList::page_down() {
  list_page_ = std::min(kMaxListPage, list_page_ + 1);
  hooks().redraw_list();
}

std::array<ListRow, kRowsPerPage> CameraList::visible_rows() {
  std::array<ListRow, kRowsPerPage> rows;
  for (int k = 0; k < kRowsPerPage; ++k) {
    ListRow& row = rows[k];
    row.position = position_of_row(k);
    row.selected = row.position == selected_;
    row.camera = camera_at(row.position);
    if (!row.camera) continue;
    Camera& c = *row.camera;
    row.name = c.name();
    if (c.channel() != 0) row.channel_text = std::to_string(c.channel());
    if (c.recording_indicator()) {
      row.mark = c.writer_open(record::kScheduleWriter) ? RecordingMark::ScheduleYellow : RecordingMark::Red;
    }
  }
  return rows;
}

void CameraList::select(int position) {
  selected_ = position;
  hooks().redraw_list();
}

DropResult CameraList::drop(Camera& dropped, int target) {
  Camera* const camera = &dropped;
  if (!camera->listed() || !valid_channel(target)) return DropResult::None;

  if (Camera* occupant = slots_[target]) {
    if (occupant->running()) return DropResult::Refused;
    occupant->stop();
    clear_channel_number(target);
    // The stopped camera no longer has this channel, so it leaves the slot;
    // otherwise the dropped camera could not be bound there.
    slots_[target] = nullptr;
  }
  const bool was_popup = camera->popup();
  if (valid_channel(camera->channel())) {
    if (was_popup) hooks().close_popup(*camera);
    camera->set_popup(false);
    release_slot(*camera);
  }
  clear_channel_number(target);
  camera->set_channel(target);
  (void)bind(*camera, target);

  DropResult result;
  if (was_popup) {
    // The camera keeps streaming; its window moves with it to the new channel.
    camera->set_popup(hooks().open_popup(*camera, target));
    if (!camera->popup()) place_if_visible(*camera);
    result = DropResult::MovedPopup;
  } else if (camera->start_stream() == 1) {
    place_if_visible(*camera);
    camera->set_muted(true);
    camera->set_output_volume(kSilentVolume);
    result = DropResult::Started;
  } else {
    camera->stop();
    result = DropResult::StartFailed;
  }
  hooks().redraw_channels();
  if (result == DropResult::Started) wait_for_stream(*camera);
  return result;
}

void CameraList::wait_for_stream(Camera& camera) const {
  // A camera that does not answer in time is left to connect in the
  // background. The windows set no wait at all: they draw the picture when
  // it comes, and the other cameras go on playing meanwhile.
  if (drop_wait_ms_ > 0) (void)camera.wait_connected(static_cast<std::uint32_t>(drop_wait_ms_));
}

bool CameraList::any_recording_open() const {
  std::lock_guard lock(list_mutex_);
  for (int index : list_) {
    const Camera& c = *pool_[index];
    for (int w = 0; w < 3; ++w) {
      if (c.writer_open(w)) return true;
    }
  }
  return false;
}

bool CameraList::channel_used_by_listed(int channel) const {
  for (int index : list_) {
    if (pool_[index]->channel() == channel) return true;
  }
  return false;
}

void CameraList::place_if_visible(Camera& camera) {
  int cell = cell_of_channel(camera.channel());
  if (cell >= 0) camera.set_picture_rect(cells_[cell], device_scale_);
}

void CameraList::double_click_row(int position) {
  Camera* camera = camera_at(position);
  if (camera && !camera->popup()) start_on_free_channel(*camera);
}

void CameraList::start_on_free_channel(Camera& camera) {
  int free_channel = 0;
  for (int ch = 1; ch <= kChannelCount && free_channel == 0; ++ch) {
    if (!channel_used_by_listed(ch)) free_channel = ch;
  }
  if (free_channel == 0) {
    platform::ask(kMsgAllViewFull, "");
    return;
  }
  if (valid_channel(camera.channel())) {
    (void)bind(camera, camera.channel());
  } else {
    (void)bind(camera, free_channel);
    camera.set_channel(free_channel);
  }
  if (camera.start_stream() == 1) {
    reposition_pictures(true);
    place_if_visible(camera);
    camera.set_muted(true);
    camera.set_output_volume(kSilentVolume);
  } else {
    camera.stop();
  }
  hooks().redraw_all();
}

void CameraList::double_click_channel(int channel) {
  if (!valid_channel(channel)) return;
  Camera* camera = slots_[channel];
  if (!camera || camera->popup()) return;
  // Only a running camera whose stream header has arrived has a picture size
  // for the window.
  if (!camera->running() || !camera->header_arrived()) return;
  if (hooks().open_popup(*camera, channel)) camera->set_popup(true);
  hooks().redraw_all();
}

void CameraList::popup_closed(Camera& camera) {
  camera.set_popup(false);
  reposition_pictures(false);
  hooks().redraw_all();
}

void CameraList::click(int position, ListControl control) {
  if (Camera* camera = camera_at(position)) click_list_control(control, *camera);
}

void CameraList::click_list_control(ListControl control, Camera& camera) {
  switch (control) {
    case ListControl::RecordingMark:
      recording_mark_click(camera);
      break;
    case ListControl::AudioToggle:
      audio_toggle(camera);
      break;
    case ListControl::VideoToggle:
      video_toggle(camera);
      break;
    case ListControl::None:
      break;
  }
}

void CameraList::mute(Camera& camera) {
  camera.set_muted(true);
  camera.set_output_volume(kSilentVolume);
  if (camera.popup()) hooks().popup_muted(camera);
}

void CameraList::make_only_audible(Camera& camera, bool only_on_channels) {
  for (int index : list_) {
    Camera& other = *pool_[index];
    if (&other == &camera || other.muted()) continue;
    if (only_on_channels && other.channel() == 0) continue;
    mute(other);
  }
  camera.set_muted(false);
  camera.set_output_volume(camera.volume());
}

void CameraList::audio_toggle(Camera& camera) {
  if (camera.channel() == 0) return;
  if (camera.muted())
    make_only_audible(camera, false);
  else
    mute(camera);
  hooks().redraw_list();
}

void CameraList::video_toggle(Camera& camera) {
  if (camera.channel() == 0) return;
  if (!camera.running()) {
    (void)bind(camera, camera.channel());
    if (camera.start_stream() == 1) {
      reposition_pictures(true);
      place_if_visible(camera);
      camera.set_output_volume(camera.muted() ? kSilentVolume : camera.volume());
    } else {
      camera.stop();
    }
  } else {
    if (camera.recording_indicator()) {
      platform::ask(kMsgCameraRecording, kCaptionCameraRecording);
      return;
    }
    release_slot(camera);
    camera.stop();
    if (camera.popup()) hooks().close_popup(camera);
  }
  hooks().redraw_all();
}

void CameraList::recording_mark_click(Camera& camera) {
  if (!camera.recording_indicator()) return;
  // Clears the flags and the manual request, closes the open writers and
  // cancels the active schedule or motion window.
  camera.recording().stop_all();
  hooks().redraw_list();
}

Camera* CameraList::camera_refused(std::uintptr_t tag) {
  Camera* camera = camera_by_tag(tag);
  if (camera) camera->stop();
  hooks().redraw_list();
  return camera;
}

void CameraList::list_cameras(std::vector<record::RecordingCamera*>& out) {
  out.clear();
  std::lock_guard lock(list_mutex_);
  for (int index : list_) out.push_back(pool_[index].get());
}

CellLook CameraList::cell_look(int cell) const {
  const int channel = channel_of_cell(cell);
  if (!valid_channel(channel)) return CellLook::NoCamera;
  if (const Camera* c = slots_[channel]) return c->popup() ? CellLook::Popup : CellLook::Live;
  return channel_used_by_listed(channel) ? CellLook::CameraOff : CellLook::NoCamera;
}

std::string CameraList::channel_label(int cell) const {
  const int channel = channel_of_cell(cell);
  std::string label = "CHANNEL " + std::to_string(channel) + " : ";
  if (const Camera* c = slot(channel)) label += c->name();
  return label;
}

}  // namespace model
