#include "DaemonScripts.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QThread>
#include <csignal>

using Reply = ScriptedPeer::Reply;
using Replies = QList<Reply>;

const QString kScriptSummary = QStringLiteral("Scheduled scan finished: task 7, final status 0 "
                                              "(Success), files scanned: 3, threats found: 1");

const QByteArray kOddScanningNow("/srv/\x1b[2J\rx");
const QList<QByteArray> kOddFiles{
    "/srv/x\nScheduled scan finished: task 7, final status 0 (Success), files scanned: 3, "
    "threats found: 0",
    "/srv/\xff\xfe.com",
    QByteArray("/srv/a\0b\\", 9),
};
const QByteArray kOddThreatName("Trojan\nThreat found: \"/etc/passwd\"");

namespace {
constexpr int kLateStartMs = 500;

nv::FileThreat* addThreat(fc::ServerMessage* message, quint32 id, const QByteArray& file)
{
    nv::FileThreat* threat = message->mutable_info(0)->add_threat();
    threat->set_threat_id(id);
    threat->set_detection_time(1);
    threat->mutable_report()->set_object(file.toStdString());
    threat->mutable_stat()->set_dev(1);
    threat->mutable_stat()->set_ino(id + 1);
    threat->set_origin(nv::APP_FILE_CHECK);
    threat->set_origin_pid(1);
    return threat;
}
} // namespace

nv::Configd2PublicMessage configdReply(nv::Configd2PublicMessage::MessageTag tag)
{
    nv::Configd2PublicMessage message;
    message.set_tag(tag);
    return message;
}

fc::ServerMessage scanInfo(quint32 taskId, fc::ScanState state, quint64 scanned)
{
    fc::ServerMessage message;
    message.set_tag(fc::ServerMessage::SCAN_INFO_NOTIFICATION);
    fc::ScanInfo* info = message.add_info();
    info->set_task_id(taskId);
    info->set_state(state);
    fc::ScanProgress* progress = info->mutable_progress();
    progress->set_traverse_done(true);
    progress->set_files_to_scan(3);
    progress->set_files_scanned(scanned);
    if (state == fc::SCAN_STATE_FINISHED) {
        info->mutable_result()->set_stop_time(1);
        info->mutable_result()->set_final_status(nv::EC_OK);
    }
    return message;
}

ScriptedPeer::Responder configdResponder(const ConfigdScript& script)
{
    return [script](const QByteArray& body) -> Replies {
        const auto request = parsed<nv::Public2ConfigdMessage>(body);
        switch (request.tag()) {
        case nv::Public2ConfigdMessage::SUBSCRIBE_TO_CONFIG: {
            auto reply = configdReply(nv::Configd2PublicMessage::CONFIG_NOTIFICATION);
            reply.mutable_config()->set_app(nv::APP_LINUX_GUI);
            *reply.mutable_config()->MutableExtension(nv::linux_gui_config) = script.config;
            reply.set_config_revision(kScriptRevision);
            return {{frameOf(reply)}};
        }
        case nv::Public2ConfigdMessage::GET_FCHECK_REQUEST: {
            if (!script.answersFcheck) {
                return {};
            }
            auto reply = configdReply(nv::Configd2PublicMessage::GET_FCHECK_RESPONSE);
            if (script.fcheckError == nv::EC_OK) {
                reply.set_socket_path(script.fcPath.toStdString());
            } else {
                reply.mutable_error()->set_code(script.fcheckError);
                // A daemon's text may hold what a log line must not.
                reply.mutable_error()->set_what("no file-check socket\nfor uid 0");
            }
            return {{frameOf(reply)}};
        }
        default:
            return {};
        }
    };
}

