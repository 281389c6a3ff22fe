#include "RunReport.h"

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

QString RunReport::Threat::namesText() const
{
    return names.isEmpty() ? QStringLiteral("unnamed threat") : names.join(QStringLiteral(", "));
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
