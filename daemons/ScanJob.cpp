#include "ScanJob.h"

#include "TestSignature.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// Without a per-file delay, enough work per tick to be quick and still let other clients in.
constexpr int kFilesPerTick = 64;
constexpr int kDirectoriesPerTick = 16;
constexpr char kTestVirusName[] = "EICAR-Test-File";

quint64 now()
{
    return quint64(QDateTime::currentSecsSinceEpoch());
}

// Threat ids are the daemon's, across all its tasks.
quint32 nextThreatId()
{
    static quint32 lastId = 0;
    return ++lastId;
}

std::string bytesOf(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

void addError(fc::ScanInfo* info, const QString& path, nv::ScanError error)
{
    nv::ScanReport* report = info->add_error();
    report->set_object(bytesOf(path));
    report->set_error(error);
}

void fillStat(const struct stat& status, nv::FileStat* stat)
{
    stat->set_dev(status.st_dev);
    stat->set_ino(status.st_ino);
    stat->set_size(quint64(status.st_size));
    stat->set_uid(status.st_uid);
    stat->set_gid(status.st_gid);
    stat->set_mode(status.st_mode);
    stat->set_mtime(quint64(status.st_mtime));
    stat->set_ctime(quint64(status.st_ctime));
}
} // namespace

ScanJob::ScanJob(quint32 taskId, const fc::ScanRequest& request, const fc::ScanDetails& details,
                 int fileDelayMs, QObject* parent)
    : QObject(parent), m_taskId(taskId), m_request(request), m_details(details),
      m_filesPerTick(fileDelayMs > 0 ? 1 : kFilesPerTick)
{
    for (const std::string& path : request.excluded_path()) {
        m_excluded << QDir::cleanPath(QFile::decodeName(QByteArray::fromStdString(path)));
    }
    m_timer.setInterval(fileDelayMs);
    connect(&m_timer, &QTimer::timeout, this, &ScanJob::step);
}

void ScanJob::start()
{
    fc::ScanInfo info = newInfo(fc::SCAN_STATE_RUNNING);
    *info.mutable_details() = m_details;
    for (const std::string& path : m_request.included_path()) {
        addRoot(QFile::decodeName(QByteArray::fromStdString(path)), &info);
    }
    *info.mutable_progress() = progress();
    emit scanInfo(info);
    m_timer.start();
}

void ScanJob::interrupt()
{
    if (!m_finished) {
        finish(nv::EC_INTERRUPTED_BY_USER, newInfo(fc::SCAN_STATE_RUNNING));
    }
}

void ScanJob::step()
{
    fc::ScanInfo info = newInfo(fc::SCAN_STATE_RUNNING);
    // The walk runs ahead of the scan, so that files_to_scan soon holds the whole count.
    if (!m_directories.isEmpty()) {
        for (int n = 0; n < kDirectoriesPerTick && !m_directories.isEmpty(); ++n) {
            listDirectory(m_directories.takeFirst(), &info);
        }
    } else {
        for (int n = 0; n < m_filesPerTick && !m_files.isEmpty(); ++n) {
            scanFile(m_files.takeFirst(), &info);
        }
    }
    if (m_directories.isEmpty() && m_files.isEmpty()) {
        finish(nv::EC_OK, info);
        return;
    }
    *info.mutable_progress() = progress();
    emit scanInfo(info);
}

void ScanJob::addRoot(const QString& path, fc::ScanInfo* info)
{
    const QString cleanPath = QDir::cleanPath(path);
    if (isExcluded(cleanPath)) {
        return;
    }
    // A root that the client named is taken even when it is a symbolic link.
    const QFileInfo entry(cleanPath);
    if (entry.isRelative()) {
        addError(info, path, nv::SE_PATH_NOT_ABSOLUTE);
    } else if (!entry.exists()) {
        addError(info, path, nv::SE_FILE_NOT_FOUND);
    } else if (!entry.isDir() && !entry.isFile()) {
        addError(info, path, nv::SE_FILE_NOT_REGULAR);
    } else {
        enqueue(entry);
    }
}

