// What identifies a camera and how it is reached, as passed to the camera
// list's add and change operations, with the rules every such record must
// pass and the messages that tell the user why one was refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace model {

struct CameraRecord {
  std::string name;
  std::string address;  // host name or dotted IPv4 address
  std::string port;     // decimal text; empty means "ask the dynamic-DNS page"
  std::string mac;      // 12 hexadecimal digits (stored lower case)
  std::string description;
  std::string user;
  std::string password;
  int connected = 0;  // the last request succeeded
  int location = 0;   // 0 "LAN", 1 "INT"
  int recording = 0;
  int motion_recording = 0;
  int connection_state = 0;  // kStatePaused, kStatePlaying, kStateRefused
  int reserved = 0;
};

// Messages of the camera list (empty caption unless said otherwise).
inline constexpr std::string_view kMsgListFull = "already have 128 cameras, can't add anymore";
inline constexpr std::string_view kMsgCameraExists = "cam had already exist.";
inline constexpr std::string_view kMsgNameRule = "the name can't include '\\' or '|'";
inline constexpr std::string_view kMsgTextRule = "the camera settings can't include '\\', '|' or '//'";
inline constexpr std::string_view kMsgMacRule = "the MAC address must be 12 hexadecimal digits";
inline constexpr std::string_view kMsgAllViewFull = "All View is full";
inline constexpr std::string_view kMsgCameraRecording = "The cam is recording now, please delete the schedule first!";
inline constexpr std::string_view kCaptionCameraRecording = "waring";
inline constexpr std::string_view kCaptionDelete = "WARNING";
inline constexpr std::string_view kDeleteQuestionSuffix = " will be removed from the list";
inline constexpr std::string_view kDragLabel = "Drag and drop the camera to a channel";

// The MAC names the camera's recording folders, so only exactly 12
// hexadecimal digits are accepted; they are returned in lower case. Anything
// else (separators, dots, slashes) gives nothing.
[[nodiscard]] std::optional<std::string> normalize_mac(std::string_view mac);

// Checks the text fields that "param.dat" stores: a name with "\" or "|"
// gives kMsgNameRule; any field with "\", "|" or "//" gives kMsgTextRule;
// otherwise nothing. The camera dialog uses the same rule before it adds or
// changes a camera.
[[nodiscard]] std::optional<std::string_view> check_camera_texts(const CameraRecord& record);

}  // namespace model
