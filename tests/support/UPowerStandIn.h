#pragma once

#include "BusServiceProcess.h"

// Runs norvo-upower-standin on a bus as a process of its own, so that the tests meet UPower
// the way the runner does: as another client of the bus.
class UPowerStandIn
{
public:
    enum class Answer { Value, Never };

    UPowerStandIn(const QString& busAddress, bool onBattery, Answer answer = Answer::Value);

    // True once the stand-in owns UPower's name.
    bool isReady() const { return m_process.isReady(); }
    QString error() const { return m_process.error(); }

    // Changes OnBattery, with the PropertiesChanged signal UPower sends.
    void setOnBattery(bool onBattery);
    // Signals a change of a property other than OnBattery.
    void changeOtherProperty();

private:
    BusServiceProcess m_process;
};
