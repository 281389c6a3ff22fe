#include "UPowerStandIn.h"

namespace {
QStringList argumentsOf(const QString& busAddress, bool onBattery, UPowerStandIn::Answer answer)
{
    QStringList arguments{QStringLiteral("--address"), busAddress};
    if (onBattery) {
        arguments << QStringLiteral("--on-battery");
    }
    if (answer == UPowerStandIn::Answer::Never) {
        arguments << QStringLiteral("--silent");
    }
    return arguments;
}
} // namespace

UPowerStandIn::UPowerStandIn(const QString& busAddress, bool onBattery, Answer answer)
    : m_process(QStringLiteral(NORVO_UPOWER_STANDIN), argumentsOf(busAddress, onBattery, answer))
{
}

void UPowerStandIn::setOnBattery(bool onBattery)
{
    m_process.command(onBattery ? "battery" : "ac");
}

void UPowerStandIn::changeOtherProperty()
{
    m_process.command("other");
}
