#include "ConfigdDispatchCheck.h"

#include "ConfigdIPCLink.h"
#include "ConfigdResponseHandler.h"
#include "FuzzRecords.h"
#include "LenientParser.h"
#include "ReceiverProbe.h"

namespace {

template <typename T> using List = ConfigdIPCLink::List<T>;

// The runner's delegate, which stores what it is told, with the operations it leaves out probed.
class ProbedHandler : public ConfigdResponseHandler
{
public:
    explicit ProbedHandler(ReceiverProbe& probe) : m_probe(probe) {}

    void onConfigNotification(const nv::AppConfig& config, quint32 revision) override
    {
        m_probe.called(config, revision);
        ConfigdResponseHandler::onConfigNotification(config, revision);
    }
    void onFcheckResponse(const nv::Configd2PublicMessage& message) override
    {
        m_probe.called(message);
        ConfigdResponseHandler::onFcheckResponse(message);
    }
    void onAppInfoNotification(const List<nv::AppInfo>& appinfo) override
    {
        m_probe.called(appinfo);
    }
    void onStatNotification(const List<nv::AppStat>& stat) override { m_probe.called(stat); }
    void onKivarStarted() override { m_probe.called(); }
    void onSetConfigError(nv::ErrorCode code) override { m_probe.called(code); }
    void onUpdateNotification(const nv::UpdateInfo& info) override { m_probe.called(info); }
    void onStartUpdateError(nv::ErrorCode code) override { m_probe.called(code); }
    void onThreatsNotification(const List<nv::FileThreat>& threats) override
    {
        m_probe.called(threats);
    }
    void onStartGateDError(nv::ErrorCode code) override { m_probe.called(code); }
    void onIncidentsNotification(const List<nv::NetIncident>& incidents) override
    {
        m_probe.called(incidents);
    }

private:
    ReceiverProbe& m_probe;
};

void probeSignals(ConfigdIPCLink& link, ReceiverProbe& probe)
{
    const auto path = [&probe](const QString& socketPath) { probe.called(socketPath); };
    QObject::connect(&link, &ConfigdIPCLink::fcSocketPath, path);
    QObject::connect(&link, &ConfigdIPCLink::adminFcPath, path);
    QObject::connect(&link, &ConfigdIPCLink::config,
                     [&probe](quint32 revision, const nv::LinuxGUIConfig& config) {
                         probe.called(revision, config);
                     });
    QObject::connect(&link, &ConfigdIPCLink::connectedToES, [&probe] { probe.called(); });
    QObject::connect(&link, &ConfigdIPCLink::esConnectionError,
                     [&probe](const nv::Error& error) { probe.called(error); });
    QObject::connect(&link, &ConfigdIPCLink::rootConnectionStatusChanged,
                     [&probe](bool on) { probe.called(on); });
    QObject::connect(&link, &ConfigdIPCLink::authError, [&probe] { probe.called(); });
}

} // namespace

QString ConfigdDispatchCheck::run(const QByteArray& input)
{
    // Never connected: dispatch needs no peer, and nothing the link might send can go anywhere.
    QLocalSocket socket;
    ConfigdIPCLink link(&socket, nullptr);
    ReceiverProbe probe;
    link.setDelegate(new ProbedHandler(probe));
    probeSignals(link, probe);

    for (const QByteArray& body : FuzzRecords::split(input)) {
        const int before = probe.calls();
        link.processMessage(body);
        nv::Configd2PublicMessage reply;
        // A newer daemon's enumeration values are used; anything else missing is not.
        const bool parses = LenientParser::parse(reply, body) && reply.has_tag();
        if (!parses && probe.calls() != before) {
            return QStringLiteral("a body that does not parse reached a receiver");
        }
    }
    return QString();
}
