// The shared helpers every other test leans on: a fault here would show as
// flaky or leaking tests elsewhere, so each promise is checked directly.
#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>

#include "support/camsim.h"
#include "support/child_process.h"
#include "support/files.h"
#include "support/wait.h"

namespace {

using namespace test_support;
using Clock = std::chrono::steady_clock;

// True once no process (not even a zombie) has this id any more.
bool gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

TEST(RunCommand, ArgumentsReachTheProgramUnchangedAndBothStreamsAreKeptApart) {
  const RunResult r = run_command(
      {"sh", "-c", "printf '%s|' \"$@\"; echo oops >&2; exit 3", "sh", "a b", "'c';$(touch /nonexistent)", "*"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "a b|'c';$(touch /nonexistent)|*|");
  EXPECT_EQ(r.err, "oops\n");
}

TEST(RunCommand, LargeOutputOnBothStreamsDoesNotStall) {
  // More than a pipe holds on each stream, stderr first: reading stdout to
  // its end before stderr would deadlock here.
  const RunResult r = run_command({"sh", "-c", "head -c 300000 /dev/zero >&2; head -c 300000 /dev/zero"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.size(), 300000u);
  EXPECT_EQ(r.err.size(), 300000u);
}

TEST(RunCommand, AMissingProgramOrASignalIsNoExitCode) {
  EXPECT_EQ(run_command({"/nonexistent/program"}).status, -1);
  EXPECT_EQ(run_command({}).status, -1);
  EXPECT_EQ(run_command({"sh", "-c", "kill -KILL $$"}).status, -1);
  EXPECT_EQ(run_quiet({"sh", "-c", "echo hidden; exit 4"}), 4);
  std::string out;
  EXPECT_EQ(run_shell("echo one | tr o O; exit 5", &out), 5);
  EXPECT_EQ(out, "One\n");
}

TEST(ChildProcess, LinesArriveInOrderAndFinishKeepsAllOutput) {
  ChildProcess p({"sh", "-c", "echo first; echo ready; echo last"});
  ASSERT_TRUE(p.started());
  EXPECT_EQ(p.next_line(5000), std::optional<std::string>("first"));
  EXPECT_TRUE(p.wait_for_line("ready", 5000));
  EXPECT_EQ(p.output(), "first\nready\n");
  EXPECT_FALSE(p.wait_for_line("never", 5000));  // ends with its output
  EXPECT_EQ(p.finish(5000), "first\nready\nlast\n");
  EXPECT_FALSE(p.running());
}

TEST(ChildProcess, StopAsksFirstAndGivesTheExitCode) {
  ChildProcess p({"sh", "-c", "trap 'exit 7' TERM; echo $$; while :; do sleep 0.02; done"});
  const std::optional<std::string> pid = p.next_line(5000);
  ASSERT_TRUE(pid.has_value());
  EXPECT_EQ(p.stop(), 7);
  EXPECT_TRUE(gone(std::stoi(*pid)));
  EXPECT_EQ(p.stop(), 7);  // again: the first result stays
}

TEST(ChildProcess, WaitingForTheEndNeitherAsksNorKills) {
  ChildProcess p({"sh", "-c", "sleep 0.1; exit 3"});
  EXPECT_TRUE(p.wait_for_exit(std::chrono::milliseconds(5000)));
  EXPECT_EQ(p.stop(), 3);
  ChildProcess busy({"sh", "-c", "trap 'exit 9' TERM; while :; do sleep 0.02; done"});
  EXPECT_FALSE(busy.wait_for_exit(std::chrono::milliseconds(100)));
  EXPECT_TRUE(busy.running());  // still there: nothing was sent to it
  EXPECT_EQ(busy.stop(), 9);
}

TEST(ChildProcess, AChildIgnoringSigtermIsKilledAndReaped) {
  std::optional<std::string> pid;
  {
    ChildProcess p({"sh", "-c", "trap '' TERM; echo $$; while :; do sleep 0.02; done"});
    pid = p.next_line(5000);
    ASSERT_TRUE(pid.has_value());
    const auto t0 = Clock::now();
    EXPECT_EQ(p.stop(std::chrono::milliseconds(200)), -1);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
    EXPECT_TRUE(gone(std::stoi(*pid)));
  }
  // And the destructor alone does the same.
  {
    ChildProcess p({"sh", "-c", "echo $$; exec sleep 30"});
    pid = p.next_line(5000);
    ASSERT_TRUE(pid.has_value());
  }
  EXPECT_TRUE(gone(std::stoi(*pid)));
}

TEST(ChildProcess, AProgramThatCannotStartIsNotStarted) {
  ChildProcess p({"/nonexistent/program"});
  EXPECT_FALSE(p.started());
  EXPECT_FALSE(p.next_line(100).has_value());
  EXPECT_EQ(p.stop(), -1);
}

TEST(TempDir, HoldsFilesAndGoesWithThem) {
  std::string path;
  {
    TempDir dir("support-test");
    path = dir.path();
    ASSERT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(dir / "a.bin", path + "/a.bin");
    ASSERT_TRUE(write_bytes(dir.file("a.bin"), "\0\1\2", 3));
    std::filesystem::create_directory(dir.file("sub"));
    ASSERT_TRUE(write_text(dir.file("sub/b.txt"), "text\n"));
    EXPECT_EQ(read_bytes(dir.file("a.bin")), (std::vector<std::uint8_t>{0, 1, 2}));
    EXPECT_EQ(read_text(dir.file("sub/b.txt")), "text\n");
    EXPECT_TRUE(read_bytes(dir.file("missing")).empty());
    EXPECT_FALSE(write_text(dir.file("no/such/folder"), "x"));
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WaitUntil, TrueAsSoonAsItHoldsFalseAfterTheDeadline) {
  const auto t0 = Clock::now();
  int calls = 0;
  EXPECT_TRUE(wait_until([&] { return ++calls == 3; }, 5000, 1));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
  const auto t1 = Clock::now();
  EXPECT_FALSE(wait_until([] { return false; }, 50));
  EXPECT_GE(Clock::now() - t1, std::chrono::milliseconds(50));
}

TEST(CamsimProcess, ReadsThePortsAndReportsAFailedStart) {
  {
    CamsimProcess cam({"--port", "0", "small", "--camera", "0:u:p:small", "--ddns-port", "0"});
    ASSERT_TRUE(cam.ready()) << cam.startup_text();
    ASSERT_EQ(cam.ports().size(), 2u);
    EXPECT_NE(cam.port(0), 0);
    EXPECT_NE(cam.port(1), 0);
    EXPECT_EQ(cam.port(2), 0);
    EXPECT_EQ(cam.addresses()[0], "127.0.0.1:" + std::to_string(cam.port(0)));
    EXPECT_NE(cam.ddns_port(), 0);
    EXPECT_EQ(cam.stop(), 0);  // camsim ends cleanly on SIGTERM
  }
  CamsimProcess bad({"--port", "0", "--bogus", "1", "small"});
  EXPECT_FALSE(bad.ready());
  EXPECT_EQ(bad.stop(), 2);
}

}  // namespace
