#include "viewer/shell/ui/about_dialog.h"

#include <QPainter>

#include "viewer/shell/skin/fonts.h"
#include "viewer/shell/skin/palette.h"
#include "viewer/shell/ui/main_window.h"

namespace ui {
namespace {

constexpr QSize kSize(340, 190);
constexpr QRect kIcon(24, 28, 56, 56);

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : skin::SkinnedDialog(parent, kSize) {
  setWindowTitle(QStringLiteral("About %1").arg(QLatin1String(kWindowTitle)));
  add_close_button(QRect(kSize.width() - 34, 14, 20, 20), QStringLiteral("Close"));
  add_text_button(QRect((kSize.width() - 76) / 2, kSize.height() - 44, 76, 24), QStringLiteral("OK"),
                  [this] { accept(); });
}

void AboutDialog::render_artwork(qreal dpr) {
  skin::SkinnedDialog::render_artwork(dpr);
  icon_ = skin::render(QStringLiteral("app_icon"), kIcon.size(), dpr);
}

void AboutDialog::paint_skin(QPainter& painter, const QRect& dirty) {
  painter.fillRect(dirty, skin::kBodyBottom);
  skin::paint_body(painter, QRectF(rect()), skin::kDialogCorner);
  painter.drawImage(kIcon.topLeft(), icon_);
  const int x = kIcon.right() + 18;
  const int w = width() - x - 20;
  painter.setPen(skin::kTextBright);
  painter.setFont(skin::font(22, 700));
  painter.drawText(QRect(x, 30, w, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quorvan"));
  painter.setPen(skin::kText);
  painter.setFont(skin::font(16, 400));
  painter.drawText(QRect(x, 54, w, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Viewer & Recorder"));
  painter.setPen(skin::kTextDim);
  painter.setFont(skin::font(14, 400));
  painter.drawText(QRect(x, 80, w, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Version %1").arg(QLatin1String(kProductVersion)));
  painter.drawText(QRect(24, 104, width() - 48, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Live view and recording for network cameras."));
  paint_buttons(painter, dirty);
}

}  // namespace ui
