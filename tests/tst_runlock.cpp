#include "RunLock.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {
enum class Found {
    HeldByLiveRun,  // another run of this process holds it
    NoDirectory,    // a regular file where the directory should be
    LockWithoutPid, // what a run leaves when it dies between creating the lock and writing its pid
};
} // namespace

class TestRunLock : public QObject
{
    Q_OBJECT

private slots:
    void acquire_data();
    void acquire();
};

void TestRunLock::acquire_data()
{
    QTest::addColumn<Found>("found");
    QTest::addColumn<bool>("goesOn");
    QTest::addColumn<QString>("warning"); // %1: the lock's path

    // The run's closing line, not a warning of the lock's own: see heldLine().
    QTest::newRow("held by a live run") << Found::HeldByLiveRun << false << QString();
    // No permission bits involved, so this holds for root as well.
    QTest::newRow("cannot be created")
        << Found::NoDirectory << true << "Cannot create the run lock %1, this run goes on unlocked";
    QTest::newRow("left without an owner") << Found::LockWithoutPid << true << QString();
}

void TestRunLock::acquire()
{
    QFETCH(Found, found);
    QFETCH(bool, goesOn);
    QFETCH(QString, warning);

    QTemporaryDir dir;
    QString path = dir.filePath(QLatin1String(RunLock::kFileName));
    std::unique_ptr<RunLock> holder;
    switch (found) {
    case Found::HeldByLiveRun:
        holder = std::make_unique<RunLock>(path);
        QVERIFY(holder->acquire());
        break;
    case Found::NoDirectory: {
        QFile blocker(dir.filePath("not-a-dir"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        path = dir.filePath("not-a-dir/norvo-scheduled-scan.lock");
        break;
    }
    case Found::LockWithoutPid: {
        QFile empty(path);
        QVERIFY(empty.open(QIODevice::WriteOnly));
        break;
    }
    }

    LogCapture log;
    RunLock lock(path);
    QCOMPARE(lock.acquire(), goesOn);
    if (warning.contains("%1")) {
        warning = warning.arg(path);
    }
    QCOMPARE(log.lines(QtWarningMsg), warning.isEmpty() ? QStringList() : QStringList{warning});
    if (!goesOn) {
        QCOMPARE(lock.heldLine(),
                 QStringLiteral("Scheduled scan already running (pid %1), this run ends")
                     .arg(QCoreApplication::applicationPid()));
    }
}

QTEST_GUILESS_MAIN(TestRunLock)
#include "tst_runlock.moc"
