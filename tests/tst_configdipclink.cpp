#include "ConfigdIPCLink.h"
#include "TestSupport.h"

#include "linux_kivar_config.pb.h"
#include "update_config.pb.h"

#include <QCoreApplication>
#include <QTest>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {
using Request = nv::Public2ConfigdMessage;
using Reply = nv::Configd2PublicMessage;

const std::string kHeldToken = "held-token";
const QString kStaleHash = QStringLiteral("stale-hash");
// Bounds the waits that must succeed, so that a broken link fails the test instead of hanging.
constexpr int kAnswerWaitMs = 5000;

// Everything the link hands out (delegate calls and signals) in one timeline, so that a test
// sees both what arrived and in which order.
class RecordingDelegate : public ConfigdIPCLink::delegate
{
public:
    RecordingDelegate(QStringList* events, bool* destroyed)
        : m_events(events), m_destroyed(destroyed)
    {
    }
    ~RecordingDelegate() override
    {
        if (m_destroyed) {
            *m_destroyed = true;
        }
    }
    void onConfigNotification(const nv::AppConfig& config, quint32 revision) override
    {
        record(QStringLiteral("onConfigNotification(%1, %2)").arg(text(config)).arg(revision));
    }
    void onFcheckResponse(const nv::Configd2PublicMessage& message) override
    {
        record(QStringLiteral("onFcheckResponse(%1)").arg(text(message)));
    }
    void onAppInfoNotification(const ConfigdIPCLink::List<nv::AppInfo>& appinfo) override
    {
        record(QStringLiteral("onAppInfoNotification(%1)").arg(appinfo.size()));
    }
    void onStatNotification(const ConfigdIPCLink::List<nv::AppStat>& stat) override
    {
        record(QStringLiteral("onStatNotification(%1)").arg(stat.size()));
    }
    void onKivarStarted() override { record(QStringLiteral("onKivarStarted()")); }
    void onSetConfigError(nv::ErrorCode code) override
    {
        record(QStringLiteral("onSetConfigError(%1)").arg(int(code)));
    }
    void onUpdateNotification(const nv::UpdateInfo& info) override
    {
        record(QStringLiteral("onUpdateNotification(%1)").arg(text(info)));
    }
    void onStartUpdateError(nv::ErrorCode code) override
    {
        record(QStringLiteral("onStartUpdateError(%1)").arg(int(code)));
    }
    void onThreatsNotification(const ConfigdIPCLink::List<nv::FileThreat>& threats) override
    {
        record(QStringLiteral("onThreatsNotification(%1)").arg(threats.size()));
    }
    void onStartGateDError(nv::ErrorCode code) override
    {
        record(QStringLiteral("onStartGateDError(%1)").arg(int(code)));
    }
    void onIncidentsNotification(const ConfigdIPCLink::List<nv::NetIncident>& incidents) override
    {
        record(QStringLiteral("onIncidentsNotification(%1)").arg(incidents.size()));
    }

    static QString text(const google::protobuf::Message& message)
    {
        return QString::fromStdString(message.ShortDebugString());
    }

private:
    void record(const QString& event) { m_events->append(event); }

    QStringList* m_events;
    bool* m_destroyed;
};

// Log lines with their level, so that a debug line and a warning with the same text differ.
QStringList typedLines(const LogCapture& log)
{
    QStringList lines;
    for (const QString& line : log.lines(QtDebugMsg)) {
        lines << QStringLiteral("debug: ") + line;
    }
    for (const QString& line : log.lines(QtWarningMsg)) {
        lines << QStringLiteral("warning: ") + line;
    }
    return lines;
}
QString debugLine(const QString& text)
{
    return QStringLiteral("debug: ") + text;
}
QString warningLine(const QString& text)
{
    return QStringLiteral("warning: ") + text;
}
QString malformedLine(const QByteArray& body)
{
    return warningLine(
        QStringLiteral("ConfigD -> malformed message of %1 bytes dropped").arg(body.size()));
}

Reply reply(Reply::MessageTag tag)
{
    Reply message;
    message.set_tag(tag);
    return message;
}
Reply withError(Reply message, nv::ErrorCode code)
{
    message.mutable_error()->set_code(code);
    return message;
}
QByteArray bodyOf(const Reply& message)
{
    return QByteArray::fromStdString(message.SerializePartialAsString());
}

nv::AppConfig guiCarrier(quint32 scanTimeout)
{
    nv::AppConfig config;
    config.set_app(nv::APP_LINUX_GUI);
    config.MutableExtension(nv::linux_gui_config)->set_scan_timeout(scanTimeout);
    return config;
}
nv::AppConfig staleDefaultConfig()
{
    nv::AppConfig config;
    config.set_app(nv::APP_UPDATE);
    return config;
}

// One request of the link: how to make it, the message it must produce without a token, and
// its token rule.
enum class Rule { Always, IfHeld, Never };
struct RequestCase
{
    const char* name;
    std::function<void(ConfigdIPCLink&)> call;
    std::function<void(Request&)> expect;
    Rule rule;
};

void tagOnly(Request& m, Request::MessageTag tag)
{
    m.set_tag(tag);
}
void withUid(Request& m, Request::MessageTag tag)
{
    m.set_tag(tag);
    m.set_uid(getuid());
}
nv::AppConfig* carrier(Request& m, nv::Application app)
{
    m.set_tag(Request::SET_CONFIG_REQUEST);
    m.mutable_config()->set_app(app);
    return m.mutable_config();
}
void lexmapKeys(Request& m, const QStringList& keys)
{
    m.set_tag(Request::SET_LEXMAP_REQUEST);
    for (const QString& key : keys) {
        m.mutable_lexmap()->add_option()->set_key(key.toStdString());
    }
}

