// Texts recording reads back from outside: a recording's 50-byte trailer,
// file names in a camera folder, and the analysis tool's argument.
#include <cstddef>
#include <cstdint>
#include <string>

#include "viewer/record/analysis_tool.h"
#include "viewer/record/period_trailer.h"
#include "viewer/record/recording_names.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string start, end;
  record::parse_period_trailer(data, size, &start, &end);
  (void)record::is_period_trailer(data, size);
  const std::string text(reinterpret_cast<const char*>(data), size);
  record::LocalTime t;
  (void)record::parse_name_time(text, &t);
  (void)record::parse_stamp(text, &t);
  (void)record::stamp_from_manual_name(text);
  std::string path, period;
  int count = 0;
  (void)record::split_analysis_argument(text, &path, &period, &count);
  return 0;
}
