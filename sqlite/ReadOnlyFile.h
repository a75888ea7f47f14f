// The reader's file: positional reads of a file opened read-only.
#pragma once

#include "platform/ReadOnlyFile.h"

namespace corvyn::sqlite {
using platform::ReadOnlyFile;
}  // namespace corvyn::sqlite
