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

QTEST_GUILESS_MAIN(TestRunLock)
#include "tst_runlock.moc"
