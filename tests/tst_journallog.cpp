#include "JournalLog.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryFile>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// What fd 2 receives while alive: it is pointed at a temporary file and put back after.
class StderrCapture
{
public:
    StderrCapture()
    {
        if (m_file.open()) {
            std::fflush(stderr);
            m_saved = dup(2);
            dup2(m_file.handle(), 2);
        }
    }
    ~StderrCapture() { restore(); }

    QByteArray text()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }
    // fd 2's "<device>:<inode>", as systemd writes it into $JOURNAL_STREAM.
    static QByteArray journalStream()
    {
        struct stat status;
        fstat(2, &status);
        return QByteArray::number(qulonglong(status.st_dev)) + ':' +
               QByteArray::number(qulonglong(status.st_ino));
    }

private:
    void restore()
    {
        if (m_saved >= 0) {
            std::fflush(stderr);
            dup2(m_saved, 2);
            close(m_saved);
            m_saved = -1;
        }
    }

    QTemporaryFile m_file;
    int m_saved = -1;
};

// Qt's own pattern, which a test that sets another one puts back.
constexpr char kDefaultPattern[] = "%{if-category}%{category}: %{endif}%{message}";

void writeEachLevel()
{
    qDebug() << "trace" << 12;
    qInfo("info");
    qWarning("Threat found: \"/home/u/a.com\"");
    qCritical("two\nlines");
}
} // namespace

class TestJournalLog : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void journalLinesGetTheirPriority_data();
    void journalLinesGetTheirPriority();
    void otherStreamsStayAsTheyAre_data();
    void otherStreamsStayAsTheyAre();
    void entriesCarryPriorityAndFields();
    void fieldsStayOutOfOtherStreams();
};

void TestJournalLog::cleanup()
{
    qInstallMessageHandler(nullptr);
    qSetMessagePattern(QLatin1String(kDefaultPattern));
    qunsetenv("JOURNAL_STREAM");
}

void TestJournalLog::journalLinesGetTheirPriority_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("default pattern") << kDefaultPattern
                                     << QByteArray("<7>trace 12\n"
                                                   "<6>info\n"
                                                   "<4>Threat found: \"/home/u/a.com\"\n"
                                                   "<3>two\n"
                                                   "<3>lines\n");
    QTest::newRow("QT_MESSAGE_PATTERN still applies") << "%{type}: %{message}"
                                                      << QByteArray("<7>debug: trace 12\n"
                                                                    "<6>info: info\n"
                                                                    "<4>warning: Threat found: "
                                                                    "\"/home/u/a.com\"\n"
                                                                    "<3>critical: two\n"
                                                                    "<3>lines\n");
}

void TestJournalLog::journalLinesGetTheirPriority()
{
    QFETCH(QString, pattern);
    QFETCH(QByteArray, expected);
    qSetMessagePattern(pattern);
    StderrCapture capture;
    qputenv("JOURNAL_STREAM", StderrCapture::journalStream());

    // A journal socket that does not take the entry: the stream's own form.
    const bool installed = JournalLog::install([](const QByteArrayList&) { return false; });
    writeEachLevel();
    qInstallMessageHandler(nullptr);
    QVERIFY(installed);
    QCOMPARE(capture.text(), expected);
}

void TestJournalLog::otherStreamsStayAsTheyAre_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QByteArray>("stream");
    QTest::newRow("unset") << false << QByteArray();
    // A child of a journald-connected service whose standard error went elsewhere.
    QTest::newRow("another inode") << true << QByteArray("other");
    QTest::newRow("garbage") << true << QByteArray("not-a-stream");
}

void TestJournalLog::otherStreamsStayAsTheyAre()
{
    QFETCH(bool, set);
    QFETCH(QByteArray, stream);
    StderrCapture capture;
    if (stream == "other") {
        stream = StderrCapture::journalStream() + '1';
    }
    if (set) {
        qputenv("JOURNAL_STREAM", stream);
    } else {
        qunsetenv("JOURNAL_STREAM");
    }

    const bool installed = JournalLog::install();
    writeEachLevel();
    QVERIFY(!installed);
    QCOMPARE(capture.text(), QByteArray("trace 12\n"
                                        "info\n"
                                        "Threat found: \"/home/u/a.com\"\n"
                                        "two\n"
                                        "lines\n"));
}

void TestJournalLog::entriesCarryPriorityAndFields()
{
    StderrCapture capture;
    qputenv("JOURNAL_STREAM", StderrCapture::journalStream());
    QList<QByteArrayList> entries;
    QVERIFY(JournalLog::install([&entries](const QByteArrayList& items) {
        entries << items;
        return true;
    }));
    const QByteArray identifier = QByteArray("SYSLOG_IDENTIFIER=") + program_invocation_short_name;

    qWarning("plain");
    JournalLog::write(JournalLog::Notice, QStringLiteral("clean\nend"),
                      {{"MESSAGE_ID", "c41330ab485d44fd8a190c9d0346029b"}, {"NORVO_TASK_ID", "3"}});
    JournalLog::write(JournalLog::Err, QStringLiteral("failed"), {{"NORVO_OUTCOME", "refused"}});
    qInfo("plain again");
    qInstallMessageHandler(nullptr);

    // Each line is one entry, a line of several lines too; nothing goes to the stream.
    QCOMPARE(entries, (QList<QByteArrayList>{
                          {"MESSAGE=plain", "PRIORITY=4", identifier},
                          {"MESSAGE=clean\nend", "PRIORITY=5", identifier,
                           "MESSAGE_ID=c41330ab485d44fd8a190c9d0346029b", "NORVO_TASK_ID=3"},
                          {"MESSAGE=failed", "PRIORITY=3", identifier, "NORVO_OUTCOME=refused"},
                          {"MESSAGE=plain again", "PRIORITY=6", identifier},
                      }));
    QCOMPARE(capture.text(), QByteArray());
}

void TestJournalLog::fieldsStayOutOfOtherStreams()
{
    // Away from the journal the lines are plain, at the nearest level Qt has.
    qunsetenv("JOURNAL_STREAM");
    QVERIFY(!JournalLog::install());
    LogCapture log;
    JournalLog::write(JournalLog::Notice, QStringLiteral("notice"), {{"NORVO_OUTCOME", "x"}});
    JournalLog::write(JournalLog::Err, QStringLiteral("err"));
    JournalLog::write(JournalLog::Debug, QStringLiteral("debug \"quoted\""));
    QCOMPARE(log.lines(QtInfoMsg), QStringList{"notice"});
    QCOMPARE(log.lines(QtCriticalMsg), QStringList{"err"});
    QCOMPARE(log.lines(QtDebugMsg), QStringList{"debug \"quoted\""});
}

QTEST_GUILESS_MAIN(TestJournalLog)
#include "tst_journallog.moc"
