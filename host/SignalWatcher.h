#pragma once

#include <QObject>
#include <initializer_list>

class QSocketNotifier;

// Turns the watched signals into a Qt signal delivered by the event loop, so that a stop is
// handled like any other event of the process. The handler itself only writes to a pipe. One
// watcher per process at a time; the signals go back to their default action when it is gone.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(std::initializer_list<int> watched, QObject* parent = nullptr);
    ~SignalWatcher() override;

    static QString name(int signo);

    // Readable while a signal waits to be delivered, so that a blocking wait can watch it too.
    int descriptor() const;
    // Emits received() for every signal that has arrived and not been delivered yet. The event
    // loop calls it by itself; code that blocks calls it when its wait was woken.
    void deliverPending();

signals:
    void received(int signo);

private:
    QList<int> m_watched;
    QSocketNotifier* m_notifier = nullptr;
};
