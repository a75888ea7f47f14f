// A fresh, empty folder under the system temporary folder for one test,
// removed with everything in it when the object is destroyed.
//
// The name is made by mkdtemp, so two objects never share a folder, whether
// they live in the same process or in test processes running side by side.
// The constructor throws std::runtime_error when the folder cannot be made.
#pragma once

#include <filesystem>
#include <string>

namespace corvyn::testing {

class TempFolder {
 public:
  // `label` becomes part of the name (corvyn-<label>-XXXXXX) so that a
  // folder left behind by a crashed test says who made it.
  explicit TempFolder(const std::string& label = "test");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace corvyn::testing
