#pragma once

#include <QString>

// What the user's service manager knows of the timer that starts the scheduled runs.
class SystemdTimer
{
public:
    // The time the timer fires next, as systemctl prints it; empty when it cannot tell (no user
    // manager, no such timer, an inactive timer, no answer in time).
    static QString nextElapse();

    // The NEXT column of the timer's row in `systemctl list-timers` output.
    static QString nextElapseFromListing(const QString& listing);
};
