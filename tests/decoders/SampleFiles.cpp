#include "tests/decoders/SampleFiles.h"

#include <cstdlib>

namespace corvyn::testing {

std::filesystem::path CopySample(const std::filesystem::path& sample, const std::filesystem::path& folder) {
  const auto target = folder / sample.filename();
  std::filesystem::copy_file(sample, target, std::filesystem::copy_options::overwrite_existing);
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::filesystem::path companion = sample.string() + suffix;
    if (std::filesystem::exists(companion)) {
      std::filesystem::copy_file(companion, target.string() + suffix,
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }
  std::filesystem::permissions(target, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  return target;
}

std::filesystem::path ExternalTestData() {
  if (const char* fromEnvironment = std::getenv("CORVYN_TESTDATA")) {
    if (std::filesystem::exists(fromEnvironment)) return fromEnvironment;
  }
#ifdef CORVYN_EXTERNAL_TESTDATA
  if (std::filesystem::exists(CORVYN_EXTERNAL_TESTDATA)) return CORVYN_EXTERNAL_TESTDATA;
#endif
  return {};
}

}  // namespace corvyn::testing
