#include "viewer/shell/model/camera_record.h"

namespace model {
namespace {

bool has_separator(std::string_view text) {
  return text.find('|') != std::string_view::npos || text.find('\\') != std::string_view::npos;
}

}  // namespace

std::optional<std::string> normalize_mac(std::string_view mac) {
  if (mac.size() != 12) return std::nullopt;
  std::string out(mac);
  for (char& c : out) {
    if (c >= 'A' && c <= 'F')
      c = static_cast<char>(c - 'A' + 'a');
    else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
      return std::nullopt;
  }
  return out;
}

std::optional<std::string_view> check_camera_texts(const CameraRecord& r) {
  if (has_separator(r.name)) return kMsgNameRule;
  for (const std::string* t : {&r.name, &r.address, &r.port, &r.mac, &r.description, &r.user, &r.password}) {
    if (has_separator(*t) || t->find("//") != std::string::npos) return kMsgTextRule;
  }
  return std::nullopt;
}

}  // namespace model
