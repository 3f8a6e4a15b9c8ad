// A skinned button: a rectangle of its window drawn from a strip (normal,
// hover, pressed, and the "on" set), with a tool-tip and a hand cursor while
// the pointer is over it. It is not a widget: its window draws it into the
// window's own picture and hands it the mouse (skinned.h does both).
//
// A click is reported when the button is released over the button it was
// pressed on; dragging off it and back keeps the press, dragging off and
// releasing elsewhere is no click.
//
// User-interface thread.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <functional>

#include "viewer/shell/skin/artwork.h"

class QPainter;

namespace skin {

enum class Press { Idle, Inside, Outside };

class SkinButton {
 public:
  SkinButton(ButtonStrip strip, const QRect& rect, QString tool_tip = {}, std::function<void()> on_click = {});
  // A button whose strip is rendered from its source (render() again when
  // the window's device pixel ratio changes).
  SkinButton(StripSource source, qreal dpr, const QRect& rect, QString tool_tip = {},
             std::function<void()> on_click = {});
  void render(qreal dpr);

  const QRect& rect() const { return rect_; }
  void set_rect(const QRect& rect) { rect_ = rect; }
  bool visible() const { return visible_; }
  void set_visible(bool visible);
  // Shows the "on" set of the strip (a strip of six cells).
  bool on() const { return on_; }
  void set_on(bool on) { on_ = on; }
  const QString& tool_tip() const { return tool_tip_; }
  void set_tool_tip(const QString& text) { tool_tip_ = text; }
  void set_on_click(std::function<void()> on_click) { on_click_ = std::move(on_click); }
  // A text drawn centred over the strip's image (the dialogs' text buttons).
  void set_label(const QString& label, const QFont& font);
  const QString& label() const { return label_; }
  void set_strip(ButtonStrip strip) { strip_ = std::move(strip); }
  const ButtonStrip& strip() const { return strip_; }

  Press press() const { return press_; }
  bool hover() const { return hover_; }
  // The strip cell its look is drawn from now.
  int cell() const { return strip_.cell_for(on_, hover_, press_ == Press::Inside); }

  void paint(QPainter& painter) const;

  // The mouse, in window coordinates. Each returns whether the look changed
  // (the window then repaints rect()).
  bool pointer_moved(const QPoint& p);
  // True when the press landed on this (visible) button.
  bool pressed(const QPoint& p);
  // Ends a press; *clicked is set when it counts as a click. The click
  // callback is the caller's to run (after repainting), see click().
  bool released(const QPoint& p, bool* clicked);
  bool pointer_left();
  void click() const {
    if (on_click_) on_click_();
  }

 private:
  StripSource source_;
  ButtonStrip strip_;
  QRect rect_;
  QString tool_tip_;
  std::function<void()> on_click_;
  QString label_;
  QFont label_font_;
  bool visible_ = true;
  bool on_ = false;
  bool hover_ = false;
  Press press_ = Press::Idle;
};

}  // namespace skin
