#pragma once

#include <QMetaType>
#include <QSharedPointer>
#include <QStringList>
#include <QtCore/qobjectdefs.h>

// What one scan covers: target paths in sending order, the boot records, the running processes,
// and the kind of scan the task was made for. Immutable once built.
class ScanTask
{
    Q_GADGET

public:
    enum ScanType { ExpressScan, FullScan, CustomScan, ScheduledScan, UnknownScan };
    Q_ENUM(ScanType)

    // The kinds of target that a custom selection names.
    enum ItemType { MBR, System, User, RunningProcesses, Custom };
    Q_ENUM(ItemType)

    explicit ScanTask(ScanType type);
    // The given paths have their symbolic links resolved; the type then completes the targets.
    ScanTask(ScanType type, const QStringList& paths, bool scanMbr, bool scanRunningProcesses);

    ScanType scanType() const { return m_scanType; }
    const QStringList& paths() const { return m_paths; }
    bool scanMbr() const { return m_scanMbr; }
    bool scanRunningProcesses() const { return m_scanRunningProcesses; }

    static QStringList systemPaths();
    static QStringList userPaths();
    static QStringList resolveSymLinks(const QStringList& paths);

    // Null string for a value without enumerator; -1 for an unknown name.
    static QString scanTypeToString(int value);
    static QString itemTypeToString(int value);
    static int scanTypeFromString(const QString& name);
    static int itemTypeFromString(const QString& name);

private:
    void completeByType();
    void applySchedule();
    void addExpressTargets();
    void addFullTargets();

    ScanType m_scanType;
    QStringList m_paths;
    bool m_scanMbr = false;
    bool m_scanRunningProcesses = false;
};

// The file-check link takes tasks through a slot.
Q_DECLARE_METATYPE(QSharedPointer<ScanTask>)
