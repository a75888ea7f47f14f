#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::platform {
namespace {

void ExerciseRegistry(IRegistry& registry) {
  EXPECT_EQ(registry.ReadValue(kAppleApplicationSupportKey, kInstallDirValue), std::nullopt);
  ASSERT_EQ(registry.WriteValue(kAppleApplicationSupportKey, kInstallDirValue, "/opt/apple support"), kOk);
  ASSERT_EQ(registry.WriteValue(kAppleMobileDeviceSupportKey, kMobileDeviceDllValue, "/opt/md/lib.so"), kOk);
  ASSERT_EQ(registry.WriteValue(kAppleApplicationSupportKey, kInstallDirValue, "/opt/apple"), kOk);
  EXPECT_EQ(registry.ReadValue(kAppleApplicationSupportKey, kInstallDirValue), "/opt/apple");
  EXPECT_EQ(
      registry.ReadValue("hkey_local_machine\\software\\apple inc.\\apple mobile device support\\shared",
                         "mobiledevicedll"),
      "/opt/md/lib.so");
  EXPECT_EQ(registry.ReadValue(kAppleMobileDeviceSupportKey, kInstallDirValue), std::nullopt);
  ASSERT_EQ(registry.DeleteValue(kAppleApplicationSupportKey, kInstallDirValue), kOk);
  EXPECT_EQ(registry.ReadValue(kAppleApplicationSupportKey, kInstallDirValue), std::nullopt);
  EXPECT_EQ(registry.DeleteValue("No\\Such\\Key", "x"), kOk);
}

TEST(Registry, FileRegistryStoresValuesAcrossInstances) {
  testing::TempFolder folder;
  const auto file = folder.Path() / "corvyn" / "registry.ini";
  {
    FileRegistry registry(file);
    ExerciseRegistry(registry);
  }
  FileRegistry reopened(file);
  EXPECT_EQ(reopened.ReadValue(kAppleMobileDeviceSupportKey, kMobileDeviceDllValue), "/opt/md/lib.so");
}

TEST(Registry, FileRegistryRefusesValuesThatWouldBreakTheFile) {
  testing::TempFolder folder;
  FileRegistry registry(folder.Path() / "registry.ini");
  EXPECT_EQ(registry.WriteValue("Key", "a=b", "v"), kInvalidData);
  EXPECT_EQ(registry.WriteValue("Key", "name", "two\nlines"), kInvalidData);
  EXPECT_EQ(registry.WriteValue("Key]", "name", "v"), kInvalidData);
  EXPECT_EQ(registry.WriteValue("Key", "", "v"), kInvalidData);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / "registry.ini"));
}

TEST(Registry, MemoryRegistryBehavesTheSame) {
  MemoryRegistry registry;
  ExerciseRegistry(registry);
}

}  // namespace
}  // namespace corvyn::platform
