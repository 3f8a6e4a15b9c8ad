// The skin framework without a display: the cell rule of button strips and
// the key colour, our artwork at 1x and 2x, buttons' press and click rules,
// window shapes, the skinned window's mouse handling, the message box and
// the fonts.
#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "viewer/shell/skin/artwork.h"
#include "viewer/shell/skin/fonts.h"
#include "viewer/shell/skin/palette.h"
#include "viewer/shell/skin/skin_button.h"
#include "viewer/shell/skin/skinned.h"
#include "viewer/shell/skin/skinned_dialog.h"

namespace skin {
namespace {

// A strip of n cells of 4 x 3 pixels, cell i filled with colour i.
ButtonStrip coloured_strip(int n, qreal dpr = 1) {
  static const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::yellow, Qt::gray};
  const int cw = static_cast<int>(4 * dpr), ch = static_cast<int>(3 * dpr);
  QImage image(cw * n, ch, QImage::Format_ARGB32_Premultiplied);
  for (int i = 0; i < n; ++i) {
    for (int y = 0; y < ch; ++y) {
      for (int x = 0; x < cw; ++x) image.setPixelColor(i * cw + x, y, colours[i]);
    }
  }
  image.setDevicePixelRatio(dpr);
  return ButtonStrip(image, QSize(4, 3), n);
}

QColor colour_of_cell(const ButtonStrip& strip, int cell) { return strip.cell(cell).pixelColor(1, 1); }

TEST(ButtonStrip, CellRuleWithAndWithoutTheOnSet) {
  const ButtonStrip six = coloured_strip(6);
  ASSERT_TRUE(six.has_on_set());
  EXPECT_EQ(six.cell_for(false, false, false), 0);
  EXPECT_EQ(six.cell_for(false, true, false), 1);
  EXPECT_EQ(six.cell_for(false, true, true), 2);  // pressed wins over hover
  EXPECT_EQ(six.cell_for(false, false, true), 2);
  EXPECT_EQ(six.cell_for(true, false, false), 3);
  EXPECT_EQ(six.cell_for(true, true, false), 4);
  EXPECT_EQ(six.cell_for(true, false, true), 5);
  // Cells are cut at whole cell widths, also at 2x.
  EXPECT_EQ(colour_of_cell(six, 4), QColor(Qt::yellow));
  const ButtonStrip six2x = coloured_strip(6, 2);
  EXPECT_EQ(six2x.cell(5).size(), QSize(8, 6));
  EXPECT_EQ(six2x.cell(5).devicePixelRatio(), 2);
  EXPECT_EQ(colour_of_cell(six2x, 5), QColor(Qt::gray));

  // Three cells: "on" has no look of its own.
  const ButtonStrip three = coloured_strip(3);
  EXPECT_FALSE(three.has_on_set());
  EXPECT_EQ(three.cell_for(true, true, false), 1);
  EXPECT_EQ(three.cell_for(true, false, true), 2);
  // A strip with fewer cells than looks gives its last cell.
  const ButtonStrip two = coloured_strip(2);
  EXPECT_EQ(two.cell_for(false, false, true), 1);
  EXPECT_EQ(colour_of_cell(two, 7), QColor(Qt::green));
}

TEST(Artwork, TheKeyColourIsTransparent) {
  const QByteArray svg =
      "<svg xmlns='http://www.w3.org/2000/svg' width='4' height='2'>"
      "<rect x='0' y='0' width='2' height='2' fill='#ff00ff'/>"
      "<rect x='2' y='0' width='2' height='2' fill='#fe00ff'/></svg>";
  const QImage image = render_svg(svg, QSize(4, 2), 1);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(image.pixel(3, 1)), 255);  // only the exact colour
  EXPECT_TRUE(render_svg("not svg", QSize(4, 2), 1).isNull());
}

TEST(Artwork, EveryDrawingRendersCrispAtOneAndTwoTimes) {
  const QStringList names = QDir(QStringLiteral(":/skin")).entryList({QStringLiteral("*.svg")});
  ASSERT_GE(names.size(), 15);
  for (const QString& file : names) {
    const QString name = file.chopped(4);
    for (qreal dpr : {1.0, 2.0}) {
      const QImage image = render(name, QSize(20, 20), dpr);
      ASSERT_FALSE(image.isNull()) << name.toStdString();
      EXPECT_EQ(image.size(), QSize(20, 20) * dpr) << name.toStdString();
      EXPECT_EQ(image.devicePixelRatio(), dpr);
    }
  }
  // The house button: each look differs from the others where the glyph is.
  const ButtonStrip strip = button_strip(QStringLiteral("button_add"), QSize(20, 20), true, 2);
  ASSERT_EQ(strip.cells(), 6);
  EXPECT_EQ(strip.image().size(), QSize(240, 40));
  const QPoint centre(20, 20);  // device pixels of a 2x cell: the plus
  QList<QRgb> seen;
  for (int c = 0; c < 6; ++c) {
    const QRgb px = strip.cell(c).pixel(centre);
    EXPECT_FALSE(seen.contains(px)) << "cell " << c;
    seen.append(px);
  }
  EXPECT_EQ(QColor(strip.cell(3).pixel(centre)), QColor(0x5e, 0xe0, 0x8a));  // on: green
}

