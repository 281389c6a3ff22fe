#include "ConfigdIPCLink.h"

#include "LenientParser.h"
#include "linux_kivar_config.pb.h"
#include "update_config.pb.h"

#include <QCoreApplication>
#include <QDebug>
#include <unistd.h>

namespace {
// Section names of the textual configuration, which key the sections of a text map.
constexpr const char* kUpdateSection = "Update";
constexpr const char* kGateDSection = "GateD";
constexpr const char* kKivarSection = "LinuxKivar";
constexpr const char* kGuiSection = "LinuxGUI";

using Request = nv::Public2ConfigdMessage;
using Reply = nv::Configd2PublicMessage;

// Stands in while no delegate is set, so that a reply is dropped instead of dereferencing null.
class NoDelegate final : public ConfigdIPCLink::delegate
{
};

Request makeRequest(Request::MessageTag tag)
{
    Request message;
    message.set_tag(tag);
    return message;
}

// The daemon answers per user, so the identity is taken afresh for every request.
Request userRequest(Request::MessageTag tag)
{
    Request message = makeRequest(tag);
    message.set_uid(getuid());
    return message;
}

// A change request for one component; the caller fills the component's extension.
Request setConfigRequest(nv::Application app)
{
    Request message = makeRequest(Request::SET_CONFIG_REQUEST);
    message.mutable_config()->set_app(app);
    return message;
}

// The component's record inside a change request; asking for it makes it present.
template <typename Extension> auto* recordOf(Request& message, const Extension& extension)
{
    return message.mutable_config()->MutableExtension(extension);
}

void fillPaths(nv::PathList* list, const QStringList& paths)
{
    list->Clear();
    for (const QString& path : paths) {
        list->add_path(path.toStdString());
    }
}

template <typename Record>
void setAction(Record* record, ConfigdIPCLink::ThreatKind kind, nv::FileAction action)
{
    switch (kind) {
    case ConfigdIPCLink::KnownVirus:
        record->set_on_known_virus(action);
        break;
    case ConfigdIPCLink::Incurable:
        record->set_on_incurable(action);
        break;
    case ConfigdIPCLink::Suspicious:
        record->set_on_suspicious(action);
        break;
    case ConfigdIPCLink::Adware:
        record->set_on_adware(action);
        break;
    case ConfigdIPCLink::Dialers:
        record->set_on_dialers(action);
        break;
    case ConfigdIPCLink::Jokes:
        record->set_on_jokes(action);
        break;
    case ConfigdIPCLink::Riskware:
        record->set_on_riskware(action);
        break;
    case ConfigdIPCLink::Hacktools:
        record->set_on_hacktools(action);
        break;
    }
}

QString tagLabel(const Reply& message)
{
    return QString::fromStdString(Reply::MessageTag_Name(message.tag()));
}

QString errorSuffix(const nv::Error& error)
{
    return QStringLiteral(" : error - %1").arg(int(error.code()));
}

void logArrival(const QString& label)
{
    qDebug() << QStringLiteral("ConfigD -> %1").arg(label);
}

QString textForm(const Reply& message)
{
    return QString::fromStdString(message.Utf8DebugString());
}
} // namespace

ConfigdIPCLink::delegate::~delegate() = default;

ConfigdIPCLink::ConfigdIPCLink(QLocalSocket* socket, QObject* parent) : IPCLink(socket, parent) {}

ConfigdIPCLink::~ConfigdIPCLink() = default;

void ConfigdIPCLink::setDelegate(delegate* receiver)
{
    if (receiver != m_delegate.get()) {
        m_delegate.reset(receiver);
    }
}

void ConfigdIPCLink::request(int kind)
{
    if (kind == GetFcheckPath) {
        fcPathRequest();
    }
}

void ConfigdIPCLink::onError(QLocalSocket::LocalSocketError socketError)
{
    // A wait that ran out reports a time-out error, yet the connection, and with it the token,
    // is still good.
    if (socketError == QLocalSocket::SocketTimeoutError) {
        return;
    }
    m_token.clear();
    emit rootConnectionStatusChanged(false);
}

