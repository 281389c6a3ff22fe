#pragma once

#include <QString>
#include <QtGlobal>
#include <limits>
#include <optional>

// Durations as a user writes them on the command line and reads them in the journal: "2h",
// "90min", "45s", "1h30min", or plain seconds.
class Duration
{
public:
    // A QTimer holds no more than this; a longer wait is a typing error, not a wish.
    static constexpr qint64 kMaxMs = std::numeric_limits<int>::max();

    // The duration in milliseconds, or nothing when the text is not one (or longer than kMaxMs).
    static std::optional<qint64> parseMs(const QString& text);
    // The shortest text parseMs reads back, with "ms" for the rest below a second.
    static QString text(qint64 ms);
};