TEST(Artwork, Shapes) {
  const QRegion rounded = rounded_region(QSize(601, 448), 30, 30);
  EXPECT_FALSE(rounded.contains(QPoint(0, 0)));
  EXPECT_FALSE(rounded.contains(QPoint(2, 2)));
  EXPECT_FALSE(rounded.contains(QPoint(598, 445)));
  EXPECT_TRUE(rounded.contains(QPoint(15, 15)));
  EXPECT_TRUE(rounded.contains(QPoint(300, 0)));
  EXPECT_TRUE(rounded.contains(QPoint(0, 224)));
  EXPECT_TRUE(rounded.contains(QPoint(600, 224)));
  EXPECT_EQ(rounded.boundingRect(), QRect(0, 0, 601, 448));

  // A shape cut by colour: everything but the key.
  QImage frame(6, 4, QImage::Format_RGB32);
  frame.fill(QColor(10, 20, 30));
  const QColor key(30, 0, 40);
  frame.setPixelColor(0, 0, key);
  frame.setPixelColor(5, 3, key);
  frame.setPixelColor(2, 1, key);
  const QRegion cut = region_without(frame, key);
  EXPECT_FALSE(cut.contains(QPoint(0, 0)));
  EXPECT_FALSE(cut.contains(QPoint(2, 1)));
  EXPECT_FALSE(cut.contains(QPoint(5, 3)));
  EXPECT_TRUE(cut.contains(QPoint(1, 0)));
  EXPECT_TRUE(cut.contains(QPoint(3, 1)));
  EXPECT_EQ(cut.boundingRect(), QRect(0, 0, 6, 4));
}

TEST(SkinButtonRules, AClickIsAReleaseOverTheButtonItWasPressedOn) {
  int clicks = 0;
  SkinButton b(coloured_strip(6), QRect(10, 10, 20, 20), QStringLiteral("Add camera"), [&] { ++clicks; });
  bool clicked = false;
  EXPECT_FALSE(b.pressed(QPoint(5, 5)));
  ASSERT_TRUE(b.pressed(QPoint(12, 12)));
  EXPECT_EQ(b.cell(), 2);
  EXPECT_TRUE(b.released(QPoint(29, 29), &clicked));
  EXPECT_TRUE(clicked);
  EXPECT_EQ(b.cell(), 1);  // still hovered

  // Off and back on keeps the press; off and released is no click.
  ASSERT_TRUE(b.pressed(QPoint(12, 12)));
  EXPECT_TRUE(b.pointer_moved(QPoint(40, 40)));
  EXPECT_EQ(b.press(), Press::Outside);
  EXPECT_EQ(b.cell(), 0);
  EXPECT_TRUE(b.pointer_moved(QPoint(15, 15)));
  EXPECT_EQ(b.press(), Press::Inside);
  b.pointer_moved(QPoint(40, 40));
  b.released(QPoint(40, 40), &clicked);
  EXPECT_FALSE(clicked);
  EXPECT_EQ(b.press(), Press::Idle);

  // The "on" set, and a hidden button takes nothing.
  b.set_on(true);
  b.pointer_moved(QPoint(15, 15));
  EXPECT_EQ(b.cell(), 4);
  b.set_visible(false);
  EXPECT_FALSE(b.pressed(QPoint(15, 15)));
  EXPECT_FALSE(b.hover());
  EXPECT_EQ(clicks, 0);  // clicks run only through click()
}

// A double click as X delivers it: press, release, double click, release.
void double_click(QWidget* w, QPoint p) {
  QTest::mousePress(w, Qt::LeftButton, {}, p);
  QTest::mouseRelease(w, Qt::LeftButton, {}, p);
  QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(p), w->mapToGlobal(QPointF(p)), Qt::LeftButton, Qt::LeftButton,
                  Qt::NoModifier);
  QApplication::sendEvent(w, &dbl);
  QTest::mouseRelease(w, Qt::LeftButton, {}, p);
}

// A small skinned window: one button, and a client area that is not a button.
class TestWindow final : public Skinned<QWidget> {
 public:
  TestWindow() {
    set_rounded_shape(QSize(200, 100), 30, 30);
    add_button({QStringLiteral("button_add"), QSize(20, 20), 3, false}, QRect(10, 10, 20, 20),
               QStringLiteral("Add camera"), [this] { ++clicks; });
  }
  int clicks = 0;
  std::vector<QPoint> presses, releases, doubles;
  std::vector<qreal> renders;
  using Skinned<QWidget>::cursor_at;
  Tip tip_at(const QPoint& p) const override {
    if (QRect(100, 0, 100, 100).contains(p)) return {QStringLiteral("client"), QRect(100, 0, 100, 100)};
    return Skinned<QWidget>::tip_at(p);
  }

