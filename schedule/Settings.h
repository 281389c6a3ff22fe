#pragma once

#include <QMetaEnum>
#include <QSettings>
#include <QVariant>

// The front-end's own preferences, kept in the user's Qt settings file (native format, user
// scope, "norvo"/"norvo-gui"). Every value is addressed by a section and a key whose enumerator
// names form the "Section/Key" path in the file.
class Settings
{
    Q_GADGET

public:
    enum Section { General, Scan, ES, Proxy };
    Q_ENUM(Section)

    enum Key {
        Sound,
        PopUp,
        ProxyUsed,
        Host,
        Port,
        Name,
        Password,
        PublicKeyPath,
        PersistentPaths,
        CustomPaths,
        ExcludedPaths,
        SchedulePersistentPaths,
        ScheduleCustomPaths,
        HasSchedule,
        ScheduleTime,
        ScheduleDays,
        ScheduleScanType,
        ScheduleWeek,
        Size,
        Pos,
        IsMinSize,
        FileDialogHistory,
    };
    Q_ENUM(Key)

    // A settings file larger than this is not the front-end's.
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

    // Built on first use, after the application has set its organisation and application names.
    static Settings& instance();
    // The user's settings file, as instance() will use it.
    static QString userFileName();
    // Why the user's settings file cannot be used, naming it, such as "the settings file
    // \"/home/u/.config/norvo/norvo-gui.conf\" is a directory"; empty when it can, or when
    // there is none and the defaults hold. It is looked at before the store reads it: reading a
    // FIFO would never end.
    static QString fileProblem();

    QVariant value(Key key, Section section) const;
    void setValue(const QVariant& value, Key key, Section section);
    QString keyPath(Section section, Key key) const;
    QVariant defaultValue(Section section, Key key) const;
    void clearGeneral();
    // Clears General, Scan and Proxy; the central-server connection data (ES) survives.
    void reset();
    // Writes what was set and reads what others changed in the file meanwhile.
    QSettings::Status sync();
    QString fileName() const;

    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

private:
    Settings();
    void clearGroup(Section section);

    QMetaEnum m_keyEnum;
    QMetaEnum m_sectionEnum;
    QSettings m_settings;
};
