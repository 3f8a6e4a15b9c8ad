// The per-user single-instance lock: a second holder is refused while the
// first lives, the lock goes with its holder, also one that was killed, and
// a folder that cannot hold it does not keep the program from starting.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/files.h"
#include "viewer/platform/single_instance.h"

namespace platform {
namespace {

TEST(SingleInstance, SecondIsRefusedUntilTheFirstGoesEvenWhenKilled) {
  test_support::TempDir folder;
  {
    SingleInstance first("viewer-test", folder.path());
    ASSERT_TRUE(first.first());
    SingleInstance second("viewer-test", folder.path());
    EXPECT_FALSE(second.first());
    SingleInstance other_name("other-test", folder.path());
    EXPECT_TRUE(other_name.first());
  }
  {
    SingleInstance again("viewer-test", folder.path());
    EXPECT_TRUE(again.first());
  }

  // A first instance killed while it holds the lock leaves nothing stale.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SingleInstance held("viewer-test", folder.path());
    const char c = held.first() ? 'y' : 'n';
    (void)::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(c, 'y');
  {
    SingleInstance while_child_lives("viewer-test", folder.path());
    EXPECT_FALSE(while_child_lives.first());
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  SingleInstance after("viewer-test", folder.path());
  EXPECT_TRUE(after.first());
}

TEST(SingleInstance, AnUnusableFolderDoesNotKeepTheProgramFromStarting) {
  SingleInstance nowhere("viewer-test", "/nonexistent/folder");
  EXPECT_TRUE(nowhere.first());
}

}  // namespace
}  // namespace platform
