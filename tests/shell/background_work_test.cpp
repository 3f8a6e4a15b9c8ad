// The dialogs' worker threads: work runs beside its owner, threads of
// finished work are joined when new work starts, a window that closes
// stops the delivery of what its work still finds, and the owner joins
// everything when it goes.
#include <gtest/gtest.h>

#include <atomic>

#include "viewer/platform/event.h"
#include "viewer/shell/model/background_work.h"

namespace model {
namespace {

TEST(BackgroundWork, RunsBesideItsOwnerAndJoinsWhatHasEnded) {
  platform::Event release(platform::Event::Reset::Manual);
  platform::Event ended(platform::Event::Reset::Manual);
  std::atomic<int> done{0};
  {
    BackgroundWork work;
    work.start([&] {
      // The owner goes on meanwhile: this waits for it.
      (void)release.wait(10000);
      ++done;
      ended.set();
    });
    EXPECT_EQ(work.reap(), 1u);
    release.set();
    ASSERT_TRUE(ended.wait(10000));
    // The thread may still be between its work and its end; it is joined as
    // soon as it has ended.
    work.join_all();
    EXPECT_EQ(work.reap(), 0u);

    // Work still running when the owner goes is waited for, not left behind.
    work.start([&] { ++done; });
    work.start([&] { ++done; });
  }
  EXPECT_EQ(done.load(), 3);
}

TEST(Handover, AClosedWindowGetsNothingAndItsWorkIsTold) {
  Handover h;
  int delivered = 0;
  h.set_delivery([&] { ++delivered; });
  h.deliver();
  h.deliver();  // rows of a walk come in more than once
  EXPECT_EQ(delivered, 2);
  EXPECT_FALSE(h.cancelled());
  h.clear_delivery();
  h.cancel();
  h.deliver();
  EXPECT_EQ(delivered, 2);
  EXPECT_TRUE(h.cancelled());

  // A delivery may clear itself while it runs.
  Handover once;
  once.set_delivery([&] {
    once.clear_delivery();
    ++delivered;
  });
  once.deliver();
  once.deliver();
  EXPECT_EQ(delivered, 3);
}

}  // namespace
}  // namespace model
