// The common ground of the program's dialogs (camera, schedule, motion
// detection, saved files, files, utility settings): a skinned dialog with a
// caption drawn over its artwork, labels and group frames drawn by the
// program, Qt's own input widgets in the house palette, text buttons that
// can be disabled, and a busy state for work that runs on a worker thread
// (wait cursor, every control but the close button disabled).
//
// User-interface thread only.
#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <set>
#include <vector>

#include "viewer/shell/skin/skinned_dialog.h"

class QWidget;

namespace ui {

// Runs fn on the user-interface thread, later (from any thread: how work on
// a worker thread reports back). The application object receives it, so it
// never reaches a window that has gone.
void post_to_ui_thread(std::function<void()> fn);

// The style sheet that gives Qt's widgets (line edits, lists, drop-down
// lists, pickers, check boxes, radio buttons, scroll bars) the house look.
const QString& house_style_sheet();

class HouseDialog : public skin::SkinnedDialog {
 public:
  // title: the window's title and the caption drawn at its top. background:
  // art/NAME.svg of the dialog's size; empty for the house body.
  HouseDialog(QWidget* parent, QSize size, const QString& title, const QString& background = {});

  bool busy() const { return busy_; }
  // A text button by its label (tests and the display harness).
  skin::SkinButton* button(const QString& label) const;
  bool button_enabled(const skin::SkinButton* b) const { return b && !disabled_.count(b); }

 protected:
  // A text button; its click does nothing while it is disabled or the
  // dialog is busy.
  skin::SkinButton& add_button_labelled(const QRect& rect, const QString& label, std::function<void()> on_click,
                                        int font_height = 14);
  void set_button_enabled(skin::SkinButton* b, bool enabled);

  // Text drawn by the program: a label, and a group frame with its title.
  void add_label(const QRect& rect, const QString& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
  void add_group(const QRect& rect, const QString& title);

  // Busy: the wait cursor over the dialog, the given widgets and every text
  // button disabled; the close button and Escape still close the dialog.
  void set_busy(bool busy, const std::vector<QWidget*>& widgets);

  // What a dialog draws over its background and under its buttons.
  virtual void paint_content(QPainter& painter, const QRect& dirty) {}

  void render_artwork(qreal dpr) override;
  void paint_skin(QPainter& painter, const QRect& dirty) final;
  Qt::CursorShape cursor_at(const QPoint& p) const override;

 private:
  struct Label {
    QRect rect;
    QString text;
    Qt::Alignment align;
  };
  QString title_;
  QString background_name_;
  QImage background_;
  std::vector<Label> labels_;
  std::vector<Label> groups_;
  std::set<const skin::SkinButton*> disabled_;
  std::set<QWidget*> busy_disabled_;
  bool busy_ = false;
};

}  // namespace ui
