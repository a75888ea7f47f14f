// Whether a standard stream of this process is a terminal (so a front end
// may draw a progress bar on it).
#pragma once

namespace corvyn::platform {

enum class StandardStream { kInput = 0, kOutput = 1, kError = 2 };

bool IsTerminal(StandardStream stream);

}  // namespace corvyn::platform
