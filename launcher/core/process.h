// Starting other programs from the launcher: found by absolute path only,
// started in a session of their own and never waited for, or (for the short
// queries the launcher makes) run to their end under a deadline.
//
// No Qt here. Every function may be called from any thread, but the launcher
// calls them from its only thread.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// The folder that holds the running program file (symbolic links resolved),
// without a trailing slash; empty when it cannot be told. Programs that come
// with the launcher are looked up here and nowhere else: the current folder
// may belong to anyone.
[[nodiscard]] std::string own_folder();

// The first absolute folder of path_value (a PATH-style list) that holds an
// executable file called name, joined with name; empty when there is none.
// Empty and relative entries are skipped: they stand for the current folder,
// where a planted program must not be picked up.
[[nodiscard]] std::string find_in_path(std::string_view path_value, std::string_view name);

// True when path names a regular file we may execute.
[[nodiscard]] bool is_executable_file(const std::string& path);

// Starts argv[0] (an absolute path) with argv, in a new session, standard
// input from /dev/null, the launcher's environment and output, and returns
// at once. Returns 0 when the program was started, else the errno of the
// failed start (ENOENT, EACCES, ENOEXEC, ENOMEM, ...). The child is never
// waited for; when the launcher ends first it is left to the system.
[[nodiscard]] int start_detached(const std::vector<std::string>& argv);

// Runs argv[0] (an absolute path) to its end and returns what it wrote to
// standard output, or nothing when it could not start, exited with a status
// other than 0, or had not ended by the deadline (it is killed then).
[[nodiscard]] std::optional<std::string> run_for_output(const std::vector<std::string>& argv,
                                                        std::chrono::milliseconds deadline);

}  // namespace launcher
