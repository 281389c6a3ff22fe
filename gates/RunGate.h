#pragma once

#include "RunJournal.h"

#include <QObject>
#include <QString>

// One thing that may keep a run from scanning. start() decides, at once or later, by emitting
// exactly one of passed() and closed(); cancel() ends an undecided gate with neither, as a stop
// signal does (the stop then ends the run in its own words).
class RunGate : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void start() = 0;
    virtual void cancel() {}

signals:
    void passed();
    // The run ends here, before anything was contacted or written, with this closing line.
    void closed(const QString& line, RunJournal::Gate kind);
};
