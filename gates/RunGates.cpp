#include "RunGates.h"

#include <QDebug>

void RunGates::append(std::unique_ptr<RunGate> gate)
{
    connect(gate.get(), &RunGate::passed, this, &RunGates::startNext);
    connect(gate.get(), &RunGate::closed, this, &RunGates::onClosed);
    m_gates.push_back(std::move(gate));
}

void RunGates::start()
{
    m_next = 0;
    startNext();
}

void RunGates::cancel()
{
    if (m_cancelled) {
        return;
    }
    m_cancelled = true;
    if (m_next > 0 && m_next <= m_gates.size()) {
        m_gates[m_next - 1]->cancel();
    }
}

void RunGates::startNext()
{
    if (m_cancelled) {
        return;
    }
    if (m_next == m_gates.size()) {
        ++m_next;
        emit passed();
        return;
    }
    // A gate may decide from within start(): the next one then starts from within this call.
    m_gates[m_next++]->start();
}

void RunGates::onClosed(const QString& line, RunJournal::Gate kind)
{
    if (m_cancelled) {
        return;
    }
    m_cancelled = true;
    RunJournal::closingLine(kind, line);
    emit closed();
}
