#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>
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

// Permission bits and owners are read from the folder itself, so the
// verdicts hold when the tests run as root (who may enter anything).
TEST(SpecialFolders, PrivateFoldersAreOursAlone) {
  namespace fs = std::filesystem;
  using fs::perms;
  const corvyn::testing::TempFolder temp("private-test");
  const fs::path& base = temp.Path();
  const perms open =
      perms::owner_all | perms::group_read | perms::group_exec | perms::others_read | perms::others_exec;
  const struct {
    const char* label;
    std::function<void(const fs::path&)> prepare;  // null: nothing there
    bool accepted;
  } cases[] = {
      {"missing: made", nullptr, true},
      {"missing with missing parents: made", nullptr, true},
      {"ours alone", [](const fs::path& p) { fs::create_directory(p), fs::permissions(p, perms::owner_all); },
       true},
      {"others may enter", [&](const fs::path& p) { fs::create_directory(p), fs::permissions(p, open); },
       false},
      {"group may read",
       [](const fs::path& p) {
         fs::create_directory(p), fs::permissions(p, perms::owner_all | perms::group_read);
       },
       false},
      {"others may only pass through",
       [](const fs::path& p) {
         fs::create_directory(p), fs::permissions(p, perms::owner_all | perms::others_exec);
       },
       false},
      {"a link to a private folder",
       [&](const fs::path& p) {
         fs::create_directory(base / "target"), fs::permissions(base / "target", perms::owner_all);
         fs::create_directory_symlink(base / "target", p);
       },
       false},
      {"a file", [](const fs::path& p) { std::ofstream(p) << "x"; }, false},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::path folder = base / ("case" + std::to_string(index++));
    if (std::string_view(c.label).find("parents") != std::string_view::npos) folder = folder / "a" / "b";
    if (c.prepare) c.prepare(folder);
    const auto before = fs::symlink_status(folder).permissions();
    const Status status = MakePrivateFolder(folder);
    if (c.accepted) {
      EXPECT_EQ(status, kOk);
      EXPECT_EQ(fs::symlink_status(folder).permissions(), perms::owner_all);
    } else {
      EXPECT_EQ((status).systemError(), EACCES);
      EXPECT_EQ(fs::symlink_status(folder).permissions(), before) << "a refused folder is left as it was";
    }
  }
  // A folder of another user, however closed, is not ours (only root can
  // make one to test with).
  if (geteuid() == 0) {
    const fs::path foreign = base / "foreign";
    fs::create_directory(foreign);
    fs::permissions(foreign, perms::owner_all);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_EQ((MakePrivateFolder(foreign)).systemError(), EACCES);
  }
}

TEST(SpecialFolders, HomeWithoutVariableComesFromTheUserDatabase) {
  EXPECT_TRUE(HomeDir(Environment({})).is_absolute());
  EXPECT_TRUE(ProgramDir().is_absolute());
  EXPECT_TRUE(std::filesystem::exists(ProgramDir()));
}

}  // namespace
}  // namespace corvyn::platform
