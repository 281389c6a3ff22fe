#include "BatteryWait.h"

#include "Duration.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDebug>

namespace {
constexpr char kService[] = "org.freedesktop.UPower";
constexpr char kPath[] = "/org/freedesktop/UPower";
constexpr char kInterface[] = "org.freedesktop.UPower";
constexpr char kProperty[] = "OnBattery";
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
constexpr char kChangedSignal[] = "PropertiesChanged";
constexpr char kChangedSignature[] = "sa{sv}as";
} // namespace

BatteryWait::BatteryWait(const QDBusConnection& bus, qint64 boundMs, int askWaitMs, QObject* parent)
    : QObject(parent), m_bus(bus), m_boundMs(boundMs), m_askWaitMs(askWaitMs)
{
    m_bound.setSingleShot(true);
    // A coarse timer may end the wait a little before the bound the user gave.
    m_bound.setTimerType(Qt::PreciseTimer);
    connect(&m_bound, &QTimer::timeout, this, &BatteryWait::onBoundReached);
}

BatteryWait::~BatteryWait()
{
    cancel();
}

void BatteryWait::start()
{
    if (m_state != State::Idle) {
        return;
    }
    if (m_boundMs <= 0) {
        finish();
        return;
    }
    if (!m_bus.isConnected()) {
        startAtOnce(QStringLiteral("no system bus: ") + m_bus.lastError().message());
        return;
    }
    // Watching before asking: a change between the answer and the watch would be lost.
    if (!watchChanges(true)) {
        startAtOnce(QStringLiteral("cannot watch UPower: ") + m_bus.lastError().message());
        return;
    }
    QDBusMessage get =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kPropertiesInterface), QStringLiteral("Get"));
    get.setArguments({QLatin1String(kInterface), QLatin1String(kProperty)});
    m_state = State::Asking;
    m_answer = new QDBusPendingCallWatcher(m_bus.asyncCall(get, m_askWaitMs), this);
    connect(m_answer, &QDBusPendingCallWatcher::finished, this, &BatteryWait::onAnswer);
}

void BatteryWait::cancel()
{
    if (m_state == State::Asking || m_state == State::Waiting) {
        watchChanges(false);
    }
    delete m_answer;
    m_answer = nullptr;
    m_bound.stop();
    m_state = State::Done;
}

void BatteryWait::onAnswer(QDBusPendingCallWatcher* watcher)
{
    m_answer = nullptr;
    watcher->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *watcher;
    if (reply.isError()) {
        startAtOnce(reply.error().name() + QStringLiteral(": ") + reply.error().message());
        return;
    }
    const QVariant onBattery = reply.value().variant();
    if (onBattery.metaType() != QMetaType::fromType<bool>()) {
        startAtOnce(QStringLiteral("OnBattery is not a boolean"));
        return;
    }
    if (!onBattery.toBool()) {
        finish();
        return;
    }
    m_state = State::Waiting;
    qInfo("Running on battery: the scan waits for mains power, at most %s",
          qPrintable(Duration::text(m_boundMs)));
    // QTimer runs on the monotonic clock, which stands still while the machine sleeps: a
    // suspended laptop goes on with the wait where it left it.
    m_bound.start(int(std::min(m_boundMs, Duration::kMaxMs)));
}

void BatteryWait::onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                      const QStringList& /*invalidated*/)
{
    // While asking, the answer still to come is at least as new as any change before it.
    if (m_state != State::Waiting || interface != QLatin1String(kInterface)) {
        return;
    }
    const QVariant onBattery = changed.value(QLatin1String(kProperty));
    if (onBattery.metaType() == QMetaType::fromType<bool>() && !onBattery.toBool()) {
        qInfo("On mains power again, the scan starts");
        finish();
    }
}

void BatteryWait::onBoundReached()
{
    qInfo("Still on battery after %s, the scan starts anyway",
          qPrintable(Duration::text(m_boundMs)));
    finish();
}

void BatteryWait::startAtOnce(const QString& why)
{
    qDebug("No battery information (%s), the scan starts at once", qPrintable(why));
    finish();
}

void BatteryWait::finish()
{
    cancel();
    emit finished();
}

bool BatteryWait::watchChanges(bool watch)
{
    const QString service = QLatin1String(kService);
    const QString path = QLatin1String(kPath);
    const QString interface = QLatin1String(kPropertiesInterface);
    const QString name = QLatin1String(kChangedSignal);
    const QStringList onlyUPower{QLatin1String(kInterface)};
    const QString signature = QLatin1String(kChangedSignature);
    const char* slot = SLOT(onPropertiesChanged(QString, QVariantMap, QStringList));
    return watch ? m_bus.connect(service, path, interface, name, onlyUPower, signature, this, slot)
                 : m_bus.disconnect(service, path, interface, name, onlyUPower, signature, this,
                                    slot);
}