const QList<RequestCase>& requestCases()
{
    using L = ConfigdIPCLink;
    static const QList<RequestCase> cases = {
        {"startKivar", [](L& l) { l.startKivar(); },
         [](Request& m) { tagOnly(m, Request::START_KIVAR_REQUEST); }, Rule::Never},
        {"startGateD", [](L& l) { l.startGateD(); },
         [](Request& m) { tagOnly(m, Request::START_GATED_REQUEST); }, Rule::Never},
        {"startUpdate", [](L& l) { l.startUpdate(); },
         [](Request& m) { tagOnly(m, Request::START_UPDATE_REQUEST); }, Rule::Never},
        {"stopUpdate", [](L& l) { l.stopUpdate(); },
         [](Request& m) { tagOnly(m, Request::STOP_UPDATE_REQUEST); }, Rule::Never},
        {"subscribeToAppInfo", [](L& l) { l.subscribeToAppInfo(); },
         [](Request& m) { tagOnly(m, Request::SUBSCRIBE_TO_APPINFO); }, Rule::Never},
        {"subscribeToStat", [](L& l) { l.subscribeToStat(); },
         [](Request& m) { tagOnly(m, Request::SUBSCRIBE_TO_STAT); }, Rule::Never},
        {"subscribeToUpdate", [](L& l) { l.subscribeToUpdate(); },
         [](Request& m) { tagOnly(m, Request::SUBSCRIBE_TO_UPDATE); }, Rule::Never},
        {"subscribeToIncidents", [](L& l) { l.subscribeToIncidents(); },
         [](Request& m) { tagOnly(m, Request::SUBSCRIBE_TO_INCIDENTS); }, Rule::Never},
        {"subscribeToThreats", [](L& l) { l.subscribeToThreats(); },
         [](Request& m) { withUid(m, Request::SUBSCRIBE_TO_THREATS); }, Rule::Never},
        {"subscribeToConfig", [](L& l) { l.subscribeToConfig(nv::APP_LINUX_KIVAR); },
         [](Request& m) {
             withUid(m, Request::SUBSCRIBE_TO_CONFIG);
             m.set_app(nv::APP_LINUX_KIVAR);
         },
         Rule::Never},
        {"fcPathRequest", [](L& l) { l.fcPathRequest(); },
         [](Request& m) { withUid(m, Request::GET_FCHECK_REQUEST); }, Rule::Never},
        {"request(GetFcheckPath)", [](L& l) { l.request(IPCLink::GetFcheckPath); },
         [](Request& m) { withUid(m, Request::GET_FCHECK_REQUEST); }, Rule::Never},
        {"adminFcPathRequest", [](L& l) { l.adminFcPathRequest(); },
         [](Request& m) {
             tagOnly(m, Request::GET_FCHECK_REQUEST);
             m.set_uid(0);
         },
         Rule::Never},
        {"sePathRequest", [](L& l) { l.sePathRequest(); },
         [](Request& m) { tagOnly(m, Request::GET_SE_REQUEST); }, Rule::Never},
        {"sendMyInfo", [](L& l) { l.sendMyInfo(42); },
         [](Request& m) {
             tagOnly(m, Request::MY_INFO_NOTIFICATION);
             m.set_app(nv::APP_LINUX_GUI);
             m.set_pid(quint32(getpid()));
             m.set_config_revision(42);
             m.mutable_info()->set_exe_path(QCoreApplication::applicationFilePath().toStdString());
             m.mutable_info()->set_uid(getuid());
         },
         Rule::Never},
        {"elevatePrivileges",
         [](L& l) {
             l.elevatePrivileges(QString::fromUtf8("администратор"), QString::fromUtf8("pässwörd"));
         },
         [](Request& m) {
             tagOnly(m, Request::AUTH_REQUEST);
             nv::AuthOptions* auth = m.mutable_auth();
             auth->set_origin(nv::APP_LINUX_GUI);
             auth->set_pid(quint32(getpid()));
             auth->set_user("администратор");
             auth->set_password("pässwörd");
         },
         Rule::Always},
        {"lowerPrivileges", [](L& l) { l.lowerPrivileges(); },
         [](Request& m) { tagOnly(m, Request::REVOKE_TOKEN_REQUEST); }, Rule::Always},
        {"connectToES",
         [](L& l) {
             nv::ESConnection es;
             es.set_server_host("es.example");
             es.set_newbie(true);
             l.connectToES(es);
         },
         [](Request& m) {
             tagOnly(m, Request::CONNECT_TO_ES_REQUEST);
             m.mutable_es_data()->set_server_host("es.example");
             m.mutable_es_data()->set_newbie(true);
         },
         Rule::IfHeld},
        {"disconnectFromES", [](L& l) { l.disconnectFromES(); },
         [](Request& m) { tagOnly(m, Request::DISCONNECT_FROM_ES_REQUEST); }, Rule::Always},
        {"setGuiConfig",
         [](L& l) {
             nv::LinuxGUIConfig record;
             record.set_right_start_scanner(false);
             record.mutable_excluded_path()->add_path("/tmp");
             l.setGuiConfig(record);
         },
         [](Request& m) {
             nv::LinuxGUIConfig* r =
                 carrier(m, nv::APP_LINUX_GUI)->MutableExtension(nv::linux_gui_config);
             r->set_right_start_scanner(false);
             r->mutable_excluded_path()->add_path("/tmp");
         },
         Rule::Always},
        {"setGuiScanOptions", [](L& l) { l.setGuiScanOptions(true, false, 30000); },
         [](Request& m) {
             nv::LinuxGUIConfig* r =
                 carrier(m, nv::APP_LINUX_GUI)->MutableExtension(nv::linux_gui_config);
             r->set_check_emails(true);
             r->set_check_archives(false);
             r->set_scan_timeout(30000);
         },
         Rule::IfHeld},
        {"setGuiAutoApplying", [](L& l) { l.setGuiAutoApplying(false); },
         [](Request& m) {
             carrier(m, nv::APP_LINUX_GUI)
                 ->MutableExtension(nv::linux_gui_config)
                 ->set_auto_applying(false);
         },
         Rule::IfHeld},
        {"setGuiExcludedPaths",
         [](L& l) {
             l.setGuiExcludedPaths({"/b", QString::fromUtf8("/a/ü")});
         },
         [](Request& m) {
             nv::PathList* paths = carrier(m, nv::APP_LINUX_GUI)
                                       ->MutableExtension(nv::linux_gui_config)
                                       ->mutable_excluded_path();
             paths->add_path("/b");
             paths->add_path("/a/ü");
         },
         Rule::IfHeld},
        {"setGuiExcludedPaths(empty)", [](L& l) { l.setGuiExcludedPaths({}); },
         [](Request& m) {
             carrier(m, nv::APP_LINUX_GUI)
                 ->MutableExtension(nv::linux_gui_config)
                 ->mutable_excluded_path();
         },
         Rule::IfHeld},
        {"setGuiAction", [](L& l) { l.setGuiAction(L::Jokes, nv::FILE_ACTION_QUARANTINE); },
         [](Request& m) {
             carrier(m, nv::APP_LINUX_GUI)
                 ->MutableExtension(nv::linux_gui_config)
                 ->set_on_jokes(nv::FILE_ACTION_QUARANTINE);
         },
         Rule::IfHeld},
        {"setGuiAction(kind 9)",
         [](L& l) { l.setGuiAction(L::ThreatKind(9), nv::FILE_ACTION_DELETE); },
         [](Request& m) { carrier(m, nv::APP_LINUX_GUI)->MutableExtension(nv::linux_gui_config); },
         Rule::IfHeld},
        {"setKivarScanLimits", [](L& l) { l.setKivarScanLimits(1, 2, 3); },
         [](Request& m) {
             nv::LinuxKivarConfig* r =
                 carrier(m, nv::APP_LINUX_KIVAR)->MutableExtension(nv::linux_kivar_config);
             r->set_mail_max_level(1);
             r->set_archive_max_level(2);
             r->set_scan_timeout(3);
         },
         Rule::Always},
        {"stopKivar", [](L& l) { l.stopKivar(); },
         [](Request& m) {
             carrier(m, nv::APP_LINUX_KIVAR)
                 ->MutableExtension(nv::linux_kivar_config)
                 ->set_start(false);
         },
         Rule::Always},
        {"setKivarExcludedPaths(empty)", [](L& l) { l.setKivarExcludedPaths({}); },
         [](Request& m) {
             carrier(m, nv::APP_LINUX_KIVAR)
                 ->MutableExtension(nv::linux_kivar_config)
                 ->mutable_excluded_path();
         },
         Rule::Always},
        {"setKivarAction", [](L& l) { l.setKivarAction(L::Hacktools, nv::FILE_ACTION_IGNORE); },
         [](Request& m) {
             carrier(m, nv::APP_LINUX_KIVAR)
                 ->MutableExtension(nv::linux_kivar_config)
                 ->set_on_hacktools(nv::FILE_ACTION_IGNORE);
         },
         Rule::Always},
        {"setKivarAction(kind 0)",
         [](L& l) { l.setKivarAction(L::ThreatKind(0), nv::FILE_ACTION_CURE); },
         [](Request& m) {
             carrier(m, nv::APP_LINUX_KIVAR)->MutableExtension(nv::linux_kivar_config);
         },
         Rule::Always},
        {"setUpdateInterval(-1)", [](L& l) { l.setUpdateInterval(-1); },
         [](Request& m) {
             carrier(m, nv::APP_UPDATE)
                 ->MutableExtension(nv::update_config)
                 ->set_update_interval(18446744073709551615ull);
         },
         Rule::Always},
        {"setUpdateProxy",
         [](L& l) {
             nv::Proxy proxy;
             proxy.set_type(nv::Proxy::PROXY_TYPE_HTTP);
             proxy.set_host("proxy.example");
             proxy.set_port(3128);
             l.setUpdateProxy(proxy);
         },
         [](Request& m) {
             nv::Proxy* proxy =
                 carrier(m, nv::APP_UPDATE)->MutableExtension(nv::update_config)->mutable_proxy();
             proxy->set_type(nv::Proxy::PROXY_TYPE_HTTP);
             proxy->set_host("proxy.example");
             proxy->set_port(3128);
         },
         Rule::Always},
        {"setGateDConfig",
         [](L& l) {
             nv::GateDConfig record;
             record.set_http_block_adult(true);
             l.setGateDConfig(record);
         },
         [](Request& m) {
             carrier(m, nv::APP_GATED)
                 ->MutableExtension(nv::gated_config)
                 ->set_http_block_adult(true);
         },
         Rule::Always},
        {"disableGateDOutputDivert", [](L& l) { l.disableGateDOutputDivert(); },
         [](Request& m) {
             carrier(m, nv::APP_GATED)
                 ->MutableExtension(nv::gated_config)
                 ->mutable_output_divert()
                 ->set_type(nv::OutputDivert::OFF);
         },
         Rule::Always},
        {"restoreUpdateDefaults", [](L& l) { l.restoreUpdateDefaults(); },
         [](Request& m) { lexmapKeys(m, {"Update"}); }, Rule::Always},
        {"restoreGateDDefaults", [](L& l) { l.restoreGateDDefaults(); },
         [](Request& m) { lexmapKeys(m, {"GateD"}); }, Rule::Always},
        {"restoreKivarDefaults", [](L& l) { l.restoreKivarDefaults(); },
         [](Request& m) { lexmapKeys(m, {"LinuxKivar"}); }, Rule::Always},
        {"restoreGuiDefaults", [](L& l) { l.restoreGuiDefaults(); },
         [](Request& m) { lexmapKeys(m, {"LinuxGUI"}); }, Rule::Always},
        {"restoreAllDefaults", [](L& l) { l.restoreAllDefaults(); },
         [](Request& m) {
             lexmapKeys(m, {"LinuxGUI", "LinuxKivar", "Update"});
         },
         Rule::Always},
    };
    return cases;
}

