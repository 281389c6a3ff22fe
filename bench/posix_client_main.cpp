// The floor of the runner's start-up exchange: the same requests, built with the same protocol
// classes, over plain blocking sockets and without Qt. Takes the path to scan as its argument
// and the configuration daemon's socket from NRV_PUBLIC_SOCKET, as the runner does.

#include "PosixSocket.h"
#include "configd_public_ipc.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "linux_gui_config.pb.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>
#include <utility>

namespace {

using Request = nv::Public2ConfigdMessage;
using Reply = nv::Configd2PublicMessage;

constexpr uint32_t kNestingLevel = 8;
constexpr uint32_t kProgressIntervalMs = 200;
const char* const kCustomScanComment = "3";

// The configuration's action for each kind of finding, and where the scan request takes it.
using Action = nv::FileAction (nv::LinuxGUIConfig::*)() const;
using SetAction = void (fc::ActionSet::*)(nv::FileAction);
const std::pair<Action, SetAction> kActions[] = {
    {&nv::LinuxGUIConfig::on_known_virus, &fc::ActionSet::set_on_known_virus},
    {&nv::LinuxGUIConfig::on_incurable, &fc::ActionSet::set_on_incurable},
    {&nv::LinuxGUIConfig::on_suspicious, &fc::ActionSet::set_on_suspicious},
    {&nv::LinuxGUIConfig::on_adware, &fc::ActionSet::set_on_adware},
    {&nv::LinuxGUIConfig::on_dialers, &fc::ActionSet::set_on_dialers},
    {&nv::LinuxGUIConfig::on_jokes, &fc::ActionSet::set_on_jokes},
    {&nv::LinuxGUIConfig::on_riskware, &fc::ActionSet::set_on_riskware},
    {&nv::LinuxGUIConfig::on_hacktools, &fc::ActionSet::set_on_hacktools},
};

Request configdRequest(Request::MessageTag tag)
{
    Request request;
    request.set_tag(tag);
    return request;
}

// The daemon answers per user.
Request userRequest(Request::MessageTag tag)
{
    Request request = configdRequest(tag);
    request.set_uid(getuid());
    return request;
}

bool ask(int fd, const Request& request, Reply* reply)
{
    std::string body;
    return PosixSocket::writeAll(fd, PosixSocket::frameOf(request)) &&
           PosixSocket::readFrame(fd, &body) && reply->ParseFromString(body);
}

std::string ownPath()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    return length > 0 ? std::string(path, size_t(length)) : std::string();
}

fc::ClientMessage scanRequest(const nv::LinuxGUIConfig& config, const char* target)
{
    fc::ClientMessage message;
    message.set_tag(fc::ClientMessage::START_SCAN_REQUEST);
    message.set_serial(2);
    fc::ScanRequest* scan = message.mutable_scan_request();
    scan->set_origin(nv::APP_LINUX_GUI);
    scan->set_origin_pid(uint32_t(getpid()));
    scan->set_scan_processes(false);
    scan->set_comment(kCustomScanComment);
    scan->set_scan_timeout_ms(config.scan_timeout());
    scan->set_mail_max_level(config.check_emails() ? kNestingLevel : 0);
    scan->set_archive_max_level(config.check_archives() ? kNestingLevel : 0);
    for (const auto& [action, setAction] : kActions) {
        (scan->mutable_actions()->*setAction)((config.*action)());
    }
    scan->add_included_path(target);
    for (const std::string& path : config.excluded_path().path()) {
        scan->add_excluded_path(path);
    }
    return message;
}

} // namespace

int main(int argc, char* argv[])
{
    const char* configdPath = std::getenv("NRV_PUBLIC_SOCKET");
    if (argc != 2 || !configdPath) {
        return 2;
    }
    const int configd = PosixSocket::connectTo(configdPath);
    Reply config;
    Reply again;
    Reply fcheck;
    Request subscribe = userRequest(Request::SUBSCRIBE_TO_CONFIG);
    subscribe.set_app(nv::APP_LINUX_GUI);
    if (configd < 0 || !ask(configd, subscribe, &config) || !ask(configd, subscribe, &again)) {
        return 1;
    }
    Request myInfo = configdRequest(Request::MY_INFO_NOTIFICATION);
    myInfo.set_app(nv::APP_LINUX_GUI);
    myInfo.set_pid(uint32_t(getpid()));
    myInfo.set_config_revision(config.config_revision());
    myInfo.mutable_info()->set_exe_path(ownPath());
    myInfo.mutable_info()->set_uid(getuid());
    if (!PosixSocket::writeAll(configd, PosixSocket::frameOf(myInfo)) ||
        !ask(configd, userRequest(Request::GET_FCHECK_REQUEST), &fcheck)) {
        return 1;
    }

    const int filecheck = PosixSocket::connectTo(fcheck.socket_path());
    fc::ClientMessage subscribeInfo;
    subscribeInfo.set_tag(fc::ClientMessage::SUBSCRIBE_TO_SCAN_INFO);
    subscribeInfo.set_serial(1);
    fc::ScanInfoOptions* options = subscribeInfo.mutable_info_options();
    options->set_report_clean(false);
    options->set_report_threats(true);
    options->set_report_errors(true);
    options->set_progress_interval_ms(kProgressIntervalMs);
    const nv::LinuxGUIConfig& gui = config.config().GetExtension(nv::linux_gui_config);
    const bool sent =
        filecheck >= 0 && PosixSocket::writeAll(filecheck, PosixSocket::frameOf(subscribeInfo)) &&
        PosixSocket::writeAll(filecheck, PosixSocket::frameOf(scanRequest(gui, argv[1])));
    return sent ? 0 : 1;
}
