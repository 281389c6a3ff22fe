#pragma once

#include <QProcess>
#include <QString>

// Runs norvo-upower-standin on a bus as a process of its own, so that the tests meet UPower
// the way the runner does: as another client of the bus.
class UPowerStandIn
{
public:
    enum class Answer { Value, Never };

    UPowerStandIn(const QString& busAddress, bool onBattery, Answer answer = Answer::Value);
    ~UPowerStandIn();
    UPowerStandIn(const UPowerStandIn&) = delete;
    UPowerStandIn& operator=(const UPowerStandIn&) = delete;

    // True once the stand-in owns UPower's name.
    bool isReady() const { return m_ready; }
    QString error() const { return m_error; }

    // Changes OnBattery, with the PropertiesChanged signal UPower sends.
    void setOnBattery(bool onBattery);
    // Signals a change of a property other than OnBattery.
    void changeOtherProperty();

private:
    void command(const QByteArray& line);

    QProcess m_process;
    bool m_ready = false;
    QString m_error;
};