// A reply row: the frame body, the link's state before it, and what must follow from it. The
// members start stale so that a row shows whether the reply changed them.
struct ReplyRow
{
    ReplyRow(QByteArray body, QStringList events, QStringList logs)
        : body(std::move(body)), events(std::move(events)), logs(std::move(logs))
    {
    }

    QByteArray body;
    QStringList events;
    QStringList logs;
    bool held = false;
    std::optional<std::string> token; // unset: the token must be what it was
    QString hash = kStaleHash;
    nv::AppConfig defaultConfig = staleDefaultConfig();
};

void addReplyRow(const char* name, const ReplyRow& row)
{
    const std::string token = row.token.value_or(row.held ? kHeldToken : std::string());
    QTest::newRow(name) << row.body << row.held << row.events << row.logs
                        << QByteArray::fromStdString(token) << row.hash
                        << QByteArray::fromStdString(row.defaultConfig.SerializePartialAsString());
}
} // namespace

class TestConfigdIPCLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requestCarriesFieldsAndToken_data();
    void requestCarriesFieldsAndToken();
    void requestOfOtherKindsSendsNothing();
    void waitedRequestAgainstSilentPeerFails_data();
    void waitedRequestAgainstSilentPeerFails();
    void waitedRequestDeliversReplyBeforeReturning_data();
    void waitedRequestDeliversReplyBeforeReturning();
    void partialReplyIsDeliveredLater();

    void replyIsDispatched_data();
    void replyIsDispatched();
    void framesReadAtOnceAreHandledInOrder();
    void malformedFrameBetweenGoodOnesIsDroppedAlone();
    void replyWithoutDelegateIsDroppedWithWarning();
    void socketErrorEndsRootConnection_data();
    void socketErrorEndsRootConnection();
    void delegateIsOwnedByLink();

