// Real, viewable media for the demo backups: photos drawn with Qt (JPEG and
// PNG) and a short tone (WAV), so that a user trying the program sees real
// previews; with libheif, a HEIC photo too. Kinds it cannot make come back
// empty (the synthetic file stays).
#pragma once

#include <string>

#include "tests/support/backup_builder/StandardBackup.h"

namespace corvyn::testsupport {

// Needs a QGuiApplication for photos (fonts); see MakeDemo.
std::string MakeDemoMedia(MediaKind kind, int variant);

}  // namespace corvyn::testsupport