 protected:
  void render_artwork(qreal dpr) override { renders.push_back(dpr); }
  void paint_skin(QPainter& p, const QRect& dirty) override {
    p.fillRect(dirty, Qt::black);
    paint_buttons(p, dirty);
  }
  bool is_client(const QPoint& p) const override { return button_at(p) || QRect(100, 0, 100, 100).contains(p); }
  void client_press(const QPoint& p) override { presses.push_back(p); }
  void client_release(const QPoint& p) override { releases.push_back(p); }
  void client_double_click(const QPoint& p) override { doubles.push_back(p); }
};

TEST(SkinnedWindow, ButtonsClientAreaDragAndTips) {
  TestWindow w;
  w.move(50, 60);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_TRUE(w.testAttribute(Qt::WA_OpaquePaintEvent));
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(w.mask().contains(QPoint(1, 1)));  // the offscreen platform keeps the mask
  ASSERT_EQ(w.renders.size(), 1u);

  QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(15, 15));
  EXPECT_EQ(w.clicks, 1);
  QTest::mouseClick(&w, Qt::LeftButton, {}, QPoint(150, 50));
  ASSERT_EQ(w.presses.size(), 1u);
  EXPECT_EQ(w.releases.back(), QPoint(150, 50));
  double_click(&w, QPoint(160, 50));
  ASSERT_EQ(w.doubles.size(), 1u);
  double_click(&w, QPoint(15, 15));  // a double click on a button is two clicks
  EXPECT_EQ(w.clicks, 3);

  // Pressing outside every control moves the window with the pointer.
  const QPoint before = w.pos();
  QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(60, 60));
  QMouseEvent move(QEvent::MouseMove, QPointF(90, 80), w.mapToGlobal(QPointF(90, 80)), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&w, &move);
  QTest::mouseRelease(&w, Qt::LeftButton, {}, QPoint(90, 80));
  EXPECT_EQ(w.pos(), before + QPoint(30, 20));
  EXPECT_EQ(w.presses.size(), 2u);  // the double click's first press only; the drag was not one

  EXPECT_EQ(w.tip_at(QPoint(15, 15)).text, "Add camera");
  EXPECT_EQ(w.tip_at(QPoint(120, 15)).text, "client");
  EXPECT_TRUE(w.tip_at(QPoint(60, 60)).text.isEmpty());
  EXPECT_EQ(w.cursor_at(QPoint(15, 15)), Qt::PointingHandCursor);
  EXPECT_EQ(w.cursor_at(QPoint(60, 60)), Qt::ArrowCursor);
}

TEST(MessageBoxes, AnswersByButtonKeyAndClose) {
  using platform::MsgAnswer;
  using platform::MsgButtons;
  {
    MessageBox box(nullptr, QStringLiteral("cam1 will be removed from the list"), QStringLiteral("WARNING"),
                   MsgButtons::OkCancel);
    ASSERT_EQ(box.buttons().size(), 2u);
    EXPECT_EQ(box.buttons()[0]->label(), "OK");
    EXPECT_EQ(box.buttons()[1]->label(), "Cancel");
    EXPECT_FALSE(box.mask().contains(QPoint(0, 0)));  // rounded corners
    box.show();
    QTest::mouseClick(&box, Qt::LeftButton, {}, box.buttons()[0]->rect().center());
    EXPECT_EQ(box.answer(), MsgAnswer::Ok);
    EXPECT_EQ(box.result(), static_cast<int>(MsgAnswer::Ok));
  }
  {
    MessageBox box(nullptr, QStringLiteral("?"), QString(), MsgButtons::YesNo);
    box.show();
    QTest::keyClick(&box, Qt::Key_Escape);
    EXPECT_EQ(box.answer(), MsgAnswer::No);
  }
  {
    MessageBox box(nullptr, QStringLiteral("?"), QString(), MsgButtons::YesNo);
    box.show();
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.answer(), MsgAnswer::Yes);
  }
  {
    // A long text wraps inside a wider box, and so does a word longer than a
    // line; closing an OK box answers OK.
    QString longer;
    for (int i = 0; i < 40; ++i) longer += QStringLiteral("word ");
    longer += QString(200, QChar('x'));
    MessageBox box(nullptr, longer, QStringLiteral("warning"), MsgButtons::Ok);
    EXPECT_GT(box.height(), 160);
    EXPECT_LE(box.width(), 480);
    box.show();
    box.close();
    EXPECT_EQ(box.answer(), MsgAnswer::Ok);
  }
}

TEST(Fonts, ArialOrItsMetricTwinAtCellHeights) {
  const QString family = resolved_family();
  EXPECT_TRUE(family == "Arial" || family == "Liberation Sans" || family == "Arimo") << family.toStdString();
  for (int height : {10, 13, 14}) {
    const QFontMetrics fm(font(height, 500));
    EXPECT_LE(fm.ascent() + fm.descent(), height);
    EXPECT_GE(fm.ascent() + fm.descent(), height - 2);
  }
  EXPECT_EQ(font(13, 800).weight(), QFont::ExtraBold);
}

}  // namespace
}  // namespace skin
