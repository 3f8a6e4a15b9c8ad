#include "viewer/platform/ui_seams.h"

#include <atomic>

namespace platform {
namespace {

class NullUi final : public UiBackend {
 public:
  MsgAnswer message_box(std::string_view, std::string_view, MsgButtons buttons) override {
    switch (buttons) {
      case MsgButtons::Ok:
      case MsgButtons::OkCancel:
        return MsgAnswer::Ok;
      case MsgButtons::YesNo:
        return MsgAnswer::Yes;
    }
    return MsgAnswer::Ok;
  }
  void post_to_main_window(std::uint32_t, std::uintptr_t, std::uintptr_t) override {}
};

NullUi g_null_ui;
std::atomic<UiBackend*> g_backend{&g_null_ui};

}  // namespace

void set_ui_backend(UiBackend* backend) { g_backend.store(backend ? backend : &g_null_ui); }

UiBackend& ui() { return *g_backend.load(); }

}  // namespace platform
