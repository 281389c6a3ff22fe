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
    // However long the names: the threats take no more of the file than this, the rest are
    // counted as omitted.
    static constexpr qsizetype kMaxThreatBytes = 2 * 1024 * 1024;
    // No run writes a larger file: a previous one beyond it is not read.
    static constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;

    // What the next run needs to know about the latest one.
    struct Previous
    {
        std::optional<RunReport::Outcome> outcome; // empty when the file names none we know
        QDateTime lastCompleted;                   // invalid when no run has completed yet
    };

    // $XDG_STATE_HOME/norvo/scheduled-scan.json, ~/.local/state when that is unset.
    static QString defaultPath();

    // The folder of `path` is the result's own: it is made private. A link there, or at the
    // path, is neither followed nor changed.
    explicit ResultFile(const QString& path);

    // Replaces the file with this run's result once the whole of it is on the disk. A failure
    // leaves the previous file as it was, writes one warning and changes nothing else about the
    // run.
    bool write(const RunReport& report) const;
    void deliver(const RunReport& report) override { write(report); }

    // The previous run's result; empty when there is no file or it cannot be read (not a regular
    // file, a link, larger than kMaxFileBytes, not JSON), which the next write reports.
    std::optional<Previous> read() const;

private:
    // The previous file's content, with one warning when it exists but cannot be used.
    std::optional<QJsonObject> load(bool warn) const;
    QJsonObject toJson(const RunReport& report, const QDateTime& lastCompleted) const;
    // The result's folder, made private, as a descriptor to close; -1 after one warning.
    int openFolder() const;
    // Writes `content` beside the file `name` in `folder` and renames it over the file; 0 or the
    // errno of the step that failed, with the file left as it was.
    static int replace(int folder, const QByteArray& name, const QByteArray& content);
    static bool readAtMost(int fd, QByteArray* content);

    QString m_path;
};
