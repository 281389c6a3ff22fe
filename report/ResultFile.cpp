#include "ResultFile.h"

#include "EscapedName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char kFolder[] = "norvo";
constexpr char kFileName[] = "scheduled-scan.json";
// Where the new content is written before it replaces the file: beside it, so that the rename
// that replaces it stays within one file system.
constexpr char kNewFileName[] = ".scheduled-scan.json.new";
// The file names what was found where: for the user's eyes only.
constexpr mode_t kFolderMode = S_IRWXU;
constexpr mode_t kFileMode = S_IRUSR | S_IWUSR;

QJsonValue timeValue(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonObject threatJson(const RunReport::Threat& threat)
{
    const QString file = QFile::decodeName(threat.file);
    QJsonObject json{{"file", file},
                     {"names", QJsonArray::fromStringList(threat.names)},
                     {"action", threat.action},
                     {"result", threat.result}};
    // Text cannot hold every name a file system can: the bytes themselves, where it does not.
    if (QFile::encodeName(file) != threat.file) {
        json.insert("fileBase64", QString::fromLatin1(threat.file.toBase64()));
    }
    if (threat.fileCut) {
        json.insert("fileCut", true);
    }
    if (threat.namesOmitted > 0) {
        json.insert("namesOmitted", threat.namesOmitted);
    }
    return json;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The path as a log line names it.
QString shown(const QString& path)
{
    return escapedName(QFile::encodeName(path));
}

// A descriptor that is closed on every way out.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    // Closes it now, as a write needs, for the error that close() may report.
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const QByteArray& content)
{
    for (qsizetype done = 0; done < content.size();) {
        const ssize_t written =
            ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return false;
        }
        done += written;
    }
    return true;
}

// A count beyond what a JSON number keeps exactly in a signed 64-bit reader is written as its
// digits all the same: nothing is rounded.
void writeExactCount(QByteArray* json, const char* key, quint64 value)
{
    if (value <= quint64(std::numeric_limits<qint64>::max())) {
        return;
    }
    // Top-level members are the only lines with this indentation: a string cannot hold a newline.
    const QByteArray placeholder = QByteArray("\n    \"") + key + "\": 0";
    const qsizetype at = json->indexOf(placeholder);
    if (at >= 0) {
        json->replace(at, placeholder.size(),
                      QByteArray("\n    \"") + key + "\": " + QByteArray::number(value));
    }
}

qint64 jsonCount(quint64 value)
{
    return value <= quint64(std::numeric_limits<qint64>::max()) ? qint64(value) : 0;
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
    const Descriptor folder(openFolder());
    if (folder.get() < 0) {
        return false;
    }
    const QByteArray name = QFile::encodeName(QFileInfo(m_path).fileName());
    struct stat status;
    if (::fstatat(folder.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(status.st_mode)) {
        qWarning("Cannot write the result file %s: it is a symbolic link, left as it is",
                 qPrintable(shown(m_path)));
        return false;
    }
    const std::optional<QJsonObject> previous = load(true);
    QDateTime lastCompleted = report.ended;
    if (report.outcome != RunReport::Outcome::Finished) {
        lastCompleted =
            previous
                ? QDateTime::fromString(previous->value("lastCompleted").toString(), Qt::ISODate)
                : QDateTime();
    }
    QByteArray content = QJsonDocument(toJson(report, lastCompleted)).toJson();
    writeExactCount(&content, "filesScanned", report.filesScanned);
    writeExactCount(&content, "filesToScan", report.filesToScan);
    const int error = replace(folder.get(), name, content);
    if (error != 0) {
        qWarning("Cannot write the result file %s: %s", qPrintable(shown(m_path)),
                 qPrintable(errnoText(error)));
    }
    return error == 0;
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
    // Whatever sits at the path is opened without waiting for a writer and without following a
    // link, and read only when it is a file of a size that a run writes.
    const Descriptor file(::open(QFile::encodeName(m_path).constData(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const int openError = errno;
    if (file.get() < 0 && openError == ENOENT) {
        return std::nullopt;
    }
    QString problem;
    QJsonObject object;
    struct stat status;
    QByteArray content;
    if (file.get() < 0) {
        problem = openError == ELOOP ? QStringLiteral("a symbolic link") : errnoText(openError);
    } else if (::fstat(file.get(), &status) != 0) {
        problem = errnoText(errno);
    } else if (!S_ISREG(status.st_mode)) {
        problem = QStringLiteral("not a regular file");
    } else if (status.st_size > kMaxFileBytes) {
        problem = QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes);
    } else if (!readAtMost(file.get(), &content)) {
        problem = content.size() > kMaxFileBytes
                      ? QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes)
                      : errnoText(errno);
    } else {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(content, &error);
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
        qWarning("Cannot read the previous result file %s (%s), it is replaced",
                 qPrintable(shown(m_path)), qPrintable(problem));
    }
    return std::nullopt;
}

bool ResultFile::readAtMost(int fd, QByteArray* content)
{
    // One byte more than the bound tells a file that grew past it while it was read.
    char buffer[65536];
    while (content->size() <= kMaxFileBytes) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) {
            return true;
        }
        if (got < 0 && errno != EINTR) {
            return false;
        }
        content->append(buffer, std::max<ssize_t>(got, 0));
    }
    return false;
}