private:
    void feed(const QList<QByteArray>& bodies);
    void holdToken();

    std::unique_ptr<SocketPair> m_pair;
    std::unique_ptr<ConfigdIPCLink> m_link;
    QStringList m_events;
};

void TestConfigdIPCLink::init()
{
    m_events.clear();
    m_pair = std::make_unique<SocketPair>();
    m_link = std::make_unique<ConfigdIPCLink>(m_pair->client(), nullptr);
    m_link->setDelegate(new RecordingDelegate(&m_events, nullptr));
    connect(m_link.get(), &ConfigdIPCLink::connectedToES, this,
            [this] { m_events << QStringLiteral("connectedToES()"); });
    connect(m_link.get(), &ConfigdIPCLink::esConnectionError, this, [this](const nv::Error& error) {
        m_events << QStringLiteral("esConnectionError(%1)").arg(RecordingDelegate::text(error));
    });
    connect(m_link.get(), &ConfigdIPCLink::rootConnectionStatusChanged, this, [this](bool on) {
        m_events << QStringLiteral("rootConnectionStatusChanged(%1)").arg(on ? "true" : "false");
    });
    connect(m_link.get(), &ConfigdIPCLink::authError, this,
            [this] { m_events << QStringLiteral("authError()"); });
}

void TestConfigdIPCLink::cleanup()
{
    m_link.reset();
    m_pair.reset();
}

// Buffers the frames on the client in one go, then lets the link read them in one call.
void TestConfigdIPCLink::feed(const QList<QByteArray>& bodies)
{
    QByteArray bytes;
    for (const QByteArray& body : bodies) {
        bytes += frameOf(body);
    }
    m_pair->peerWrite(bytes);
    m_link->dataReceived();
}

void TestConfigdIPCLink::holdToken()
{
    Reply auth = reply(Reply::AUTH_RESPONSE);
    auth.set_token(kHeldToken);
    {
        const LogCapture quiet;
        feed({bodyOf(auth)});
    }
    QVERIFY(m_link->isRootConnection());
    m_events.clear();
}

void TestConfigdIPCLink::requestCarriesFieldsAndToken_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("held");
    for (int i = 0; i < requestCases().size(); ++i) {
        QTest::addRow("%s", requestCases().at(i).name) << i << false;
        QTest::addRow("%s, token held", requestCases().at(i).name) << i << true;
    }
}

