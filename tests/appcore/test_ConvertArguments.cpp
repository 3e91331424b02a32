// File names that a shell or the Windows splitting rules would take apart
// reach the converter whole: the argument list, and the real ffmpeg on such
// names.
#include <unistd.h>

#include "ConvertScripted.h"
#include "app/core/ConvertCommand.h"
#include "app/core/ConvertTags.h"
#include "app/core/Formats.h"

using namespace convtest;

namespace {

using TArgs = std::vector<std::string>;

// Runs the test body in `dir` and comes back afterwards.
class TScopedChdir {
 public:
  explicit TScopedChdir(const std::string& dir) {
    char buf[4096];
    if (::getcwd(buf, sizeof buf)) FOld = buf;
    Ok = ::chdir(dir.c_str()) == 0;
  }
  ~TScopedChdir() {
    if (!FOld.empty()) (void)!::chdir(FOld.c_str());
  }
  bool Ok = false;

 private:
  std::string FOld;
};

TEST(ConvertCommand, TextAsShownAndListAsRun) {
  const std::string in = "/v/a \"b\" c.flv", out = "/v/-x\\y.mp3";
  EXPECT_EQ(ConverterCommandLine(true, in, "-ar 44100 -ac 2 ", out),
            "ffmpeg -y -i \"/v/a \"b\" c.flv\" -ar 44100 -ac 2 \"/v/-x\\y.mp3\"");
  EXPECT_EQ(ConverterArguments(true, in, "-ar 44100 -ac 2 ", out),
            (TArgs{"ffmpeg", "-y", "-i", in, "-ar", "44100", "-ac", "2", out}));
  // Relative names cannot pass for an option or a protocol.
  EXPECT_EQ(ConverterArguments(false, "-in.flv", "-ab  64k ", "pipe:1.mp3"),
            (TArgs{"ffmpeg", "-i", "./-in.flv", "-ab", "64k", "./pipe:1.mp3"}));
  EXPECT_EQ(ConverterArguments(false, "a b.flv", "", "c.wav"), (TArgs{"ffmpeg", "-i", "./a b.flv", "./c.wav"}));
}

// The page's title and address reach the converter as whole entries before
// the output path, whatever they hold; a page's password never does.
TEST(ConvertCommand, TagsAreEntriesOfTheList) {
  const TConvertTags tags{"-y \"Harbour\" Lights; rm -rf ~ $(x)", "http://h/watch?v=1&t=2"};
  EXPECT_EQ(ConverterArguments(false, "/v/in.flv", "-ac 2 ", "/v/out.mp3", tags),
            (TArgs{"ffmpeg", "-i", "/v/in.flv", "-ac", "2", "-metadata", "title=" + tags.Title, "-metadata",
                   "comment=http://h/watch?v=1&t=2", "/v/out.mp3"}));
  EXPECT_EQ(TagArguments({}), TArgs{});
  EXPECT_EQ(TagArguments({"", "http://h/"}), (TArgs{"-metadata", "comment=http://h/"}));

  EXPECT_EQ(TagsForSource(" Clip\r\nTwo\t", "https://user:se@cret@files.example:8443/a@b.flv?x=@"),
            (TConvertTags{"Clip  Two", "https://files.example:8443/a@b.flv?x=@"}));
  EXPECT_EQ(AddressWithoutCredentials("http://h/p@q"), "http://h/p@q");
  EXPECT_EQ(AddressWithoutCredentials("user@h"), "h");
  EXPECT_EQ(AddressWithoutCredentials("http://@h/"), "http://h/");
  EXPECT_EQ(AddressWithoutCredentials(""), "");
}

// Tag values are UTF-8: a title that is valid UTF-8 stays as it is, one in
// an 8-bit code page is read as Latin-1, never written as broken UTF-8.
TEST(ConvertCommand, TagTextIsUtf8) {
  EXPECT_EQ(TagText("Caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x8e\xac"), "Caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x8e\xac");
  EXPECT_EQ(TagText("Caf\xe9 M\xfcller"), "Caf\xc3\xa9 M\xc3\xbcller");
  // Overlong forms, surrogates, cut-off sequences: not UTF-8.
  EXPECT_EQ(TagText("\xc0\xaf"), "\xc3\x80\xc2\xaf");
  EXPECT_EQ(TagText("\xed\xa0\x80"), "\xc3\xad\xc2\xa0\xc2\x80");
  EXPECT_EQ(TagText("ab\xe2\x80"), "ab\xc3\xa2\xc2\x80");
  EXPECT_EQ(TagText("\x7f\x01 "), "");
}

TEST_F(ConvertScripted, QuotesBlanksAndBackslashesArriveUnchanged) {
  Proc->FInputFile = Dir.File("say \"hi\" \\ there.flv");
  Proc->FOutputFile = Dir.File("-say \"hi\"\\ there.mp3");
  WriteFile(Proc->FInputFile, "FLV");
  Run();
  ASSERT_TRUE(WaitEnd());
  const TArgs args = PassedArgs();
  ASSERT_EQ(args.size(), 9u);
  EXPECT_EQ(args[1], Proc->FInputFile);
  EXPECT_EQ(args.back(), Dir.File("-say \"hi\"\\ there.part.mp3"));
  // The text shown keeps its quotes around each name.
  EXPECT_EQ(Proc->CommandLine(),
            "ffmpeg -i \"" + Proc->FInputFile + "\" -ar 44100 -ab 128k -ac 2 \"" + Proc->FOutputFile + "\"");
}

TEST(ConvertRealNames, LeadingDashColonQuotesAndBlanksConvert) {
  if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
  TTempDir dir;
  TScopedChdir here(dir.Path);
  ASSERT_TRUE(here.Ok);
  const std::string in = "-clip: \"one\" \\ two.flv";
  ASSERT_EQ(std::system("ffmpeg -v error -nostdin -y -f lavfi -i sine=frequency=440:duration=1 -ar 22050 "
                        "-f flv in.flv"),
            0);
  ASSERT_EQ(std::rename("in.flv", in.c_str()), 0);
  TReportWindow win;
  TConvertProcess proc;
  proc.FNotifyWnd = win.Wnd;
  proc.FActive = true;
  proc.FInputFile = in;
  proc.FOutputFile = "-clip: \"one\" \\ two.wav";
  proc.FArguments = PresetForIndex(8);
  proc.Start();
  ASSERT_TRUE(PumpUntil([&] { return win.Ended(); }, 30000));
  EXPECT_EQ(win.End()->Status, csProgress) << proc.LastErrorLine();
  const std::string wav = ReadFile(dir.File(proc.FOutputFile));
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  proc.StopProcess(0);
  PumpUntil([&] { return proc.LiveReaders() == 0; }, 5000);
}

}  // namespace
