#include "DesktopNotifier.h"

#include "Inventory.h"
#include "Settings.h"

#include <QLoggingCategory>

#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDebug>

// A category of its own, so that a log reader can mute the desktop's absence on a server.
Q_LOGGING_CATEGORY(lcNotification, "norvo.notification")

namespace {
constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kMarkupCapability[] = "body-markup";
constexpr char kThreatSound[] = "dialog-warning";
// Urgency levels of the notification protocol.
constexpr uchar kUrgencyLow = 0;
constexpr uchar kUrgencyNormal = 1;
constexpr uchar kUrgencyCritical = 2;
constexpr int kNeverExpires = 0;

QDBusMessage callNotifications(const QDBusConnection& bus, const char* method,
                               const QVariantList& arguments, const QDeadlineTimer& deadline)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kInterface), QLatin1String(method));
    call.setArguments(arguments);
    // Blocking without an event loop: nothing else of the run may happen while it waits.
    return bus.call(call, QDBus::Block, int(std::max<qint64>(1, deadline.remainingTime())));
}

void reportFailure(const QDBusMessage& reply)
{
    qCDebug(lcNotification, "Desktop notification not shown: %s: %s", qPrintable(reply.errorName()),
            qPrintable(reply.errorMessage()));
}

QString escapedForMarkup(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
}
} // namespace

DesktopNotifier::Preferences DesktopNotifier::Preferences::ofThisRun()
{
    const Inventory& inventory = *Inventory::instance();
    const nv::LinuxGUIConfig config = inventory.config();
    Preferences preferences;
    preferences.configured = inventory.hasConfig();
    preferences.showNotifications = config.show_notifications();
    preferences.playSound = config.play_sound();
    // A settings file that cannot be used leaves the front-end's defaults: the store would read
    // a FIFO there forever, and the run's closing line has already named the file.
    if (Settings::fileProblem().isEmpty()) {
        const Settings& settings = Settings::instance();
        preferences.popUp = settings.value(Settings::PopUp, Settings::General).toBool();
        preferences.sound = settings.value(Settings::Sound, Settings::General).toBool();
    }
    return preferences;
}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, int waitMs)
    : m_bus(bus), m_waitMs(waitMs)
{
}

void DesktopNotifier::notify(const RunReport& report, const Preferences& preferences) const
{
    if (report.outcome == RunReport::Outcome::Stopped || !preferences.popUp ||
        (preferences.configured && !preferences.showNotifications)) {
        return;
    }
    if (!m_bus.isConnected()) {
        qCDebug(lcNotification, "Desktop notification not shown: no session bus: %s",
                qPrintable(m_bus.lastError().message()));
        return;
    }
    const QDeadlineTimer deadline(m_waitMs);
    const bool hasThreats = report.threatCount() > 0;
    bool markup = false;
    if (hasThreats) {
        // File names are the user's own text: a '<' in one would break a server's markup.
        const QDBusMessage reply = callNotifications(m_bus, "GetCapabilities", {}, deadline);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            reportFailure(reply);
            return;
        }
        markup =
            reply.arguments().value(0).toStringList().contains(QLatin1String(kMarkupCapability));
    }
    Notification notification;
    if (hasThreats) {
        notification = threatsFound(report, markup);
    } else if (report.outcome == RunReport::Outcome::Finished) {
        notification = clean(report);
    } else {
        notification = incomplete(report);
    }
    if (!preferences.sound || (preferences.configured && !preferences.playSound)) {
        notification.hints.insert(QStringLiteral("suppress-sound"), true);
    } else if (preferences.configured && hasThreats) {
        notification.hints.insert(QStringLiteral("sound-name"), QLatin1String(kThreatSound));
    }
    const QDBusMessage reply = callNotifications(
        m_bus, "Notify",
        {QLatin1String(kAppName), 0u, notification.icon, notification.summary, notification.body,
         QStringList(), notification.hints, notification.expireTimeout},
        deadline);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        reportFailure(reply);
    }
}

DesktopNotifier::Notification DesktopNotifier::threatsFound(const RunReport& report, bool markup)
{
    const quint64 count = report.threatCount();
    QStringList lines;
    for (const RunReport::Threat& threat : report.threats.mid(0, kShownFiles)) {
        QString line = QStringLiteral("%1: %2, %3")
                           .arg(threat.fileText(), threat.namesText(), threat.doneText());
        if (line.size() > kMaxLineChars) {
            line = line.left(kMaxLineChars - 3) + QLatin1String("...");
        }
        lines << (markup ? escapedForMarkup(line) : line);
    }
    if (count > quint64(lines.size())) {
        lines << QStringLiteral("and %1 more").arg(count - quint64(lines.size()));
    }
    if (report.outcome != RunReport::Outcome::Finished) {
        lines << cause(report.outcome);
    }
    return {QStringLiteral("dialog-warning"),
            count == 1 ? QStringLiteral("Scheduled scan: 1 threat found")
                       : QStringLiteral("Scheduled scan: %1 threats found").arg(count),
            lines.join(QLatin1Char('\n')),
            {{QStringLiteral("urgency"), QVariant::fromValue(kUrgencyCritical)}},
            kNeverExpires};
}

DesktopNotifier::Notification DesktopNotifier::clean(const RunReport& report)
{
    return {QStringLiteral("dialog-information"),
            QStringLiteral("Scheduled scan: no threats found"),
            QStringLiteral("%1 files scanned.").arg(report.filesScanned),
            {{QStringLiteral("urgency"), QVariant::fromValue(kUrgencyLow)},
             {QStringLiteral("transient"), true}}};
}

DesktopNotifier::Notification DesktopNotifier::incomplete(const RunReport& report)
{
    const bool started = report.outcome == RunReport::Outcome::ConnectionLost;
    return {QStringLiteral("dialog-error"),
            started ? QStringLiteral("Scheduled scan did not finish")
                    : QStringLiteral("Scheduled scan could not start"),
            report.scheduleUnusable
                ? QStringLiteral("The scan schedule in your settings cannot be used; the log of "
                                 "the run tells why.")
                : cause(report.outcome),
            {{QStringLiteral("urgency"), QVariant::fromValue(kUrgencyNormal)}}};
}

QString DesktopNotifier::cause(RunReport::Outcome outcome)
{
    switch (outcome) {
    case RunReport::Outcome::NotStarted:
        return QStringLiteral("The Norvo anti-virus service is not running or did not answer.");
    case RunReport::Outcome::Refused:
        return QStringLiteral("The Norvo anti-virus service refused to start the scan.");
    case RunReport::Outcome::Forbidden:
        return QStringLiteral("Scans are not allowed by your central protection server.");
    case RunReport::Outcome::ConnectionLost:
        return QStringLiteral("The connection to the Norvo anti-virus service was lost.");
    case RunReport::Outcome::Finished:
    case RunReport::Outcome::Stopped:
        break;
    }
    return QString();
}
