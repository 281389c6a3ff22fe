#include "IncompleteGate.h"

#include "ResultFile.h"

IncompleteGate::IncompleteGate(const QString& resultFile) : m_resultFile(resultFile) {}

void IncompleteGate::start()
{
    const std::optional<ResultFile::Previous> previous = ResultFile(m_resultFile).read();
    using Outcome = RunReport::Outcome;
    if (!previous || !previous->lastCompleted.isValid() ||
        (previous->outcome != Outcome::Finished && previous->outcome != Outcome::Forbidden)) {
        emit passed();
        return;
    }
    emit closed(QStringLiteral("Scheduled scan not needed: the last scan completed at %1")
                    .arg(previous->lastCompleted.toString(Qt::ISODate)),
                RunJournal::Gate::NotNeeded);
}
