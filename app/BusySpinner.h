// The small busy animation of the scan page: a ring of dots with one bright
// dot that moves one place per frame (drawn, so the skin needs no GIF).
#pragma once

#include <QPixmap>

namespace corvyn::app {

inline constexpr int kBusySpinnerSteps = 12;

// Frame `step` (0 to kBusySpinnerSteps - 1) of a `side` by `side` spinner;
// a stopped spinner is drawn faded.
QPixmap BusySpinnerFrame(int side, int step, bool running);

}  // namespace corvyn::app
