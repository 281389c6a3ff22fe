#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// A stand-in D-Bus service as a process of its own, so that it answers while the test blocks, in
// a QProcess wait or in a blocking D-Bus call. The service prints "ready" once it owns its name
// and may take commands, one a line, on its standard input.
class BusServiceProcess
{
public:
    BusServiceProcess(const QString& program, const QStringList& arguments);
    ~BusServiceProcess();
    BusServiceProcess(const BusServiceProcess&) = delete;
    BusServiceProcess& operator=(const BusServiceProcess&) = delete;

    bool isReady() const { return m_ready; }
    QString error() const { return m_error; }
    void command(const QByteArray& line);

private:
    QProcess m_process;
    bool m_ready = false;
    QString m_error;
};
