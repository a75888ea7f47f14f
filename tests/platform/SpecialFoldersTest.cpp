#include <gtest/gtest.h>

#include <map>

#include "platform/SpecialFolders.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::platform {
namespace {

EnvironmentLookup Environment(std::map<std::string, std::string> variables) {
  return [variables](const char* name) -> std::optional<std::string> {
    const auto found = variables.find(name);
    if (found == variables.end()) return std::nullopt;
    return found->second;
  };
}

TEST(SpecialFolders, FollowTheXdgRules) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> variables;
    const char* data;
    const char* config;
  } cases[] = {
      {"defaults under home", {{"HOME", "/home/u"}}, "/home/u/.local/share", "/home/u/.config"},
      {"variables win",
       {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/d"}, {"XDG_CONFIG_HOME", "/c"}},
       "/d",
       "/c"},
      {"empty variables are unset",
       {{"HOME", "/home/u"}, {"XDG_DATA_HOME", ""}, {"XDG_CONFIG_HOME", ""}},
       "/home/u/.local/share",
       "/home/u/.config"},
      {"relative variables are ignored",
       {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "rel"}, {"XDG_CONFIG_HOME", "x/y"}},
       "/home/u/.local/share",
       "/home/u/.config"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto environment = Environment(c.variables);
    EXPECT_EQ(RoamingAppDataDir(environment), c.data);
    EXPECT_EQ(ConfigHomeDir(environment), c.config);
    EXPECT_EQ(ScratchDir(environment), std::filesystem::path(c.data) / "CorvyniOSRecovery");
  }
}

TEST(SpecialFolders, RuntimeDirFallsBackToAPrivateTemporaryFolder) {
  EXPECT_EQ(RuntimeDir(Environment({{"XDG_RUNTIME_DIR", "/run/user/7"}})), "/run/user/7");
  const auto fallback = RuntimeDir(Environment({{"TMPDIR", ::testing::TempDir()}}));
  EXPECT_TRUE(std::filesystem::is_directory(fallback));
  const auto permissions = std::filesystem::status(fallback).permissions();
  EXPECT_EQ(permissions & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
            std::filesystem::perms::none);
}

TEST(SpecialFolders, RuntimeFallbackAvoidsAFolderOthersCanEnter) {
  const testing::TempFolder temp("runtime-test");
  const std::filesystem::path& base = temp.Path();
  const auto environment = Environment({{"TMPDIR", base.string()}});
  const auto first = RuntimeDir(environment);
  // Someone opened the folder to everybody: it is no longer used.
  std::filesystem::permissions(first, std::filesystem::perms::all);
  const auto second = RuntimeDir(environment);
  EXPECT_NE(second, first);
  EXPECT_EQ(second.parent_path(), base);
  EXPECT_EQ(std::filesystem::status(second).permissions() &
                (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
            std::filesystem::perms::none);
}

TEST(SpecialFolders, HomeWithoutVariableComesFromTheUserDatabase) {
  EXPECT_TRUE(HomeDir(Environment({})).is_absolute());
  EXPECT_TRUE(ProgramDir().is_absolute());
  EXPECT_TRUE(std::filesystem::exists(ProgramDir()));
}

}  // namespace
}  // namespace corvyn::platform