void TestConfigdIPCLink::requestCarriesFieldsAndToken()
{
    QFETCH(int, index);
    QFETCH(bool, held);
    const RequestCase& request = requestCases().at(index);
    if (held) {
        holdToken();
    }

    request.call(*m_link);

    Request expected;
    request.expect(expected);
    if (request.rule == Rule::Always || (request.rule == Rule::IfHeld && held)) {
        expected.set_token(held ? kHeldToken : std::string());
    }
    const QList<Request> received = readMessages<Request>(m_pair->peer(), 1);
    QCOMPARE(received.size(), 1);
    QCOMPARE(RecordingDelegate::text(received.first()), RecordingDelegate::text(expected));
    // The text form cannot tell a present empty token from an absent one.
    QCOMPARE(received.first().has_token(), expected.has_token());
}

void TestConfigdIPCLink::requestOfOtherKindsSendsNothing()
{
    m_link->request(IPCLink::StartScan);
    m_link->request(IPCLink::SubscribeToScanInfo);
    m_link->sePathRequest();

    const QList<Request> received = readMessages<Request>(m_pair->peer(), 2, 200);
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().tag(), Request::GET_SE_REQUEST);
}

namespace {
enum WaitedRequest { SubscribeToGuiConfig, GetFcPath, GetSystemHash };

bool callWaited(ConfigdIPCLink& link, int which)
{
    switch (which) {
    case SubscribeToGuiConfig:
        return link.subscribeToGuiConfig();
    case GetFcPath:
        return link.getFcPath();
    default:
        return !link.getSystemHash().isNull();
    }
}
} // namespace

void TestConfigdIPCLink::waitedRequestAgainstSilentPeerFails_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("tag");
    QTest::newRow("subscribeToGuiConfig")
        << int(SubscribeToGuiConfig) << int(Request::SUBSCRIBE_TO_CONFIG);
    QTest::newRow("getFcPath") << int(GetFcPath) << int(Request::GET_FCHECK_REQUEST);
    QTest::newRow("getSystemHash") << int(GetSystemHash) << int(Request::GET_SYSTEM_HASH_REQUEST);
}

void TestConfigdIPCLink::waitedRequestAgainstSilentPeerFails()
{
    QFETCH(int, which);
    QFETCH(int, tag);
    holdToken();
    m_link->setWaitMs(50);
    // An earlier answer must not pass for the answer to this request.
    m_link->systemHash = kStaleHash;

    QVERIFY(!callWaited(*m_link, which));

    // The socket reports the time-out as an error, but the connection and its token live on.
    QVERIFY(m_events.isEmpty());
    QCOMPARE(m_link->token(), kHeldToken);
    const QList<Request> received = readMessages<Request>(m_pair->peer(), 1);
    QCOMPARE(received.size(), 1);
    QCOMPARE(int(received.first().tag()), tag);
}

void TestConfigdIPCLink::waitedRequestDeliversReplyBeforeReturning_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("events");

    Reply config = reply(Reply::CONFIG_NOTIFICATION);
    *config.mutable_config() = guiCarrier(30);
    config.set_config_revision(9);
    QTest::newRow("subscribeToGuiConfig")
        << int(SubscribeToGuiConfig) << bodyOf(config)
        << QStringList{"onConfigNotification([nv.linux_gui_config] { "
                       "scan_timeout: 30 } app: APP_LINUX_GUI, 9)"};
    Reply path = reply(Reply::GET_FCHECK_RESPONSE);
    path.set_socket_path("/run/fc");
    QTest::newRow("getFcPath")
        << int(GetFcPath) << bodyOf(path)
        << QStringList{"onFcheckResponse(tag: GET_FCHECK_RESPONSE socket_path: \"/run/fc\")"};
    Reply hash = reply(Reply::GET_SYSTEM_HASH_RESPONSE);
    hash.set_system_hash("cafe");
    QTest::newRow("getSystemHash") << int(GetSystemHash) << bodyOf(hash) << QStringList();
}

void TestConfigdIPCLink::waitedRequestDeliversReplyBeforeReturning()
{
    QFETCH(int, which);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, events);
    const LogCapture log;
    m_link->setWaitMs(kAnswerWaitMs);
    // The call blocks, so the answer is on its way before the request is.
    m_pair->peer()->write(frameOf(answer));
    m_pair->peer()->flush();

    QVERIFY(callWaited(*m_link, which));

    QCOMPARE(m_events, events);
    if (which == GetSystemHash) {
        QCOMPARE(m_link->systemHash, QStringLiteral("cafe"));
    }
}

void TestConfigdIPCLink::partialReplyIsDeliveredLater()
{
    Reply path = reply(Reply::GET_FCHECK_RESPONSE);
    path.set_socket_path("/run/fc");
    const QByteArray frame = frameOf(bodyOf(path));
    m_pair->peer()->write(frame.left(6));
    m_pair->peer()->flush();
    m_link->setWaitMs(50);

    // The first bytes of a reply answer nothing: the wait runs out on them.
    QVERIFY(!m_link->getFcPath());
    QVERIFY(m_events.isEmpty());

    m_pair->peerWrite(frame.mid(6));
    m_link->dataReceived();
    QCOMPARE(m_events, QStringList{"onFcheckResponse(tag: GET_FCHECK_RESPONSE socket_path: "
                                   "\"/run/fc\")"});
}

