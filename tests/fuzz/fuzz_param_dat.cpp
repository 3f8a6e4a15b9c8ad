// "param.dat" as the program reads it: the key-value reader, then the camera
// and schedule values. Whatever the bytes, parsing must stay in bounds, and
// what the writer makes of the parsed records must read back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "viewer/config/cam_info.h"
#include "viewer/config/key_value_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  config::KeyValueMap map = config::parse_key_values(bytes);
  std::string_view cam_text = bytes;
  std::string_view schedule_text = bytes;
  if (auto it = map.find("CamInfo"); it != map.end()) cam_text = it->second;
  if (auto it = map.find("CamSchedule"); it != map.end()) schedule_text = it->second;

  const std::string built = config::build_camera_text(config::parse_camera_text(cam_text));
  if (config::build_camera_text(config::parse_camera_text(built)) != built) std::abort();
  if (config::parse_key_values("CamInfo=" + built).at("CamInfo") != built) std::abort();

  // Records without entries are written ("MAC0|0") but not read back.
  std::vector<config::CamScheduleRecord> records = config::parse_schedule_text(schedule_text);
  const std::string schedules = config::build_schedule_text(records);
  std::erase_if(records, [](const config::CamScheduleRecord& r) { return r.entries.empty(); });
  if (config::parse_schedule_text(schedules) != records) std::abort();
  return 0;
}
