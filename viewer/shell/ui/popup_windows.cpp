#include "viewer/shell/ui/popup_windows.h"

#include "viewer/shell/model/camera.h"
#include "viewer/shell/ui/main_window.h"
#include "viewer/shell/ui/popup_window.h"

namespace ui {

PopupWindows::PopupWindows() = default;

PopupWindows::~PopupWindows() {
  for (const QPointer<PopupWindow>& w : closed_) delete w.data();
  for (auto& w : windows_) w.reset();
}

bool PopupWindows::open(model::Camera& camera, int channel) {
  if (main_ == nullptr || channel < 1 || channel > model::kChannelCount) return false;
  // Only a running camera whose header told its picture size.
  if (!camera.running() || !camera.header_arrived()) return false;
  if (PopupWindow* other = window_of(camera); other && other->channel() != channel) other->close();
  std::unique_ptr<PopupWindow>& slot = windows_[channel];
  if (slot && slot->camera() != nullptr && slot->camera() != &camera) slot->close();
  if (!slot) {
    slot = std::make_unique<PopupWindow>(*this, channel);
    slot->setWindowIcon(main_->windowIcon());
  }
  slot->show_camera(camera);
  return true;
}

void PopupWindows::close(model::Camera& camera) {
  if (PopupWindow* w = window_of(camera)) w->close();
}

void PopupWindows::muted_from_outside(model::Camera& camera) {
  if (PopupWindow* w = window_of(camera)) w->muted_from_outside();
}

void PopupWindows::refresh(model::Camera& camera) {
  if (PopupWindow* w = window_of(camera)) w->refresh();
}

void PopupWindows::close_all() {
  for (auto& w : windows_) {
    if (w) w->close();
  }
}

PopupWindow* PopupWindows::window_of(const model::Camera& camera) const {
  for (const auto& w : windows_) {
    if (w && w->camera() == &camera) return w.get();
  }
  return nullptr;
}

PopupWindow* PopupWindows::window(int channel) const {
  if (channel < 1 || channel > model::kChannelCount) return nullptr;
  return windows_[channel].get();
}

model::ViewerCore& PopupWindows::core() { return main_->core(); }

void PopupWindows::redraw_main() {
  if (main_) main_->redraw_list();
}

void PopupWindows::user_changed() {
  if (main_ && !main_->shut_down()) (void)main_->core().save_now();
}

void PopupWindows::closed(PopupWindow& window) {
  const int channel = window.channel();
  model::Camera* camera = window.release_camera();
  if (channel >= 1 && channel <= model::kChannelCount && windows_[channel].get() == &window) {
    PopupWindow* gone = windows_[channel].release();
    std::erase_if(closed_, [](const QPointer<PopupWindow>& w) { return w.isNull(); });
    closed_.emplace_back(gone);
    gone->deleteLater();
  }
  if (camera == nullptr || main_ == nullptr) return;
  // The camera's cell shows it again; stopped cameras are placed too.
  main_->cameras().popup_closed(*camera);
  if (!main_->shut_down()) main_->activateWindow();
}

}  // namespace ui
