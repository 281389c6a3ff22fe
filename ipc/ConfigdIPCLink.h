#pragma once

#include "IPCLink.h"
#include "ProtocolMetaTypes.h"

#include "esconnection.pb.h"
#include "gated_config.pb.h"
#include "proxy.pb.h"

#include <QString>
#include <QStringList>
#include <initializer_list>
#include <memory>
#include <string>

// Client end of the configuration daemon's public protocol: builds its requests and hands its
// replies to the delegate, to the link's own state or to signals. Replies are never matched to
// requests; each one is handled by its tag alone, whenever it arrives.
class ConfigdIPCLink : public IPCLink
{
    Q_OBJECT

public:
    template <typename T> using List = google::protobuf::RepeatedPtrField<T>;

    // Receiver of the replies and notifications that the rest of the program acts on. Arguments
    // refer into the decoded message, which lives only for the call: copy what you keep.
    class delegate
    {
    public:
        virtual ~delegate() = 0;
        virtual void onConfigNotification(const nv::AppConfig& /*config*/, quint32 /*revision*/) {}
        virtual void onFcheckResponse(const nv::Configd2PublicMessage& /*message*/) {}
        virtual void onAppInfoNotification(const List<nv::AppInfo>& /*appinfo*/) {}
        virtual void onStatNotification(const List<nv::AppStat>& /*stat*/) {}
        virtual void onKivarStarted() {}
        virtual void onSetConfigError(nv::ErrorCode /*code*/) {}
        virtual void onUpdateNotification(const nv::UpdateInfo& /*info*/) {}
        virtual void onStartUpdateError(nv::ErrorCode /*code*/) {}
        virtual void onThreatsNotification(const List<nv::FileThreat>& /*threats*/) {}
        virtual void onStartGateDError(nv::ErrorCode /*code*/) {}
        virtual void onIncidentsNotification(const List<nv::NetIncident>& /*incidents*/) {}
    };

    // Selects the per-category action field, which bears the same name in the front-end's and
    // the monitor's records. Any other value selects no field.
    enum ThreatKind : int {
        KnownVirus = 1,
        Incurable,
        Suspicious,
        Adware,
        Dialers,
        Jokes,
        Riskware,
        Hacktools,
    };

    ConfigdIPCLink(QLocalSocket* socket, QObject* parent);
    ~ConfigdIPCLink() override;

    // Takes ownership; an earlier delegate is destroyed.
    void setDelegate(delegate* receiver);
    bool isRootConnection() const { return !m_token.empty(); }
    const std::string& token() const { return m_token; }

    void processMessage(const QByteArray& body) override;
    // Serves GetFcheckPath only; the other kinds belong to the file-check link.
    void request(int kind) override;

    void startUpdate();
    void stopUpdate();
    void subscribeToAppInfo();
    void subscribeToStat();
    void subscribeToUpdate();
    void subscribeToIncidents();
    void subscribeToThreats();
    void subscribeToConfig(const nv::Application& app);
    bool subscribeToGuiConfig();
    void fcPathRequest();
    bool getFcPath();
    void sePathRequest();
    // Null when no answer came within the wait, also after an earlier call had obtained one.
    QString getSystemHash();
    void sendMyInfo(quint32 configRevision);
    void connectToES(const nv::ESConnection& esData);
    void disconnectFromES();

    void setGuiConfig(const nv::LinuxGUIConfig& record);
    void setGuiScanOptions(bool checkEmails, bool checkArchives, quint32 scanTimeout);
    void setGuiAutoApplying(bool autoApplying);
    void setGuiExcludedPaths(const QStringList& paths);
    void setGuiAction(const ThreatKind& kind, const nv::FileAction& action);
    void setKivarScanLimits(quint32 mailMaxLevel, quint32 archiveMaxLevel, quint32 scanTimeout);
    void stopKivar();
    void setKivarExcludedPaths(const QStringList& paths);
    void setKivarAction(const ThreatKind& kind, const nv::FileAction& action);
    void setUpdateInterval(int interval);
    void setUpdateProxy(const nv::Proxy& proxy);
    void setGateDConfig(const nv::GateDConfig& record);
    void disableGateDOutputDivert();

    void restoreUpdateDefaults();
    void restoreGateDDefaults();
    void restoreKivarDefaults();
    void restoreGuiDefaults();
    void restoreAllDefaults();

    // The last values the daemon sent; read by the front-end's callers.
    QString systemHash;
    nv::AppConfig defaultConfig;

signals:
    void fcSocketPath(QString socketPath);
    void adminFcPath(QString socketPath);
    void config(quint32 revision, nv::LinuxGUIConfig config);
    void connectedToES();
    void esConnectionError(nv::Error error);
    void rootConnectionStatusChanged(bool on);
    void authError();

public slots:
    // A socket error other than a time-out ends the root connection: a token is bound to its
    // connection.
    void onError(QLocalSocket::LocalSocketError socketError) override;
    void startKivar();
    void startGateD();
    void adminFcPathRequest();
    void lowerPrivileges();
    void elevatePrivileges(const QString& login, const QString& password);

private:
    using Request = nv::Public2ConfigdMessage;
    using Reply = nv::Configd2PublicMessage;
    enum class TokenRule { Always, IfHeld, Never };

    void sendWithToken(Request message, TokenRule rule);
    void attachToken(Request& message, TokenRule rule) const;
    void restoreDefaults(std::initializer_list<const char*> sections);

    void dispatch(const Reply& message);
    delegate& receiver(const Reply& message) const;
    void onSetConfigResponse(const Reply& message);
    void onStartGateDResponse(const Reply& message);
    void onSetLexmapResponse(const Reply& message);
    void onConnectToESResponse(const Reply& message);
    void onAuthResponse(const Reply& message);
    void onRevokeTokenResponse(const Reply& message);

    std::string m_token;
    std::unique_ptr<delegate> m_delegate;
    // GET_FCHECK_RESPONSE messages handled so far: getFcPath() waits for the next one.
    quint64 m_fcheckAnswers = 0;
};
