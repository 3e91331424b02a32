// Several jobs in the download window against the stand-in service, nginx
// over TLS and the real converter: each job in turn with "2 of 3" in the
// caption and its own result, no box halting the queue, Stop ending it; a
// converted download removed when the settings say so; https pages and
// files checked against the system's store; local files of other kinds
// dropped on the main window and converted.
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <set>

#include "app/ui/JobResults.h"
#include "http/TlsPeers.h"
#include "ui/DownloadWindowFixture.h"

using namespace e2e;

namespace {

const char* kQuickConversion = R"([
  ["err", "  Duration: 00:00:10.00, start: 0.000000, bitrate: 364 kb/s\n"],
  ["err", "size= 10kB time=00:00:05.00 bitrate= 32.0kbits/s\r"],
  ["output", "converted"],
  ["exit", 0]
])";

class DownloadQueueTest : public DownloadWindowTest {
 protected:
  // The download window for several inputs, as the main window makes it.
  TfrmDownload& MakeQueue(const TStringList& inputs, const std::vector<TInputKind>& kinds, int mode,
                          int format = 7) {
    std::unique_ptr<TDownloadWindowIntf> w = CreateDownloadWindow(FMain.get(), inputs);
    FForm.reset(dynamic_cast<TfrmDownload*>(w.release()));
    EXPECT_TRUE(FForm);
    FForm->FJobMode = static_cast<TJobMode>(mode);
    FForm->FInputKinds = kinds;
    FForm->FTargetExt = ExtensionForLabel(FormatAt(format)->Label);
    FForm->FConvertArgs = PresetForIndex(format);
    QObject::connect(FForm.get(), &QWidget::windowTitleChanged,
                     [this](const QString& t) { FTitles.insert(t.toStdString()); });
    return *FForm;
  }
  std::string CacheUrl(const TService& s, const std::string& path) const {
    // "localhost": the service's own host name makes an address a watch page to check.
    return "http://localhost:" + std::to_string(s.CachePort) + path;
  }
  // The main window shown (its settings loaded), its output folder the test's.
  void ShowMain() {
    FMain->show();
    QApplication::processEvents();
    FMain->eOutputFolder->setText(plat::ToQ(FOut.Path));
  }
  std::set<std::string> FTitles;
};

std::vector<std::string> SavedNames(const TJobOutcome& o) {
  std::vector<std::string> names;
  for (const std::string& p : o.Saved) names.push_back(p.substr(p.rfind('/') + 1));
  return names;
}

}  // namespace

TEST_F(DownloadQueueTest, EachJobInTurnWithItsPlaceAndItsOwnResultAndNoBox) {
  TService s({});
  ASSERT_TRUE(s.Running());
  UseService(s);
  const std::string missing = CacheUrl(s, "/missing.flv");
  TfrmDownload& f = MakeQueue({s.WatchUrl(), CacheUrl(s, "/get_video.flv?id=d"), missing},
                              {ikWatchPage, ikDirect, ikDirect}, 0);
  RunModal();
  EXPECT_TRUE(FDesktop.Boxes.empty()) << FDesktop.Boxes.front().Text;  // the 404 did not halt the queue
  for (const char* place : {"1 of 3", "2 of 3", "3 of 3"})
    EXPECT_TRUE(FTitles.count(std::string("Clipharbor - ") + place)) << place;
  ASSERT_EQ(f.FOutcomes.size(), 3u);
  EXPECT_EQ(f.FOutcomes[0].Input, s.WatchUrl());
  EXPECT_TRUE(f.FOutcomes[0].Succeeded()) << f.FOutcomes[0].Failure;
  EXPECT_EQ(f.FOutcomes[0].Saved, std::vector<std::string>{FOut / "Sample Clip.flv"});
  EXPECT_TRUE(f.FOutcomes[1].Succeeded()) << f.FOutcomes[1].Failure;
  EXPECT_EQ(SavedNames(f.FOutcomes[1]), std::vector<std::string>{"get_video.flv"});
  EXPECT_EQ(ReadFile(FOut / "get_video.flv"), s.Flv());
  EXPECT_EQ(f.FOutcomes[2].Input, missing);
  EXPECT_TRUE(f.FOutcomes[2].Saved.empty());
  EXPECT_NE(f.FOutcomes[2].Failure.find("Download failed: "), std::string::npos) << f.FOutcomes[2].Failure;
  EXPECT_NE(f.FOutcomes[2].Failure.find("404"), std::string::npos) << f.FOutcomes[2].Failure;
  EXPECT_FALSE(Exists(FOut / "missing.flv"));
}

