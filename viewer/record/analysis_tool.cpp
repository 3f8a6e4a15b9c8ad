#include "viewer/record/analysis_tool.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <charconv>

#include "viewer/record/period_trailer.h"
#include "viewer/record/recording_names.h"

extern char** environ;

namespace record {

bool analysis_argument(const std::string& path, std::int64_t end_seconds, Clock& clock, std::string* argument) {
  LocalTime start;
  if (!parse_name_time(path, &start)) return false;
  const std::int64_t start_seconds = clock.seconds_from_local(start);
  const LocalTime end = clock.local(end_seconds);
  *argument = path + "~" + period_text(start, end) + "~" + std::to_string(period_count(start_seconds, end_seconds));
  return true;
}

bool split_analysis_argument(const std::string& argument, std::string* path, std::string* period, int* count) {
  const std::size_t last = argument.rfind('~');
  if (last == std::string::npos || last == 0) return false;
  const std::size_t middle = argument.rfind('~', last - 1);
  if (middle == std::string::npos || middle == 0) return false;
  const std::string count_text = argument.substr(last + 1);
  int value = 0;
  const auto [end, ec] = std::from_chars(count_text.data(), count_text.data() + count_text.size(), value);
  if (ec != std::errc() || end != count_text.data() + count_text.size() || value < 1) return false;
  *path = argument.substr(0, middle);
  *period = argument.substr(middle + 1, last - middle - 1);
  *count = value;
  return true;
}

AnalysisTool::AnalysisTool(std::string program) : program_(std::move(program)) {}

AnalysisTool::~AnalysisTool() { reap(); }

int AnalysisTool::start(const std::string& argument) {
  reap();
  if (program_.empty()) return 0;
  std::string arg0 = program_;
  std::string arg1 = argument;
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  pid_t pid = 0;
  // posix_spawn reports a missing or unrunnable program as an error (glibc
  // waits for the exec), so nothing is left to reap then.
  if (::posix_spawn(&pid, program_.c_str(), nullptr, nullptr, argv, environ) != 0) return 0;
  std::lock_guard lock(mutex_);
  children_.push_back(pid);
  return 1;
}

std::size_t AnalysisTool::reap() {
  std::lock_guard lock(mutex_);
  std::size_t kept = 0;
  for (pid_t pid : children_) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == 0) children_[kept++] = pid;  // still running
    // r == pid: collected; r < 0: no longer our child (someone else waited).
  }
  children_.resize(kept);
  return kept;
}

}  // namespace record
