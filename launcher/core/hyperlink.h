// The decisions behind the hyperlink control of the Information dialog:
// checking a local target before handing it to the desktop, the fallback
// command when the desktop's handler fails, and the failure texts. Results
// use one scale: above 32 the address was opened; the small values name the
// reason (2 file not found, 3 path not found, 5 access denied, 8 no memory,
// 11 invalid program, 26-32 association and library failures, 0 out of
// resources).
//
// No Qt here; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/core/xdg.h"

namespace launcher {

inline constexpr int kLinkOpened = 33;
inline constexpr int kLinkFileNotFound = 2;
inline constexpr int kLinkPathNotFound = 3;
inline constexpr int kLinkAccessDenied = 5;
inline constexpr int kLinkNoAssociation = 31;

// The local path of a file:// address (percent escapes undone), or nothing
// for any other address.
[[nodiscard]] std::optional<std::string> local_path_of(std::string_view address);

// For a file:// address: kLinkFileNotFound when the file is missing but its
// folder exists, kLinkPathNotFound when the folder is missing too,
// kLinkAccessDenied when it cannot be read; kLinkOpened (nothing against it)
// otherwise, and for every other address.
[[nodiscard]] int check_link_target(std::string_view address);

// The result of a failed start (an errno) on the same scale.
[[nodiscard]] int link_result_for_errno(int error);

// The second try after the desktop failed to open the address: the command
// of the default application for web pages (text/html), its field codes
// filled with the address; empty when there is none.
[[nodiscard]] std::vector<std::string> fallback_command(const XdgDirs& dirs, std::string_view address);

// The reason shown after "Unable to open hyperlink:\n\n" for a result of 32
// or less.
[[nodiscard]] std::string hyperlink_failure_reason(int result);

// The whole message for a failed result.
[[nodiscard]] std::string hyperlink_failure_message(int result);

}  // namespace launcher