TEST_F(DownloadQueueTest, StopEndsTheQueueAndOneJobKeepsItsFlowAndBox) {
  TService s({"--rate", "40000"});
  ASSERT_TRUE(s.Running());
  UseService(s);
  TfrmDownload& f = MakeQueue({s.WatchUrl(), CacheUrl(s, "/get_video.flv?id=d")}, {ikWatchPage, ikDirect}, 0);
  RunModal([&] {
    if (f.Panel2->isVisible() && !Text(f.lReceiveData).empty()) StopOf(f.Panel2)->click();
  });
  ASSERT_EQ(f.FOutcomes.size(), 1u);
  EXPECT_EQ(f.FOutcomes[0].Failure, "Stopped");
  EXPECT_FALSE(Exists(FOut / "get_video.flv"));  // the second never ran

  // One input alone: the box of its failure as before, and its result too.
  TfrmDownload& one = MakeQueue({CacheUrl(s, "/missing.flv")}, {ikDirect}, 0);
  FDesktop.ExpectBox(plat::IDOK);
  RunModal();
  ASSERT_EQ(FDesktop.Boxes.size(), 1u);
  EXPECT_EQ(FDesktop.Boxes[0].Text.rfind("Download failed: ", 0), 0u) << FDesktop.Boxes[0].Text;
  ASSERT_EQ(one.FOutcomes.size(), 1u);
  EXPECT_EQ(one.FOutcomes[0].Failure, FDesktop.Boxes[0].Text);
  EXPECT_EQ(plat::FromQ(one.windowTitle()).find(" of "), std::string::npos);
}

TEST_F(DownloadQueueTest, AConvertedDownloadIsRemovedOnlyWhenTheSettingsSaySo) {
  TService s({});
  ASSERT_TRUE(s.Running());
  UseService(s);
  UseStandInConverter(kQuickConversion);
  for (bool keep : {true, false}) {
    std::remove((FOut / "Sample Clip.flv").c_str());
    std::remove((FOut / "Sample Clip.mp3").c_str());
    TfrmDownload& f = MakeQueue({s.WatchUrl()}, {ikWatchPage}, 1);
    f.FKeepDownload = keep;
    RunModal();
    ASSERT_EQ(f.FOutcomes.size(), 1u);
    EXPECT_TRUE(f.FOutcomes[0].Succeeded()) << f.FOutcomes[0].Failure;
    EXPECT_TRUE(Exists(FOut / "Sample Clip.mp3"));
    EXPECT_EQ(Exists(FOut / "Sample Clip.flv"), keep);
    const std::vector<std::string> expected =
        keep ? std::vector<std::string>{"Sample Clip.flv", "Sample Clip.mp3"} : std::vector<std::string>{"Sample Clip.mp3"};
    EXPECT_EQ(SavedNames(f.FOutcomes[0]), expected);
  }
}

