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
    // Why a scheduled task cannot be scanned, such as "the schedule in \"...\" selects nothing
    // to scan"; empty when it can. The task then has no targets: a run does not scan what the
    // user did not choose.
    const QString& problem() const { return m_problem; }

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
    void applyCustomSchedule(const QString& named);
    void addExpressTargets();
    void addFullTargets();

    ScanType m_scanType;
    QStringList m_paths;
    bool m_scanMbr = false;
    bool m_scanRunningProcesses = false;
    QString m_problem;
};

// The file-check link takes tasks through a slot.
Q_DECLARE_METATYPE(QSharedPointer<ScanTask>)
