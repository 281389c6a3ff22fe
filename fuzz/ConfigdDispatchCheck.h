#pragma once

#include <QByteArray>
#include <QString>

// Hands every record of the input to a configuration-daemon link as a frame body, with the
// runner's own delegate and a receiver on every signal attached.
class ConfigdDispatchCheck
{
public:
    // Empty when no body that fails to parse reached a receiver; otherwise what went wrong.
    QString run(const QByteArray& input);
};
