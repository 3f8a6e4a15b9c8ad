// Skinned dialogs: the base of every dialog of the program, and the message
// box that questions and notices are shown in.
//
// A dialog has rounded 20 x 20 corners, is dragged by any point that is
// neither one of its skinned buttons nor one of its child widgets (line
// edits, lists, pickers are ordinary Qt widgets laid over the skin), and
// opens centred on its parent, the main window. Its background is art/NAME.svg
// at the dialog's size, or the house body drawn to any size.
//
// User-interface thread only.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

#include <string_view>
#include <vector>

#include "viewer/platform/ui_seams.h"
#include "viewer/shell/skin/skinned.h"

namespace skin {

// Corner ellipse of the dialogs.
inline constexpr int kDialogCorner = 20;

// Draws the house body over a rectangle: the body gradient inside a rounded
// rectangle with corner ellipses of corner x corner, and its rim.
void paint_body(QPainter& painter, const QRectF& rect, int corner);

// The house look of a standard button with a text on it.
StripSource text_button_source(QSize size);
// The close button of dialogs (20 x 20, a cross).
StripSource close_button_source();

class SkinnedDialog : public Skinned<QDialog> {
 public:
  SkinnedDialog(QWidget* parent, QSize size);

 protected:
  // art/NAME.svg as the background; empty: the house body.
  void set_background(const QString& svg_name);
  // A close button at rect that rejects the dialog.
  SkinButton& add_close_button(const QRect& rect, const QString& tip);
  // A text button (the house face with a label).
  SkinButton& add_text_button(const QRect& rect, const QString& label, std::function<void()> on_click);

  void render_artwork(qreal dpr) override;
  void paint_skin(QPainter& painter, const QRect& dirty) override;
  void showEvent(QShowEvent* event) override;

 private:
  QString background_name_;
  QImage background_;
};

// A question or a message: caption, text and its buttons (OK; OK and
// Cancel; Yes and No). Enter answers with the first button, Escape and the
// window's close with the last one.
class MessageBox final : public SkinnedDialog {
 public:
  MessageBox(QWidget* parent, const QString& text, const QString& caption, platform::MsgButtons buttons);

  // Asks modally and returns the answer.
  static platform::MsgAnswer ask(QWidget* parent, std::string_view text, std::string_view caption,
                                 platform::MsgButtons buttons);

  platform::MsgAnswer answer() const { return answer_; }
  const QString& text() const { return text_; }
  const QString& caption() const { return caption_; }
  // Answers as if the user clicked button `index` (0 first).
  void choose(int index);

 protected:
  void paint_skin(QPainter& painter, const QRect& dirty) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  QString text_;
  QString caption_;
  std::vector<platform::MsgAnswer> answers_;
  platform::MsgAnswer answer_;
  QRect text_rect_;
};

}  // namespace skin
