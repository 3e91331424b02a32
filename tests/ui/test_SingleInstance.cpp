// Two real starts of the program: the second wakes the first and ends.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

namespace {

const QString kServer = QString("Clipharbor Made by Norvale Software-%1").arg(static_cast<qulonglong>(::getuid()));

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

}  // namespace

TEST(SingleInstance, SecondStartWakesTheFirstAndEnds) {
  const QString built = QString(CLIPHARBOR_BINARY_DIR) + "/clipharbor";
  if (!QFile::exists(built)) GTEST_SKIP() << "the program is not built: " << built.toStdString();

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // A private copy, so that its settings.ini is ours, and a private
  // temporary folder, so that the instance socket is too.
  const QString exe = dir.path() + "/clipharbor";
  ASSERT_TRUE(QFile::copy(built, exe));
  ASSERT_TRUE(QFile::setPermissions(exe, QFile::permissions(built)));
  const QString tmp = dir.path() + "/tmp";
  ASSERT_TRUE(QDir().mkpath(tmp));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TMPDIR", tmp);
  env.insert("QT_QPA_PLATFORM", "offscreen");
  const QString socketFile = tmp + "/" + kServer;
  const QString ini = dir.path() + "/settings.ini";

  Program first(exe, env);
  ASSERT_TRUE(first.p.waitForStarted(10000));
  ASSERT_TRUE(WaitFor([&] { return QFile::exists(socketFile); }, 30000)) << "the first start never registered";

  Program second(exe, env);
  ASSERT_TRUE(second.p.waitForStarted(10000));
  ASSERT_TRUE(second.p.waitForFinished(30000)) << "the second start did not end";
  EXPECT_EQ(second.p.exitStatus(), QProcess::NormalExit);
  // 0 only when the running window answered that it handled WM_SHOWRUNNING.
  EXPECT_EQ(second.p.exitCode(), 0);
  EXPECT_EQ(first.p.state(), QProcess::Running);
  EXPECT_FALSE(QFile::exists(ini)) << "a start touched the settings";

  // The first one still answers a third start.
  Program third(exe, env);
  ASSERT_TRUE(third.p.waitForFinished(30000));
  EXPECT_EQ(third.p.exitCode(), 0);

  // Killed, it leaves its socket file behind; the next start takes over.
  first.p.kill();
  ASSERT_TRUE(first.p.waitForFinished(10000));
  EXPECT_TRUE(QFile::exists(socketFile));
  Program fourth(exe, env);
  ASSERT_TRUE(fourth.p.waitForStarted(10000));
  EXPECT_FALSE(fourth.p.waitForFinished(3000)) << "the start after a crash ended instead of running";
  EXPECT_TRUE(WaitFor(
      [&] {
        QLocalSocket probe;
        probe.connectToServer(socketFile);
        return probe.waitForConnected(500);
      },
      20000));
  EXPECT_FALSE(QFile::exists(ini));
}
