#include "RunJournal.h"

namespace {

using Field = JournalLog::Field;
using Outcome = RunReport::Outcome;

// One id per kind of entry; they never change, as journal queries and the catalog name them.
QByteArray messageId(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Finished:
        return "c41330ab485d44fd8a190c9d0346029b";
    case Outcome::Refused:
        return "9a499197a5c244d780f5627b287c1332";
    case Outcome::Forbidden:
        return "68e98fe30a484108862b98e38eda5ff7";
    case Outcome::NotStarted:
        return "91f77e74c3724e9ea72dd21fbc0d6047";
    case Outcome::ConnectionLost:
        return "68bac41a7e034d82b81bb4fd0259b518";
    case Outcome::Stopped:
        return "b505169868a54727b251bd20a3ddbf65";
    }
    Q_UNREACHABLE();
}

QByteArray messageId(RunJournal::Gate gate)
{
    switch (gate) {
    case RunJournal::Gate::AlreadyRunning:
        return "c447388694034d9f8ad3cf980cc0c519";
    case RunJournal::Gate::NotNeeded:
        return "967609d720cf4088a4d7518cadfbf4ec";
    }
    Q_UNREACHABLE();
}

const QByteArray kThreatId = "501a46a9cc80440b8cb9df1b4623e2e6";

QByteArray gateName(RunJournal::Gate gate)
{
    switch (gate) {
    case RunJournal::Gate::AlreadyRunning:
        return "already-running";
    case RunJournal::Gate::NotNeeded:
        return "not-needed";
    }
    Q_UNREACHABLE();
}

} // namespace

JournalLog::Priority RunJournal::priority(Outcome outcome, quint64 threats)
{
    switch (outcome) {
    case Outcome::Finished:
        return threats > 0 ? JournalLog::Warning : JournalLog::Notice;
    case Outcome::Stopped:
        return JournalLog::Info;
    case Outcome::Refused:
    case Outcome::Forbidden:
    case Outcome::NotStarted:
    case Outcome::ConnectionLost:
        return JournalLog::Err;
    }
    Q_UNREACHABLE();
}

void RunJournal::closingLine(const RunReport& report)
{
    QList<Field> fields{{"MESSAGE_ID", messageId(report.outcome)},
                        {"NORVO_OUTCOME", RunReport::outcomeName(report.outcome).toUtf8()}};
    if (report.taskId != 0) {
        fields << Field{"NORVO_TASK_ID", QByteArray::number(report.taskId)}
               << Field{"NORVO_FILES_SCANNED", QByteArray::number(report.filesScanned)}
               << Field{"NORVO_THREATS_FOUND", QByteArray::number(report.threatCount())};
    }
    JournalLog::write(priority(report.outcome, report.threatCount()), report.reason, fields);
}

void RunJournal::closingLine(Gate gate, const QString& line)
{
    // Another run scans, or none is needed: nothing went wrong.
    JournalLog::write(JournalLog::Info, line,
                      {{"MESSAGE_ID", messageId(gate)}, {"NORVO_OUTCOME", gateName(gate)}});
}

void RunJournal::threat(const RunReport::Threat& threat, quint32 taskId)
{
    JournalLog::write(JournalLog::Warning, threatLine(threat),
                      {{"MESSAGE_ID", kThreatId},
                       {"NORVO_TASK_ID", QByteArray::number(taskId)},
                       {"NORVO_THREAT_FILE", threat.fileText().toUtf8()},
                       {"NORVO_THREAT_NAMES", threat.namesText().toUtf8()},
                       {"NORVO_THREAT_ACTION",
                        threat.action.isEmpty() ? QByteArray("none") : threat.action.toUtf8()}});
}

QString RunJournal::threatLine(const RunReport::Threat& threat)
{
    return QStringLiteral("Threat found: \"%1\": %2, %3")
        .arg(threat.fileText(), threat.namesText(), threat.doneText());
}
