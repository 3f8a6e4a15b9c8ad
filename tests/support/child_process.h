// Child processes for tests: running a program to its end and capturing
// what it printed, and a long-running child (camsim, the discovery helpers)
// whose output the test reads line by line.
//
// Programs are started from an argument vector (posix_spawnp), never through
// a shell, so paths and texts reach them unchanged. run_shell() exists only
// for the few fixed command lines that need a pipe or a redirection; it must
// never see text the test did not write itself. Every child is reaped: a
// ChildProcess that is still running when it goes is stopped (SIGTERM, then
// SIGKILL when it does not end in time).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace test_support {

// Our environment with changes: each "NAME=VALUE" of set replaces or adds
// that variable, each NAME of unset removes it.
inline std::vector<std::string> environment_with(const std::vector<std::string>& set,
                                                 const std::vector<std::string>& unset = {}) {
  const auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = name_of(entry);
    const bool replaced = std::any_of(set.begin(), set.end(), [&](const std::string& s) { return name_of(s) == name; });
    const bool removed = std::find(unset.begin(), unset.end(), name) != unset.end();
    if (!replaced && !removed) env.push_back(entry);
  }
  env.insert(env.end(), set.begin(), set.end());
  return env;
}

namespace detail {

// Owns the two ends of a pipe made close-on-exec, so a child started by
// another thread at the same time never holds our write end open.
struct Pipe {
  int read_end = -1;
  int write_end = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read_end = fds[0];
      write_end = fds[1];
    }
  }
  ~Pipe() {
    close_read();
    close_write();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool ok() const { return read_end >= 0; }
  void close_read() {
    if (read_end >= 0) ::close(read_end);
    read_end = -1;
  }
  void close_write() {
    if (write_end >= 0) ::close(write_end);
    write_end = -1;
  }
};

// Starts argv[0] (looked up on PATH unless it holds a '/') with the given
// descriptors as its stdout and stderr; -1 leaves the stream as ours, -2
// sends it to /dev/null. env, when given, is the child's whole environment
// (environment_with()); else it gets ours. Returns the child's id, or -1.
inline pid_t spawn(const std::vector<std::string>& argv, int out_fd, int err_fd,
                   const std::vector<std::string>* env = nullptr) {
  if (argv.empty()) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const auto route = [&](int fd, int target) {
    if (fd >= 0) posix_spawn_file_actions_adddup2(&actions, fd, target);
    if (fd == -2) posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0);
  };
  route(out_fd, STDOUT_FILENO);
  route(err_fd, STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  if (env) {
    for (const std::string& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }
  pid_t pid = -1;
  if (::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env ? envp.data() : environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit code of a wait status; -1 when the child did not exit normally.
inline int exit_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

inline int wait_exit_code(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return exit_code(status);
}

}  // namespace detail

// What a program that ran to its end left behind.
struct RunResult {
  int status = -1;  // exit code; -1 when it could not run or did not exit normally
  std::string out;
  std::string err;  // empty when stderr was left to the test's own
};

enum class Stderr { Capture, Inherit, Discard };

// Runs argv to its end and returns its exit code and output. Both pipes are
// drained together, so a child writing much to either never blocks.
inline RunResult run_command(const std::vector<std::string>& argv, Stderr err_mode = Stderr::Capture,
                             const std::vector<std::string>* env = nullptr) {
  RunResult r;
  detail::Pipe out, err;
  if (!out.ok() || (err_mode == Stderr::Capture && !err.ok())) return r;
  const int err_fd = err_mode == Stderr::Capture ? err.write_end : err_mode == Stderr::Discard ? -2 : -1;
  const pid_t pid = detail::spawn(argv, out.write_end, err_fd, env);
  out.close_write();
  err.close_write();
  if (pid < 0) return r;
  if (err_mode != Stderr::Capture) err.close_read();
  for (;;) {
    pollfd fds[2] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}};
    if (fds[0].fd < 0 && fds[1].fd < 0) break;
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? r.out : r.err).append(buffer, static_cast<std::size_t>(n));
      } else {
        i == 0 ? out.close_read() : err.close_read();
      }
    }
  }
  r.status = detail::wait_exit_code(pid);
  return r;
}

// Runs argv to its end with its output discarded; the exit code, or -1.
inline int run_quiet(const std::vector<std::string>& argv) {
  const pid_t pid = detail::spawn(argv, -2, -2);
  return pid < 0 ? -1 : detail::wait_exit_code(pid);
}

