// Child processes for tests (camsim, the search tool), and private test
// networks for the discovery tests: network namespaces joined by
// veth pairs with documentation-range addresses (RFC 5737), and processes
// started inside them. Nothing here touches this machine's own interfaces:
// every link is created directly inside the namespaces, and every program runs
// through "ip netns exec", which refuses to start it when the namespace does
// not exist. All namespaces are removed when the TestNetwork goes away.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace netns_test {

// A child process whose standard output the test reads.
class Process {
 public:
  explicit Process(const std::vector<std::string>& argv) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~Process() {
    stop();
    if (out_ >= 0) ::close(out_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return pid_ > 0; }

  // The next line of output; nothing on end of output or time-out.
  std::optional<std::string> next_line(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const std::size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        std::string got = pending_.substr(0, nl);
        text_ += pending_.substr(0, nl + 1);
        pending_.erase(0, nl + 1);
        return got;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0 || !read_some(static_cast<int>(left))) return std::nullopt;
    }
  }

  // Reads output until a line equal to line arrives; false on end of output
  // or time-out.
  bool wait_for_line(const std::string& line, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      const std::optional<std::string> got = next_line(static_cast<int>(std::max<long long>(left, 0)));
      if (!got) return false;
      if (*got == line) return true;
    }
  }

  // Waits for the process to end (killing it after timeout_ms) and returns
  // everything it printed.
  std::string finish(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0 || !read_some(static_cast<int>(left))) break;
    }
    stop();
    text_ += pending_;
    pending_.clear();
    return text_;
  }

  // Ends the process (SIGTERM) and collects whatever it printed until then.
  std::string terminate() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    return finish(2000);
  }

 private:
  bool read_some(int timeout_ms) {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::read(out_, buf, sizeof(buf));
    if (n <= 0) return false;
    pending_.append(buf, static_cast<std::size_t>(n));
    return true;
  }
  void stop() {
    if (pid_ <= 0) return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
  std::string text_;
};

// Runs a command to its end with its output discarded; returns its exit code
// (-1 when it could not run).
inline int run_quiet(const std::vector<std::string>& argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// A set of namespaces owned by one test. Names carry the process id and a
// counter so that tests running in parallel never share one.
class TestNetwork {
 public:
  TestNetwork() = default;
  ~TestNetwork() {
    for (const std::string& ns : namespaces_) (void)run_quiet({"ip", "netns", "del", ns});
  }
  TestNetwork(const TestNetwork&) = delete;
  TestNetwork& operator=(const TestNetwork&) = delete;

  // Creates an empty namespace (loopback up) and returns its name, or an
  // empty text when namespaces cannot be made here.
  std::string add_namespace() {
    static std::atomic<int> counter{0};
    const std::string name = "cvdisc-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    if (run_quiet({"ip", "netns", "add", name}) != 0) return {};
    namespaces_.push_back(name);
    if (run_quiet({"ip", "-n", name, "link", "set", "lo", "up"}) != 0) return {};
    return name;
  }

  // Joins two namespaces with a veth pair made inside them; each end gets its
  // address (with prefix, e.g. "192.0.2.1/24") and the subnet's broadcast.
  bool link(const std::string& ns_a, const std::string& addr_a, const std::string& ns_b, const std::string& addr_b) {
    const std::string end_a = "v" + std::to_string(links_) + "a";
    const std::string end_b = "v" + std::to_string(links_) + "b";
    ++links_;
    return run_quiet({"ip", "link", "add", end_a, "netns", ns_a, "type", "veth", "peer", "name", end_b, "netns",
                      ns_b}) == 0 &&
           run_quiet({"ip", "-n", ns_a, "addr", "add", addr_a, "brd", "+", "dev", end_a}) == 0 &&
           run_quiet({"ip", "-n", ns_b, "addr", "add", addr_b, "brd", "+", "dev", end_b}) == 0 &&
           run_quiet({"ip", "-n", ns_a, "link", "set", end_a, "up"}) == 0 &&
           run_quiet({"ip", "-n", ns_b, "link", "set", end_b, "up"}) == 0;
  }

  // The command line that runs argv inside namespace ns.
  static std::vector<std::string> inside(const std::string& ns, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"ip", "netns", "exec", ns});
    return argv;
  }

 private:
  std::vector<std::string> namespaces_;
  int links_ = 0;
};

}  // namespace netns_test
