#pragma once

#include "SimServer.h"

#include "configd_public_ipc.pb.h"
#include "linux_gui_config.pb.h"

#include <optional>

// Stand-in for the suite's configuration daemon: hands every subscriber the front-end
// configuration it was given, names the file-check daemon's socket (or refuses to, with a given
// error), takes the client's self-announcement, and answers everything else as not implemented.
class ConfigdSim : public SimServer
{
    Q_OBJECT

public:
    // Starts each of its log lines.
    static constexpr char kName[] = "configd-sim";

    struct Setup
    {
        nv::LinuxGUIConfig config;
        quint32 revision = 1;
        QString fcheckSocket;
        std::optional<nv::ErrorCode> fcheckError;
    };

    explicit ConfigdSim(const Setup& setup, QObject* parent = nullptr);

    // Reads a nv.LinuxGUIConfig in protobuf text format; `error` says where it went wrong.
    static bool readConfig(const QString& path, nv::LinuxGUIConfig* config, QString* error);

protected:
    void received(SimLink* link, const QByteArray& body) override;

private:
    nv::Configd2PublicMessage configNotification(const nv::Public2ConfigdMessage& request) const;
    nv::Configd2PublicMessage fcheckResponse() const;
    void answerNotImplemented(SimLink* link, nv::Public2ConfigdMessage::MessageTag tag);

    Setup m_setup;
};
