// The hyperlink control and the Information dialog on Qt's offscreen
// platform: colours, underline while hovering, visited state, tool-tip,
// cursor, click handling and the failure report.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "launcher/core/hyperlink.h"
#include "launcher/ui/hyperlink_label.h"
#include "launcher/ui/information_dialog.h"
#include "support/files.h"

namespace {

using launcher::ui::HyperlinkLabel;

const QString kAddress = QStringLiteral("file:///usr/share/quorvan-viewer/help/index.html");

void move_to(QWidget& w, QPoint at) {
  QMouseEvent move(QEvent::MouseMove, QPointF(at), w.mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&w, &move);
}

void leave(QWidget& w) {
  QEvent e(QEvent::Leave);
  QApplication::sendEvent(&w, &e);
}

struct Link {
  HyperlinkLabel label{QString(), kAddress};
  QStringList opened, fallbacks, reports;
  int result = 42;
  Link() {
    label.set_opener([this](const QString& a) {
      opened << a;
      return result;
    });
    label.set_fallback([this](const QString& a) { fallbacks << a; });
    label.set_failure_report([this](const QString& m) { reports << m; });
    label.show();
  }
};

TEST(HyperlinkLabel, StartsAsAnUnvisitedLinkSizedToItsText) {
  Link link;
  EXPECT_EQ(link.label.text(), kAddress);  // no text of its own: shows the address
  EXPECT_EQ(link.label.address(), kAddress);
  EXPECT_EQ(link.label.toolTip(), kAddress);
  EXPECT_EQ(link.label.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(link.label.text_colour(), QColor(0, 0, 238));
  EXPECT_EQ(link.label.palette().color(QPalette::WindowText), QColor(0, 0, 238));
  EXPECT_FALSE(link.label.font().underline());
  EXPECT_FALSE(link.label.autoFillBackground());
  EXPECT_EQ(link.label.size(), link.label.sizeHint());

  HyperlinkLabel named(QStringLiteral("Help"), QString());
  EXPECT_EQ(named.address(), QStringLiteral("Help"));  // no address: opens its text
}

TEST(HyperlinkLabel, RedAndUnderlinedWhileTheMouseIsOverIt) {
  Link link;
  move_to(link.label, QPoint(2, 2));
  EXPECT_TRUE(link.label.hovering());
  EXPECT_EQ(link.label.palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_TRUE(link.label.font().underline());
  // Moving off the control while it holds the mouse ends the hover too.
  move_to(link.label, QPoint(link.label.width() + 5, 2));
  EXPECT_FALSE(link.label.hovering());
  move_to(link.label, QPoint(2, 2));
  leave(link.label);
  EXPECT_FALSE(link.label.hovering());
  EXPECT_EQ(link.label.palette().color(QPalette::WindowText), QColor(0, 0, 238));
  EXPECT_FALSE(link.label.font().underline());

  link.label.set_underline(HyperlinkLabel::Underline::always);
  EXPECT_TRUE(link.label.font().underline());
  link.label.set_underline(HyperlinkLabel::Underline::never);
  move_to(link.label, QPoint(2, 2));
  EXPECT_FALSE(link.label.font().underline());
  EXPECT_EQ(link.label.text_colour(), QColor(255, 0, 0));
}

TEST(HyperlinkLabel, ASuccessfulClickMarksItVisited) {
  Link link;
  QSignalSpy opened(&link.label, &HyperlinkLabel::opened);
  QTest::mouseClick(&link.label, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  ASSERT_EQ(link.opened, QStringList{kAddress});
  EXPECT_EQ(opened.count(), 1);
  EXPECT_TRUE(link.label.visited());
  leave(link.label);
  EXPECT_EQ(link.label.palette().color(QPalette::WindowText), QColor(85, 26, 139));
  move_to(link.label, QPoint(2, 2));
  EXPECT_EQ(link.label.palette().color(QPalette::WindowText), QColor(255, 0, 0));  // hover wins
  EXPECT_TRUE(link.fallbacks.isEmpty());
  EXPECT_TRUE(link.reports.isEmpty());
}

TEST(HyperlinkLabel, AFailedOpenTriesTheFallbackAndTellsTheFirstReason) {
  Link link;
  link.result = 2;
  QTest::mouseClick(&link.label, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  EXPECT_EQ(link.fallbacks, QStringList{kAddress});
  ASSERT_EQ(link.reports.size(), 1);
  EXPECT_EQ(link.reports[0], QStringLiteral("Unable to open hyperlink:\n\nThe specified file was not found."));
  EXPECT_FALSE(link.label.visited());

  link.result = 12;  // no text of its own
  link.label.open_address();
  EXPECT_EQ(link.reports.last(), QStringLiteral("Unable to open hyperlink:\n\nUnknown Error (12) occurred."));
}

TEST(HyperlinkLabel, ReleasedOutsideOrWithAnotherButtonIsNoClick) {
  Link link;
  QTest::mousePress(&link.label, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  QTest::mouseRelease(&link.label, Qt::LeftButton, Qt::NoModifier, QPoint(link.label.width() + 10, 3));
  QTest::mouseClick(&link.label, Qt::RightButton, Qt::NoModifier, QPoint(3, 3));
  EXPECT_TRUE(link.opened.isEmpty());
  // The keyboard opens it too.
  QTest::keyClick(&link.label, Qt::Key_Space);
  EXPECT_EQ(link.opened.size(), 1);
}

TEST(HyperlinkLabel, AMissingHelpPageIsToldBeforeTheDesktopIsAsked) {
  test_support::TempDir dir("launcher-link-ui");
  EXPECT_EQ(HyperlinkLabel::open_with_desktop(QString::fromStdString("file://" + dir.path() + "/index.html")),
            launcher::kLinkFileNotFound);
  EXPECT_EQ(HyperlinkLabel::open_with_desktop(QString::fromStdString("file://" + dir.path() + "/help/index.html")),
            launcher::kLinkPathNotFound);
}

TEST(InformationDialog, ShowsTheTextTheLinkAndTheDefaultButton) {
  launcher::Information info;
  info.text = "Recorded files (.asf) play without sound in Videos.";
  info.link = kAddress.toStdString();
  info.button = "Play .asf files with Camera Recording Player";
  info.can_make_default = true;
  {
    launcher::ui::InformationDialog dialog(info);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Information"));
    EXPECT_EQ(dialog.text_label()->text(), QString::fromStdString(info.text));
    EXPECT_EQ(dialog.link()->address(), kAddress);
    ASSERT_NE(dialog.make_default_button(), nullptr);
    EXPECT_EQ(dialog.make_default_button()->text(), QString::fromStdString(info.button));
    dialog.make_default_button()->click();
    EXPECT_TRUE(dialog.make_default_chosen());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
  {
    launcher::ui::InformationDialog dialog(info);
    dialog.show();
    dialog.ok_button()->click();
    EXPECT_FALSE(dialog.make_default_chosen());
    EXPECT_FALSE(dialog.isVisible());
  }
  info.can_make_default = false;
  launcher::ui::InformationDialog without(info);
  EXPECT_EQ(without.make_default_button(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
