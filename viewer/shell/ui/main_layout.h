// The main window's geometry: every rectangle of the 601 x 448 skin, in
// window coordinates, and the hit-testing that turns a mouse position into
// what it is over. The window draws at these places and asks these
// functions; the camera list model never sees a pixel of them.
//
// Rectangles are given as the skin's tables give them, (left, top, right,
// bottom) with right and bottom outside, and stored as QRects (whose right()
// and bottom() are the last pixel inside).
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include "viewer/shell/model/camera_list.h"
#include "viewer/shell/model/grid.h"

namespace ui::layout {

constexpr QRect ltrb(int left, int top, int right, int bottom) {
  return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

inline constexpr QSize kWindowSize(601, 448);
// Corner ellipses of the window's rounded shape.
inline constexpr int kCorner = 30;

// The four client areas; every other point drags the window.
inline constexpr QRect kTopButtons = ltrb(457, 38, 587, 71);
inline constexpr QRect kChannelClient = ltrb(171, 89, 598, 406);
inline constexpr QRect kListClient = ltrb(6, 143, 162, 311);
inline constexpr QRect kButtonPanel = ltrb(10, 325, 160, 414);
bool is_client(const QPoint& p);

// --- camera list ---
inline constexpr QRect kListArea = ltrb(9, 173, 159, 293);
// What is repainted when the list changes.
inline constexpr QRect kListRedraw = ltrb(2, 168, 159, 293);
inline constexpr int kListTop = 173;
inline constexpr int kRowHeight = 15;
inline constexpr QSize kRowImage(150, 14);
// The parts of row k (0 to 7).
QRect row_image(int row);
QRect row_channel(int row);
QRect row_name(int row);
QRect row_mark(int row);
QRect row_audio(int row);
QRect row_video(int row);
// The row (0 to 7) under a point of the list area, or -1.
int row_at(const QPoint& p);
inline constexpr QRect kListUp = ltrb(121, 298, 134, 306);
inline constexpr QRect kListDown = ltrb(138, 298, 151, 306);

// --- channel grid ---
inline constexpr QRect kCells[model::kVisibleCells] = {ltrb(186, 100, 362, 232), ltrb(383, 101, 559, 233),
                                                       ltrb(187, 255, 363, 386), ltrb(383, 254, 559, 386)};
// The same, as the model hands them to the cameras.
model::CellRects cell_rects();
// The cell under a point, or -1.
int cell_at(const QPoint& p);
// Repainted whole when the grid moves (the cells reach a little past it).
inline constexpr QRect kChannelArea = ltrb(185, 100, 558, 385);
QRect channel_repaint_area();
inline constexpr QRect kLabels[model::kVisibleCells] = {ltrb(184, 237, 361, 249), ltrb(380, 237, 557, 249),
                                                        ltrb(184, 390, 361, 402), ltrb(380, 390, 557, 402)};
// Placeholders over cells without a live picture.
inline constexpr QPoint kPlaceholderAt[model::kVisibleCells] = {{185, 100}, {382, 100}, {185, 254}, {382, 254}};
inline constexpr QSize kPlaceholderSize(174, 132);
inline constexpr QSize kPlaceholderCell(178, 132);

// --- the grid's scroll track ---
inline constexpr QRect kTrack = ltrb(581, 176, 590, 307);
inline constexpr QSize kThumb(9, 43);
inline constexpr int kThumbStep = 44;      // thumb travel per position (track clicks)
inline constexpr int kThumbDragStep = 29;  // thumb travel per position while dragged
int thumb_top_for(int grid_position);
// Keeps a dragged thumb inside the track.
int clamp_thumb_top(int top);
// The grid position a thumb at this top edge selects.
int position_for_thumb(int top);
inline QRect thumb_rect(int top) { return QRect(QPoint(kTrack.left(), top), kThumb); }
enum class TrackHit { None, Above, Thumb, Below };
TrackHit track_hit(const QPoint& p, int thumb_top);

// --- buttons ---
struct PanelButton {
  const char* art;      // art/NAME.svg
  const char* tip;      // tool-tip
  const char* caption;  // the word under it on the panel, or nullptr
  QRect rect;
};
enum PanelButtonId {
  kExit,
  kMinimize,
  kHelp,
  kUtility,
  kMotion,
  kSchedule,
  kChange,
  kDelete,
  kAdd,
  kSavedFiles,
  kPanelButtons
};
inline constexpr PanelButton kButtons[kPanelButtons] = {
    {"button_exit", "Exit the program!", nullptr, ltrb(557, 45, 577, 65)},
    {"button_minimize", "Minimize", nullptr, ltrb(527, 45, 547, 65)},
    {"button_help", "Help!", nullptr, ltrb(496, 45, 516, 65)},
    {"button_settings", "Utility Settings", nullptr, ltrb(465, 45, 485, 65)},
    {"button_motion", "Motion detection settings", "Motion", ltrb(122, 380, 142, 400)},
    {"button_schedule", "Scheduled recordings ", "Schedule", ltrb(26, 380, 46, 400)},
    {"button_edit", "Change Camera Settings", "Edit", ltrb(122, 338, 142, 358)},
    {"button_delete", "Delete Camera", "Delete", ltrb(75, 338, 95, 358)},
    {"button_add", "Add camera", "Add", ltrb(26, 338, 46, 358)},
    {"button_files", "Saved files", "Files", ltrb(75, 380, 95, 400)},
};

// --- texts ---
inline constexpr QRect kClock = ltrb(341, 415, 493, 433);
// How many cameras play and record (ours, above the list).
inline constexpr QRect kStatusPlaying = ltrb(10, 98, 84, 133);
inline constexpr QRect kStatusRecording = ltrb(86, 98, 158, 133);
// The list's own tool-tip, and the recording mark's.
inline constexpr const char* kListTip = "Drag and drop the camera to a channel";
inline constexpr const char* kMarkTip = "Click to stop recording.";
// The label that follows the pointer while a camera is dragged.
inline constexpr const char* kDragText = "Drag and drop the camera to a channel";

}  // namespace ui::layout
