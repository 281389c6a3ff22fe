#include "PrivateBus.h"

#include <QFile>

namespace {
constexpr int kStartWaitMs = 5000;

// No <servicedir>: a name nobody owns stays unowned instead of starting the machine's services.
QByteArray busConfig(const QString& dir)
{
    return QStringLiteral(
               R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
        .arg(dir)
        .toUtf8();
}
} // namespace

PrivateBus::PrivateBus()
{
    const QString configPath = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly) || config.write(busConfig(m_dir.path())) < 0) {
        m_error = config.errorString();
        return;
    }
    config.close();
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"),
                    QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    if (!m_daemon.waitForStarted(kStartWaitMs)) {
        m_error = m_daemon.errorString();
        return;
    }
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(kStartWaitMs)) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (m_address.isEmpty()) {
        m_error = QString::fromLocal8Bit(m_daemon.readAllStandardError());
    }
}

PrivateBus::~PrivateBus()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished(kStartWaitMs);
    }
}
