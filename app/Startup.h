// The program's entry: single instance, skin check, languages, main window,
// main loop, clean-up.
#pragma once

namespace corvyn::app {

// The text shown when the skin archive cannot be loaded (start-up cannot
// complete without it).
inline constexpr const char* kStartupFailedText =
    "COM component registration failed, the application can not complete initialization!";
inline constexpr const char* kAlreadyRunningText = "Corvyn is running.";

// Makes the embedded skin archive available as ":/corvyn/skin.zip".
void InitSkinResource();

// Runs the program; returns the process exit code.
int RunCorvyn(int argc, char** argv);

}  // namespace corvyn::app