void TestConfigdIPCLink::replyIsDispatched_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("held");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QString>("hash");
    QTest::addColumn<QByteArray>("defaultConfig");

    Reply fcheck = reply(Reply::GET_FCHECK_RESPONSE);
    fcheck.set_socket_path("/run/fc");
    addReplyRow("GET_FCHECK_RESPONSE",
                {bodyOf(fcheck),
                 {"onFcheckResponse(tag: GET_FCHECK_RESPONSE socket_path: \"/run/fc\")"},
                 {}});
    addReplyRow("GET_FCHECK_RESPONSE with error",
                {bodyOf(withError(reply(Reply::GET_FCHECK_RESPONSE), nv::EC_NO_FILE_CHECK)),
                 {"onFcheckResponse(tag: GET_FCHECK_RESPONSE error { code: EC_NO_FILE_CHECK })"},
                 {}});

    Reply defaults = reply(Reply::GET_DEFAULT_CONFIG_RESPONSE);
    *defaults.mutable_config() = guiCarrier(5);
    ReplyRow defaultsRow{
        bodyOf(defaults), {}, {debugLine("\"ConfigD -> GET_DEFAULT_CONFIG_RESPONSE\"")}};
    defaultsRow.defaultConfig = guiCarrier(5);
    addReplyRow("GET_DEFAULT_CONFIG_RESPONSE", defaultsRow);
    defaultsRow.body = bodyOf(reply(Reply::GET_DEFAULT_CONFIG_RESPONSE));
    defaultsRow.defaultConfig = nv::AppConfig();
    addReplyRow("GET_DEFAULT_CONFIG_RESPONSE without config", defaultsRow);

    Reply config = reply(Reply::CONFIG_NOTIFICATION);
    *config.mutable_config() = guiCarrier(30);
    config.set_config_revision(7);
    addReplyRow("CONFIG_NOTIFICATION", {bodyOf(config),
                                        {"onConfigNotification([nv.linux_gui_config] { "
                                         "scan_timeout: 30 } app: APP_LINUX_GUI, 7)"},
                                        {}});
    config.clear_config_revision();
    addReplyRow("CONFIG_NOTIFICATION without revision",
                {bodyOf(config),
                 {"onConfigNotification([nv.linux_gui_config] { "
                  "scan_timeout: 30 } app: APP_LINUX_GUI, 0)"},
                 {}});
    addReplyRow("CONFIG_NOTIFICATION without config",
                {bodyOf(reply(Reply::CONFIG_NOTIFICATION)), {"onConfigNotification(, 0)"}, {}});

    addReplyRow("SET_CONFIG_RESPONSE with error",
                {bodyOf(withError(reply(Reply::SET_CONFIG_RESPONSE), nv::EC_PERMISSION_DENIED)),
                 {"onSetConfigError(24)"},
                 {debugLine("set config response received"),
                  debugLine("\"tag: SET_CONFIG_RESPONSE\\nerror {\\n  code: "
                            "EC_PERMISSION_DENIED\\n}\\n\"")}});
    addReplyRow("SET_CONFIG_RESPONSE", {bodyOf(reply(Reply::SET_CONFIG_RESPONSE)),
                                        {},
                                        {debugLine("set config response received"),
                                         debugLine("\"tag: SET_CONFIG_RESPONSE\\n\"")}});

    addReplyRow("START_KIVAR_RESPONSE ignores its error",
                {bodyOf(withError(reply(Reply::START_KIVAR_RESPONSE), nv::EC_NOT_INSTALLED)),
                 {"onKivarStarted()"},
                 {}});
    Reply gated = withError(reply(Reply::START_GATED_RESPONSE), nv::EC_NOT_INSTALLED);
    gated.mutable_error()->set_what("kein Modul für GateD");
    addReplyRow("START_GATED_RESPONSE with error",
                {bodyOf(gated),
                 {"onStartGateDError(10)"},
                 {debugLine("\"tag: START_GATED_RESPONSE\\nerror {\\n  code: EC_NOT_INSTALLED\\n  "
                            "what: \\\"kein Modul für GateD\\\"\\n}\\n\"")}});
    addReplyRow("SET_LEXMAP_RESPONSE with error",
                {bodyOf(withError(reply(Reply::SET_LEXMAP_RESPONSE), nv::EC_UNKNOWN_SECTION)),
                 {},
                 {debugLine("\"tag: SET_LEXMAP_RESPONSE\\nerror {\\n  code: "
                            "EC_UNKNOWN_SECTION\\n}\\n\""),
                  warningLine("Default config wasn't restored, ec =67")}});

    Reply appinfo = reply(Reply::APPINFO_NOTIFICATION);
    for (int i = 0; i < 2; ++i) {
        nv::AppInfo* info = appinfo.add_appinfo();
        info->set_app(nv::APP_FILE_CHECK);
        info->set_pid(quint32(100 + i));
    }
    addReplyRow("APPINFO_NOTIFICATION", {bodyOf(appinfo), {"onAppInfoNotification(2)"}, {}});
    Reply stat = reply(Reply::STAT_NOTIFICATION);
    stat.add_stat()->set_app(nv::APP_UPDATE);
    stat.mutable_stat(0)->set_pid(7);
    addReplyRow("STAT_NOTIFICATION", {bodyOf(stat), {"onStatNotification(1)"}, {}});
    addReplyRow("THREATS_NOTIFICATION without threats",
                {bodyOf(reply(Reply::THREATS_NOTIFICATION)), {"onThreatsNotification(0)"}, {}});
    addReplyRow("INCIDENTS_NOTIFICATION without incidents",
                {bodyOf(reply(Reply::INCIDENTS_NOTIFICATION)), {"onIncidentsNotification(0)"}, {}});
    addReplyRow("UPDATE_NOTIFICATION without update_info",
                {bodyOf(reply(Reply::UPDATE_NOTIFICATION)), {"onUpdateNotification()"}, {}});
    addReplyRow("START_UPDATE_RESPONSE with error",
                {bodyOf(withError(reply(Reply::START_UPDATE_RESPONSE), nv::EC_ALREADY_IN_PROGRESS)),
                 {"onStartUpdateError(2)"},
                 {}});
    Reply started = reply(Reply::START_UPDATE_RESPONSE);
    started.set_attempt_id(3);
    addReplyRow("START_UPDATE_RESPONSE", {bodyOf(started), {}, {}});

    const QString esLine = debugLine("\"ConfigD -> CONNECT_TO_ES_RESPONSE\"");
    addReplyRow("CONNECT_TO_ES_RESPONSE",
                {bodyOf(reply(Reply::CONNECT_TO_ES_RESPONSE)), {"connectedToES()"}, {esLine}});
    Reply esError = withError(reply(Reply::CONNECT_TO_ES_RESPONSE), nv::EC_BAD_ES_CREDENTIALS);
    esError.mutable_error()->set_what("denied");
    addReplyRow("CONNECT_TO_ES_RESPONSE with error",
                {bodyOf(esError),
                 {"esConnectionError(code: EC_BAD_ES_CREDENTIALS what: \"denied\")"},
                 {esLine}});

    Reply hash = reply(Reply::GET_SYSTEM_HASH_RESPONSE);
    hash.set_system_hash("0123abcd");
    const QString hashLine = debugLine("\"ConfigD -> GET_SYSTEM_HASH_RESPONSE\"");
    ReplyRow hashRow{bodyOf(hash), {}, {hashLine}};
    hashRow.hash = QStringLiteral("0123abcd");
    addReplyRow("GET_SYSTEM_HASH_RESPONSE", hashRow);
    hashRow.body = bodyOf(reply(Reply::GET_SYSTEM_HASH_RESPONSE));
    hashRow.hash = QStringLiteral(""); // empty, not null: an answer came
    addReplyRow("GET_SYSTEM_HASH_RESPONSE without hash", hashRow);

    const QString authLine = debugLine("\"ConfigD -> AUTH_RESPONSE\"");
    const QString authErrorLine = debugLine("\"ConfigD -> AUTH_RESPONSE : error - 24\"");
    Reply auth = reply(Reply::AUTH_RESPONSE);
    auth.set_token("new-token");
    ReplyRow authRow{bodyOf(auth), {"rootConnectionStatusChanged(true)"}, {authLine}};
    authRow.token = "new-token";
    addReplyRow("AUTH_RESPONSE with token", authRow);
    authRow.held = true;
    addReplyRow("AUTH_RESPONSE with token replaces the held one", authRow);
    authRow.held = false;
    authRow.body = bodyOf(withError(auth, nv::EC_PERMISSION_DENIED));
    addReplyRow("AUTH_RESPONSE with token and error", authRow);
    addReplyRow("AUTH_RESPONSE with error",
                {bodyOf(withError(reply(Reply::AUTH_RESPONSE), nv::EC_PERMISSION_DENIED)),
                 {"authError()"},
                 {authErrorLine}});
    addReplyRow("AUTH_RESPONSE with neither",
                {bodyOf(reply(Reply::AUTH_RESPONSE)), {}, {authLine}});
    Reply emptyToken = withError(reply(Reply::AUTH_RESPONSE), nv::EC_PERMISSION_DENIED);
    emptyToken.set_token("");
    ReplyRow emptyTokenRow{bodyOf(emptyToken), {"authError()"}, {authErrorLine}};
    emptyTokenRow.held = true;
    addReplyRow("AUTH_RESPONSE with empty token grants nothing", emptyTokenRow);

    ReplyRow revokeRow{bodyOf(reply(Reply::REVOKE_TOKEN_RESPONSE)),
                       {"rootConnectionStatusChanged(false)"},
                       {debugLine("\"ConfigD -> REVOKE_TOKEN_RESPONSE\"")}};
    revokeRow.held = true;
    revokeRow.token = "";
    addReplyRow("REVOKE_TOKEN_RESPONSE", revokeRow);
    ReplyRow refusedRow{
        bodyOf(withError(reply(Reply::REVOKE_TOKEN_RESPONSE), nv::EC_INVALID_TOKEN)),
        {},
        {debugLine("\"ConfigD -> REVOKE_TOKEN_RESPONSE : error - 49\"")}};
    refusedRow.held = true;
    addReplyRow("REVOKE_TOKEN_RESPONSE with error", refusedRow);

    addReplyRow("GET_SE_RESPONSE is unknown", {bodyOf(reply(Reply::GET_SE_RESPONSE)),
                                               {},
                                               {warningLine("ConfigD - unknown message:  1")}});
    addReplyRow("DISCONNECT_FROM_ES_RESPONSE is unknown",
                {bodyOf(reply(Reply::DISCONNECT_FROM_ES_RESPONSE)),
                 {},
                 {warningLine("ConfigD - unknown message:  81")}});
    addReplyRow("STOP_UPDATE_RESPONSE is unknown",
                {bodyOf(reply(Reply::STOP_UPDATE_RESPONSE)),
                 {},
                 {warningLine("ConfigD - unknown message:  112")}});

    // Nothing of a frame that does not decode may reach anyone, whatever it resembles; a held
    // token shows that the link's state is left alone too.
    Reply untagged;
    untagged.set_socket_path("/run/fc");
    QByteArray unknownTag = bodyOf(reply(Reply::GET_FCHECK_RESPONSE));
    unknownTag[1] = char(99); // not an answer tag
    Reply revokeWithoutCode = reply(Reply::REVOKE_TOKEN_RESPONSE);
    revokeWithoutCode.mutable_error()->set_what("no code");
    Reply configWithoutApp = reply(Reply::GET_DEFAULT_CONFIG_RESPONSE);
    configWithoutApp.mutable_config()->MutableExtension(nv::linux_gui_config);
    const QList<std::pair<const char*, QByteArray>> malformed = {
        {"garbage", QByteArray("\xff\xff\xff", 3)},
        {"without tag", bodyOf(untagged)},
        {"error without code", bodyOf(revokeWithoutCode)},
        {"config without app", bodyOf(configWithoutApp)},
    };
    for (const auto& [name, body] : malformed) {
        ReplyRow row{body, {}, {malformedLine(body)}};
        row.held = true;
        addReplyRow(name, row);
    }
    // A newer daemon's kind of message is one this build does not handle, not a broken frame.
    ReplyRow newerTagRow{unknownTag, {}, {warningLine("ConfigD - unknown message:  99")}};
    newerTagRow.held = true;
    addReplyRow("tag outside the answers", newerTagRow);
}

