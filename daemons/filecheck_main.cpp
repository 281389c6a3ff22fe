#include "FilecheckSim.h"
#include "SimCommandLine.h"

#include <QCoreApplication>
#include <climits>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    SimCommandLine commandLine(
        QString::fromLatin1(FilecheckSim::kName),
        QStringLiteral(
            "Stand-in for the suite's file-check daemon, for tests and demonstrations.\n"
            "START_SCAN_REQUEST starts a real walk of the included paths minus the excluded\n"
            "ones; files that begin with the anti-virus test signature are reported as threats.\n"
            "Subscribers (SUBSCRIBE_TO_SCAN_INFO) get SCAN_INFO_NOTIFICATIONs as their\n"
            "info_options ask. INTERRUPT_SCAN_REQUEST ends a task as EC_INTERRUPTED_BY_USER.\n"
            "LIST_DIR_REQUEST lists the directory, ENUMERATE_DISKS_REQUEST reports no disks;\n"
            "other requests get their paired answer with EC_NOT_IMPLEMENTED. Logs one line per\n"
            "message on stderr; SIGTERM or SIGINT ends it with status 0."));
    const QCommandLineOption firstTaskId(
        QStringLiteral("first-task-id"),
        QStringLiteral("The first task id handed out (default 1)."), QStringLiteral("n"));
    const QCommandLineOption scanDelay(
        QStringLiteral("scan-delay-ms"),
        QStringLiteral("Pause <ms> per scanned file, so that a scan lasts (default 0)."),
        QStringLiteral("ms"));
    const QCommandLineOption refuseScan(
        QStringLiteral("refuse-scan"),
        QStringLiteral("Answer every START_SCAN_REQUEST with this error and task id 0 (name such "
                       "as EC_NOT_READY, or number)."),
        QStringLiteral("code"));
    const QCommandLineOption noAnswerInterrupt(
        QStringLiteral("no-answer-interrupt"),
        QStringLiteral("Take INTERRUPT_SCAN_REQUEST but neither answer nor interrupt."));
    commandLine.addOptions({firstTaskId, scanDelay, refuseScan, noAnswerInterrupt});
    commandLine.process(app);

    FilecheckSim::Behaviour behaviour;
    behaviour.firstTaskId = commandLine.number(firstTaskId, behaviour.firstTaskId);
    behaviour.scanDelayMs = int(qMin(commandLine.number(scanDelay, 0), quint32(INT_MAX)));
    behaviour.refuseScan = commandLine.errorCode(refuseScan);
    behaviour.answerInterrupt = !commandLine.isSet(noAnswerInterrupt);

    FilecheckSim sim(behaviour);
    return sim.serve(commandLine.socketPath(), commandLine.recordPath());
}
