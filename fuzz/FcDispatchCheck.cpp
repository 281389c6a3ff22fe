#include "FcDispatchCheck.h"

#include "FcIPCLink.h"
#include "FuzzRecords.h"
#include "LenientParser.h"
#include "ReceiverProbe.h"
#include "ScanProgressLog.h"
#include "ScanTask.h"

namespace {

void probeSignals(FcIPCLink& link, ReceiverProbe& probe)
{
    const auto message = [&probe](const fc::ServerMessage& msg) { probe.called(msg); };
    QObject::connect(&link, &FcIPCLink::threatsDetected, message);
    QObject::connect(&link, &FcIPCLink::quarantineUpdated, message);
    const auto task = [&probe](int taskId) { probe.called(taskId); };
    QObject::connect(&link, &FcIPCLink::scanIsStarted, task);
    QObject::connect(&link, &FcIPCLink::scanIsInterrupted, task);
    QObject::connect(&link, &FcIPCLink::threatOpError,
                     [&probe](int threatId, nv::ErrorCode ec) { probe.called(threatId, ec); });
    QObject::connect(
        &link, &FcIPCLink::quarantineOpError,
        [&probe](const std::string& entryId, nv::ErrorCode ec) { probe.called(entryId, ec); });
    QObject::connect(&link, &FcIPCLink::newScanInfo,
                     [&probe](const fc::ScanInfo& info) { probe.called(info); });
    QObject::connect(
        &link, &FcIPCLink::dirEntryListReceived,
        [&probe](int serial, const RepeatedDirEntry& entries) { probe.called(serial, entries); });
    QObject::connect(&link, &FcIPCLink::dirEntryListError,
                     [&probe](int serial, nv::ErrorCode ec) { probe.called(serial, ec); });
}

// Whether the body reports our task finished in a state this build knows.
bool reportsFinished(const fc::ServerMessage& msg, quint32 taskId)
{
    if (msg.tag() != fc::ServerMessage::SCAN_INFO_NOTIFICATION) {
        return false;
    }
    for (const fc::ScanInfo& info : msg.info()) {
        if (info.task_id() == taskId && info.has_state() &&
            info.state() == fc::SCAN_STATE_FINISHED) {
            return true;
        }
    }
    return false;
}

const QSharedPointer<ScanTask>& scheduledTask()
{
    // Built once: the task reads the settings file, and its targets do not matter here.
    static const QSharedPointer<ScanTask> task(new ScanTask(ScanTask::ScheduledScan));
    return task;
}

} // namespace

QString FcDispatchCheck::run(const QByteArray& input)
{
    // Never connected: the scan request goes nowhere, yet the link now awaits its answer.
    QLocalSocket socket;
    FcIPCLink link(&socket, nullptr);
    ReceiverProbe probe;
    probeSignals(link, probe);
    ScanProgressLog progress(&link, nullptr);
    progress.setIntervalMs(0);
    QObject::connect(&link, &FcIPCLink::newScanInfo, &progress, &ScanProgressLog::onScanInfo);
    int ends = 0;
    bool endedUnrecorded = false;
    QObject::connect(&link, &FcIPCLink::finished, [&] {
        ++ends;
        endedUnrecorded = endedUnrecorded || !link.scanSummary().finished;
    });
    QObject::connect(&link, &FcIPCLink::refused, [&ends] { ++ends; });
    link.scan(scheduledTask(), nv::LinuxGUIConfig(), std::string());

    for (const QByteArray& body : FuzzRecords::split(input)) {
        const int before = probe.calls() + ends;
        // Named before this body: the body's own answer may name the task.
        const bool followed = link.taskNamed();
        const quint32 taskId = quint32(link.currentTaskId());
        link.processMessage(body);
        fc::ServerMessage msg;
        // A newer daemon's enumeration values are used; anything else missing is not.
        const bool parses = LenientParser::parse(msg, body) && msg.has_tag();
        if (!parses && probe.calls() + ends != before) {
            return QStringLiteral("a body that does not parse reached a receiver");
        }
        if (parses && followed && reportsFinished(msg, taskId) && !link.scanSummary().finished) {
            return QStringLiteral("our task was reported finished and the scan goes on");
        }
    }
    if (ends > 1) {
        return QStringLiteral("the scan ended %1 times").arg(ends);
    }
    if (endedUnrecorded) {
        return QStringLiteral("the scan ended without its outcome in the summary");
    }
    return QString();
}
