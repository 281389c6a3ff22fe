#include "Duration.h"

#include <QRegularExpression>
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
// Enough digits for any duration up to kMaxMs, few enough that no sum overflows.
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
    static const QRegularExpression plainSeconds(QStringLiteral("^\\d{1,%1}$").arg(kMaxDigits));
    static const QRegularExpression part(QStringLiteral("\\G(\\d{1,%1})([a-z]+)").arg(kMaxDigits));
    if (plainSeconds.match(text).hasMatch()) {
        const qint64 ms = text.toLongLong() * kSecondMs;
        return ms <= kMaxMs ? std::optional<qint64>(ms) : std::nullopt;
    }
    qint64 total = 0;
    qsizetype consumed = 0;
    for (auto it = part.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const std::optional<qint64> unit = unitMs(match.captured(2));
        if (!unit) {
            return std::nullopt;
        }
        total += match.captured(1).toLongLong() * *unit;
        if (total > kMaxMs) {
            return std::nullopt;
        }
        consumed = match.capturedEnd();
    }
    if (consumed == 0 || consumed != text.size()) {
        return std::nullopt;
    }
    return total;
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
