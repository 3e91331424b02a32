// Where the window keeps settings.ini and where videos go by default, in a
// private home: the user's configuration folder, the one-time takeover of
// a file beside the program, the videos folder or home.
#include "app/core/SettingsLocation.h"
#include "platform/FileUtil.h"
#include "platform/UserFolders.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class SettingsLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    ASSERT_TRUE(plat::ForceDirectories(Home()));
    ASSERT_TRUE(plat::ForceDirectories(Program()));
  }
  std::string Root() const { return FDir.path().toStdString(); }
  std::string Home() const { return Root() + "/home"; }
  std::string Program() const { return Root() + "/opt/bin/"; }

  QTemporaryDir FDir;
  ScopedEnv FHome{"HOME", Home()};
  ScopedEnv FConfig{"XDG_CONFIG_HOME", nullptr};
};

TEST_F(SettingsLocation, ConfigurationFolderFollowsTheXdgRules) {
  EXPECT_EQ(plat::HomeFolder(), Home());
  EXPECT_EQ(plat::ConfigHome(), Home() + "/.config");
  {
    ScopedEnv config("XDG_CONFIG_HOME", Root() + "/cfg/");
    EXPECT_EQ(plat::ConfigHome(), Root() + "/cfg");
    const std::string file = UserSettingsFile();
    EXPECT_EQ(file, Root() + "/cfg/Clipharbor/settings.ini");
    EXPECT_TRUE(plat::DirectoryExists(Root() + "/cfg/Clipharbor")) << "made, so that the first save can write";
  }
  // A relative value is ignored, as the base directory rules say.
  ScopedEnv relative("XDG_CONFIG_HOME", "relative/cfg");
  EXPECT_EQ(UserSettingsFile(), Home() + "/.config/Clipharbor/settings.ini");
}

TEST_F(SettingsLocation, AFileBesideTheProgramIsTakenOverOnce) {
  const std::string old = Program() + "settings.ini";
  const std::string oldText = "[Options]\r\nOutputDirectory=/srv/videos/\r\nRadioButton=2\r\nConvertFormat=7\r\n";
  Write(old, oldText);
  const std::string file = UserSettingsFile(Home() + "/.config", Program());
  EXPECT_EQ(Slurp(file), oldText);
  EXPECT_EQ(Slurp(old), oldText) << "the old file stays";
  EXPECT_FALSE(plat::FileExists(file + ".part"));

  // Once there, the user's file wins: a later change beside the program is not copied again.
  Write(file, "[Options]\r\nRadioButton=1\r\n");
  Write(old, "[Options]\r\nRadioButton=0\r\n");
  EXPECT_EQ(UserSettingsFile(Home() + "/.config", Program()), file);
  EXPECT_EQ(Slurp(file), "[Options]\r\nRadioButton=1\r\n");

  // The program's folder without its trailing '/' names the same file.
  std::remove(file.c_str());
  UserSettingsFile(Home() + "/.config", Root() + "/opt/bin");
  EXPECT_EQ(Slurp(file), "[Options]\r\nRadioButton=0\r\n");
}

TEST_F(SettingsLocation, NothingBesideTheProgramGivesNoFile) {
  const std::string file = UserSettingsFile(Home() + "/.config", Program());
  EXPECT_FALSE(plat::FileExists(file));
  EXPECT_TRUE(plat::DirectoryExists(Home() + "/.config/Clipharbor"));
}

TEST_F(SettingsLocation, OutputGoesToTheVideosFolderElseHome) {
  // No videos folder yet: home.
  EXPECT_EQ(DefaultOutputFolder(), Home() + "/");
  // The usual name.
  ASSERT_TRUE(plat::ForceDirectories(Home() + "/Videos"));
  EXPECT_EQ(DefaultOutputFolder(), Home() + "/Videos/");
  // The one user-dirs.dirs names, in the user's language.
  ASSERT_TRUE(plat::ForceDirectories(Home() + "/.config"));
  ASSERT_TRUE(plat::ForceDirectories(Home() + "/Vid\xc3\xa9os"));
  Write(Home() + "/.config/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Vid\xc3\xa9os\"\n");
  EXPECT_EQ(DefaultOutputFolder(), Home() + "/Vid\xc3\xa9os/");
  // A named folder that is gone: home again, not a folder that does not exist.
  Write(Home() + "/.config/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Gone\"\n");
  EXPECT_EQ(DefaultOutputFolder(), Home() + "/");
}

}  // namespace
