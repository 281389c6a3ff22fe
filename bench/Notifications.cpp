#include "Notifications.h"

namespace Notifications {

namespace {

// Figures of a plausible scan of a large disk; only their sizes on the wire matter.
constexpr quint64 kFilesToScan = 1250000;
constexpr quint64 kDetectionTime = 1700000000;
constexpr quint64 kFileSize = 68;
constexpr quint64 kDevice = 2049;
constexpr quint32 kOwner = 1000;
constexpr quint32 kMode = 0100644;
constexpr quint32 kDaemonPid = 812;
constexpr quint32 kScanTimeoutMs = 30000;
constexpr int kFilesPerDirectory = 1000;
const char* const kVirusName = "EICAR-Test-File (not a virus)";

fc::ServerMessage notification(quint32 taskId, fc::ScanState state)
{
    fc::ServerMessage message;
    message.set_tag(fc::ServerMessage::SCAN_INFO_NOTIFICATION);
    fc::ScanInfo* info = message.add_info();
    info->set_task_id(taskId);
    info->set_state(state);
    return message;
}

} // namespace

std::string scanningNow(int n)
{
    return "/srv/data/dir-" + std::to_string(n / kFilesPerDirectory) + "/file-" +
           std::to_string(n) + ".dat";
}

fc::ServerMessage progress(quint32 taskId, quint64 scanned, const std::string& path)
{
    fc::ServerMessage message = notification(taskId, fc::SCAN_STATE_RUNNING);
    fc::ScanProgress* figures = message.mutable_info(0)->mutable_progress();
    figures->set_traverse_done(true);
    figures->set_files_to_scan(kFilesToScan);
    figures->set_files_scanned(scanned);
    figures->set_scanning_now(path);
    return message;
}

nv::FileThreat* addThreat(fc::ScanInfo* info, quint32 threatId, const std::string& path)
{
    nv::FileThreat* threat = info->add_threat();
    threat->set_threat_id(threatId);
    threat->set_detection_time(kDetectionTime + threatId);
    nv::ScanReport* report = threat->mutable_report();
    report->set_object(path);
    report->set_size(kFileSize);
    report->set_scan_timeout_ms(kScanTimeoutMs);
    nv::Virus* virus = report->add_virus();
    virus->set_type(nv::SE_KNOWN_VIRUS);
    virus->set_name(kVirusName);
    nv::FileStat* stat = threat->mutable_stat();
    stat->set_dev(kDevice);
    stat->set_ino(quint64(threatId) + 1);
    stat->set_size(kFileSize);
    stat->set_uid(kOwner);
    stat->set_gid(kOwner);
    stat->set_mode(kMode);
    stat->set_mtime(kDetectionTime);
    stat->set_ctime(kDetectionTime);
    threat->set_origin(nv::APP_FILE_CHECK);
    threat->set_origin_pid(kDaemonPid);
    threat->set_task_id(info->task_id());
    return threat;
}

void addReported(nv::FileThreat* threat)
{
    nv::FileOperation* operation = threat->add_history();
    operation->set_action(nv::FILE_ACTION_REPORT);
    operation->set_action_time(threat->detection_time());
    operation->set_result(nv::EC_OK);
}

fc::ServerMessage finished(quint32 taskId, quint64 scanned)
{
    fc::ServerMessage message = notification(taskId, fc::SCAN_STATE_FINISHED);
    fc::ScanInfo* info = message.mutable_info(0);
    fc::ScanProgress* figures = info->mutable_progress();
    figures->set_traverse_done(true);
    figures->set_files_to_scan(scanned);
    figures->set_files_scanned(scanned);
    info->mutable_result()->set_stop_time(kDetectionTime);
    info->mutable_result()->set_final_status(nv::EC_OK);
    return message;
}

fc::ServerMessage scanStarted(quint32 taskId)
{
    fc::ServerMessage message;
    message.set_tag(fc::ServerMessage::START_SCAN_RESPONSE);
    message.set_task_id(taskId);
    return message;
}

} // namespace Notifications
