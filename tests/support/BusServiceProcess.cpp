#include "BusServiceProcess.h"

namespace {
constexpr int kWaitMs = 5000;
}

BusServiceProcess::BusServiceProcess(const QString& program, const QStringList& arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, arguments);
    while (!m_process.canReadLine() && m_process.waitForReadyRead(kWaitMs)) {
    }
    m_ready = m_process.readLine().trimmed() == "ready";
    if (!m_ready) {
        m_error = m_process.errorString();
    }
}

BusServiceProcess::~BusServiceProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kWaitMs);
    }
}

void BusServiceProcess::command(const QByteArray& line)
{
    m_process.write(line + '\n');
    m_process.waitForBytesWritten(kWaitMs);
}
