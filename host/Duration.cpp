#include "Duration.h"

#include <QRegularExpression>
#include <algorithm>
#include <array>

namespace {
struct Unit
{
    const char* suffix;
    qint64 ms;
};
// Largest first: the order text() writes them in.
constexpr std::array<Unit, 4> kUnits{
    {{"h", 3600 * 1000}, {"min", 60 * 1000}, {"s", 1000}, {"ms", 1}}};
constexpr qint64 kSecondMs = 1000;
// Enough digits for any duration up to kMaxMs in any unit, few enough that no product overflows.
constexpr int kMaxDigits = 10;

std::optional<qint64> unitMs(const QString& suffix)
{
    for (const Unit& unit : kUnits) {
        if (suffix == QLatin1String(unit.suffix)) {
            return unit.ms;
        }
    }
    return std::nullopt;
}
} // namespace

std::optional<qint64> Duration::parseMs(const QString& text)
{
    static const QRegularExpression part(QStringLiteral("\\G(\\d{1,%1})([a-z]+)").arg(kMaxDigits));
    if (const std::optional<qint64> seconds = parseSecondsMs(text)) {
        return seconds;
    }
    qint64 total = 0;
    qsizetype consumed = 0;
    for (auto it = part.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const std::optional<qint64> unit = unitMs(match.captured(2));
        if (!unit) {
            return std::nullopt;
        }
        // Each part is below 2^55 and the sum stops at kTooLong: no overflow.
        total = std::min(total + match.captured(1).toLongLong() * *unit, kTooLong);
        consumed = match.capturedEnd();
    }
    if (consumed == 0 || consumed != text.size()) {
        return std::nullopt;
    }
    return total;
}

std::optional<qint64> Duration::parseSecondsMs(const QString& text)
{
    static const QRegularExpression plainSeconds(QStringLiteral("^\\d+$"));
    if (!plainSeconds.match(text).hasMatch()) {
        return std::nullopt;
    }
    // Leading zeros add nothing; more digits than any wait has are too long, however many.
    qsizetype first = 0;
    while (first + 1 < text.size() && text.at(first) == QLatin1Char('0')) {
        ++first;
    }
    const QStringView digits = QStringView(text).mid(first);
    if (digits.size() > kMaxDigits) {
        return kTooLong;
    }
    return std::min(digits.toLongLong() * kSecondMs, kTooLong);
}

QString Duration::text(qint64 ms)
{
    if (ms == 0) {
        return QStringLiteral("0s");
    }
    QString text;
    for (const Unit& unit : kUnits) {
        if (ms >= unit.ms) {
            text += QString::number(ms / unit.ms) + QLatin1String(unit.suffix);
            ms %= unit.ms;
        }
    }
    return text;
}