TEST_F(DownloadQueueTest, DroppedVideoFilesOfOtherKindsAreConvertedOneAfterTheOther) {
  TService s({});
  ASSERT_TRUE(s.Running());
  const std::string flv = FDir / "clip.flv";
  WriteFile(flv, s.Flv());
  const std::string mp4 = FDir / "first clip.mp4", mkv = FDir / "second.mkv";
  for (const std::string& target : {mp4, mkv}) {
    TRunResult r = RunProcess({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", flv, "-c:v", "mpeg4", "-c:a", "aac",
                               target},
                              Environment({}), std::string(), 60000);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
  }
  ShowMain();
  FMain->cbFormat->setCurrentIndex(7);  // MP3
  auto* data = new QMimeData;
  data->setUrls({QUrl::fromLocalFile(plat::ToQ(mp4)), QUrl::fromLocalFile(plat::ToQ(mkv))});
  const QPoint at = FMain->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(FMain.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(FMain.get(), &drop);  // runs the queue to its end
  delete data;

  const std::vector<TJobOutcome>& outcomes = FMain->JobResults->Outcomes();
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].Saved, std::vector<std::string>{FOut / "first clip.mp3"}) << outcomes[0].Failure;
  EXPECT_EQ(outcomes[1].Saved, std::vector<std::string>{FOut / "second.mp3"}) << outcomes[1].Failure;
  for (const std::string& out : {FOut / "first clip.mp3", FOut / "second.mp3"}) {
    TRunResult probe = RunProcess(
        {"ffprobe", "-v", "error", "-show_entries", "format=format_name", "-of", "default=nw=1:nk=1", out},
        Environment({}));
    EXPECT_EQ(probe.Out, "mp3\n") << out;
  }
  EXPECT_TRUE(FMain->JobResults->isVisible());
  EXPECT_EQ(FMain->JobResults->lSummary->text().toStdString(), "2 files saved");
}

// A watch page and a file over https through the main window's Start: first
// refused by the system's store with the certificate's reason, then taken
// once that store holds the test authority.
TEST_F(DownloadQueueTest, HttpsPagesAndFilesAreCheckedAgainstTheSystemsStore) {
  httptest::TestCertificates certs;
  ASSERT_TRUE(certs.Make()) << certs.error;
  TService s({});
  ASSERT_TRUE(s.Running());
  httptest::TlsNginx nginx;
  ASSERT_TRUE(nginx.Start(certs, "    location /watch { proxy_pass http://127.0.0.1:" + std::to_string(s.Port) +
                                     "; }\n"))
      << nginx.error;
  httptest::WriteFile(nginx.Www() + "/clip.flv", s.Flv());
  FEnv.push_back(std::make_unique<ScopedEnv>("CLIPHARBOR_SERVICE", ("localhost:" + std::to_string(s.Port)).c_str()));
  FEnv.push_back(std::make_unique<ScopedEnv>("CLIPHARBOR_CACHE_HOST", "127.0.0.1"));
  FEnv.push_back(std::make_unique<ScopedEnv>("SSL_CERT_DIR", (FDir / "no-certificates").c_str()));
  const std::string page = nginx.Https("/watch?v=Xk3mP9qA_7w"), file = nginx.Https("/clip.flv");
  ShowMain();
  FMain->eUrl->setText(plat::ToQ(page + "\n" + file));

  {
    ScopedEnv untrusted("SSL_CERT_FILE", (FDir / "no-such-store.pem").c_str());
    FMain->bStart->click();
  }
  std::vector<TJobOutcome> outcomes = FMain->JobResults->Outcomes();
  ASSERT_EQ(outcomes.size(), 2u);
  for (const TJobOutcome& o : outcomes) {
    EXPECT_FALSE(o.Succeeded()) << o.Input;
    EXPECT_NE(o.Failure.find("certificate verify failed"), std::string::npos) << o.Failure;
  }
  EXPECT_EQ(outcomes[0].Failure.rfind("Unable get html from " + page, 0), 0u) << outcomes[0].Failure;
  EXPECT_TRUE(FDesktop.Boxes.empty());

  {
    ScopedEnv trusted("SSL_CERT_FILE", certs.CaFile().c_str());
    FMain->bStart->click();
  }
  outcomes = FMain->JobResults->Outcomes();
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].Saved, std::vector<std::string>{FOut / "Sample Clip.flv"}) << outcomes[0].Failure;
  EXPECT_EQ(outcomes[1].Saved, std::vector<std::string>{FOut / "clip.flv"}) << outcomes[1].Failure;
  EXPECT_EQ(ReadFile(FOut / "clip.flv"), s.Flv());
  EXPECT_EQ(FMain->JobResults->lSummary->text().toStdString(), "2 files saved");
}