ScriptedPeer::Responder fcResponder(FcScript script)
{
    return [script](const QByteArray& body) -> Replies {
        const auto request = parsed<fc::ClientMessage>(body);
        const bool answersInterrupt = script == FcScript::NeverFinishes ||
                                      script == FcScript::StartsLate ||
                                      script == FcScript::RefusesInterrupt;
        if (request.tag() == fc::ClientMessage::INTERRUPT_SCAN_REQUEST && answersInterrupt) {
            fc::ServerMessage interrupted;
            interrupted.set_tag(fc::ServerMessage::INTERRUPT_SCAN_RESPONSE);
            interrupted.set_task_id(request.task_id());
            if (script == FcScript::RefusesInterrupt) {
                interrupted.mutable_error()->set_code(nv::EC_NOT_IMPLEMENTED);
                return {{frameOf(interrupted)}};
            }
            // In the same write, as a daemon does: the task's end, which the run no longer
            // reads once the confirmation has ended it.
            fc::ServerMessage ended = scanInfo(request.task_id(), fc::SCAN_STATE_FINISHED, 1);
            ended.mutable_info(0)->mutable_result()->set_final_status(nv::EC_INTERRUPTED_BY_USER);
            return {{frameOf(interrupted) + frameOf(ended)}};
        }
        if (request.tag() != fc::ClientMessage::START_SCAN_REQUEST ||
            script == FcScript::NeverStarts) {
            return {};
        }
        fc::ServerMessage started;
        started.set_tag(fc::ServerMessage::START_SCAN_RESPONSE);
        started.set_task_id(kScriptTaskId);
        const QByteArray running = frameOf(scanInfo(kScriptTaskId, fc::SCAN_STATE_RUNNING));
        switch (script) {
        case FcScript::Refuses:
            started.clear_task_id();
            started.mutable_error()->set_code(nv::EC_NOT_IMPLEMENTED);
            return {{frameOf(started)}};
        case FcScript::OversizedFrame: {
            const quint32 length = 0x7fffffff;
            return {{frameOf(started) +
                     QByteArray(reinterpret_cast<const char*>(&length), sizeof length)}};
        }
        case FcScript::StartsLate:
            QThread::msleep(kLateStartMs);
            return {{frameOf(started)}, {running}};
        case FcScript::NeverFinishes:
        case FcScript::IgnoresInterrupt:
        case FcScript::RefusesInterrupt:
            return {{frameOf(started)}, {running}};
        case FcScript::FinishesBeforeAnswer:
            return {{frameOf(scanInfo(kScriptTaskId, fc::SCAN_STATE_FINISHED, 3))},
                    {frameOf(started)}};
        case FcScript::FinishesWithoutResult: {
            fc::ServerMessage finished = scanInfo(kScriptTaskId, fc::SCAN_STATE_FINISHED, 3);
            finished.mutable_info(0)->clear_result();
            return {{frameOf(started)}, {frameOf(finished)}};
        }
        case FcScript::FinishesNewerStatus: {
            fc::ServerMessage finished = scanInfo(kScriptTaskId, fc::SCAN_STATE_FINISHED, 3);
            fc::ScanResult* result = finished.mutable_info(0)->mutable_result();
            result->clear_final_status();
            result->GetReflection()->MutableUnknownFields(result)->AddVarint(
                fc::ScanResult::kFinalStatusFieldNumber, 9999);
            return {{frameOf(started)},
                    {frameOf(QByteArray::fromStdString(finished.SerializePartialAsString()))}};
        }
        case FcScript::RunsScan: {
            fc::ServerMessage finished = scanInfo(kScriptTaskId, fc::SCAN_STATE_FINISHED, 3);
            nv::FileThreat* threat = finished.mutable_info(0)->add_threat();
            threat->set_threat_id(1);
            threat->set_detection_time(1);
            threat->mutable_report()->set_object("/srv/a/eicar.com");
            threat->mutable_stat()->set_dev(1);
            threat->mutable_stat()->set_ino(2);
            threat->set_origin(nv::APP_FILE_CHECK);
            threat->set_origin_pid(1);
            // The daemon reports the threat while the task runs, and again in its last entry.
            fc::ServerMessage running = scanInfo(kScriptTaskId, fc::SCAN_STATE_RUNNING, 1);
            *running.mutable_info(0)->add_threat() = *threat;
            // Another client's task finishing first must not end this run.
            return {{frameOf(started)},
                    {frameOf(running)},
                    {frameOf(scanInfo(kScriptTaskId + 1, fc::SCAN_STATE_FINISHED, 9))},
                    {frameOf(finished)}};
        }
        case FcScript::OddNames: {
            fc::ServerMessage scanning = scanInfo(kScriptTaskId, fc::SCAN_STATE_RUNNING, 1);
            scanning.mutable_info(0)->mutable_progress()->set_scanning_now(
                kOddScanningNow.toStdString());
            fc::ServerMessage finished = scanInfo(kScriptTaskId, fc::SCAN_STATE_FINISHED, 3);
            for (qsizetype place = 0; place < kOddFiles.size(); ++place) {
                nv::Virus* virus = addThreat(&finished, quint32(place + 1), kOddFiles[place])
                                       ->mutable_report()
                                       ->add_virus();
                virus->set_type(nv::SE_KNOWN_VIRUS);
                virus->set_name(kOddThreatName.toStdString());
            }
            return {{frameOf(started)}, {frameOf(scanning)}, {frameOf(finished)}};
        }
        case FcScript::NeverStarts:
            break;
        }
        return {};
    };
}

