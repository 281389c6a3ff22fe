#include "RunGates.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestRunGates : public QObject
{
    Q_OBJECT

private slots:
    void decide_data();
    void decide();
    void cancelEndsTheRunningGate();
};

namespace {

// How a scripted gate decides: P passes at once, L passes a moment later, C closes.
class ScriptedGate : public RunGate
{
public:
    ScriptedGate(QChar verdict, int index, QStringList* started)
        : m_verdict(verdict), m_index(index), m_started(started)
    {
        m_later.setSingleShot(true);
        connect(&m_later, &QTimer::timeout, this, &RunGate::passed);
    }

    void start() override
    {
        m_started->append(QString::number(m_index));
        if (m_verdict == QLatin1Char('P')) {
            emit passed();
        } else if (m_verdict == QLatin1Char('L')) {
            m_later.start(20);
        } else {
            emit closed(QStringLiteral("gate %1 closed").arg(m_index), RunJournal::Gate::NotNeeded);
        }
    }
    void cancel() override
    {
        m_later.stop();
        m_started->append(QStringLiteral("cancelled %1").arg(m_index));
    }

private:
    QChar m_verdict;
    int m_index;
    QStringList* m_started;
    QTimer m_later;
};

void addScript(RunGates& gates, const QString& script, QStringList* started)
{
    for (int i = 0; i < script.size(); ++i) {
        gates.append(std::make_unique<ScriptedGate>(script.at(i), i, started));
    }
}

} // namespace

void TestRunGates::decide_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("started");
    QTest::addColumn<bool>("passed");
    QTest::addColumn<QStringList>("info");

    QTest::newRow("no gates") << "" << QStringList() << true << QStringList();
    QTest::newRow("all pass, some later")
        << "PLP" << QStringList{"0", "1", "2"} << true << QStringList();
    QTest::newRow("the first that closes ends it")
        << "PCC" << QStringList{"0", "1"} << false << QStringList{"gate 1 closed"};
    QTest::newRow("closes after a later pass")
        << "LPC" << QStringList{"0", "1", "2"} << false << QStringList{"gate 2 closed"};
}

void TestRunGates::decide()
{
    QFETCH(QString, script);
    QFETCH(QStringList, started);
    QFETCH(bool, passed);
    QFETCH(QStringList, info);

    QStringList startedGates;
    RunGates gates;
    addScript(gates, script, &startedGates);
    QSignalSpy passedSpy(&gates, &RunGates::passed);
    QSignalSpy closedSpy(&gates, &RunGates::closed);
    LogCapture log;

    gates.start();
    QTRY_COMPARE(passedSpy.size() + closedSpy.size(), 1);

    QCOMPARE(startedGates, started);
    QCOMPARE(passedSpy.size(), passed ? 1 : 0);
    QCOMPARE(log.lines(QtInfoMsg), info);
    QCOMPARE(log.lines(QtWarningMsg), QStringList());
}

void TestRunGates::cancelEndsTheRunningGate()
{
    QStringList startedGates;
    RunGates gates;
    addScript(gates, QStringLiteral("PLC"), &startedGates);
    QSignalSpy passedSpy(&gates, &RunGates::passed);
    QSignalSpy closedSpy(&gates, &RunGates::closed);

    gates.start();
    gates.cancel();
    QTest::qWait(60);

    QCOMPARE(startedGates, (QStringList{"0", "1", "cancelled 1"}));
    QCOMPARE(passedSpy.size() + closedSpy.size(), 0);
}

QTEST_GUILESS_MAIN(TestRunGates)
#include "tst_rungates.moc"
