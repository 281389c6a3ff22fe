#pragma once

#include "RunGate.h"

#include <memory>
#include <vector>

// The gates of a run, asked one after the other in the order they were added: the first that
// closes ends the run with its line, and passed() follows only when every gate has passed.
class RunGates : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void append(std::unique_ptr<RunGate> gate);

    void start();
    // Ends whichever gate is running; nothing is emitted afterwards.
    void cancel();

signals:
    void passed();
    // After the gate's closing line has been written.
    void closed();

private:
    void startNext();
    void onClosed(const QString& line, RunJournal::Gate kind);

    std::vector<std::unique_ptr<RunGate>> m_gates;
    std::size_t m_next = 0;
    bool m_cancelled = false;
};