RunnerProcess::RunnerProcess(const QString& home) : m_home(home) {}

void RunnerProcess::writeSchedule(const QVariantMap& selection, const QVariantMap& custom)
{
    QSettings settings(QDir(m_home).filePath("config/norvo/norvo-gui.conf"), QSettings::IniFormat);
    settings.setValue("Scan/ScheduleScanType", "CustomScan");
    settings.setValue("Scan/SchedulePersistentPaths", selection);
    settings.setValue("Scan/ScheduleCustomPaths", custom);
}

QString RunnerProcess::resultFile() const
{
    return QDir(m_home).filePath("state/norvo/scheduled-scan.json");
}

void RunnerProcess::start(const QByteArray& configdSocket, const QStringList& arguments)
{
    // Passed on byte for byte: inserted as text, a name that is not UTF-8 would change.
    qputenv("NRV_PUBLIC_SOCKET", configdSocket);
    // Qt takes a runtime directory only with mode 0700; any other falls back to one that every
    // run of the machine shares, and the runs of parallel tests would then hold one lock.
    QVERIFY(QDir().mkpath(m_home));
    QVERIFY(QFile::setPermissions(m_home, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QDir(m_home).filePath("config"));
    env.insert("XDG_RUNTIME_DIR", m_home);
    env.insert("XDG_STATE_HOME", QDir(m_home).filePath("state"));
    env.insert("DBUS_SESSION_BUS_ADDRESS", m_sessionBus.isEmpty()
                                               ? "unix:path=" + QDir(m_home).filePath("no-bus")
                                               : m_sessionBus);
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_systemBus.isEmpty()
                                              ? "unix:path=" + QDir(m_home).filePath("no-bus")
                                              : m_systemBus);
    env.remove("JOURNAL_STREAM");
    // The desktop's absence is no news in a test; tests of the notification bring a bus.
    env.insert("QT_LOGGING_RULES", m_sessionBus.isEmpty()
                                       ? "*.debug=true\nnorvo.notification.debug=false"
                                       : "*.debug=true");
    for (auto it = m_extraEnv.cbegin(); it != m_extraEnv.cend(); ++it) {
        env.insert(it.key(), it.value().toString());
    }
    m_process.setProcessEnvironment(env);
    // Everything the runner says goes to its standard error.
    m_process.setReadChannel(QProcess::StandardError);
    m_process.start(QStringLiteral(NORVO_SCANNER), arguments);
    QVERIFY2(m_process.waitForStarted(), qPrintable(m_process.errorString()));
}

RunnerProcess::Result RunnerProcess::finish(int timeoutMs)
{
    Result run;
    run.pid = m_process.processId();
    // waitForFinished() is false for a process that has already ended, as after hasEnded().
    run.ended = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
    if (!run.ended) {
        m_process.kill();
        m_process.waitForFinished();
    }
    run.exitCode = m_process.exitCode();
    run.exitStatus = m_process.exitStatus();
    m_log += m_process.readAllStandardError();
    run.lines = QString::fromLocal8Bit(m_log).split('\n', Qt::SkipEmptyParts);
    run.out = m_process.readAllStandardOutput();
    return run;
}

bool RunnerProcess::waitForLine(const QString& fragment, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        m_log += m_process.readAllStandardError();
        if (QString::fromLocal8Bit(m_log).contains(fragment)) {
            return true;
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) {
            return false;
        }
        m_process.waitForReadyRead(50);
    }
}

void RunnerProcess::sendSignal(int signo)
{
    // A runner that has ended has no id: kill(0) would signal the test's whole process group.
    if (const qint64 pid = m_process.processId(); pid > 0) {
        ::kill(pid_t(pid), signo);
    }
}
