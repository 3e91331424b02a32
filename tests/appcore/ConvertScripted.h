// The converter runner against the scripted stand-in `ffmpeg` put first on
// PATH: the fixture that writes its steps and reads back its arguments.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <memory>

#include "test_ConvertSupport.h"

namespace convtest {

inline std::string JsonString(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    switch (c) {
      case '"': r += "\\\""; break;
      case '\\': r += "\\\\"; break;
      case '\r': r += "\\r"; break;
      case '\n': r += "\\n"; break;
      default: r += c;
    }
  }
  return r + "\"";
}

inline bool ProcessGone(int pid) {
  if (::kill(pid, 0) != 0) return true;
  // A zombie waiting for its new parent counts as gone.
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

class ConvertScripted : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Dir.Path.empty());
    Bin = Dir.File("bin");
    ASSERT_EQ(::mkdir(Bin.c_str(), 0755), 0);
    std::string standin = std::string(CLIPHARBOR_SOURCE_DIR) + "/tests/appcore/convert_standin.py";
    ASSERT_EQ(::symlink(standin.c_str(), (Bin + "/ffmpeg").c_str()), 0);
    const char* path = std::getenv("PATH");
    Path = std::make_unique<TScopedEnv>("PATH", Bin + ":" + (path ? path : "/usr/bin:/bin"));
    Steps = std::make_unique<TScopedEnv>("CONVERT_STANDIN", Dir.File("steps.json"));
    Args = std::make_unique<TScopedEnv>("CONVERT_STANDIN_ARGS", Dir.File("args.json"));
    Script({{"output", "converted"}});
    Proc = std::make_unique<TConvertProcess>();
    Proc->FNotifyWnd = Win.Wnd;
    Proc->FInputFile = Dir.File("my clip.flv");
    Proc->FOutputFile = Dir.File("my clip.mp3");
    Proc->FArguments = "-ar 44100 -ab 128k -ac 2 ";
    Proc->OnAskOverwrite = [this](const std::string& text) {
      Asked.push_back(text);
      return Answer;
    };
    WriteFile(Proc->FInputFile, "FLV");
  }
  void TearDown() override {
    if (Proc) {
      Proc->StopProcess(0);
      Proc.reset();  // waits for its readers
    }
  }
  void Script(const std::vector<std::vector<std::string>>& steps) {
    std::string json = "[";
    for (std::size_t i = 0; i < steps.size(); ++i) {
      json += i ? ",[" : "[";
      for (std::size_t j = 0; j < steps[i].size(); ++j) json += (j ? "," : "") + JsonString(steps[i][j]);
      json += "]";
    }
    WriteFile(Dir.File("steps.json"), json + "]");
  }
  void Run() {
    Proc->FActive = true;
    Proc->Start();
  }
  bool WaitEnd(unsigned ms = 15000) { return PumpUntil([this] { return Win.Ended(); }, ms); }
  bool WaitReaders() { return PumpUntil([this] { return Proc->LiveReaders() == 0; }, 5000); }
  std::vector<std::string> PassedArgs() {
    std::vector<std::string> r;
    QJsonDocument d = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(Dir.File("args.json"))));
    for (const auto& v : d.array()) r.push_back(v.toString().toStdString());
    return r;
  }

  TTempDir Dir;
  std::string Bin;
  std::unique_ptr<TScopedEnv> Path, Steps, Args;
  TReportWindow Win;
  std::unique_ptr<TConvertProcess> Proc;
  std::vector<std::string> Asked;
  bool Answer = true;
};

}  // namespace convtest
