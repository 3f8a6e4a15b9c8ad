// The skin's type: Arial where it is installed, else a sans with Arial's
// metrics (Liberation Sans, which fontconfig also answers for "Arial").
//
// Sizes are given as the skin has always given them, as the height of the
// character cell in pixels (ascent plus descent), not as the em size: a
// list font of height 10 is a 9-pixel Arial. Weights are CSS weights (400
// regular, 500 medium, 700 bold, 800 extra bold); a family without a face of
// that weight uses its nearest one.
//
// User-interface thread.
#pragma once

#include <QFont>
#include <QString>

namespace skin {

// A font whose character cell is at most cell_height logical pixels.
QFont font(int cell_height, int weight);

// The family Qt actually draws with for the skin's fonts.
QString resolved_family();

}  // namespace skin
