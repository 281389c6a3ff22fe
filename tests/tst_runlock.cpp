#include "RunLock.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

class TestRunLock : public QObject
{
    Q_OBJECT

private slots:
    void heldLockEndsTheSecondRun();
    void uncreatableLockLetsTheRunGoOn();
    void lockWithoutOwnerIsTakenOver();
};

void TestRunLock::heldLockEndsTheSecondRun()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(RunLock::kFileName));
    RunLock first(path);
    QVERIFY(first.acquire());

    LogCapture log;
    RunLock second(path);
    QVERIFY(!second.acquire());
    QCOMPARE(log.lines(QtWarningMsg),
             QStringList{QStringLiteral("Scheduled scan already running (pid %1), this run ends")
                             .arg(QCoreApplication::applicationPid())});
}

void TestRunLock::uncreatableLockLetsTheRunGoOn()
{
    QTemporaryDir dir;
    // A regular file where the directory should be: no permission bits involved, so this holds
    // for root as well.
    QFile blocker(dir.filePath("not-a-dir"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    const QString path = dir.filePath("not-a-dir/norvo-scheduled-scan.lock");

    LogCapture log;
    RunLock lock(path);
    QVERIFY(lock.acquire());
    QCOMPARE(
        log.lines(QtWarningMsg),
        QStringList{
            QStringLiteral("Cannot create the run lock %1, this run goes on unlocked").arg(path)});
}

void TestRunLock::lockWithoutOwnerIsTakenOver()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(RunLock::kFileName));
    // What a run leaves when it dies between creating the lock and writing its process id.
    QFile empty(path);
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    LogCapture log;
    RunLock lock(path);
    QVERIFY(lock.acquire());
    QVERIFY(log.lines(QtWarningMsg).isEmpty());
}

QTEST_GUILESS_MAIN(TestRunLock)
#include "tst_runlock.moc"
