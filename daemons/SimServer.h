#pragma once

#include "EnvelopeLog.h"
#include "error.pb.h"

#include <QLocalServer>
#include <QObject>

class SimLink;

namespace google::protobuf {
class Message;
}

// What both stand-in daemons share: the listening socket, one SimLink per accepted connection,
// the trace of what comes and goes, and running until SIGTERM or SIGINT.
class SimServer : public QObject
{
    Q_OBJECT

public:
    explicit SimServer(const QString& name, QObject* parent = nullptr);

    // Listens on `socketPath` and runs the event loop until a quit signal; returns the exit
    // status. An empty `recordPath` records nothing.
    int serve(const QString& socketPath, const QString& recordPath);

protected:
    // One complete frame body from `link`.
    virtual void received(SimLink* link, const QByteArray& body) = 0;
    // `link` is gone; it is deleted once control returns to the event loop.
    virtual void closed(SimLink* link);

    // Parses `body` into `envelope` and traces it; false (traced too) when it does not parse.
    bool read(const QByteArray& body, google::protobuf::Message* envelope);
    void reply(SimLink* link, const google::protobuf::Message& envelope);
    EnvelopeLog& log() { return m_log; }

    // Why a request that a stand-in has nothing for is answered with EC_NOT_IMPLEMENTED.
    static constexpr char kNotServed[] = "not served by the stand-in";

    // Every answer envelope of both protocols reports a failure in its `error` field.
    template <typename Answer>
    static void setError(Answer* answer, nv::ErrorCode code, const QString& what)
    {
        answer->mutable_error()->set_code(code);
        answer->mutable_error()->set_what(what.toStdString());
    }

private:
    bool listen(const QString& path);
    QString listenError(const QString& path) const;
    void accept();

    EnvelopeLog m_log;
    QLocalServer m_server;
};
