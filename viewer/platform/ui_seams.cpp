#include "viewer/platform/ui_seams.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace platform {
namespace {

class NullUi final : public UiBackend {
 public:
  MsgAnswer ask(std::string_view, std::string_view, MsgButtons buttons) override {
    return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
  }
  void notices_waiting() override {
    // Nobody is there to read them: each counts as shown and closed.
    while (std::optional<Notice> n = notices().take()) notices().closed(n->id);
  }
  void post_to_main_window(std::uint32_t, std::uintptr_t, std::uintptr_t) override {}
};

NullUi g_null_ui;
std::atomic<UiBackend*> g_backend{&g_null_ui};
std::atomic<std::thread::id> g_ui_thread{};

bool same_notice(const Notice& n, std::string_view text, std::string_view caption) {
  return n.text == text && n.caption == caption;
}

}  // namespace

bool NoticeBoard::post(std::string_view text, std::string_view caption) {
  std::function<void()> wakeup;
  {
    std::lock_guard lock(mutex_);
    auto same = [&](const Notice& n) { return same_notice(n, text, caption); };
    if (std::any_of(waiting_.begin(), waiting_.end(), same) || std::any_of(shown_.begin(), shown_.end(), same)) {
      return false;
    }
    waiting_.push_back(Notice{next_id_++, std::string(text), std::string(caption)});
    wakeup = wakeup_;
  }
  if (wakeup) wakeup();
  return true;
}

std::optional<Notice> NoticeBoard::take() {
  std::lock_guard lock(mutex_);
  if (waiting_.empty()) return std::nullopt;
  Notice n = std::move(waiting_.front());
  waiting_.erase(waiting_.begin());
  shown_.push_back(n);
  return n;
}

void NoticeBoard::closed(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  std::erase_if(shown_, [id](const Notice& n) { return n.id == id; });
}

void NoticeBoard::set_wakeup(std::function<void()> wakeup) {
  std::lock_guard lock(mutex_);
  wakeup_ = std::move(wakeup);
}

std::size_t NoticeBoard::waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

std::size_t NoticeBoard::shown() const {
  std::lock_guard lock(mutex_);
  return shown_.size();
}

void NoticeBoard::reset() {
  std::lock_guard lock(mutex_);
  waiting_.clear();
  shown_.clear();
}

void set_ui_backend(UiBackend* backend) {
  UiBackend* b = backend ? backend : &g_null_ui;
  g_backend.store(b);
  g_ui_thread.store(std::this_thread::get_id());
  notices().reset();
  (void)b;
}

UiBackend& ui() { return *g_backend.load(); }

void set_ui_thread(std::thread::id id) { g_ui_thread.store(id); }

bool on_ui_thread() { return g_ui_thread.load() == std::this_thread::get_id(); }

NoticeBoard& notices() {
  static NoticeBoard* const board = [] {
    static NoticeBoard b;
    b.set_wakeup([] { ui().notices_waiting(); });
    return &b;
  }();
  return *board;
}

void notify(std::string_view text, std::string_view caption) { (void)notices().post(text, caption); }

MsgAnswer ask(std::string_view text, std::string_view caption, MsgButtons buttons) {
  if (!on_ui_thread()) {
    std::fprintf(stderr, "question asked off the user-interface thread, not shown: [%.*s] %.*s\n",
                 static_cast<int>(caption.size()), caption.data(), static_cast<int>(text.size()), text.data());
    return MsgAnswer::Refused;
  }
  return ui().ask(text, caption, buttons);
}

void tell(std::string_view text, std::string_view caption) {
  if (on_ui_thread())
    (void)ui().ask(text, caption, MsgButtons::Ok);
  else
    notify(text, caption);
}

}  // namespace platform
