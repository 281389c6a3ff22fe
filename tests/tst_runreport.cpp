#include "RunReport.h"

#include "EscapedName.h"

#include <QTest>

using Outcome = RunReport::Outcome;
Q_DECLARE_METATYPE(RunReport::Outcome)

class TestRunReport : public QObject
{
    Q_OBJECT

private slots:
    void exitStatus_data();
    void exitStatus();
    void outcomeNamesReadBack_data();
    void outcomeNamesReadBack();
    void unknownOutcomeNameReadsAsNone();
    void threatsAreBoundedAndEscaped_data();
    void threatsAreBoundedAndEscaped();
};

void TestRunReport::exitStatus_data()
{
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<quint64>("threatsFound");
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("requested");

    QTest::newRow("clean") << Outcome::Finished << quint64(0) << 0 << 0;
    QTest::newRow("threats") << Outcome::Finished << quint64(3) << 3 << 1;
    // The count of the summary line and the threats kept disagree when the daemon's summary
    // arrives before (or without) the last threat entries.
    QTest::newRow("threats only in the summary") << Outcome::Finished << quint64(2) << 0 << 1;
    QTest::newRow("threats only listed") << Outcome::Finished << quint64(0) << 1 << 1;
    QTest::newRow("refused") << Outcome::Refused << quint64(0) << 0 << 2;
    QTest::newRow("forbidden") << Outcome::Forbidden << quint64(0) << 0 << 2;
    QTest::newRow("not started") << Outcome::NotStarted << quint64(0) << 0 << 2;
    QTest::newRow("connection lost after threats")
        << Outcome::ConnectionLost << quint64(1) << 1 << 2;
    QTest::newRow("stopped with threats") << Outcome::Stopped << quint64(1) << 1 << 0;
}

void TestRunReport::exitStatus()
{
    QFETCH(Outcome, outcome);
    QFETCH(quint64, threatsFound);
    QFETCH(int, kept);
    QFETCH(int, requested);

    RunReport report;
    report.outcome = outcome;
    report.threatsFound = threatsFound;
    for (int i = 0; i < kept; ++i) {
        report.threats << RunReport::Threat{"/f" + QByteArray::number(i), {}, {}, {}};
    }
    QCOMPARE(report.exitStatus(true), requested);
    QCOMPARE(report.exitStatus(false), 0);
}

void TestRunReport::outcomeNamesReadBack_data()
{
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("name");
    QTest::newRow("finished") << Outcome::Finished << "finished";
    QTest::newRow("refused") << Outcome::Refused << "refused";
    QTest::newRow("forbidden") << Outcome::Forbidden << "forbidden";
    QTest::newRow("not-started") << Outcome::NotStarted << "not-started";
    QTest::newRow("connection-lost") << Outcome::ConnectionLost << "connection-lost";
    QTest::newRow("stopped") << Outcome::Stopped << "stopped";
}

void TestRunReport::outcomeNamesReadBack()
{
    QFETCH(Outcome, outcome);
    QFETCH(QString, name);
    QCOMPARE(RunReport::outcomeName(outcome), name);
    QCOMPARE(RunReport::outcomeFromName(name), std::optional<Outcome>(outcome));
}

void TestRunReport::unknownOutcomeNameReadsAsNone()
{
    QCOMPARE(RunReport::outcomeFromName(QStringLiteral("Finished")), std::nullopt);
}

void TestRunReport::threatsAreBoundedAndEscaped_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("fileText");
    QTest::addColumn<QString>("namesText");

    QTest::newRow("plain") << QByteArray("/srv/a.com") << QStringList{"EICAR", "Other"}
                           << "/srv/a.com"
                           << "EICAR, Other";
    QTest::newRow("controls in both")
        << QByteArray("/srv/a\n\x1b") << QStringList{"X\r\nY"} << "/srv/a\\n\\x1b"
        << "X\\r\\nY";
    QTest::newRow("none") << QByteArray("/srv/b") << QStringList() << "/srv/b"
                          << "unnamed threat";
    QTest::newRow("beyond the bounds")
        << QByteArray(kMaxNameBytes + 1, 'a')
        << QStringList(RunReport::Threat::kMaxNames + 3, QString(300, 'n'))
        << QString(kMaxNameBytes, 'a') + "... (name cut at 4096 bytes)"
        << QStringList(RunReport::Threat::kMaxNames, QString(256, 'n')).join(", ") + " and 3 more";
}

void TestRunReport::threatsAreBoundedAndEscaped()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, names);
    QFETCH(QString, fileText);
    QFETCH(QString, namesText);
    RunReport::Threat threat;
    threat.setFile(file);
    for (const QString& name : names) {
        threat.addName(name);
    }
    QCOMPARE(threat.fileText(), fileText);
    QCOMPARE(threat.namesText(), namesText);
    QVERIFY(threat.names.size() <= RunReport::Threat::kMaxNames);
}

QTEST_GUILESS_MAIN(TestRunReport)
#include "tst_runreport.moc"
