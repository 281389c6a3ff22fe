#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// How a run ended, gathered once at its single way out so that the notification, the result
// file and the exit status all tell the same story.
struct RunReport
{
    enum class Outcome { Finished, Refused, Forbidden, NotStarted, ConnectionLost, Stopped };

    struct Threat
    {
        // A mass infection or a hostile daemon must not make one threat unbounded.
        static constexpr int kMaxNames = 16;
        static constexpr int kMaxNameChars = 256;

        QByteArray file;   // as the daemon named it, cut at kMaxNameBytes
        QStringList names; // at most kMaxNames, each at most kMaxNameChars
        QString action;    // the last operation on the file
        QString result;    // that operation's result text
        bool fileCut = false;
        int namesOmitted = 0;

        void setFile(const QByteArray& bytes);
        void addName(const QString& name);

        // The file as the log and the notification name it: escaped, so one name is one line.
        QString fileText() const;
        // As the log and the notification name them: "EICAR-Test-File", "unnamed threat".
        QString namesText() const;
        // "reported (Success)", or "nothing done yet" when the daemon reported no operation.
        QString doneText() const;
    };

    // What a scheduler sees with --exit-status; without it every run exits 0, as the suite's
    // own scheduler expects.
    static constexpr int kExitClean = 0;
    static constexpr int kExitThreats = 1;
    static constexpr int kExitIncomplete = 2;
    // Threats kept for the result file and the notification: enough for anyone to act on, while
    // a mass infection must not grow the run or its file without bound.
    static constexpr int kMaxThreats = 1000;

    // The stored and shown form of an outcome, e.g. "connection-lost".
    static QString outcomeName(Outcome outcome);
    static std::optional<Outcome> outcomeFromName(const QString& name);

    int exitStatus(bool exitStatusRequested) const;
    // Threats found, even when fewer of them were kept.
    quint64 threatCount() const;

    Outcome outcome = Outcome::NotStarted;
    QString reason;                // the run's closing line
    bool scheduleUnusable = false; // not started because the user's schedule could not be used
    QDateTime started;
    QDateTime ended;
    quint32 taskId = 0;
    std::optional<int> finalStatusCode;
    QString finalStatusText;
    quint64 filesScanned = 0;
    quint64 filesToScan = 0;
    QList<Threat> threats; // may hold fewer than threatsFound: a long list is capped
    quint64 threatsFound = 0;
};
