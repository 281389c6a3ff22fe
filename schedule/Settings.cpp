#include "Settings.h"

#include "EscapedName.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QSize>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTime>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The enumerator name of ScanTask::ExpressScan; spelled out so the store does not depend on the
// scan task.
const char kDefaultScheduleScanType[] = "ExpressScan";
} // namespace

Settings& Settings::instance()
{
    static Settings settings;
    return settings;
}

QString Settings::userFileName()
{
    // Where QSettings keeps a user's native-format settings on this platform.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QCoreApplication::organizationName() + QLatin1Char('/') +
                  QCoreApplication::applicationName() + QLatin1String(".conf"));
}

QString Settings::fileProblem()
{
    const QString fileName = userFileName();
    const QString named =
        QStringLiteral("the settings file \"%1\" ").arg(escapedName(QFile::encodeName(fileName)));
    const int fd =
        ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? QString()
                               : named + QStringLiteral("cannot be read: %1")
                                             .arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    QByteArray content;
    struct stat status;
    QString problem;
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        problem = QStringLiteral("is a directory");
    } else if (!S_ISREG(status.st_mode)) {
        problem = QStringLiteral("is not a regular file");
    } else if (status.st_size > kMaxFileBytes) {
        problem = QStringLiteral("is larger than %1 bytes").arg(kMaxFileBytes);
    } else {
        content.resize(qsizetype(status.st_size));
        const ssize_t got = ::read(fd, content.data(), size_t(content.size()));
        content.truncate(std::max<ssize_t>(got, 0));
    }
    ::close(fd);
    if (problem.isEmpty()) {
        // A settings file is text: NUL bytes are what a crash leaves of a file not yet written.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(content);
        if (utf8.hasError() || content.contains('\0') ||
            instance().m_settings.status() != QSettings::NoError) {
            problem = QStringLiteral("is not in the settings format");
        }
    }
    return problem.isEmpty() ? QString() : named + problem;
}

Settings::Settings()
    : m_keyEnum(staticMetaObject.enumerator(staticMetaObject.indexOfEnumerator("Key"))),
      m_sectionEnum(staticMetaObject.enumerator(staticMetaObject.indexOfEnumerator("Section")))
{
}

QVariant Settings::value(Key key, Section section) const
{
    return m_settings.value(keyPath(section, key), defaultValue(section, key));
}

void Settings::setValue(const QVariant& value, Key key, Section section)
{
    const QString path = keyPath(section, key);
    qDebug() << "Set local settings : " << path;
    m_settings.setValue(path, value);
}

QString Settings::keyPath(Section section, Key key) const
{
    return QStringLiteral("%1/%2").arg(QLatin1String(m_sectionEnum.valueToKey(section)),
                                       QLatin1String(m_keyEnum.valueToKey(key)));
}

QVariant Settings::defaultValue(Section section, Key key) const
{
    switch (section) {
    case General:
        switch (key) {
        case Sound:
        case PopUp:
        case IsMinSize:
            return true;
        case Size:
            return QSize(400, 350);
        case Pos:
            return QPoint(0, 0);
        default:
            return {};
        }
    case Scan:
        switch (key) {
        // Map-valued keys default to empty text, which reads as an empty map.
        case PersistentPaths:
        case CustomPaths:
        case SchedulePersistentPaths:
        case ScheduleCustomPaths:
            return QString();
        case ExcludedPaths:
            return QStringList{QStringLiteral("/proc")};
        case HasSchedule:
            return false;
        case ScheduleTime:
            return QTime(2, 0);
        case ScheduleDays:
            return QVariantList{7};
        case ScheduleScanType:
            return QString::fromLatin1(kDefaultScheduleScanType);
        case ScheduleWeek:
            return QStringLiteral("1");
        default:
            return {};
        }
    case ES:
        switch (key) {
        case ProxyUsed:
            return false;
        case Host:
        case Name:
        case Password:
        case PublicKeyPath:
            return QString();
        case Port:
            return 2193;
        default:
            return {};
        }
    case Proxy:
        return {};
    }
    return {};
}

void Settings::clearGroup(Section section)
{
    m_settings.beginGroup(QLatin1String(m_sectionEnum.valueToKey(section)));
    m_settings.remove(QString());
    m_settings.endGroup();
}

void Settings::clearGeneral()
{
    clearGroup(General);
}

void Settings::reset()
{
    clearGeneral();
    clearGroup(Scan);
    clearGroup(Proxy);
}

QSettings::Status Settings::sync()
{
    m_settings.sync();
    return m_settings.status();
}

QString Settings::fileName() const
{
    return m_settings.fileName();
}
