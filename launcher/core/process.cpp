#include "launcher/core/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

extern char** environ;

namespace launcher {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> c_args(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return args;
}

int ms_left(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the child's end until the deadline (on a process descriptor, so
// without polling sleeps), then kills it; always reaps it. Returns the wait
// status, or -1 when it had to be killed.
int reap(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    int r;
    do {
      r = ::poll(&p, 1, ms_left(deadline));
    } while (r < 0 && errno == EINTR);
    ::close(pidfd);
    if (r <= 0) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return -1;
    }
  }
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

std::string own_folder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || !exe.is_absolute()) return {};
  std::string folder = exe.parent_path().string();
  return folder.empty() ? "/" : folder;
}

bool is_executable_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string find_in_path(std::string_view path_value, std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos) return {};
  std::size_t start = 0;
  while (start <= path_value.size()) {
    std::size_t end = path_value.find(':', start);
    if (end == std::string_view::npos) end = path_value.size();
    const std::string_view dir = path_value.substr(start, end - start);
    if (!dir.empty() && dir.front() == '/') {
      std::string candidate(dir);
      if (candidate.back() != '/') candidate += '/';
      candidate += name;
      if (is_executable_file(candidate)) return candidate;
    }
    start = end + 1;
  }
  return {};
}

int start_detached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty() || argv[0].front() != '/') return ENOENT;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return ENOMEM;
  }
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // A session of its own: closing the terminal the launcher was started from
  // does not take the viewer with it. No signal is blocked in the child.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> args = c_args(argv);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

std::optional<std::string> run_for_output(const std::vector<std::string>& argv, std::chrono::milliseconds deadline_in) {
  if (argv.empty() || argv[0].empty() || argv[0].front() != '/') return std::nullopt;
  const Clock::time_point deadline = Clock::now() + deadline_in;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args = c_args(argv);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (error != 0) {
    ::close(fds[0]);
    return std::nullopt;
  }
  std::string out;
  bool complete = false;
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    const int r = ::poll(&p, 1, ms_left(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buffer[4096];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      complete = n == 0;
      break;
    }
    // A query answers in a line or two; anything huge is not an answer.
    if (out.size() > 65536) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  const int status = reap(pid, complete ? deadline : Clock::now());
  if (!complete || status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

}  // namespace launcher
