#pragma once

#include "RunReport.h"
#include "RunSink.h"

#include <QDBusConnection>
#include <QString>
#include <QVariantMap>

// Tells the desktop user how a scheduled run ended: its log goes to the journal, which a desktop
// user never reads.
class DesktopNotifier : public RunSink
{
public:
    // The run's end may wait this long for the desktop, no longer.
    static constexpr int kNotifyWaitMs = 1000;
    static constexpr int kShownFiles = 5;
    // A desktop shows a few lines of a notification; each threat's line is cut here, which bounds
    // the body however long the names are.
    static constexpr int kMaxLineChars = 300;
    static constexpr char kAppName[] = "norvo-scheduled-scan";

    // The user's choices: those of the configuration daemon (until a configuration has arrived
    // the user is told, and the sound is left to the desktop) and the front-end's own "show
    // pop-ups" and "play sounds" switches. Each pair must allow a pop-up or a sound.
    struct Preferences
    {
        bool configured = false;
        bool showNotifications = true;
        bool playSound = false;
        bool popUp = true;
        bool sound = true;

        // As this run knows them: the configuration it received and the local settings.
        static Preferences ofThisRun();
    };

    explicit DesktopNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                             int waitMs = kNotifyWaitMs);

    // Shows the notification this run calls for, if any. Whatever goes wrong on the bus is one
    // debug line.
    void notify(const RunReport& report, const Preferences& preferences) const;
    void deliver(const RunReport& report) override { notify(report, Preferences::ofThisRun()); }

private:
    struct Notification
    {
        QString icon;
        QString summary;
        QString body;
        QVariantMap hints;
        int expireTimeout = -1;
    };

    static Notification threatsFound(const RunReport& report, bool markup);
    static Notification clean(const RunReport& report);
    static Notification incomplete(const RunReport& report);
    static QString cause(RunReport::Outcome outcome);

    QDBusConnection m_bus;
    int m_waitMs;
};
