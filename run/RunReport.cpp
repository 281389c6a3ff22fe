#include "RunReport.h"

#include "EscapedName.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {
const std::array<std::pair<RunReport::Outcome, const char*>, 6> kOutcomeNames{{
    {RunReport::Outcome::Finished, "finished"},
    {RunReport::Outcome::Refused, "refused"},
    {RunReport::Outcome::Forbidden, "forbidden"},
    {RunReport::Outcome::NotStarted, "not-started"},
    {RunReport::Outcome::ConnectionLost, "connection-lost"},
    {RunReport::Outcome::Stopped, "stopped"},
}};
} // namespace

void RunReport::Threat::setFile(const QByteArray& bytes)
{
    fileCut = bytes.size() > kMaxNameBytes;
    file = bytes.left(kMaxNameBytes);
}

void RunReport::Threat::addName(const QString& name)
{
    if (names.size() < kMaxNames) {
        names << name.left(kMaxNameChars);
    } else {
        ++namesOmitted;
    }
}

QString RunReport::Threat::fileText() const
{
    const QString text = escapedName(file);
    return fileCut ? QStringLiteral("%1... (name cut at %2 bytes)")
                         .arg(text, QString::number(kMaxNameBytes))
                   : text;
}

QString RunReport::Threat::namesText() const
{
    if (names.isEmpty()) {
        return QStringLiteral("unnamed threat");
    }
    QStringList shown;
    for (const QString& name : names) {
        shown << escapedName(name);
    }
    QString text = shown.join(QStringLiteral(", "));
    if (namesOmitted > 0) {
        text += QStringLiteral(" and %1 more").arg(namesOmitted);
    }
    return text;
}

QString RunReport::Threat::doneText() const
{
    return action.isEmpty() ? QStringLiteral("nothing done yet")
                            : QStringLiteral("%1 (%2)").arg(action, result);
}

QString RunReport::outcomeName(Outcome outcome)
{
    for (const auto& [value, name] : kOutcomeNames) {
        if (value == outcome) {
            return QLatin1String(name);
        }
    }
    Q_UNREACHABLE();
}

std::optional<RunReport::Outcome> RunReport::outcomeFromName(const QString& name)
{
    for (const auto& [value, known] : kOutcomeNames) {
        if (name == QLatin1String(known)) {
            return value;
        }
    }
    return std::nullopt;
}

int RunReport::exitStatus(bool exitStatusRequested) const
{
    // A stop is what the user or the service manager asked for: no failure. (A run that finds
    // another one scanning ends before it has a report, with status 0.)
    if (!exitStatusRequested || outcome == Outcome::Stopped) {
        return kExitClean;
    }
    if (outcome != Outcome::Finished) {
        return kExitIncomplete;
    }
    return threatCount() > 0 ? kExitThreats : kExitClean;
}

quint64 RunReport::threatCount() const
{
    return std::max<quint64>(threatsFound, quint64(threats.size()));
}
