#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// Durations as a user writes them on the command line and reads them in the journal: "2h",
// "90min", "45s", "1h30min", or plain seconds.
class Duration
{
public:
    // The longest wait an option takes: a longer one is a typing error, not a wish. (A QTimer
    // holds it too.)
    static constexpr qint64 kMaxMs = 7 * 24 * 3600 * qint64(1000);
    // What parseMs gives for a duration longer than kMaxMs.
    static constexpr qint64 kTooLong = kMaxMs + 1;

    // The duration in milliseconds, kTooLong when it is longer than kMaxMs, or nothing when the
    // text is not one.
    static std::optional<qint64> parseMs(const QString& text);
    // Plain seconds, as --wait-for-daemons takes them, in the same terms.
    static std::optional<qint64> parseSecondsMs(const QString& text);
    // The shortest text parseMs reads back, with "ms" for the rest below a second.
    static QString text(qint64 ms);
};
