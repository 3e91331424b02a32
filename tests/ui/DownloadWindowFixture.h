// The fixture of the download window's end-to-end tests: offscreen Qt with
// the scripted desktop, a main window with its output folder in a temporary
// folder, the stand-in video service and converter, and a modal run with a
// time limit.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/Formats.h"
#include "app/ui/Download.h"
#include "app/ui/Main.h"
#include "cli/E2eSupport.h"
#include "platform/Desktop.h"
#include "platform/ScriptedDesktop.h"
#include "platform/QtText.h"
#include "ui/MainFixture.h"

inline std::string Text(QLabel* l) { return plat::FromQ(l->text()); }

class DownloadWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDesktop.OnUnexpected = [](const std::string& what) { ADD_FAILURE() << "unexpected " << what; };
    FScope = std::make_unique<plat::ScopedDesktop>(FDesktop);
    RegisterTfrmDownload();
    FMain = std::make_unique<TfrmMain>(FDir / "settings.ini");
    FMain->eOutputFolder->setText(plat::ToQ(FOut.Path));
  }
  void TearDown() override {
    FForm.reset();
    FMain.reset();
    FScope.reset();
    while (!FEnv.empty()) FEnv.pop_back();  // newest first
    EXPECT_TRUE(FDesktop.BoxAnswers.empty()) << "expected boxes that never came";
  }

  void UseService(const e2e::TService& s) {
    FEnv.push_back(std::make_unique<ScopedEnv>("CLIPHARBOR_SERVICE", s.Host().c_str()));
    FEnv.push_back(std::make_unique<ScopedEnv>("CLIPHARBOR_CACHE_HOST", "127.0.0.1"));
  }
  void UseStandInConverter(const std::string& steps) {
    e2e::WriteFile(FDir / "steps.json", steps);
    FEnv.push_back(std::make_unique<ScopedEnv>("CONVERT_STANDIN", (FDir / "steps.json").c_str()));
    FEnv.push_back(std::make_unique<ScopedEnv>("PATH", e2e::PathWithout(e2e::StandInConverterDir(FDir)).c_str()));
  }

  // Made through the main window's hand-over seam, as Start makes it.
  TfrmDownload& Make(const std::string& input, int mode, int format = 7) {
    std::unique_ptr<TDownloadWindowIntf> w = CreateDownloadWindow(FMain.get(), {input});
    FForm.reset(dynamic_cast<TfrmDownload*>(w.release()));
    EXPECT_TRUE(FForm);
    FForm->FJobMode = static_cast<TJobMode>(mode);
    FForm->FTargetExt = ExtensionForLabel(FormatAt(format)->Label);
    FForm->FConvertArgs = PresetForIndex(format);
    return *FForm;
  }

  // Runs the window modally; `tick` runs every 20 ms inside the modal run.
  int RunModal(const std::function<void()>& tick = nullptr, int limitMs = 40000) {
    QTimer timer;
    const std::uint32_t start = plat::GetTickCount();
    QObject::connect(&timer, &QTimer::timeout, [&] {
      if (tick) tick();
      if (plat::GetTickCount() - start > static_cast<std::uint32_t>(limitMs)) {
        ADD_FAILURE() << "the window did not end in time";
        FForm->bStopClick();
      }
    });
    timer.start(20);
    return FForm->ShowModal();
  }

  QPushButton* StopOf(QFrame* panel) {
    return panel->findChild<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
  }

  e2e::TTempDir FDir, FOut;
  plat::ScriptedDesktop FDesktop;
  std::unique_ptr<plat::ScopedDesktop> FScope;
  std::unique_ptr<TfrmMain> FMain;
  std::unique_ptr<TfrmDownload> FForm;
  std::vector<std::unique_ptr<ScopedEnv>> FEnv;
};
