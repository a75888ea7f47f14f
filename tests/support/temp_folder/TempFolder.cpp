#include "tests/support/temp_folder/TempFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace corvyn::testing {

TempFolder::TempFolder(const std::string& label) {
  std::string pattern = (std::filesystem::temp_directory_path() / ("corvyn-" + label + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary folder from " + pattern + ": " + std::strerror(errno));
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace corvyn::testing
