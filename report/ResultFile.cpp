#include "ResultFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace {
constexpr char kFolder[] = "norvo";
constexpr char kFileName[] = "scheduled-scan.json";
// The file names what was found where: for the user's eyes only.
constexpr QFileDevice::Permissions kFolderMode =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions kFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QJsonValue timeValue(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonObject threatJson(const RunReport::Threat& threat)
{
    return {{"file", threat.file},
            {"names", QJsonArray::fromStringList(threat.names)},
            {"action", threat.action},
            {"result", threat.result}};
}
} // namespace

QString ResultFile::defaultPath()
{
    // A relative XDG base directory is invalid and ignored, as every XDG reader does.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isRelativePath(base)) {
        base = QDir::homePath() + QLatin1String("/.local/state");
    }
    return QDir(base).filePath(QLatin1String(kFolder) + QLatin1Char('/') +
                               QLatin1String(kFileName));
}

ResultFile::ResultFile(const QString& path) : m_path(path) {}

bool ResultFile::write(const RunReport& report) const
{
    const std::optional<QJsonObject> previous = load(true);
    QDateTime lastCompleted = report.ended;
    if (report.outcome != RunReport::Outcome::Finished) {
        lastCompleted =
            previous
                ? QDateTime::fromString(previous->value("lastCompleted").toString(), Qt::ISODate)
                : QDateTime();
    }
    if (!prepareFolder()) {
        return false;
    }
    QSaveFile file(m_path);
    // The mode is set on the temporary file before any content reaches it.
    const bool written = file.open(QIODevice::WriteOnly) && file.setPermissions(kFileMode) &&
                         file.write(QJsonDocument(toJson(report, lastCompleted)).toJson()) >= 0 &&
                         file.commit();
    if (!written) {
        qWarning("Cannot write the result file %s: %s", qPrintable(m_path),
                 qPrintable(file.errorString()));
    }
    return written;
}

std::optional<ResultFile::Previous> ResultFile::read() const
{
    const std::optional<QJsonObject> object = load(false);
    if (!object) {
        return std::nullopt;
    }
    return Previous{RunReport::outcomeFromName(object->value("outcome").toString()),
                    QDateTime::fromString(object->value("lastCompleted").toString(), Qt::ISODate)};
}

std::optional<QJsonObject> ResultFile::load(bool warn) const
{
    QFile file(m_path);
    if (!file.exists()) {
        return std::nullopt;
    }
    QString problem;
    QJsonObject object;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString();
    } else {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
        if (error.error != QJsonParseError::NoError) {
            problem = error.errorString();
        } else if (!document.isObject()) {
            problem = QStringLiteral("not a JSON object");
        } else {
            object = document.object();
        }
    }
    if (problem.isEmpty()) {
        return object;
    }
    if (warn) {
        qWarning("Cannot read the previous result file %s (%s), it is replaced", qPrintable(m_path),
                 qPrintable(problem));
    }
    return std::nullopt;
}

QJsonObject ResultFile::toJson(const RunReport& report, const QDateTime& lastCompleted) const
{
    QJsonArray threats;
    for (const RunReport::Threat& threat : report.threats.mid(0, RunReport::kMaxThreats)) {
        threats.append(threatJson(threat));
    }
    QJsonValue finalStatus;
    if (report.finalStatusCode) {
        finalStatus =
            QJsonObject{{"code", *report.finalStatusCode}, {"text", report.finalStatusText}};
    }
    // JSON numbers are doubles; counts of files stay far below 2^53.
    return {{"version", kVersion},
            {"started", timeValue(report.started)},
            {"ended", timeValue(report.ended)},
            {"outcome", RunReport::outcomeName(report.outcome)},
            {"reason", report.reason},
            {"taskId", qint64(report.taskId)},
            {"finalStatus", finalStatus},
            {"filesScanned", double(report.filesScanned)},
            {"filesToScan", double(report.filesToScan)},
            {"threats", threats},
            {"threatsOmitted", double(report.threatCount() - quint64(threats.size()))},
            {"exitStatus", report.exitStatus(true)},
            {"lastCompleted", timeValue(lastCompleted)}};
}

bool ResultFile::prepareFolder() const
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder) || !QFile::setPermissions(folder, kFolderMode)) {
        qWarning("Cannot write the result file %s: cannot make its folder %s", qPrintable(m_path),
                 qPrintable(folder));
        return false;
    }
    return true;
}
