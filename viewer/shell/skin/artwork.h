// Our artwork, from its sources to what the windows draw.
//
// Every image of the skin is an SVG file under art/ (compiled into the
// program as the resource folder ":/skin"), rendered when a window is made
// and again when it moves to a screen with another device pixel ratio, so
// that a window of 601 x 448 logical pixels is crisp at 1x and at 2x.
//
// Buttons come as strips of equal cells, as skinned controls always have:
// normal, hover, pressed, and for buttons with an "on" state a second set of
// three. A strip is either drawn whole in one SVG, or made from one button
// drawing in the house colours (palette.h) that is recoloured for each look.
// Pixels of the key colour RGB(255, 0, 255) are transparent everywhere.
//
// All functions run on the user-interface thread (QPainter on QImage is
// safe elsewhere too, but nothing needs it).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRegion>
#include <QSize>
#include <QString>

namespace skin {

// The four artwork colours of a button in one look.
struct ButtonLook {
  const char* face_top;
  const char* face_bottom;
  const char* rim;
  const char* glyph;
};

// Looks of a strip's cells, in the cell order: normal, hover, pressed, and
// the "on" set (normal, hover, pressed).
inline constexpr int kLookCount = 6;
const ButtonLook& look(int cell);

// The SVG text of art/NAME.svg; empty when there is no such file.
QByteArray svg_source(const QString& name);

// The SVG text with the house button colours replaced by those of a look.
QByteArray recolour(const QByteArray& svg, const ButtonLook& look);

// Renders SVG text into an image of logical x dpr device pixels, with the
// device pixel ratio set on it and the key colour made transparent. A null
// image when the text is not SVG.
QImage render_svg(const QByteArray& svg, QSize logical, qreal dpr);
// The same for art/NAME.svg.
QImage render(const QString& name, QSize logical, qreal dpr);

// Makes pixels of exactly the key colour transparent.
void clear_key_colour(QImage& image);

// A strip of equal cells side by side.
class ButtonStrip {
 public:
  ButtonStrip() = default;
  // image: cells x cell logical pixels wide (device pixel ratio set on it).
  ButtonStrip(QImage image, QSize cell, int cells);

  bool null() const { return image_.isNull() || cells_ == 0; }
  int cells() const { return cells_; }
  QSize cell_size() const { return cell_; }
  bool has_on_set() const { return cells_ >= 6; }
  const QImage& image() const { return image_; }

  // The cell showing a look: 0 normal, 1 hover, 2 pressed; 3 to 5 the same
  // in the "on" set, which only a strip of six cells has. Pressed wins over
  // hover. A strip of fewer cells gives its last cell for a missing one.
  int cell_for(bool on, bool hover, bool pressed) const;
  // Cell `index` as an image of its own (device pixel ratio kept).
  QImage cell(int index) const;
  // Draws cell `index` into a target rectangle (logical coordinates).
  void draw(class QPainter& painter, const QRect& target, int index) const;

 private:
  QImage image_;
  QSize cell_;
  int cells_ = 0;
};

// A strip made from one button drawing in the house colours, recoloured for
// normal, hover and pressed (and the "on" set when on_set).
ButtonStrip button_strip(const QString& name, QSize cell, bool on_set, qreal dpr);
// A strip drawn whole in art/NAME.svg: cells x cell wide.
ButtonStrip drawn_strip(const QString& name, QSize cell, int cells, qreal dpr);

// Where a strip comes from, so that it can be rendered again for another
// device pixel ratio.
struct StripSource {
  QString name;        // art/NAME.svg
  QSize cell;          // logical size of one cell
  int cells = 3;       // 3, or 6 with the "on" set
  bool drawn = false;  // the SVG holds every cell; else one drawing in the house colours
};
ButtonStrip make_strip(const StripSource& source, qreal dpr);

// Window shapes, in logical coordinates. A rounded rectangle over the whole
// size with corner ellipses of corner_w x corner_h:
QRegion rounded_region(QSize size, int corner_w, int corner_h);
// Every pixel of a logical (1x) image except those of the colour key:
QRegion region_without(const QImage& image, const QColor& key);

}  // namespace skin
