#include "TimerDropIn.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

struct Identity
{
    ino_t inode = 0;
    qint64 changedNs = 0;
    bool operator==(const Identity& other) const
    {
        return inode == other.inode && changedNs == other.changedNs;
    }
};

Identity identityOf(const QString& path)
{
    struct stat st = {};
    if (stat(QFile::encodeName(path).constData(), &st) != 0) {
        return {};
    }
    return {st.st_ino, qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestTimerDropIn : public QObject
{
    Q_OBJECT

private slots:
    void text();
    void replacesOnlyAChangedText();
    void unwritableFolder();
};

void TestTimerDropIn::text()
{
    const QByteArray header =
        "# Written by norvo-scheduled-scan --sync-timer from the schedule in the front-end's\n"
        "# settings, each time they change: changes made here are overwritten. Set the days and\n"
        "# time in the front-end or with norvo-scheduled-scan --set-schedule.\n"
        "[Timer]\n"
        "OnCalendar=\n";
    QCOMPARE(TimerDropIn::text("Mon,Wed *-*-* 07:30:00"),
             header + "OnCalendar=Mon,Wed *-*-* 07:30:00\n");
    QCOMPARE(TimerDropIn::text(QString()),
             header + "# The schedule is off: a day long past, so that the timer never elapses.\n"
                      "OnCalendar=2000-01-01 00:00:00 UTC\n");
}

// Unchanged text leaves the file as it is, so that nothing has the manager reload; a change
// replaces the file by a new one, so that the manager never reads half of it.
void TestTimerDropIn::replacesOnlyAChangedText()
{
    const QTemporaryDir dir;
    const QString path = dir.filePath("user/norvo-scheduled-scan.timer.d/override.conf");
    const TimerDropIn dropIn(path);
    QString error;
    QCOMPARE(dropIn.write("one\n", &error), TimerDropIn::Result::Written);
    QCOMPARE(contentOf(path), QByteArray("one\n"));
    const Identity first = identityOf(path);

    QTest::qWait(5); // a rewrite would show in the change time
    QCOMPARE(dropIn.write("one\n", &error), TimerDropIn::Result::Unchanged);
    QCOMPARE(identityOf(path), first);

    // A reader holding the old file keeps reading the old text.
    QFile reader(path);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    QCOMPARE(dropIn.write("two\n", &error), TimerDropIn::Result::Written);
    QCOMPARE(reader.readAll(), QByteArray("one\n"));
    QCOMPARE(contentOf(path), QByteArray("two\n"));
    QVERIFY(identityOf(path).inode != first.inode);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"override.conf"});
}

void TestTimerDropIn::unwritableFolder()
{
    const QTemporaryDir dir;
    // A file where the folder should be: root, which CI runs as, is refused this too.
    QFile blocker(dir.filePath("timer.d"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    QCOMPARE(TimerDropIn(dir.filePath("timer.d/override.conf")).write("x\n", &error),
             TimerDropIn::Result::Failed);
    QCOMPARE(error, QStringLiteral("cannot make the folder \"%1\"").arg(dir.filePath("timer.d")));
}

QTEST_GUILESS_MAIN(TestTimerDropIn)
#include "tst_timerdropin.moc"
