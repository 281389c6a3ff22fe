#include "SimCommandLine.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kUsageError = 2;
}

SimCommandLine::SimCommandLine(const QString& name, const QString& description)
    : m_name(name),
      m_socket(QStringLiteral("socket"), QStringLiteral("Listen on the local socket <path>."),
               QStringLiteral("path")),
      m_record(QStringLiteral("record"),
               QStringLiteral("Append every received message in protobuf text format to <file>, "
                              "each followed by a line \"---\"."),
               QStringLiteral("file"))
{
    m_parser.setApplicationDescription(description);
    m_parser.addHelpOption();
    m_parser.addOptions({m_socket, m_record});
}

void SimCommandLine::addOptions(const QList<QCommandLineOption>& options)
{
    m_parser.addOptions(options);
}

void SimCommandLine::process(const QCoreApplication& app)
{
    m_parser.process(app);
    if (!m_parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument %1").arg(m_parser.positionalArguments().first()));
    }
    if (socketPath().isEmpty()) {
        fail(QStringLiteral("--socket <path> is required"));
    }
}

QString SimCommandLine::socketPath() const
{
    return m_parser.value(m_socket);
}

QString SimCommandLine::recordPath() const
{
    return m_parser.value(m_record);
}

bool SimCommandLine::isSet(const QCommandLineOption& option) const
{
    return m_parser.isSet(option);
}

QString SimCommandLine::value(const QCommandLineOption& option) const
{
    return m_parser.value(option);
}

quint32 SimCommandLine::number(const QCommandLineOption& option, quint32 fallback) const
{
    if (!isSet(option)) {
        return fallback;
    }
    bool ok = false;
    const quint32 number = value(option).toUInt(&ok);
    if (!ok) {
        fail(QStringLiteral("--%1 takes an unsigned number, not \"%2\"")
                 .arg(option.names().first(), value(option)));
    }
    return number;
}

std::optional<nv::ErrorCode> SimCommandLine::errorCode(const QCommandLineOption& option) const
{
    if (!isSet(option)) {
        return std::nullopt;
    }
    const QString text = value(option);
    nv::ErrorCode code = nv::EC_OK;
    bool isNumber = false;
    const int number = text.toInt(&isNumber);
    if (isNumber ? nv::ErrorCode_IsValid(number) : nv::ErrorCode_Parse(text.toStdString(), &code)) {
        return isNumber ? nv::ErrorCode(number) : code;
    }
    fail(QStringLiteral("--%1 takes an nv.ErrorCode name or number, not \"%2\"")
             .arg(option.names().first(), text));
}

void SimCommandLine::fail(const QString& message) const
{
    std::fprintf(stderr, "%s: %s (see --help)\n", m_name.toLocal8Bit().constData(),
                 message.toLocal8Bit().constData());
    std::exit(kUsageError);
}
