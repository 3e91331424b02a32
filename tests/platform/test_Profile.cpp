#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

using namespace plat;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Spit(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    file_ = dir_.path().toStdString() + "/settings.ini";
  }
  QTemporaryDir dir_;
  std::string file_;
};

}  // namespace

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesDefault) {
  EXPECT_EQ(GetPrivateProfileString("Options", "OutputDirectory", "/def/", file_), "/def/");
  EXPECT_EQ(GetPrivateProfileInt("Options", "RadioButton", 7, file_), 7);
  Spit(file_, "[Other]\r\nRadioButton=2\r\n[Options]\r\nConvertFormat=3\r\n");
  EXPECT_EQ(GetPrivateProfileInt("Options", "RadioButton", 7, file_), 7);
  EXPECT_EQ(GetPrivateProfileInt("Options", "ConvertFormat", 7, file_), 3);
  EXPECT_EQ(GetPrivateProfileInt("Missing", "ConvertFormat", 7, file_), 7);
}

TEST_F(ProfileTest, CaseInsensitiveNamesTrimmedAndQuotedValues) {
  Spit(file_,
       "; comment\n[options]\n  outputdirectory =  /data/My Videos/  \nRADIOBUTTON=1\nQuoted=\"  x \"\n"
       "Single='y'\nEmpty=\n");
  EXPECT_EQ(GetPrivateProfileString("Options", "OutputDirectory", "", file_), "/data/My Videos/");
  EXPECT_EQ(GetPrivateProfileInt("OPTIONS", "radiobutton", 0, file_), 1);
  EXPECT_EQ(GetPrivateProfileString("Options", "Quoted", "", file_), "  x ");
  EXPECT_EQ(GetPrivateProfileString("Options", "Single", "", file_), "y");
  EXPECT_EQ(GetPrivateProfileString("Options", "Empty", "d", file_), "");
  EXPECT_EQ(GetPrivateProfileInt("Options", "Empty", 4, file_), 4);
}

TEST_F(ProfileTest, InvalidIntegersGiveDefault) {
  Spit(file_,
       "[Options]\nA=12abc\nB=abc\nC= -3 \nD=99999999999\nE=$1F\nF=0x10\nG=+\nH=-2147483648\nI=2147483648\n"
       "J=1.5\n");
  EXPECT_EQ(GetPrivateProfileInt("Options", "A", -9, file_), -9);
  EXPECT_EQ(GetPrivateProfileInt("Options", "B", -9, file_), -9);
  EXPECT_EQ(GetPrivateProfileInt("Options", "C", -9, file_), -3);
  EXPECT_EQ(GetPrivateProfileInt("Options", "D", -9, file_), -9);
  EXPECT_EQ(GetPrivateProfileInt("Options", "E", -9, file_), 31);
  EXPECT_EQ(GetPrivateProfileInt("Options", "F", -9, file_), 16);
  EXPECT_EQ(GetPrivateProfileInt("Options", "G", -9, file_), -9);
  EXPECT_EQ(GetPrivateProfileInt("Options", "H", -9, file_), -2147483647 - 1);
  EXPECT_EQ(GetPrivateProfileInt("Options", "I", -9, file_), -9);
  EXPECT_EQ(GetPrivateProfileInt("Options", "J", -9, file_), -9);
}

TEST_F(ProfileTest, WritesCreateReplaceAndKeepTheRest) {
  ASSERT_TRUE(WritePrivateProfileString("Options", "OutputDirectory", "/a/", file_));
  EXPECT_EQ(Slurp(file_), "[Options]\r\nOutputDirectory=/a/\r\n");
  ASSERT_TRUE(WritePrivateProfileString("Options", "RadioButton", "2", file_));
  // A second writer changes a key in another case: one line, stored spelling kept.
  ASSERT_TRUE(WritePrivateProfileString("OPTIONS", "outputdirectory", "/b/", file_));
  EXPECT_EQ(Slurp(file_), "[Options]\r\nOutputDirectory=/b/\r\nRadioButton=2\r\n");

  Spit(file_, "; mine\n[Window]\nLeft=10\n\n[Options]\nRadioButton=1\n\n[Tail]\nX=y\n");
  ASSERT_TRUE(WritePrivateProfileString("Options", "ConvertFormat", "5", file_));
  ASSERT_TRUE(WritePrivateProfileString("New", "K", "v", file_));
  EXPECT_EQ(Slurp(file_),
            "; mine\r\n[Window]\r\nLeft=10\r\n\r\n[Options]\r\nRadioButton=1\r\nConvertFormat=5\r\n\r\n"
            "[Tail]\r\nX=y\r\n\r\n[New]\r\nK=v\r\n");
  EXPECT_EQ(GetPrivateProfileInt("Options", "ConvertFormat", 0, file_), 5);
  EXPECT_EQ(GetPrivateProfileString("Window", "Left", "", file_), "10");

  ASSERT_TRUE(DeletePrivateProfileKey("Options", "RadioButton", file_));
  EXPECT_EQ(GetPrivateProfileInt("Options", "RadioButton", -1, file_), -1);
  ASSERT_TRUE(DeletePrivateProfileKey("Window", "", file_));
  EXPECT_EQ(GetPrivateProfileString("Window", "Left", "gone", file_), "gone");
}

TEST_F(ProfileTest, UnstorableOrUnwritableIsRefused) {
  EXPECT_FALSE(WritePrivateProfileString("Options", "", "x", file_));
  EXPECT_FALSE(WritePrivateProfileString("Options", "a=b", "x", file_));
  EXPECT_FALSE(WritePrivateProfileString("Options", "K", "line\nbreak", file_));
  EXPECT_FALSE(WritePrivateProfileString("Op]tions", "K", "x", file_));
  EXPECT_FALSE(WritePrivateProfileString("Options", "K", "x", dir_.path().toStdString() + "/no/such/dir/s.ini"));
  // A folder where the file should be.
  const std::string asDir = dir_.path().toStdString() + "/dir.ini";
  ASSERT_EQ(::mkdir(asDir.c_str(), 0755), 0);
  EXPECT_FALSE(WritePrivateProfileString("Options", "K", "x", asDir));

  TIniFile ini(asDir);
  EXPECT_EQ(ini.ReadInteger("Options", "K", 3), 3);
  EXPECT_THROW(ini.WriteInteger("Options", "K", 1), EIniFileException);

  TIniFile good(file_);
  good.WriteInteger("Options", "RadioButton", 2);
  good.WriteString("Options", "OutputDirectory", "/v/");
  EXPECT_EQ(good.ReadInteger("options", "radiobutton", 0), 2);
  EXPECT_EQ(good.ReadString("Options", "OutputDirectory", ""), "/v/");
}