QJsonObject ResultFile::toJson(const RunReport& report, const QDateTime& lastCompleted) const
{
    QJsonArray threats;
    qsizetype threatBytes = 0;
    for (const RunReport::Threat& threat : report.threats.mid(0, RunReport::kMaxThreats)) {
        const QJsonObject json = threatJson(threat);
        threatBytes += QJsonDocument(json).toJson(QJsonDocument::Compact).size();
        if (threatBytes > kMaxThreatBytes) {
            break;
        }
        threats.append(json);
    }
    QJsonValue finalStatus;
    if (report.finalStatusCode) {
        finalStatus =
            QJsonObject{{"code", *report.finalStatusCode}, {"text", report.finalStatusText}};
    }
    // Counts are written as integers: exact, however large.
    return {{"version", kVersion},
            {"started", timeValue(report.started)},
            {"ended", timeValue(report.ended)},
            {"outcome", RunReport::outcomeName(report.outcome)},
            {"reason", report.reason},
            {"taskId", qint64(report.taskId)},
            {"finalStatus", finalStatus},
            {"filesScanned", jsonCount(report.filesScanned)},
            {"filesToScan", jsonCount(report.filesToScan)},
            {"threats", threats},
            {"threatsOmitted", jsonCount(report.threatCount() - quint64(threats.size()))},
            {"exitStatus", report.exitStatus(true)},
            {"lastCompleted", timeValue(lastCompleted)}};
}

int ResultFile::openFolder() const
{
    const QString folder = QFileInfo(m_path).absolutePath();
    const QByteArray encoded = QFile::encodeName(folder);
    struct stat status;
    if (::lstat(encoded.constData(), &status) == 0 && S_ISLNK(status.st_mode)) {
        qWarning("Cannot write the result file %s: its folder %s is a symbolic link, left as it "
                 "is",
                 qPrintable(shown(m_path)), qPrintable(shown(folder)));
        return -1;
    }
    // O_NOFOLLOW: a link put there since the check is not followed, nor chmod-ed.
    const int fd = QDir().mkpath(folder) ? ::open(encoded.constData(),
                                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                                         : -1;
    if (fd < 0 || ::fchmod(fd, kFolderMode) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        qWarning("Cannot write the result file %s: cannot make its folder %s",
                 qPrintable(shown(m_path)), qPrintable(shown(folder)));
        return -1;
    }
    return fd;
}

int ResultFile::replace(int folder, const QByteArray& name, const QByteArray& content)
{
    // A leftover of a run that ended while it wrote.
    ::unlinkat(folder, kNewFileName, 0);
    Descriptor file(::openat(folder, kNewFileName,
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (file.get() < 0) {
        return errno;
    }
    // The whole content is on the disk before it replaces the file: a full disk or a failing
    // one leaves the previous result as it was. The mode is set before any content is written.
    const bool written = ::fchmod(file.get(), kFileMode) == 0 && writeAll(file.get(), content) &&
                         ::fsync(file.get()) == 0 && file.close() &&
                         ::renameat(folder, kNewFileName, folder, name.constData()) == 0;
    const int error = written ? 0 : errno;
    if (!written) {
        ::unlinkat(folder, kNewFileName, 0);
        return error;
    }
    // The rename itself reaches the disk with the folder's entry.
    ::fsync(folder);
    return 0;
}
