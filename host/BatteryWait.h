#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

class QDBusPendingCallWatcher;

// Holds a scheduled scan back while the laptop runs on battery: a full scan drains it, and the
// user is better served by the same scan a little later on mains power. Event-driven, so the
// caller's event loop still delivers a stop while the run waits.
class BatteryWait : public QObject
{
    Q_OBJECT

public:
    // UPower answers at once; one that does not must not hold the run back for long.
    static constexpr int kAskWaitMs = 5000;

    // Waits at most boundMs for mains power; 0 does not ask and does not wait.
    BatteryWait(const QDBusConnection& bus, qint64 boundMs, int askWaitMs = kAskWaitMs,
                QObject* parent = nullptr);
    ~BatteryWait() override;

    // Asks UPower; finished() follows when the scan may start, at once from within this call
    // when there is nothing to ask.
    void start();
    // Ends the wait without finished(), as a stop does; nothing of it is heard afterwards.
    void cancel();

signals:
    void finished();

private slots:
    // A slot by name: QDBusConnection::connect takes no function pointers.
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);

private:
    enum class State { Idle, Asking, Waiting, Done };

    void onAnswer(QDBusPendingCallWatcher* watcher);
    void onBoundReached();
    void startAtOnce(const QString& why);
    void finish();
    bool watchChanges(bool watch);

    QDBusConnection m_bus;
    qint64 m_boundMs;
    int m_askWaitMs;
    State m_state = State::Idle;
    QDBusPendingCallWatcher* m_answer = nullptr;
    QTimer m_bound;
};
