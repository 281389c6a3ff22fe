#pragma once

#include "fcheck_client_ipc.pb.h"

#include <QtGlobal>
#include <string>

// The file-check daemon's scan notifications as the benchmarks send them: progress of one task,
// threat reports with every required field, and the entry that ends the task.
namespace Notifications {

// The file that a scan of a large disk is at when it sends its notification number `n`: another
// one each time, as in a real scan.
std::string scanningNow(int n);
// A running task's progress while it scans `path`.
fc::ServerMessage progress(quint32 taskId, quint64 scanned, const std::string& path);
// Adds one threat report found in `path` to the notification's entry.
nv::FileThreat* addThreat(fc::ScanInfo* info, quint32 threatId, const std::string& path);
// Records that the daemon reported the threat and left the file as it was, as its default
// action does.
void addReported(nv::FileThreat* threat);
// The entry that ends the task with success.
fc::ServerMessage finished(quint32 taskId, quint64 scanned);
// The daemon's acceptance of a scan request under `taskId`.
fc::ServerMessage scanStarted(quint32 taskId);

} // namespace Notifications
