#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered by the event loop, so that a stop
// is handled like any other event of the run. The handler itself only writes to a pipe.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    static QString name(int signo);

signals:
    void received(int signo);

private:
    void readPending();

    QSocketNotifier* m_notifier;
};
