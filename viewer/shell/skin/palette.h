// The house palette of every skinned window (main window, pop-ups, dialogs):
// one set of colours, so that the windows look like one product. The same
// values are written down, with what each is for, in docs/skin.md.
#pragma once

#include <QColor>

namespace skin {

// Transparent in every button strip and cut image: pixels of exactly this
// colour are not drawn.
inline const QColor kKeyColour(255, 0, 255);

// Body and panels.
inline const QColor kBodyTop(0x26, 0x2e, 0x38);
inline const QColor kBodyBottom(0x14, 0x19, 0x1f);
inline const QColor kPanel(0x0c, 0x10, 0x15);
inline const QColor kPanelLine(0x2c, 0x36, 0x41);
inline const QColor kRim(0x4a, 0x58, 0x67);

// Text.
inline const QColor kText(0xd6, 0xde, 0xe6);
inline const QColor kTextDim(0x7d, 0x8a, 0x97);
inline const QColor kTextBright(255, 255, 255);
// The clock of the main window.
inline const QColor kClockText(255, 255, 250);

// The accent (hover, focus, the selected row, the scroll thumb) and the
// states with a meaning of their own.
inline const QColor kAccent(0x3f, 0xb8, 0xd8);
inline const QColor kOnGreen(0x5e, 0xe0, 0x8a);
inline const QColor kRecordRed(0xe5, 0x39, 0x35);
inline const QColor kScheduleYellow(253, 204, 2);
// The label box that follows the pointer while a camera is dragged.
inline const QColor kDragLabel(220, 220, 200);

// Colours that button artwork is drawn in. A button's SVG uses exactly these
// values; the skin recolours them for hover, pressed and the "on" set, so
// one drawing gives the whole strip (see artwork.h, ButtonLook).
inline constexpr const char* kSvgFaceTop = "#34404d";
inline constexpr const char* kSvgFaceBottom = "#222a33";
inline constexpr const char* kSvgRim = "#4a5867";
inline constexpr const char* kSvgGlyph = "#cfd8e1";

}  // namespace skin
