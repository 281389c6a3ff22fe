#pragma once

#include <QObject>
#include <initializer_list>

class QSocketNotifier;

// Turns the watched signals into a Qt signal delivered by the event loop, so that a stop is
// handled like any other event of the process. The handler itself only writes to a pipe. One
// watcher per process at a time.
//
// A process that watches its stop signals ends in order, however many of them arrive: the
// signals stay caught until the process exits, also once the watcher is gone, unless release()
// gives them back.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    // May be made before the application, so that no signal of the first moments kills the
    // process; the signals that arrive meanwhile are held until startDelivery().
    explicit SignalWatcher(std::initializer_list<int> watched, QObject* parent = nullptr);
    ~SignalWatcher() override;

    static QString name(int signo);

    // Readable while a signal waits to be delivered, so that a blocking wait can watch it too.
    int descriptor() const;
    // Emits received() for every signal that has arrived and not been delivered yet. The event
    // loop calls it by itself; code that blocks calls it when its wait was woken.
    void deliverPending();
    // Lets the event loop deliver the signals; the constructor does so itself when the
    // application exists already.
    void startDelivery();
    // For a process that turns out to run no scan: the signals get their default action back,
    // and one that arrived meanwhile takes effect now.
    void release();

signals:
    void received(int signo);

private:
    QList<int> m_watched;
    QSocketNotifier* m_notifier = nullptr;
};
