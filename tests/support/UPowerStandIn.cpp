#include "UPowerStandIn.h"

namespace {
constexpr int kStartWaitMs = 5000;
}

UPowerStandIn::UPowerStandIn(const QString& busAddress, bool onBattery, Answer answer)
{
    QStringList arguments{QStringLiteral("--address"), busAddress};
    if (onBattery) {
        arguments << QStringLiteral("--on-battery");
    }
    if (answer == Answer::Never) {
        arguments << QStringLiteral("--silent");
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(NORVO_UPOWER_STANDIN), arguments);
    while (!m_process.canReadLine() && m_process.waitForReadyRead(kStartWaitMs)) {
    }
    m_ready = m_process.readLine().trimmed() == "ready";
    if (!m_ready) {
        m_error = m_process.errorString();
    }
}

UPowerStandIn::~UPowerStandIn()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kStartWaitMs);
    }
}

void UPowerStandIn::setOnBattery(bool onBattery)
{
    command(onBattery ? "battery" : "ac");
}

void UPowerStandIn::changeOtherProperty()
{
    command("other");
}

void UPowerStandIn::command(const QByteArray& line)
{
    m_process.write(line + '\n');
    m_process.waitForBytesWritten(kStartWaitMs);
}
