// Starts the analysis tool for each finished recording. The tool gets one
// argument, "PATH~PERIOD~COUNT", and appends the period trailer to the file
// (see period_trailer.h). Recording never depends on it: a tool that is
// missing or fails changes nothing.
//
// The tool runs as a child process started from an argument vector (no
// shell, so paths with blanks or quotes are passed as they are). Children are
// reaped without ever blocking the recording threads: each new start and each
// call of reap() collects those that have ended, and the destructor collects
// the rest it can; any still running then are adopted by init when this
// process ends, so no zombie is left.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "viewer/record/clock.h"

namespace record {

// The argument for the tool: "PATH~KS...,...~COUNT". False when the path does
// not end in a recording's "YYYYMMDD_hhmmss.asf", which is where the start
// time is read from.
[[nodiscard]] bool analysis_argument(const std::string& path, std::int64_t end_seconds, Clock& clock,
                                     std::string* argument);

// Splits a tool argument back into its three parts (the path may itself hold
// '~'; the period and the count never do). False when it is malformed.
[[nodiscard]] bool split_analysis_argument(const std::string& argument, std::string* path, std::string* period,
                                           int* count);

class AnalysisTool {
 public:
  // program: the tool's executable; an empty path disables the tool.
  explicit AnalysisTool(std::string program);
  ~AnalysisTool();
  AnalysisTool(const AnalysisTool&) = delete;
  AnalysisTool& operator=(const AnalysisTool&) = delete;

  // Starts the tool for a finished file. Returns 1 started, 0 not started
  // (disabled, or the program could not be run). Any thread.
  [[nodiscard]] int start(const std::string& argument);

  // Collects children that have ended; returns how many are still running.
  std::size_t reap();

  const std::string& program() const { return program_; }

 private:
  std::string program_;
  std::mutex mutex_;
  std::vector<pid_t> children_;
};

}  // namespace record
