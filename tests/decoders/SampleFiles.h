// The external sample databases for the decoder tests: where they are, and
// copies to open (the samples themselves are read-only).
#pragma once

#include <filesystem>

namespace corvyn::testing {

// Copies a read-only sample (with its -wal/-shm when present) into `folder`
// and returns the copy's path.
std::filesystem::path CopySample(const std::filesystem::path& sample, const std::filesystem::path& folder);

// Root of the external sample data, or empty when it is absent.
std::filesystem::path ExternalTestData();

}  // namespace corvyn::testing
