// Shared set-up for the main-window tests: a scripted desktop that fails the
// test on any unexpected box or dialog, a private settings file, and a
// recording stand-in for the download window.
#pragma once

#include "app/ui/DownloadHandOver.h"
#include "app/ui/Main.h"
#include "platform/ClipboardViewers.h"
#include "platform/ScriptedDesktop.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The watch-page address the program shows as its example, and another good one.
inline const std::string kExample = "http://www.youtube.com/watch?v=piEWjpA_51Q";
inline const std::string kGoodUrl = "http://www.youtube.com/watch?v=abcDEF123";

// A caption as it is shown: its mnemonic marks taken out ("&&" shows "&").
inline std::string Shown(const QString& caption) {
  std::string out;
  const std::string text = caption.toStdString();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// What the main window handed to the download window, and when.
struct THandOverLog {
  std::vector<std::string> Events;  // "create", "show", "destroy"
  QWidget* Owner = nullptr;
  TStringList Input;
  int JobMode = -1;
  std::string TargetExt = "<unset>";
  std::string ConvertArgs = "<unset>";
  std::vector<TInputKind> InputKinds;
  TNetOptions Net;
  bool KeepDownload = true;
  std::function<void()> OnShow;  // runs inside the modal run
  std::vector<TJobOutcome> Outcomes;  // what the next modal run reports
  int Shows = 0;
};

class TFakeDownloadWindow : public TDownloadWindowIntf {
 public:
  TFakeDownloadWindow(THandOverLog& log, QWidget* owner, const TStringList& input) : log_(log) {
    log_.Events.push_back("create");
    log_.Owner = owner;
    log_.Input = input;
    // Defaults the main window must overwrite.
    FJobMode = static_cast<TJobMode>(-7);
    FTargetExt = "<unset>";
    FConvertArgs = "<unset>";
  }
  ~TFakeDownloadWindow() override { log_.Events.push_back("destroy"); }
  int ShowModal() override {
    log_.Events.push_back("show");
    log_.JobMode = StoredJobMode(FJobMode);
    log_.TargetExt = FTargetExt;
    log_.ConvertArgs = FConvertArgs;
    log_.InputKinds = FInputKinds;
    log_.Net = FNet;
    log_.KeepDownload = FKeepDownload;
    ++log_.Shows;
    if (log_.OnShow) log_.OnShow();
    FOutcomes = log_.Outcomes;
    return 1;
  }

 private:
  THandOverLog& log_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    desk_.OnUnexpected = [](const std::string& what) { ADD_FAILURE() << "unexpected " << what; };
    scope_ = std::make_unique<plat::ScopedDesktop>(desk_);
    previousFactory_ = SetDownloadWindowFactory(
        [this](QWidget* owner, const TStringList& input) -> std::unique_ptr<TDownloadWindowIntf> {
          return std::make_unique<TFakeDownloadWindow>(log_, owner, input);
        });
  }
  void TearDown() override {
    form_.reset();
    SetDownloadWindowFactory(previousFactory_);
    scope_.reset();
    EXPECT_TRUE(desk_.BoxAnswers.empty()) << "expected boxes that never came";
  }

  std::string Dir() const { return dir_.path().toStdString(); }
  std::string Ini() const { return Dir() + "/settings.ini"; }

  // Creates and shows the main window (which loads the settings).
  TfrmMain& Open() {
    form_.reset();
    form_ = std::make_unique<TfrmMain>(Ini());
    form_->show();
    QApplication::processEvents();
    return *form_;
  }
  void CloseForm() {
    form_->close();
    QApplication::processEvents();
  }

  QTemporaryDir dir_;
  plat::ScriptedDesktop desk_;
  std::unique_ptr<plat::ScopedDesktop> scope_;
  THandOverLog log_;
  TDownloadWindowFactory previousFactory_;
  std::unique_ptr<TfrmMain> form_;
  ScopedEnv service_{"CLIPHARBOR_SERVICE", nullptr};
  ScopedEnv cache_{"CLIPHARBOR_CACHE_HOST", nullptr};
};
