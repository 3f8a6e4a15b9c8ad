// Notices and questions: a core thread posts and goes on; only the
// user-interface thread may ask; identical notices are not stacked.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "viewer/platform/headless/headless_ui.h"
#include "viewer/platform/ui_seams.h"

namespace {

using platform::MsgAnswer;
using platform::MsgButtons;

TEST(UiSeams, QuestionFromAnotherThreadIsRefusedAndShowsNothing) {
  platform::ScopedHeadlessUi ui;
  ui->script_answers({MsgAnswer::No});
  std::future<MsgAnswer> other =
      std::async(std::launch::async, [] { return platform::ask("remove?", "WARNING", MsgButtons::YesNo); });
  EXPECT_EQ(other.get(), MsgAnswer::Refused);
  EXPECT_TRUE(ui->shown().empty());
  // The user-interface thread still gets its scripted answer.
  EXPECT_EQ(platform::ask("remove?", "WARNING", MsgButtons::YesNo), MsgAnswer::No);
  ASSERT_EQ(ui->shown().size(), 1u);
  EXPECT_FALSE(ui->shown()[0].notice);
}

TEST(UiSeams, NoticeFromAnyThreadReturnsAtOnceAndIsNotStackedUntilClosed) {
  platform::ScopedHeadlessUi ui;
  ui->hold_notices(true);
  std::thread poster([] {
    for (int i = 0; i < 21; ++i) platform::notify("error video data", "warning");
    platform::notify("account is error!", "warning");
  });
  poster.join();
  auto shown = ui->shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "error video data");
  EXPECT_TRUE(shown[0].notice);
  EXPECT_EQ(shown[1].text, "account is error!");
  EXPECT_EQ(platform::notices().shown(), 2u);

  // Same text, other caption: a different notice.
  platform::notify("error video data", "Warning");
  EXPECT_EQ(ui->shown().size(), 3u);

  // Once the user closed it, the next failure is shown again.
  ui->close_notices();
  EXPECT_EQ(platform::notices().shown(), 0u);
  platform::notify("error video data", "warning");
  EXPECT_EQ(ui->shown().size(), 4u);
}

TEST(UiSeams, BoardKeepsOrderAndTellPicksTheRightKind) {
  platform::NoticeBoard board;
  int wakeups = 0;
  board.set_wakeup([&] { ++wakeups; });
  EXPECT_TRUE(board.post("a", "c"));
  EXPECT_TRUE(board.post("b", "c"));
  EXPECT_FALSE(board.post("a", "c"));
  EXPECT_EQ(wakeups, 2);
  auto first = board.take();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->text, "a");
  EXPECT_FALSE(board.post("a", "c"));  // shown, not yet closed
  board.closed(first->id);
  EXPECT_TRUE(board.post("a", "c"));
  EXPECT_EQ(board.take()->text, "b");
  EXPECT_EQ(board.take()->text, "a");
  EXPECT_FALSE(board.take());

  platform::ScopedHeadlessUi ui;
  platform::tell("saved", "");
  std::thread([] { platform::tell("space full!", "warning"); }).join();
  auto shown = ui->shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_FALSE(shown[0].notice);
  EXPECT_TRUE(shown[1].notice);
}

}  // namespace