// Runs a fixed command line through /bin/sh (for pipes and redirections);
// stderr stays the test's own. Returns the exit code (-1 when it could not
// run) and, when asked, its stdout. Only for text the test wrote itself.
inline int run_shell(const std::string& command, std::string* output = nullptr) {
  RunResult r = run_command({"/bin/sh", "-c", command}, Stderr::Inherit);
  if (output) *output = std::move(r.out);
  return r.status;
}

// A running child whose standard output the test reads; stderr stays the
// test's own. Not for use from several threads at once.
class ChildProcess {
 public:
  // env, when given, is the child's whole environment (environment_with()).
  explicit ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>* env = nullptr) {
    detail::Pipe out;
    if (!out.ok()) return;
    pid_ = detail::spawn(argv, out.write_end, -1, env);
    out.close_write();
    if (pid_ > 0) std::swap(out_, out.read_end);
  }
  ~ChildProcess() {
    (void)stop();
    if (out_ >= 0) ::close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0 || reaped_; }
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Whether the child has ended (it is reaped then, and stop() returns its
  // exit code). Does not wait.
  bool exited() {
    if (pid_ <= 0) return reaped_;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
    status_ = detail::exit_code(status);
    pid_ = -1;
    reaped_ = true;
    return true;
  }

  // Every line next_line() has handed out so far, each with its newline
  // (and, after finish(), the rest of the output too).
  const std::string& output() const { return text_; }

  // The next line of output without its newline; nothing on end of output
  // or time-out.
  std::optional<std::string> next_line(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const std::size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        std::string line = pending_.substr(0, nl);
        text_.append(pending_, 0, nl + 1);
        pending_.erase(0, nl + 1);
        return line;
      }
      const long long left = ms_until(deadline);
      if (left <= 0 || !read_some(static_cast<int>(left))) return std::nullopt;
    }
  }

  // Reads lines until one equal to line; false on end of output or time-out.
  bool wait_for_line(const std::string& line, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (const std::optional<std::string> got = next_line(static_cast<int>(std::max(ms_until(deadline), 0LL)))) {
      if (*got == line) return true;
    }
    return false;
  }

  // Reads until the child closes its output (or timeout_ms passes), kills
  // it if it is still running, and returns everything it printed.
  std::string finish(int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const long long left = ms_until(deadline);
      if (left <= 0 || !read_some(static_cast<int>(left))) break;
    }
    (void)stop(std::chrono::milliseconds(0));
    text_ += pending_;
    pending_.clear();
    return text_;
  }

  // Sends SIGTERM and returns everything printed until the child ended
  // (killed after two seconds).
  std::string terminate() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    return finish(2000);
  }

  // Waits up to `within` for the child to end by itself; true (and the exit
  // code kept for stop() to return) when it did, false while it still runs.
  bool wait_for_exit(std::chrono::milliseconds within) {
    if (pid_ <= 0) return true;
    const auto deadline = Clock::now() + within;
    int status = 0;
    pid_t r = 0;
    while ((r = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) ::usleep(10000);
    if (r == 0) return false;
    status_ = r == pid_ ? detail::exit_code(status) : -1;
    pid_ = -1;
    reaped_ = true;
    return true;
  }

  // Ends the child: asks with SIGTERM (unless within is zero), waits up to
  // `within`, then kills it. Returns its exit code, or -1 when it did not
  // exit normally in time. Safe to call again: the first result stays.
  int stop(std::chrono::milliseconds within = std::chrono::milliseconds(5000)) {
    if (pid_ <= 0) return status_;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0 && within.count() > 0) {
      ::kill(pid_, SIGTERM);
      const auto deadline = Clock::now() + within;
      while ((r = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline) ::usleep(10000);
    }
    if (r == 0) {
      ::kill(pid_, SIGKILL);
      r = ::waitpid(pid_, &status, 0);
      status_ = -1;
    } else {
      status_ = r == pid_ ? detail::exit_code(status) : -1;
    }
    pid_ = -1;
    reaped_ = true;
    return status_;
  }

 private:
  using Clock = std::chrono::steady_clock;

  static long long ms_until(Clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  }

  bool read_some(int timeout_ms) {
    if (out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::string pending_;
  std::string text_;
};

}  // namespace test_support
