#pragma once

#include "error.pb.h"

#include <QCommandLineParser>
#include <optional>

class QCoreApplication;

// The command line both stand-in daemons share: --help, --socket and --record, plus each
// daemon's own options. A bad value ends the process with a message and status 2, as any usage
// error does.
class SimCommandLine
{
public:
    SimCommandLine(const QString& name, const QString& description);

    void addOptions(const QList<QCommandLineOption>& options);
    // Handles --help and usage errors; returns only for a usable command line.
    void process(const QCoreApplication& app);

    QString socketPath() const;
    QString recordPath() const;

    bool isSet(const QCommandLineOption& option) const;
    QString value(const QCommandLineOption& option) const;
    // An unsigned decimal number; `fallback` when the option is not given.
    quint32 number(const QCommandLineOption& option, quint32 fallback) const;
    // An error code given by name (EC_NOT_READY) or by number (9); none when not given.
    std::optional<nv::ErrorCode> errorCode(const QCommandLineOption& option) const;

    [[noreturn]] void fail(const QString& message) const;

private:
    QString m_name;
    QCommandLineParser m_parser;
    QCommandLineOption m_socket;
    QCommandLineOption m_record;
};
