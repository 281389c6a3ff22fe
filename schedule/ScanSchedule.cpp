#include "ScanSchedule.h"

#include "Settings.h"

#include <QDebug>
#include <QLocale>
#include <algorithm>

namespace {

constexpr int kDaysInWeek = 7;

// Whole seconds: the front-end sets minutes, and a timer that fires to the millisecond is no use.
QTime toSeconds(const QTime& time)
{
    return QTime(time.hour(), time.minute(), time.second());
}

QString keyPathOf(const Settings& settings, Settings::Key key)
{
    return settings.keyPath(Settings::Scan, key);
}

// The day numbers a front-end stores: "1, 3" reads back as a string list, a single day as one
// string, and a list set in this process as integers.
QList<int> readDays(const Settings& settings)
{
    const QVariant stored = settings.value(Settings::ScheduleDays, Settings::Scan);
    const int type = stored.metaType().id();
    QVariantList values;
    if (type == QMetaType::QVariantList || type == QMetaType::QStringList) {
        values = stored.toList();
    } else if (type == QMetaType::QString) {
        // A list in quotes, as a hand edit may leave it, reads as one text.
        for (const QString& part : stored.toString().split(QLatin1Char(','))) {
            values << part;
        }
    } else if (stored.isValid()) {
        values << stored;
    }
    QList<int> days;
    for (const QVariant& value : values) {
        bool ok = false;
        const int day = value.toString().trimmed().toInt(&ok);
        if (!ok || day < 1 || day > kDaysInWeek) {
            qWarning().noquote() << QStringLiteral(
                                        "Ignoring the day \"%1\" in %2: days are 1 (Monday) to 7 "
                                        "(Sunday)")
                                        .arg(value.toString(),
                                             keyPathOf(settings, Settings::ScheduleDays));
            continue;
        }
        if (!days.contains(day)) {
            days << day;
        }
    }
    if (days.isEmpty()) {
        qWarning().noquote() << QStringLiteral("No day to run on in %1: no scheduled scan runs")
                                    .arg(keyPathOf(settings, Settings::ScheduleDays));
    }
    return days;
}

QTime readTime(const Settings& settings)
{
    const QVariant stored = settings.value(Settings::ScheduleTime, Settings::Scan);
    QTime time;
    if (stored.metaType().id() == QMetaType::QTime) {
        time = stored.toTime();
    } else if (stored.metaType().id() == QMetaType::QString) {
        time = QTime::fromString(stored.toString().trimmed(), Qt::ISODate);
    }
    if (!time.isValid()) {
        const QTime fallback =
            settings.defaultValue(Settings::Scan, Settings::ScheduleTime).toTime();
        qWarning().noquote() << QStringLiteral("Unreadable time in %1: the schedule runs at %2")
                                    .arg(keyPathOf(settings, Settings::ScheduleTime),
                                         fallback.toString("HH:mm"));
        return fallback;
    }
    return toSeconds(time);
}

QString timeOfDay(const QTime& time)
{
    return time.toString(time.second() == 0 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
}

} // namespace

ScanSchedule ScanSchedule::read(const Settings& settings)
{
    if (!settings.value(Settings::HasSchedule, Settings::Scan).toBool()) {
        return off();
    }
    const QList<int> days = readDays(settings);
    return days.isEmpty() ? off() : weekly(days, readTime(settings));
}

ScanSchedule ScanSchedule::weekly(const QList<int>& days, const QTime& time)
{
    ScanSchedule schedule;
    for (const int day : days) {
        if (day >= 1 && day <= kDaysInWeek && !schedule.m_days.contains(day)) {
            schedule.m_days << day;
        }
    }
    std::sort(schedule.m_days.begin(), schedule.m_days.end());
    schedule.m_time = schedule.isOn() ? toSeconds(time) : QTime();
    return schedule;
}

QString ScanSchedule::calendarEvent() const
{
    if (!isOn()) {
        return QString();
    }
    const QString clock = m_time.toString(QStringLiteral("HH:mm:ss"));
    if (m_days.size() == kDaysInWeek) {
        return QStringLiteral("*-*-* %1").arg(clock);
    }
    QStringList names;
    for (const int day : m_days) {
        names << QLocale::c().dayName(day, QLocale::ShortFormat);
    }
    return QStringLiteral("%1 *-*-* %2").arg(names.join(QLatin1Char(',')), clock);
}

QString ScanSchedule::description() const
{
    if (!isOn()) {
        return QStringLiteral("never: the schedule is off");
    }
    if (m_days.size() == kDaysInWeek) {
        return QStringLiteral("every day at %1").arg(timeOfDay(m_time));
    }
    QStringList names;
    for (const int day : m_days) {
        names << QLocale::c().dayName(day) + QLatin1Char('s');
    }
    const QString last = names.takeLast();
    const QString days =
        names.isEmpty() ? last : QStringLiteral("%1 and %2").arg(names.join(", "), last);
    return QStringLiteral("%1 at %2").arg(days, timeOfDay(m_time));
}

QDateTime ScanSchedule::nextRun(const QDateTime& after) const
{
    if (!isOn()) {
        return QDateTime();
    }
    const QDateTime from = after.toLocalTime();
    // Two weeks: today's slot may have passed, and a slot that a clock change skips moves on to
    // the same day of the next week.
    for (int offset = 0; offset <= 2 * kDaysInWeek; ++offset) {
        const QDate date = from.date().addDays(offset);
        if (!m_days.contains(date.dayOfWeek())) {
            continue;
        }
        const QDateTime slot(date, m_time, Qt::LocalTime);
        if (slot.time() == m_time && slot > from) {
            return slot;
        }
    }
    return QDateTime();
}
