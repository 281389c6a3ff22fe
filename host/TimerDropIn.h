#pragma once

#include <QByteArray>
#include <QString>

// The drop-in of the user's timer that holds the schedule's times, where `systemctl --user edit
// norvo-scheduled-scan.timer` keeps its changes. The schedule owns the file: it is rewritten
// whenever its text is not the schedule's.
class TimerDropIn
{
public:
    enum class Result { Unchanged, Written, Failed };

    // $XDG_CONFIG_HOME/systemd/user/norvo-scheduled-scan.timer.d/override.conf
    static QString defaultPath();
    // The file's text for a calendar event; an empty event makes a timer that never elapses.
    static QByteArray text(const QString& calendarEvent);

    explicit TimerDropIn(QString path) : m_path(std::move(path)) {}

    QString path() const { return m_path; }
    // Replaces the file atomically, and only when `text` differs from what it holds.
    Result write(const QByteArray& text, QString* error) const;

private:
    QString m_path;
};
