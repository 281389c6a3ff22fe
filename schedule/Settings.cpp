#include "Settings.h"

#include <QDebug>
#include <QPoint>
#include <QSize>
#include <QTime>

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
