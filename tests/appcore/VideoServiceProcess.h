// Runs tools/video_service.py for a test: started with the given switches,
// its ports read from its first two lines, stopped (killed) on destruction.
// Usable from any test folder: #include "appcore/VideoServiceProcess.h".
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <string>
#include <vector>

class TVideoServiceProcess {
 public:
  // Starts the service; Port() is 0 when it did not come up within 60 s
  // (the first start makes the sample FLV with ffmpeg).
  explicit TVideoServiceProcess(const std::vector<std::string>& switches = {}) {
    QStringList args;
    args << QString::fromStdString(std::string(CLIPHARBOR_SOURCE_DIR) + "/tools/video_service.py");
    for (const std::string& s : switches) args << QString::fromStdString(s);
    FProcess.setProcessChannelMode(QProcess::SeparateChannels);
    FProcess.setReadChannel(QProcess::StandardOutput);
    FProcess.start("python3", args);
    if (!FProcess.waitForStarted(10000)) return;
    QElapsedTimer t;
    t.start();
    QByteArray seen;
    while (t.elapsed() < 60000) {
      if (!FProcess.canReadLine() && !FProcess.waitForReadyRead(200)) {
        if (FProcess.state() != QProcess::Running) break;
        continue;
      }
      while (FProcess.canReadLine()) {
        QByteArray line = FProcess.readLine().trimmed();
        if (FPort == 0) {
          FPort = line.toInt();
        } else if (line.startsWith("cache ")) {
          FCachePort = line.mid(6).toInt();
        }
      }
      if (FPort && FCachePort) break;
    }
  }
  ~TVideoServiceProcess() {
    if (FProcess.state() != QProcess::NotRunning) {
      FProcess.kill();
      FProcess.waitForFinished(5000);
    }
  }
  TVideoServiceProcess(const TVideoServiceProcess&) = delete;
  TVideoServiceProcess& operator=(const TVideoServiceProcess&) = delete;

  int Port() const { return FPort; }
  int CachePort() const { return FCachePort; }
  // "127.0.0.1:PORT", the value for CLIPHARBOR_SERVICE.
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(FPort); }
  std::string Url(const std::string& pathAndQuery) const { return "http://" + HostPort() + pathAndQuery; }
  std::string StandardError() { return FProcess.readAllStandardError().toStdString(); }

 private:
  QProcess FProcess;
  int FPort = 0;
  int FCachePort = 0;
};
