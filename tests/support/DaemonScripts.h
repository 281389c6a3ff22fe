#pragma once

// Scripted daemons for the end-to-end tests, and the runner as a child process.

#include "ScriptedPeer.h"
#include "configd_public_ipc.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "linux_gui_config.pb.h"

#include <QProcess>
#include <QStringList>
#include <QVariantMap>

constexpr quint32 kScriptTaskId = 7;
constexpr quint32 kScriptRevision = 5;

template <typename Message> Message parsed(const QByteArray& body)
{
    Message message;
    message.ParseFromArray(body.constData(), int(body.size()));
    return message;
}

nv::Configd2PublicMessage configdReply(nv::Configd2PublicMessage::MessageTag tag);
fc::ServerMessage scanInfo(quint32 taskId, fc::ScanState state, quint64 scanned = 0);

// How the scripted configuration daemon behaves.
struct ConfigdScript
{
    nv::LinuxGUIConfig config;
    QString fcPath;
    nv::ErrorCode fcheckError = nv::EC_OK; // EC_OK: answer with the path
    bool answersFcheck = true;             // false: GET_FCHECK_REQUEST goes unanswered
};
ScriptedPeer::Responder configdResponder(const ConfigdScript& script);

// How the scripted file-check daemon answers the scan request, and an interruption.
enum class FcScript {
    RunsScan,              // task 7 runs with a threat, another task finishes, then task 7
                           // finishes, repeating the threat
    FinishesBeforeAnswer,  // task 7 is reported finished before the start answer names it
    FinishesWithoutResult, // task 7 finishes, with no result in its last entry
    FinishesNewerStatus,   // task 7 finishes with a final status newer than this build, 9999
    Refuses,               // the start is answered with an error and no task
    OversizedFrame,        // after the start answer, a frame longer than any daemon may send
    NeverFinishes,         // task 7 runs; an interruption is answered
    StartsLate,            // as NeverFinishes, but the start is answered only after half a second
    IgnoresInterrupt,      // task 7 runs; an interruption gets no answer
    RefusesInterrupt,      // task 7 runs; an interruption is answered with an error
    NeverStarts,           // the scan request gets no answer
    OddNames, // as RunsScan, with control characters and bytes that are not UTF-8 in the names
};

// The names that OddNames reports: the file being scanned while the task runs, and the files
// and threat names of the threats that it finishes with.
extern const QByteArray kOddScanningNow;
extern const QList<QByteArray> kOddFiles;
extern const QByteArray kOddThreatName;

// The closing line of a run of RunsScan.
extern const QString kScriptSummary;
ScriptedPeer::Responder fcResponder(FcScript script);

// The runner as a separate process, with its own settings and runtime directory under `home`.
class RunnerProcess
{
public:
    struct Result
    {
        int exitCode = -1;
        QProcess::ExitStatus exitStatus = QProcess::CrashExit;
        bool ended = false;
        QStringList lines;
        QByteArray out; // what the runner wrote to its standard output
        qint64 pid = 0;

        // Ended by itself, within the bound of finish(), with status 0.
        bool endedInOrder() const
        {
            return ended && exitStatus == QProcess::NormalExit && exitCode == 0;
        }
        QStringList lastLines(int count) const { return lines.mid(lines.size() - count); }
        QString log() const { return lines.join('\n'); }
    };

    explicit RunnerProcess(const QString& home);

    // A custom schedule in the settings file the runner reads.
    void writeSchedule(const QVariantMap& selection, const QVariantMap& custom);
    // The session bus the run's notification goes to; by default one that does not exist, so
    // that no test ever reaches the machine's own.
    void setSessionBus(const QString& address) { m_sessionBus = address; }
    // The system bus, where UPower tells whether the machine runs on battery; by default one that
    // does not exist.
    void setSystemBus(const QString& address) { m_systemBus = address; }
    // One more variable of the runner's environment, such as QT_MESSAGE_PATTERN.
    void setEnvironment(const QString& name, const QString& value) { m_extraEnv[name] = value; }
    void start(const QByteArray& configdSocket, const QStringList& arguments = {});
    // Where the run writes its result file.
    QString resultFile() const;
    qint64 pid() const { return m_process.processId(); }
    // Waits until a log line containing `fragment` has been written.
    bool waitForLine(const QString& fragment, int timeoutMs = 10000);
    // True once the runner has ended, waiting up to `waitMs` for it.
    bool hasEnded(int waitMs)
    {
        return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(waitMs);
    }
    void sendSignal(int signo);
    // Waits for the runner to end by itself; kills it after `timeoutMs`.
    Result finish(int timeoutMs = 20000);

private:
    QString m_home;
    QString m_sessionBus;
    QString m_systemBus;
    QVariantMap m_extraEnv;
    QProcess m_process;
    QByteArray m_log; // what the runner wrote so far
};
