// Real starts of the program on displays of their own (Xvfb, started here):
// one instance per user and display whatever the temporary folder, a second
// start wakes the first and ends, and a start after a killed instance takes
// over the socket it left behind.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>

#include <unistd.h>

namespace {

const QString kClassName = "Clipharbor Made by Norvale Software";

bool WaitFor(const std::function<bool()>& cond, int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    if (cond()) return true;
    QThread::msleep(50);
  }
  return cond();
}

class Program {
 public:
  Program(const QString& exe, const QProcessEnvironment& env) {
    p.setProgram(exe);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start();
  }
  ~Program() {
    if (p.state() != QProcess::NotRunning) {
      p.kill();
      p.waitForFinished(5000);
    }
  }
  QProcess p;
};

// An X server of the test's own; it picks a free display number and says which.
class Xvfb {
 public:
  Xvfb() {
    const QString exe = QStandardPaths::findExecutable("Xvfb");
    if (exe.isEmpty()) return;
    p.start(exe, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!p.waitForStarted(10000)) return;
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (!out.contains('\n') && t.elapsed() < 15000 && p.waitForReadyRead(15000 - t.elapsed())) out += p.readAll();
    bool ok = false;
    const int n = out.trimmed().toInt(&ok);
    if (ok) Display = ":" + QString::number(n);
  }
  ~Xvfb() {
    if (p.state() != QProcess::NotRunning) {
      p.terminate();
      if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
      }
    }
  }
  QString Display;  // empty when no server could be started
  QProcess p;
};

// Main windows of the program on `display`, as the X server lists them;
// -1 when there is no tool to ask.
int MainWindowsOn(const QString& display) {
  const QString tool = QStandardPaths::findExecutable("xwininfo");
  if (tool.isEmpty()) return -1;
  QProcess q;
  q.start(tool, {"-display", display, "-root", "-tree"});
  if (!q.waitForFinished(10000)) return -1;
  return static_cast<int>(QString::fromLocal8Bit(q.readAllStandardOutput()).count("(\"clipharbor\" \"Clipharbor\")"));
}

bool Answers(const QString& socketFile) {
  QLocalSocket probe;
  probe.connectToServer(socketFile);
  return probe.waitForConnected(500);
}

}  // namespace

TEST(SingleInstance, OnePerUserAndDisplayWhateverTheTemporaryFolderAndAfterACrash) {
  const QString built = QString(CLIPHARBOR_BINARY_DIR) + "/clipharbor";
  if (!QFile::exists(built)) GTEST_SKIP() << "the program is not built: " << built.toStdString();
  Xvfb first;
  if (first.Display.isEmpty()) GTEST_SKIP() << "no Xvfb";

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // A private copy, so that its settings.ini is ours, and a runtime folder of the test's own.
  const QString exe = dir.path() + "/clipharbor";
  ASSERT_TRUE(QFile::copy(built, exe));
  ASSERT_TRUE(QFile::setPermissions(exe, QFile::permissions(built)));
  const QString run = dir.path() + "/run";
  ASSERT_TRUE(QDir().mkpath(run));
  ASSERT_TRUE(QFile::setPermissions(run, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
  const QString ini = dir.path() + "/settings.ini";
  auto envFor = [&](const QString& display, const QString& tmp) {
    QDir().mkpath(dir.path() + "/" + tmp);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", display);
    env.remove("WAYLAND_DISPLAY");
    env.insert("XDG_RUNTIME_DIR", run);
    env.insert("TMPDIR", dir.path() + "/" + tmp);
    return env;
  };
  const QString socketFile =
      run + "/" + kClassName + QString("-%1-").arg(static_cast<qulonglong>(::getuid())) + first.Display;

  auto original = std::make_unique<Program>(exe, envFor(first.Display, "tmp1"));
  ASSERT_TRUE(original->p.waitForStarted(10000));
  ASSERT_TRUE(WaitFor([&] { return QFile::exists(socketFile) && MainWindowsOn(first.Display) != 0; }, 30000))
      << "the first start never registered";

  // Another temporary folder is still the same user on the same display.
  Program second(exe, envFor(first.Display, "tmp2"));
  ASSERT_TRUE(second.p.waitForStarted(10000));
  ASSERT_TRUE(second.p.waitForFinished(30000)) << "the second start did not end";
  EXPECT_EQ(second.p.exitStatus(), QProcess::NormalExit);
  // 0 only when the running window answered that it handled WM_SHOWRUNNING.
  EXPECT_EQ(second.p.exitCode(), 0);
  EXPECT_EQ(original->p.state(), QProcess::Running);
  const int windows = MainWindowsOn(first.Display);
  if (windows >= 0) {
    EXPECT_EQ(windows, 1);
  }

  // Killed, it leaves its socket behind; the next start takes over and runs.
  original->p.kill();
  ASSERT_TRUE(original->p.waitForFinished(10000));
  original.reset();
  ASSERT_TRUE(QFile::exists(socketFile));
  EXPECT_FALSE(Answers(socketFile));
  Program after(exe, envFor(first.Display, "tmp3"));
  ASSERT_TRUE(after.p.waitForStarted(10000));
  EXPECT_FALSE(after.p.waitForFinished(3000)) << "the start after a crash ended instead of running";
  EXPECT_TRUE(WaitFor([&] { return Answers(socketFile); }, 20000));
  if (windows >= 0) {
    EXPECT_TRUE(WaitFor([&] { return MainWindowsOn(first.Display) == 1; }, 20000));
  }

  // Another display is another instance; the first display keeps its one.
  Xvfb other;
  ASSERT_FALSE(other.Display.isEmpty());
  Program elsewhere(exe, envFor(other.Display, "tmp2"));
  ASSERT_TRUE(elsewhere.p.waitForStarted(10000));
  EXPECT_FALSE(elsewhere.p.waitForFinished(3000)) << "a start on another display woke this one instead";
  if (windows >= 0) {
    EXPECT_TRUE(WaitFor([&] { return MainWindowsOn(other.Display) == 1; }, 20000));
    EXPECT_EQ(MainWindowsOn(first.Display), 1);
  }
  EXPECT_FALSE(QFile::exists(ini)) << "a start touched the settings";
}