void ScanJob::listDirectory(const QString& path, fc::ScanInfo* info)
{
    const QDir directory(path);
    if (!directory.isReadable()) {
        addError(info, path, nv::SE_NO_ACCESS);
        return;
    }
    // Without System, fifos, sockets and devices stay out: reading them could block the daemon.
    QDir::Filters filters = QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot;
    if (!m_request.follow_symlinks()) {
        filters |= QDir::NoSymLinks;
    }
    for (const QFileInfo& entry : directory.entryInfoList(filters, QDir::Name)) {
        if (!isExcluded(entry.filePath())) {
            enqueue(entry);
        }
    }
}

void ScanJob::enqueue(const QFileInfo& entry)
{
    const QString canonicalPath = entry.canonicalFilePath();
    if (canonicalPath.isEmpty() || m_visited.contains(canonicalPath)) {
        return;
    }
    m_visited.insert(canonicalPath);
    if (entry.isDir()) {
        m_directories << entry.filePath();
    } else {
        m_files << entry.filePath();
        ++m_filesFound;
    }
}

void ScanJob::scanFile(const QString& path, fc::ScanInfo* info)
{
    static const QByteArray signature = testSignature();
    m_scanningNow = path;
    ++m_filesScanned;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        addError(info, path, file.exists() ? nv::SE_NO_ACCESS : nv::SE_FILE_NOT_FOUND);
        return;
    }
    struct stat status = {};
    const QByteArray head = file.read(signature.size());
    if (file.error() != QFileDevice::NoError || ::fstat(file.handle(), &status) != 0) {
        addError(info, path, nv::SE_READ_ERROR);
        return;
    }
    nv::ScanReport report;
    report.set_object(bytesOf(path));
    report.set_size(quint64(status.st_size));
    if (head != signature) {
        *info->add_clean() = report;
        return;
    }
    nv::FileThreat* threat = info->add_threat();
    threat->set_threat_id(nextThreatId());
    threat->set_detection_time(now());
    *threat->mutable_report() = report;
    nv::Virus* virus = threat->mutable_report()->add_virus();
    virus->set_type(nv::SE_KNOWN_VIRUS);
    virus->set_name(kTestVirusName);
    fillStat(status, threat->mutable_stat());
    threat->set_origin(nv::APP_FILE_CHECK);
    threat->set_origin_pid(quint32(::getpid()));
    threat->set_task_id(m_taskId);
    // A stand-in never touches the user's files, whatever the request's actions say: what it
    // finds, it reports.
    nv::FileOperation* reported = threat->add_history();
    reported->set_action(nv::FILE_ACTION_REPORT);
    reported->set_action_time(now());
    reported->set_result(nv::EC_OK);
}

bool ScanJob::isExcluded(const QString& path) const
{
    for (const QString& excluded : m_excluded) {
        const QString directory = excluded.endsWith(QLatin1Char('/')) ? excluded : excluded + '/';
        if (path == excluded || path.startsWith(directory)) {
            return true;
        }
    }
    return false;
}

fc::ScanInfo ScanJob::newInfo(fc::ScanState state) const
{
    fc::ScanInfo info;
    info.set_task_id(m_taskId);
    info.set_state(state);
    return info;
}

fc::ScanProgress ScanJob::progress() const
{
    fc::ScanProgress progress;
    progress.set_traverse_done(m_directories.isEmpty());
    progress.set_files_to_scan(m_filesFound);
    progress.set_files_scanned(m_filesScanned);
    if (!m_scanningNow.isEmpty()) {
        progress.set_scanning_now(bytesOf(m_scanningNow));
    }
    return progress;
}

void ScanJob::finish(nv::ErrorCode status, fc::ScanInfo info)
{
    m_finished = true;
    m_timer.stop();
    info.set_state(fc::SCAN_STATE_FINISHED);
    *info.mutable_progress() = progress();
    fc::ScanResult* result = info.mutable_result();
    result->set_stop_time(now());
    result->set_final_status(status);
    emit scanInfo(info);
}
