#pragma once

#include "RunReport.h"
#include "RunSink.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <optional>

// The outcome of the latest run, kept where a desktop user or a script can read it after a
// night's scan whose log went to the journal.
class ResultFile : public RunSink
{
public:
    static constexpr int kVersion = 1;

    // What the next run needs to know about the latest one.
    struct Previous
    {
        std::optional<RunReport::Outcome> outcome; // empty when the file names none we know
        QDateTime lastCompleted;                   // invalid when no run has completed yet
    };

    // $XDG_STATE_HOME/norvo/scheduled-scan.json, ~/.local/state when that is unset.
    static QString defaultPath();

    // The folder of `path` is the result's own: it is made private.
    explicit ResultFile(const QString& path);

    // Replaces the file with this run's result. A failure writes one warning and changes nothing
    // else about the run.
    bool write(const RunReport& report) const;
    void deliver(const RunReport& report) override { write(report); }

    // The previous run's result; empty when there is no file or it cannot be read, which the
    // next write reports.
    std::optional<Previous> read() const;

private:
    // The previous file's content, with one warning when it exists but cannot be used.
    std::optional<QJsonObject> load(bool warn) const;
    QJsonObject toJson(const RunReport& report, const QDateTime& lastCompleted) const;
    bool prepareFolder() const;

    QString m_path;
};
