// The download window converting a local file: with the real ffmpeg a full
// disk shows the converter's reason and leaves no file, and names with
// quotes and blanks convert; a signal that ends the program stops the
// conversion and closes the windows in order.
#include <signal.h>

#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/core/ConvertThread.h"
#include "app/core/Formats.h"
#include "app/ui/Download.h"
#include "app/ui/Main.h"
#include "app/ui/QuitOnSignal.h"
#include "cli/E2eSupport.h"
#include "platform/Desktop.h"
#include "platform/ScriptedDesktop.h"
#include "platform/QtText.h"
#include "support/SizeLimitedConverter.h"
#include "ui/DownloadWindowFixture.h"
#include "ui/MainFixture.h"

using namespace e2e;

namespace {

// The download window's fixture, with the input FLV and the output in one folder.
class DownloadConvertIntegrity : public DownloadWindowTest {
 protected:
  void SetUp() override {
    DownloadWindowTest::SetUp();
    FMain->eOutputFolder->setText(plat::ToQ(FDir.Path));
  }
  // A one-second FLV made by the real ffmpeg.
  bool MakeFlv(const std::string& path) {
    return RunProcess({"ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                       "testsrc=size=64x48:rate=25:duration=1", "-f", "lavfi", "-i",
                       "sine=frequency=440:duration=1", "-ar", "22050", "-f", "flv", path},
                      Environment({}))
               .ExitCode == 0;
  }
  // Converts `flv` in mode 2 to `format`; `tick` runs every 20 ms of the modal run.
  int Convert(const std::string& flv, int format, const std::function<void(TfrmDownload&)>& tick = nullptr) {
    TfrmDownload& f = Make(flv, 2, format);
    return RunModal([&] {
      if (tick) tick(f);
    });
  }
};

TEST_F(DownloadConvertIntegrity, FullDiskShowsTheReasonAndLeavesNoFile) {
  const std::string flv = FDir / "clip.flv";
  ASSERT_TRUE(MakeFlv(flv));
  const std::string bin = testsupport::SizeLimitedConverterDir(FDir.Path, 8);
  ASSERT_FALSE(bin.empty());
  ScopedEnv path("PATH", PathWithout(bin).c_str());
  FDesktop.ExpectBox(plat::IDOK);
  bool stopped = false;
  EXPECT_EQ(Convert(flv, 8,
                    [&](TfrmDownload& f) {
                      // The window stays on the conversion panel until Stop.
                      if (!stopped && FDesktop.Boxes.size() == 1) {
                        stopped = true;
                        EXPECT_TRUE(f.Panel3->isVisible());
                        f.bStop3->click();
                      }
                    }),
            mrStop);
  ASSERT_EQ(FDesktop.Boxes.size(), 1u);
  EXPECT_NE(FDesktop.Boxes[0].Text.find("File too large"), std::string::npos) << FDesktop.Boxes[0].Text;
  EXPECT_EQ(FDesktop.Boxes[0].Caption, "Clipharbor");
  EXPECT_EQ(FDesktop.Boxes[0].Flags, plat::MB_OK | plat::MB_ICONERROR);
  EXPECT_FALSE(Exists(FDir / "clip.wav"));
  EXPECT_FALSE(Exists(FDir / "clip.part.wav"));
}

TEST_F(DownloadConvertIntegrity, NameWithQuotesAndBlanksConverts) {
  const std::string flv = FDir / "say \"hi\" \\ there.flv";
  ASSERT_TRUE(MakeFlv(flv));
  EXPECT_EQ(Convert(flv, 8), mrCancel);  // closed by the end record
  EXPECT_TRUE(FDesktop.Boxes.empty());
  const std::string wav = ReadFile(FDir / "say \"hi\" \\ there.wav");
  ASSERT_GT(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
}

TEST_F(DownloadConvertIntegrity, StopSignalStopsTheConverterAndClosesTheWindows) {
  const std::string flv = FDir / "clip.flv";
  WriteFile(flv, "FLV");
  const std::string pids = FDir / "pids.json";
  WriteFile(FDir / "steps.json", R"([["output", "half"], ["pids", ")" + pids + R"("], ["hang"]])");
  ScopedEnv steps("CONVERT_STANDIN", (FDir / "steps.json").c_str());
  ScopedEnv path("PATH", PathWithout(StandInConverterDir(FDir)).c_str());
  int quitWith = 0;
  TQuitOnSignal quitOnSignal(FMain.get(), [&](int signal) { quitWith = signal; });
  FMain->show();
  bool raised = false;
  EXPECT_EQ(Convert(flv, 7,
                    [&](TfrmDownload&) {
                      if (!raised && Exists(pids)) {
                        raised = true;
                        ::raise(SIGHUP);  // the terminal that started the program closed
                      }
                    }),
            mrStop);
  ASSERT_TRUE(raised);
  const std::string info = ReadFile(pids);
  const int converter = std::atoi(info.substr(info.find(':') + 1).c_str());
  ASSERT_GT(converter, 0);
  EXPECT_NE(::kill(converter, 0), 0) << "the converter outlived the job";
  EXPECT_FALSE(Exists(FDir / "clip.part.mp3"));
  EXPECT_FALSE(Exists(FDir / "clip.mp3"));
  // Then the main window closes as by its close box (settings written) and the program ends.
  for (int i = 0; i < 100 && quitWith == 0; ++i) plat::WaitForInput(20);
  EXPECT_EQ(quitWith, SIGHUP);
  EXPECT_FALSE(FMain->isVisible());
  EXPECT_TRUE(Exists(FDir / "settings.ini"));
  EXPECT_EQ(ConvertProcess, nullptr);
}

}  // namespace
