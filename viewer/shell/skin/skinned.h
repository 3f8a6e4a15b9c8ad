// A skinned window: frameless, shaped by a mask, painted by its own code in
// one pass (background, then its controls), with skinned buttons that show
// hover and press, tool-tips, a hand cursor over what can be clicked, and
// dragged by every point that is not a control ("client" area).
//
// Skinned<QWidget> is the main window's base and the pop-up windows',
// Skinned<QDialog> the dialogs' (skinned_dialog.h). A window says what it
// is through the virtual functions below and draws in paint_skin(); this
// base turns the mouse into button looks and clicks, window moves and the
// window's own client_*() calls.
//
// Painting goes through Qt's backing store, which is the window's back
// buffer: every paint composes the damaged rectangle in the window's order
// and the store reaches the screen in one step, so the skin never flickers.
//
// User-interface thread only.
#pragma once

#include <QEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "viewer/shell/skin/artwork.h"
#include "viewer/shell/skin/skin_button.h"

namespace skin {

// A tool-tip and the area it belongs to (it closes when the pointer leaves).
struct Tip {
  QString text;
  QRect area;
};

template <class Base>
class Skinned : public Base {
 public:
  template <class... Args>
  explicit Skinned(Args&&... args) : Base(std::forward<Args>(args)...) {
    this->setWindowFlag(Qt::FramelessWindowHint, true);
    this->setAttribute(Qt::WA_OpaquePaintEvent, true);
    this->setMouseTracking(true);
  }

  // The buttons, for tests and for windows that look them up.
  const std::vector<std::unique_ptr<SkinButton>>& buttons() const { return buttons_; }

  // The visible button under a point, or nullptr.
  SkinButton* button_at(const QPoint& p) const {
    // Last added is drawn on top, so it is hit first.
    for (auto it = buttons_.rbegin(); it != buttons_.rend(); ++it) {
      if ((*it)->visible() && (*it)->rect().contains(p)) return it->get();
    }
    return nullptr;
  }

  // The device pixel ratio the artwork is rendered for now.
  qreal artwork_ratio() const { return artwork_dpr_; }

 protected:
  SkinButton& add_button(const StripSource& source, const QRect& rect, const QString& tip,
                         std::function<void()> on_click) {
    buttons_.push_back(std::make_unique<SkinButton>(source, current_ratio(), rect, tip, std::move(on_click)));
    return *buttons_.back();
  }
  // The ratio artwork is made for now: the window's once it has been
  // painted, else the one it will most likely get.
  qreal current_ratio() const { return artwork_dpr_ > 0 ? artwork_dpr_ : this->devicePixelRatioF(); }
  void remove_button(SkinButton* button) {
    if (pressed_ == button) pressed_ = nullptr;
    std::erase_if(buttons_, [button](const auto& b) { return b.get() == button; });
  }
  void paint_buttons(QPainter& painter, const QRect& dirty) const {
    for (const auto& b : buttons_) {
      if (b->visible() && b->rect().intersects(dirty) && damaged_.intersects(b->rect())) b->paint(painter);
    }
  }
  void update_button(const SkinButton& b) { this->update(b.rect()); }

  // Fixed logical size and a rounded shape with corner ellipses cw x ch.
  void set_rounded_shape(QSize size, int cw, int ch) {
    this->setFixedSize(size);
    this->setMask(rounded_region(size, cw, ch));
  }

  // Makes the window's images for a device pixel ratio: called before the
  // first paint and again whenever the window's ratio changes.
  virtual void render_artwork(qreal dpr) {}
  // Draws the damaged rectangle, in the window's order.
  virtual void paint_skin(QPainter& painter, const QRect& dirty) = 0;
  // A point that belongs to the window's controls; every other point drags
  // the window. By default: the buttons.
  virtual bool is_client(const QPoint& p) const { return button_at(p) != nullptr; }
  // Left button pressed, moved (pressed or not) and released on client
  // points that are not buttons, and a double click there.
  virtual void client_press(const QPoint& p) {}
  virtual void client_move(const QPoint& p, Qt::MouseButtons buttons) {}
  virtual void client_release(const QPoint& p) {}
  virtual void client_double_click(const QPoint& p) {}
  virtual Tip tip_at(const QPoint& p) const {
    if (SkinButton* b = button_at(p)) return {b->tool_tip(), b->rect()};
    return {};
  }
  virtual Qt::CursorShape cursor_at(const QPoint& p) const {
    return button_at(p) ? Qt::PointingHandCursor : Qt::ArrowCursor;
  }

