#pragma once

#include "SimServer.h"

#include "ScanSubscription.h"
#include "fcheck_client_ipc.pb.h"

#include <QHash>
#include <optional>

class ScanJob;

// Stand-in for the suite's file-check daemon: runs real scans of the requested paths (see
// ScanJob), tells every scan-information subscriber about them as its options ask, lists
// directories, and answers the rest of the client's requests as not implemented.
class FilecheckSim : public SimServer
{
    Q_OBJECT

public:
    // Starts each of its log lines.
    static constexpr char kName[] = "filecheck-sim";

    // How the daemon behaves where tests need it to misbehave or slow down.
    struct Behaviour
    {
        quint32 firstTaskId = 1;
        int scanDelayMs = 0;
        std::optional<nv::ErrorCode> refuseScan;
        bool answerInterrupt = true;
    };

    explicit FilecheckSim(const Behaviour& behaviour, QObject* parent = nullptr);

protected:
    void received(SimLink* link, const QByteArray& body) override;
    void closed(SimLink* link) override;

private:
    void startScan(SimLink* link, const fc::ClientMessage& request);
    void interruptScan(SimLink* link, const fc::ClientMessage& request);
    fc::ServerMessage listDirectory(const fc::ClientMessage& request) const;
    void answerNotImplemented(SimLink* link, const fc::ClientMessage& request);
    void publish(const fc::ScanInfo& info);

    Behaviour m_behaviour;
    quint32 m_nextTaskId;
    QHash<SimLink*, ScanSubscription> m_subscribers;
    QHash<quint32, ScanJob*> m_jobs;
};
