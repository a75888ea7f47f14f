#include <gtest/gtest.h>

#include "platform/InstanceLock.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::platform {
namespace {

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  testing::TempFolder folder;
  const auto file = folder.Path() / LockFileNameFor(kInstanceMutexName);
  std::unique_ptr<InstanceLock> first;
  ASSERT_EQ(InstanceLock::Acquire(file, &first), kOk);
  ASSERT_NE(first, nullptr);
  std::unique_ptr<InstanceLock> second;
  EXPECT_EQ((InstanceLock::Acquire(file, &second)).systemError(), EWOULDBLOCK);
  EXPECT_EQ(second, nullptr);
  first.reset();
  // The file stays behind; a stale file does not block the next start.
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(InstanceLock::Acquire(file, &second), kOk);
  std::unique_ptr<InstanceLock> other;
  EXPECT_EQ(InstanceLock::Acquire(folder.Path() / "other.lock", &other), kOk)
      << "other names are independent";
  EXPECT_EQ((InstanceLock::Acquire(folder.Path() / "missing" / "x.lock", &other)).systemError(), ENOENT);
}

TEST(InstanceLock, FileNamesFromMutexNames) {
  EXPECT_EQ(LockFileNameFor(kInstanceMutexName), "Corvyn_iOS_Recovery_2014_For_Windows.lock");
  EXPECT_EQ(LockFileNameFor("Local\\a/b c"), "a_b_c.lock");
  EXPECT_EQ(LockFileNameFor("Global\\"), "instance.lock");
  EXPECT_EQ(LockFileNameFor("../x"), ".._x.lock");
}

}  // namespace
}  // namespace corvyn::platform