  // Moves the window with the pointer, through the window manager where
  // there is one (X11 and Wayland alike); else by hand.
  void start_window_move(const QPoint& global) {
    if (QWindow* w = this->windowHandle(); w && w->startSystemMove()) return;
    manual_move_ = true;
    move_offset_ = global - this->frameGeometry().topLeft();
  }

  void paintEvent(QPaintEvent* event) override {
    ensure_artwork();
    damaged_ = event->region();
    QPainter painter(this);
    painter.setClipRegion(damaged_);
    paint_skin(painter, event->rect());
  }
  // During paint_skin(): exactly what is being repainted (paint_skin's
  // rectangle bounds it). Parts outside it need not be drawn at all.
  const QRegion& damaged() const { return damaged_; }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    if (SkinButton* b = button_at(p)) {
      if (b->pressed(p)) {
        pressed_ = b;
        update_button(*b);
      }
      return;
    }
    if (!is_client(p)) {
      start_window_move(event->globalPosition().toPoint());
      return;
    }
    client_press(p);
  }

  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    // A quick second click on a button is a second click.
    if (button_at(p) || !is_client(p)) {
      mousePressEvent(event);
      return;
    }
    client_double_click(p);
  }

  void mouseMoveEvent(QMouseEvent* event) override {
    const QPoint p = event->position().toPoint();
    if (manual_move_) {
      this->move(event->globalPosition().toPoint() - move_offset_);
      return;
    }
    for (const auto& b : buttons_) {
      if (b->pointer_moved(p)) update_button(*b);
    }
    set_cursor_shape(pressed_ ? Qt::PointingHandCursor : cursor_at(p));
    if (!pressed_) client_move(p, event->buttons());
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    manual_move_ = false;
    if (SkinButton* b = std::exchange(pressed_, nullptr)) {
      bool clicked = false;
      b->released(p, &clicked);
      update_button(*b);
      // Last: the click may open a modal dialog or close the window.
      if (clicked) b->click();
      return;
    }
    client_release(p);
  }

  void leaveEvent(QEvent* event) override {
    for (const auto& b : buttons_) {
      if (b->pointer_left()) update_button(*b);
    }
    Base::leaveEvent(event);
  }

  bool event(QEvent* event) override {
    if (event->type() == QEvent::ToolTip) {
      auto* help = static_cast<QHelpEvent*>(event);
      const Tip tip = tip_at(help->pos());
      if (tip.text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
      } else {
        QToolTip::showText(help->globalPos(), tip.text, this, tip.area);
      }
      return true;
    }
    return Base::event(event);
  }

  void ensure_artwork() {
    const qreal dpr = this->devicePixelRatioF();
    if (dpr == artwork_dpr_) return;
    const bool first = artwork_dpr_ == 0;
    artwork_dpr_ = dpr;
    // Buttons made before the first paint were rendered at this ratio
    // already, unless the window came up on another screen.
    for (const auto& b : buttons_) {
      if (!first || b->strip().image().devicePixelRatio() != dpr) b->render(dpr);
    }
    render_artwork(dpr);
  }

 private:
  void set_cursor_shape(Qt::CursorShape shape) {
    if (shape == cursor_) return;
    cursor_ = shape;
    if (shape == Qt::ArrowCursor)
      this->unsetCursor();
    else
      this->setCursor(shape);
  }

  std::vector<std::unique_ptr<SkinButton>> buttons_;
  QRegion damaged_;
  SkinButton* pressed_ = nullptr;
  bool manual_move_ = false;
  QPoint move_offset_;
  Qt::CursorShape cursor_ = Qt::ArrowCursor;
  qreal artwork_dpr_ = 0;
};

}  // namespace skin