void ConfigdIPCLink::attachToken(Request& message, TokenRule rule) const
{
    if (rule == TokenRule::Always || (rule == TokenRule::IfHeld && isRootConnection())) {
        message.set_token(m_token);
    }
}

void ConfigdIPCLink::sendWithToken(Request message, TokenRule rule)
{
    attachToken(message, rule);
    send(message);
}

void ConfigdIPCLink::startKivar()
{
    sendWithToken(makeRequest(Request::START_KIVAR_REQUEST), TokenRule::Never);
}

void ConfigdIPCLink::startGateD()
{
    sendWithToken(makeRequest(Request::START_GATED_REQUEST), TokenRule::Never);
}

void ConfigdIPCLink::startUpdate()
{
    sendWithToken(makeRequest(Request::START_UPDATE_REQUEST), TokenRule::Never);
}

void ConfigdIPCLink::stopUpdate()
{
    sendWithToken(makeRequest(Request::STOP_UPDATE_REQUEST), TokenRule::Never);
}

void ConfigdIPCLink::subscribeToAppInfo()
{
    sendWithToken(makeRequest(Request::SUBSCRIBE_TO_APPINFO), TokenRule::Never);
}

void ConfigdIPCLink::subscribeToStat()
{
    sendWithToken(makeRequest(Request::SUBSCRIBE_TO_STAT), TokenRule::Never);
}

void ConfigdIPCLink::subscribeToUpdate()
{
    sendWithToken(makeRequest(Request::SUBSCRIBE_TO_UPDATE), TokenRule::Never);
}

void ConfigdIPCLink::subscribeToIncidents()
{
    sendWithToken(makeRequest(Request::SUBSCRIBE_TO_INCIDENTS), TokenRule::Never);
}

void ConfigdIPCLink::subscribeToThreats()
{
    sendWithToken(userRequest(Request::SUBSCRIBE_TO_THREATS), TokenRule::Never);
}

void ConfigdIPCLink::subscribeToConfig(const nv::Application& app)
{
    Request message = userRequest(Request::SUBSCRIBE_TO_CONFIG);
    message.set_app(app);
    sendWithToken(message, TokenRule::Never);
}

bool ConfigdIPCLink::subscribeToGuiConfig()
{
    Request message = userRequest(Request::SUBSCRIBE_TO_CONFIG);
    message.set_app(nv::APP_LINUX_GUI);
    return sendAndWait(message);
}

void ConfigdIPCLink::fcPathRequest()
{
    sendWithToken(userRequest(Request::GET_FCHECK_REQUEST), TokenRule::Never);
}

bool ConfigdIPCLink::getFcPath()
{
    // The daemon may push a configuration just before its answer: that is no answer.
    const quint64 answers = m_fcheckAnswers;
    return sendAndWait(userRequest(Request::GET_FCHECK_REQUEST),
                       [this, answers] { return m_fcheckAnswers != answers; });
}

void ConfigdIPCLink::adminFcPathRequest()
{
    Request message = makeRequest(Request::GET_FCHECK_REQUEST);
    message.set_uid(0); // the superuser's file-check daemon
    sendWithToken(message, TokenRule::Never);
}

void ConfigdIPCLink::sePathRequest()
{
    sendWithToken(makeRequest(Request::GET_SE_REQUEST), TokenRule::Never);
}

QString ConfigdIPCLink::getSystemHash()
{
    systemHash = QString();
    sendAndWait(makeRequest(Request::GET_SYSTEM_HASH_REQUEST));
    return systemHash;
}

void ConfigdIPCLink::sendMyInfo(quint32 configRevision)
{
    Request message = makeRequest(Request::MY_INFO_NOTIFICATION);
    message.set_app(nv::APP_LINUX_GUI);
    message.set_pid(quint32(getpid()));
    message.set_config_revision(configRevision);
    nv::GenericAppInfo* info = message.mutable_info();
    info->set_exe_path(QCoreApplication::applicationFilePath().toStdString());
    info->set_uid(getuid());
    sendWithToken(message, TokenRule::Never);
}

