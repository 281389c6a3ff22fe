#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>

class Settings;

// When the scheduled scan runs, as the front-end's settings say: not at all, or on some days of
// the week at one local time of day. Every week alike: the front-end's ScheduleWeek is kept as it
// is and not read here.
class ScanSchedule
{
public:
    // Reads HasSchedule, ScheduleTime and ScheduleDays. Values the front-end cannot have meant
    // are left out with one warning each; a schedule without a usable day is off.
    static ScanSchedule read(const Settings& settings);
    static ScanSchedule off() { return {}; }
    // `days` in Qt's numbering, 1 Monday to 7 Sunday.
    static ScanSchedule weekly(const QList<int>& days, const QTime& time);

    bool isOn() const { return !m_days.isEmpty(); }
    QList<int> days() const { return m_days; }
    QTime time() const { return m_time; }

    // The days and time as a systemd calendar event, such as "Mon,Wed *-*-* 07:30:00"; empty
    // when the schedule is off.
    QString calendarEvent() const;
    // "Mondays and Wednesdays at 07:30", or "never: the schedule is off".
    QString description() const;
    // The first slot after `after` in local time, as a calendar timer finds it: a time of day
    // that a clock change skips does not happen that day. Invalid when the schedule is off.
    QDateTime nextRun(const QDateTime& after) const;

    bool operator==(const ScanSchedule& other) const
    {
        return m_days == other.m_days && m_time == other.m_time;
    }

private:
    ScanSchedule() = default;

    QList<int> m_days; // sorted, no repeats; empty when off
    QTime m_time;
};
