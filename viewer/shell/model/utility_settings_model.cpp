#include "viewer/shell/model/utility_settings_model.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>

#include "viewer/platform/ui_seams.h"

namespace model {
namespace {

constexpr std::int64_t kBytesPerMb = 1000000;

template <std::size_t N>
int index_of(const std::array<LengthChoice, N>& list, int minutes) {
  for (std::size_t i = 0; i < N; ++i) {
    if (list[i].minutes == minutes) return static_cast<int>(i);
  }
  return -1;
}

// Without trailing slashes; "/" stays.
std::string trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string parent_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The path itself when it exists, else its nearest existing parent.
std::string nearest_existing(std::string path) {
  path = trimmed(path);
  struct stat st {};
  while (!path.empty() && ::stat(path.c_str(), &st) != 0) path = parent_of(path);
  return path;
}

bool writable_folder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

// A folder that is there and writable, or that can be made (its nearest
// existing parent is a writable folder).
bool usable_folder(const std::string& path) {
  if (path.empty() || path.front() != '/') return false;
  const std::string existing = nearest_existing(path);
  if (existing.empty()) return false;
  return writable_folder(existing);
}

// The same folder written another way ("a/b/", "a//b") compares equal.
std::string comparable(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  out = trimmed(out);
  char resolved[PATH_MAX];
  if (::realpath(out.c_str(), resolved) != nullptr) return resolved;
  return out;
}

bool make_folders(const std::string& path) {
  const std::string p = trimmed(path);
  struct stat st {};
  if (::stat(p.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = parent_of(p);
  if (!parent.empty() && parent != p && !make_folders(parent)) return false;
  return ::mkdir(p.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace

DiskSpace measure_disk(const std::string& path) {
  const std::string existing = nearest_existing(path);
  struct statvfs fs {};
  if (existing.empty() || ::statvfs(existing.c_str(), &fs) != 0) return {};
  const auto unit = static_cast<std::int64_t>(fs.f_frsize ? fs.f_frsize : fs.f_bsize);
  return {static_cast<std::int64_t>(fs.f_blocks) * unit / kBytesPerMb,
          static_cast<std::int64_t>(fs.f_bavail) * unit / kBytesPerMb};
}

std::string megabytes_text(std::int64_t mb) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld MB", static_cast<long long>(mb));
  return text;
}

std::int64_t whole_number(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  const std::size_t first = i;
  std::int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), INT32_MAX);
  }
  if (i == first) return -1;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i == text.size() ? value : -1;
}

const char* folders_problem(const std::string& record, const std::string& motion, const std::string& snapshot,
                            std::string* which) {
  const std::string* folders[] = {&record, &motion, &snapshot};
  for (const std::string* f : folders) {
    if (f->empty()) return kMsgFolderMissing;
  }
  const std::string r = comparable(record), m = comparable(motion), s = comparable(snapshot);
  // The quota counts and deletes per folder: one folder for two kinds would
  // count one kind's files against the other.
  if (r == m || r == s || m == s) return kMsgFoldersSame;
  for (const std::string* f : folders) {
    if (!usable_folder(*f)) {
      if (which) *which = *f;
      return kMsgFolderNotWritable;
    }
  }
  return nullptr;
}

UtilitySettingsModel::UtilitySettingsModel(const config::Settings& settings, DiskMeasure measure)
    : record_path(settings.RecordPath),
      motion_path(settings.MotionPath),
      snapshot_path(settings.SnapshotPath),
      original_(settings),
      measure_(std::move(measure)) {
  // A length that no entry has shows no selection; the remembered choice
  // then stays 1 minute, which closing the dialog stores.
  motion_selected_ = index_of(kMotionLengths, settings.MotionTime);
  manual_selected_ = index_of(kManualLengths, settings.InstanceTime);
  if (motion_selected_ >= 0) motion_choice_ = settings.MotionTime;
  if (manual_selected_ >= 0) manual_choice_ = settings.InstanceTime;
  auto_run = settings.AutoRun != 0;
  auto_play = settings.AutoPlay != 0;
  disk_limit_ = settings.DiskLimit >= 1 && settings.DiskLimit <= 2;
  // The fields and the radio buttons show the stored values even while the
  // limit is off (greyed out), so that saving with the limit off keeps them.
  fill_quota_fields();
  if (measure_) disk_ = measure_(record_path);
}

void UtilitySettingsModel::set_record_path(const std::string& path) {
  record_path = path;
  if (measure_) disk_ = measure_(record_path);
}

void UtilitySettingsModel::choose_motion(int index) {
  if (index < 0 || index >= static_cast<int>(kMotionLengths.size())) return;
  motion_selected_ = index;
  motion_choice_ = kMotionLengths[static_cast<std::size_t>(index)].minutes;
}

void UtilitySettingsModel::choose_manual(int index) {
  if (index < 0 || index >= static_cast<int>(kManualLengths.size())) return;
  manual_selected_ = index;
  manual_choice_ = kManualLengths[static_cast<std::size_t>(index)].minutes;
}

void UtilitySettingsModel::fill_quota_fields() {
  max_text = std::to_string(original_.MaxSpace);
  motion_text = std::to_string(original_.MaxMotSpace);
  instant_text = std::to_string(original_.MaxInsSpace);
  write_stop = original_.WriteStop != 0;
}

void UtilitySettingsModel::set_disk_limit(bool on) {
  disk_limit_ = on;
  if (on) fill_quota_fields();
}

void UtilitySettingsModel::set_motion_text(const std::string& text) {
  motion_text = text;
  const std::int64_t max = std::max<std::int64_t>(whole_number(max_text), 0);
  std::int64_t motion = std::max<std::int64_t>(whole_number(text), 0);
  if (motion > max) {
    motion = max;
    motion_text = std::to_string(motion);
  }
  instant_text = std::to_string(max - motion);
}

void UtilitySettingsModel::set_max_text(const std::string& text) {
  max_text = text;
  const std::int64_t max = std::max<std::int64_t>(whole_number(text), 0);
  const std::int64_t motion = std::max<std::int64_t>(whole_number(motion_text), 0);
  // The motion field is not cut while the maximum is being typed; Save
  // refuses a motion space above the maximum.
  instant_text = std::to_string(motion <= max ? max - motion : 0);
}

void UtilitySettingsModel::store_folders_and_lengths(config::Settings& settings) {
  settings.MotionTime = motion_choice_;
  settings.InstanceTime = manual_choice_;
  if (folders_problem(record_path, motion_path, snapshot_path, nullptr) != nullptr) return;
  // Made now, so that the first recording does not fail on a missing folder.
  for (const std::string* f : {&record_path, &motion_path, &snapshot_path}) (void)make_folders(*f);
  settings.RecordPath = record_path;
  settings.MotionPath = motion_path;
  settings.SnapshotPath = snapshot_path;
}

bool UtilitySettingsModel::save(config::Settings& settings) {
  const std::int64_t max = whole_number(max_text);
  const std::int64_t motion = whole_number(motion_text);
  const std::int64_t instant = whole_number(instant_text);
  if (disk_limit_) {
    // Only whole numbers from 1 up: a quota of 0 or below would make the
    // reclaim delete recordings on every pass.
    const char* problem = nullptr;
    if (max < 1 || motion < 1 || instant < 1)
      problem = kMsgValueOverZero;
    else if (max > (measure_ ? measure_(record_path) : disk_).available_mb)
      problem = kMsgNotEnoughSpace;
    else if (motion > max)
      problem = kMsgMotionOverMax;
    if (problem) {
      (void)platform::ask(problem, kCaptionUtility);
      return false;
    }
  }
  std::string which;
  if (const char* problem = folders_problem(record_path, motion_path, snapshot_path, &which)) {
    (void)platform::ask(std::string(problem) + which, kCaptionUtility);
    return false;
  }
  for (const std::string* f : {&record_path, &motion_path, &snapshot_path}) {
    if (!make_folders(*f)) {
      (void)platform::ask(std::string(kMsgFolderNotWritable) + *f, kCaptionUtility);
      return false;
    }
  }

  settings.AutoPlay = auto_play ? 1 : 0;
  settings.AutoRun = auto_run ? 1 : 0;
  settings.DiskLimit = disk_limit_ ? 1 : 0;
  // With the limit off the fields are not checked; what is not a usable
  // number leaves its setting as it was.
  if (max >= 1) settings.MaxSpace = static_cast<std::int32_t>(max);
  if (instant >= 1) settings.MaxInsSpace = static_cast<std::int32_t>(instant);
  if (motion >= 1) settings.MaxMotSpace = static_cast<std::int32_t>(motion);
  settings.WriteStop = write_stop ? 1 : 0;
  store_folders_and_lengths(settings);
  return true;
}

void UtilitySettingsModel::cancel(config::Settings& settings) { store_folders_and_lengths(settings); }

}  // namespace model
