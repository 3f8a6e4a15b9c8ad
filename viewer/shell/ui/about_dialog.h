// The About dialog: the product's name and version and an OK button, in the
// house skin. User-interface thread.
#pragma once

#include <QImage>

#include "viewer/shell/skin/skinned_dialog.h"

namespace ui {

class AboutDialog final : public skin::SkinnedDialog {
 public:
  explicit AboutDialog(QWidget* parent);

 protected:
  void render_artwork(qreal dpr) override;
  void paint_skin(QPainter& painter, const QRect& dirty) override;

 private:
  QImage icon_;
};

}  // namespace ui
