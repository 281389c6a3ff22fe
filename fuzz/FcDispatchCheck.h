#pragma once

#include <QByteArray>
#include <QString>

// Hands every record of the input to a file-check link as a frame body, after the link has asked
// for a scan as the runner's does, with the runner's progress log and a receiver on every signal
// attached.
class FcDispatchCheck
{
public:
    // Empty when no body that fails to parse reached a receiver and the scan ended at most
    // once, with its outcome recorded; otherwise what went wrong.
    QString run(const QByteArray& input);
};
