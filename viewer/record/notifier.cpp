#include "viewer/record/notifier.h"

#include "viewer/platform/ui_seams.h"

namespace record {

void Notifier::post(const std::string& text, const std::string& caption) {
  if (stopped_.load()) return;
  platform::notify(text, caption);
}

}  // namespace record