void TestConfigdIPCLink::replyIsDispatched()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, held);
    QFETCH(QStringList, events);
    QFETCH(QStringList, logs);
    QFETCH(QByteArray, token);
    QFETCH(QString, hash);
    QFETCH(QByteArray, defaultConfig);
    if (held) {
        holdToken();
    }
    m_link->systemHash = kStaleHash;
    m_link->defaultConfig = staleDefaultConfig();
    const LogCapture log;

    feed({body});

    QCOMPARE(m_events, events);
    QCOMPARE(typedLines(log), logs);
    QCOMPARE(QByteArray::fromStdString(m_link->token()), token);
    QCOMPARE(m_link->isRootConnection(), !token.isEmpty());
    QCOMPARE(m_link->systemHash, hash);
    QCOMPARE(m_link->systemHash.isNull(), hash.isNull());
    QCOMPARE(QByteArray::fromStdString(m_link->defaultConfig.SerializePartialAsString()),
             defaultConfig);
}

void TestConfigdIPCLink::framesReadAtOnceAreHandledInOrder()
{
    Reply path = reply(Reply::GET_FCHECK_RESPONSE);
    path.set_socket_path("/run/fc");
    Reply auth = reply(Reply::AUTH_RESPONSE);
    auth.set_token("t");
    const LogCapture log;

    feed({bodyOf(path), bodyOf(auth), bodyOf(reply(Reply::START_KIVAR_RESPONSE))});

    QCOMPARE(m_events,
             (QStringList{"onFcheckResponse(tag: GET_FCHECK_RESPONSE socket_path: \"/run/fc\")",
                          "rootConnectionStatusChanged(true)", "onKivarStarted()"}));
}