void ConfigdIPCLink::elevatePrivileges(const QString& login, const QString& password)
{
    Request message = makeRequest(Request::AUTH_REQUEST);
    nv::AuthOptions* auth = message.mutable_auth();
    auth->set_origin(nv::APP_LINUX_GUI);
    auth->set_pid(quint32(getpid()));
    auth->set_user(login.toStdString());
    auth->set_password(password.toStdString());
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::lowerPrivileges()
{
    sendWithToken(makeRequest(Request::REVOKE_TOKEN_REQUEST), TokenRule::Always);
}

void ConfigdIPCLink::connectToES(const nv::ESConnection& esData)
{
    Request message = makeRequest(Request::CONNECT_TO_ES_REQUEST);
    *message.mutable_es_data() = esData;
    sendWithToken(message, TokenRule::IfHeld);
}

void ConfigdIPCLink::disconnectFromES()
{
    sendWithToken(makeRequest(Request::DISCONNECT_FROM_ES_REQUEST), TokenRule::Always);
}

void ConfigdIPCLink::setGuiConfig(const nv::LinuxGUIConfig& record)
{
    Request message = setConfigRequest(nv::APP_LINUX_GUI);
    *recordOf(message, nv::linux_gui_config) = record;
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::setGuiScanOptions(bool checkEmails, bool checkArchives, quint32 scanTimeout)
{
    Request message = setConfigRequest(nv::APP_LINUX_GUI);
    nv::LinuxGUIConfig* record = recordOf(message, nv::linux_gui_config);
    record->set_check_emails(checkEmails);
    record->set_check_archives(checkArchives);
    record->set_scan_timeout(scanTimeout);
    sendWithToken(message, TokenRule::IfHeld);
}

void ConfigdIPCLink::setGuiAutoApplying(bool autoApplying)
{
    Request message = setConfigRequest(nv::APP_LINUX_GUI);
    recordOf(message, nv::linux_gui_config)->set_auto_applying(autoApplying);
    sendWithToken(message, TokenRule::IfHeld);
}

void ConfigdIPCLink::setGuiExcludedPaths(const QStringList& paths)
{
    Request message = setConfigRequest(nv::APP_LINUX_GUI);
    fillPaths(recordOf(message, nv::linux_gui_config)->mutable_excluded_path(), paths);
    sendWithToken(message, TokenRule::IfHeld);
}

void ConfigdIPCLink::setGuiAction(const ThreatKind& kind, const nv::FileAction& action)
{
    Request message = setConfigRequest(nv::APP_LINUX_GUI);
    setAction(recordOf(message, nv::linux_gui_config), kind, action);
    sendWithToken(message, TokenRule::IfHeld);
}

void ConfigdIPCLink::setKivarScanLimits(quint32 mailMaxLevel, quint32 archiveMaxLevel,
                                        quint32 scanTimeout)
{
    Request message = setConfigRequest(nv::APP_LINUX_KIVAR);
    nv::LinuxKivarConfig* record = recordOf(message, nv::linux_kivar_config);
    record->set_mail_max_level(mailMaxLevel);
    record->set_archive_max_level(archiveMaxLevel);
    record->set_scan_timeout(scanTimeout);
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::stopKivar()
{
    Request message = setConfigRequest(nv::APP_LINUX_KIVAR);
    recordOf(message, nv::linux_kivar_config)->set_start(false);
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::setKivarExcludedPaths(const QStringList& paths)
{
    Request message = setConfigRequest(nv::APP_LINUX_KIVAR);
    fillPaths(recordOf(message, nv::linux_kivar_config)->mutable_excluded_path(), paths);
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::setKivarAction(const ThreatKind& kind, const nv::FileAction& action)
{
    Request message = setConfigRequest(nv::APP_LINUX_KIVAR);
    setAction(recordOf(message, nv::linux_kivar_config), kind, action);
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::setUpdateInterval(int interval)
{
    Request message = setConfigRequest(nv::APP_UPDATE);
    // The daemon's field is unsigned 64-bit; the sign is widened into it, so -1 reads as the
    // largest interval.
    recordOf(message, nv::update_config)->set_update_interval(quint64(qint64(interval)));
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::setUpdateProxy(const nv::Proxy& proxy)
{
    Request message = setConfigRequest(nv::APP_UPDATE);
    nv::Proxy* target = recordOf(message, nv::update_config)->mutable_proxy();
    target->set_type(proxy.type());
    if (proxy.has_host()) {
        target->set_host(proxy.host());
    }
    if (proxy.has_port()) {
        target->set_port(proxy.port());
    }
    if (proxy.has_password()) {
        target->set_password(proxy.password());
    }
    if (proxy.has_user()) {
        target->set_user(proxy.user());
    }
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::setGateDConfig(const nv::GateDConfig& record)
{
    Request message = setConfigRequest(nv::APP_GATED);
    *recordOf(message, nv::gated_config) = record;
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::disableGateDOutputDivert()
{
    Request message = setConfigRequest(nv::APP_GATED);
    recordOf(message, nv::gated_config)->mutable_output_divert()->set_type(nv::OutputDivert::OFF);
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::restoreDefaults(std::initializer_list<const char*> sections)
{
    Request message = makeRequest(Request::SET_LEXMAP_REQUEST);
    nv::LexMap* lexmap = message.mutable_lexmap();
    for (const char* section : sections) {
        lexmap->add_option()->set_key(section);
    }
    sendWithToken(message, TokenRule::Always);
}

void ConfigdIPCLink::restoreUpdateDefaults()
{
    restoreDefaults({kUpdateSection});
}

void ConfigdIPCLink::restoreGateDDefaults()
{
    restoreDefaults({kGateDSection});
}

void ConfigdIPCLink::restoreKivarDefaults()
{
    restoreDefaults({kKivarSection});
}

void ConfigdIPCLink::restoreGuiDefaults()
{
    restoreDefaults({kGuiSection});
}

void ConfigdIPCLink::restoreAllDefaults()
{
    restoreDefaults({kGuiSection, kKivarSection, kUpdateSection});
}

void ConfigdIPCLink::processMessage(const QByteArray& body)
{
    Reply message;
    // Parsed partially and checked by hand so that a frame missing a required field costs one
    // line of our own rather than also the runtime's complaint.
    if (!LenientParser::parse(message, body)) {
        qWarning("ConfigD -> malformed message of %lld bytes dropped", qlonglong(body.size()));
        return;
    }
    // A kind of message that came after this build.
    if (!message.has_tag()) {
        qWarning() << "ConfigD - unknown message: "
                   << LenientParser::unknownEnum(message, Reply::kTagFieldNumber).value_or(0);
        return;
    }
    dispatch(message);
}

void ConfigdIPCLink::dispatch(const Reply& message)
{
    switch (message.tag()) {
    case Reply::GET_FCHECK_RESPONSE:
        ++m_fcheckAnswers;
        receiver(message).onFcheckResponse(message);
        break;
    case Reply::GET_DEFAULT_CONFIG_RESPONSE:
        logArrival(tagLabel(message));
        defaultConfig = message.config();
        break;
    case Reply::CONFIG_NOTIFICATION:
        receiver(message).onConfigNotification(message.config(), message.config_revision());
        break;
    case Reply::SET_CONFIG_RESPONSE:
        onSetConfigResponse(message);
        break;
    case Reply::START_KIVAR_RESPONSE:
        receiver(message).onKivarStarted();
        break;
    case Reply::START_GATED_RESPONSE:
        onStartGateDResponse(message);
        break;
    case Reply::SET_LEXMAP_RESPONSE:
        onSetLexmapResponse(message);
        break;
    case Reply::APPINFO_NOTIFICATION:
        receiver(message).onAppInfoNotification(message.appinfo());
        break;
    case Reply::CONNECT_TO_ES_RESPONSE:
        onConnectToESResponse(message);
        break;
    case Reply::THREATS_NOTIFICATION:
        receiver(message).onThreatsNotification(message.threat());
        break;
    case Reply::INCIDENTS_NOTIFICATION:
        receiver(message).onIncidentsNotification(message.incident());
        break;
    case Reply::STAT_NOTIFICATION:
        receiver(message).onStatNotification(message.stat());
        break;
    case Reply::UPDATE_NOTIFICATION:
        receiver(message).onUpdateNotification(message.update_info());
        break;
    case Reply::START_UPDATE_RESPONSE:
        if (message.has_error()) {
            receiver(message).onStartUpdateError(message.error().code());
        }
        break;
    case Reply::GET_SYSTEM_HASH_RESPONSE:
        logArrival(tagLabel(message));
        systemHash = QString::fromStdString(message.system_hash());
        break;
    case Reply::AUTH_RESPONSE:
        onAuthResponse(message);
        break;
    case Reply::REVOKE_TOKEN_RESPONSE:
        onRevokeTokenResponse(message);
        break;
    // Replies to requests this client never makes.
    case Reply::GET_SE_RESPONSE:
    case Reply::GET_NSS_RESPONSE:
    case Reply::GET_NCHECK_RESPONSE:
    case Reply::GET_FIREWALL_RESPONSE:
    case Reply::GET_MAILD_RESPONSE:
    case Reply::_GET_CONFIG_RESPONSE:
    case Reply::GET_LEXMAP_RESPONSE:
    case Reply::GET_DEFAULT_LEXMAP_RESPONSE:
    case Reply::LEXMAP_NOTIFICATION:
    case Reply::GET_INI_SECTION_RESPONSE:
    case Reply::SET_INI_SECTION_RESPONSE:
    case Reply::DISCONNECT_FROM_ES_RESPONSE:
    case Reply::STOP_UPDATE_RESPONSE:
    case Reply::CHECK_TOKEN_RESPONSE:
        qWarning() << "ConfigD - unknown message: " << int(message.tag());
        break;
    }
}

ConfigdIPCLink::delegate& ConfigdIPCLink::receiver(const Reply& message) const
{
    if (m_delegate) {
        return *m_delegate;
    }
    qWarning("ConfigD -> %s dropped: no delegate set",
             Reply::MessageTag_Name(message.tag()).c_str());
    static NoDelegate none;
    return none;
}

void ConfigdIPCLink::onSetConfigResponse(const Reply& message)
{
    qDebug("set config response received");
    qDebug() << QString::fromStdString(message.DebugString());
    if (message.has_error()) {
        receiver(message).onSetConfigError(message.error().code());
    }
}

void ConfigdIPCLink::onStartGateDResponse(const Reply& message)
{
    qDebug() << textForm(message);
    if (message.has_error()) {
        receiver(message).onStartGateDError(message.error().code());
    }
}

void ConfigdIPCLink::onSetLexmapResponse(const Reply& message)
{
    qDebug() << textForm(message);
    if (message.has_error()) {
        qWarning("Default config wasn't restored, ec =%d", int(message.error().code()));
    }
}

void ConfigdIPCLink::onConnectToESResponse(const Reply& message)
{
    logArrival(tagLabel(message));
    if (message.has_error()) {
        emit esConnectionError(message.error());
    } else {
        emit connectedToES();
    }
}

void ConfigdIPCLink::onAuthResponse(const Reply& message)
{
    QString label = tagLabel(message);
    // An empty token grants nothing: storing it would announce a root connection that
    // isRootConnection() denies.
    if (!message.token().empty()) {
        m_token = message.token();
        emit rootConnectionStatusChanged(true);
    } else if (message.has_error()) {
        label += errorSuffix(message.error());
        emit authError();
    }
    logArrival(label);
}

void ConfigdIPCLink::onRevokeTokenResponse(const Reply& message)
{
    QString label = tagLabel(message);
    if (message.has_error()) {
        label += errorSuffix(message.error());
    } else {
        m_token.clear();
        emit rootConnectionStatusChanged(false);
    }
    logArrival(label);
}