void TestConfigdIPCLink::malformedFrameBetweenGoodOnesIsDroppedAlone()
{
    const LogCapture log;

    feed({bodyOf(reply(Reply::START_KIVAR_RESPONSE)), QByteArray("\x08", 1),
          bodyOf(reply(Reply::CONNECT_TO_ES_RESPONSE))});

    QCOMPARE(m_events, (QStringList{"onKivarStarted()", "connectedToES()"}));
    QCOMPARE(typedLines(log),
             (QStringList{debugLine("\"ConfigD -> CONNECT_TO_ES_RESPONSE\""),
                          warningLine("ConfigD -> malformed message of 1 bytes dropped")}));
}

void TestConfigdIPCLink::replyWithoutDelegateIsDroppedWithWarning()
{
    ConfigdIPCLink bare(m_pair->client(), nullptr);
    Reply hash = reply(Reply::GET_SYSTEM_HASH_RESPONSE);
    hash.set_system_hash("h");
    const LogCapture log;
    m_pair->peerWrite(frameOf(bodyOf(reply(Reply::CONFIG_NOTIFICATION))) + frameOf(bodyOf(hash)));

    bare.dataReceived();

    QCOMPARE(log.lines(QtWarningMsg),
             QStringList{"ConfigD -> CONFIG_NOTIFICATION dropped: no delegate set"});
    QCOMPARE(bare.systemHash, QStringLiteral("h"));
}

void TestConfigdIPCLink::socketErrorEndsRootConnection_data()
{
    QTest::addColumn<bool>("held");
    QTest::newRow("token held") << true;
    QTest::newRow("no token") << false;
}

void TestConfigdIPCLink::socketErrorEndsRootConnection()
{
    QFETCH(bool, held);
    if (held) {
        holdToken();
    }

    m_pair->peer()->abort();
    QTRY_VERIFY(!m_events.isEmpty());

    QCOMPARE(m_events, QStringList{"rootConnectionStatusChanged(false)"});
    QVERIFY(m_link->token().empty());
}

void TestConfigdIPCLink::delegateIsOwnedByLink()
{
    bool firstGone = false;
    bool secondGone = false;
    m_link->setDelegate(new RecordingDelegate(&m_events, &firstGone));
    auto* second = new RecordingDelegate(&m_events, &secondGone);

    m_link->setDelegate(second);
    QVERIFY(firstGone);
    m_link->setDelegate(second);
    QVERIFY(!secondGone);

    m_link.reset();
    QVERIFY(secondGone);
}

QTEST_GUILESS_MAIN(TestConfigdIPCLink)
#include "tst_configdipclink.moc"
