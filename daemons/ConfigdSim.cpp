#include "ConfigdSim.h"

#include "SimLink.h"

#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>

#include <QFile>

namespace {
using Request = nv::Public2ConfigdMessage;
using Answer = nv::Configd2PublicMessage;

// The answer that pairs with a request. Request and answer share their number except in the
// text-map rows; notifications have no answer.
std::optional<Answer::MessageTag> answerTag(Request::MessageTag tag)
{
    switch (tag) {
    case Request::GET_DEFAULT_LEXMAP_REQUEST:
        return Answer::GET_DEFAULT_LEXMAP_RESPONSE;
    case Request::SUBSCRIBE_TO_LEXMAP:
        return Answer::LEXMAP_NOTIFICATION;
    case Request::SET_LEXMAP_REQUEST:
        return Answer::SET_LEXMAP_RESPONSE;
    case Request::MY_INFO_NOTIFICATION:
        return std::nullopt;
    default:
        if (Answer::MessageTag_IsValid(tag)) {
            return Answer::MessageTag(int(tag));
        }
        return std::nullopt;
    }
}

// Keeps the first complaint of the text-format parser, with its place in the file.
class FirstError : public google::protobuf::io::ErrorCollector
{
public:
    void AddError(int line, google::protobuf::io::ColumnNumber column,
                  const std::string& message) override
    {
        if (text.isEmpty()) {
            // The parser counts from 0; editors count from 1.
            text = QStringLiteral("line %1, column %2: %3")
                       .arg(line + 1)
                       .arg(column + 1)
                       .arg(QString::fromStdString(message));
        }
    }

    QString text;
};
} // namespace

ConfigdSim::ConfigdSim(const Setup& setup, QObject* parent)
    : SimServer(QString::fromLatin1(kName), parent), m_setup(setup)
{
}

bool ConfigdSim::readConfig(const QString& path, nv::LinuxGUIConfig* config, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    FirstError errors;
    google::protobuf::TextFormat::Parser parser;
    parser.RecordErrorsTo(&errors);
    if (!parser.ParseFromString(file.readAll().toStdString(), config)) {
        *error = errors.text;
        return false;
    }
    return true;
}

void ConfigdSim::received(SimLink* link, const QByteArray& body)
{
    Request request;
    if (!read(body, &request)) {
        return;
    }
    switch (request.tag()) {
    case Request::SUBSCRIBE_TO_CONFIG:
        reply(link, configNotification(request));
        break;
    case Request::GET_FCHECK_REQUEST:
        reply(link, fcheckResponse());
        break;
    default:
        answerNotImplemented(link, request.tag());
        break;
    }
}

Answer ConfigdSim::configNotification(const Request& request) const
{
    Answer answer;
    answer.set_tag(Answer::CONFIG_NOTIFICATION);
    if (request.has_app()) {
        answer.set_app(request.app());
    }
    if (request.app() != nv::APP_LINUX_GUI) {
        setError(&answer, nv::EC_NOT_IMPLEMENTED,
                 QStringLiteral("only the front-end configuration is held"));
        return answer;
    }
    nv::AppConfig* config = answer.mutable_config();
    config->set_app(nv::APP_LINUX_GUI);
    *config->MutableExtension(nv::linux_gui_config) = m_setup.config;
    answer.set_config_revision(m_setup.revision);
    return answer;
}

Answer ConfigdSim::fcheckResponse() const
{
    Answer answer;
    answer.set_tag(Answer::GET_FCHECK_RESPONSE);
    if (m_setup.fcheckError) {
        setError(&answer, *m_setup.fcheckError, QStringLiteral("as told by --fcheck-error"));
    } else if (m_setup.fcheckSocket.isEmpty()) {
        setError(&answer, nv::EC_NOT_INSTALLED, QStringLiteral("no file-check socket was given"));
    } else {
        answer.set_socket_path(m_setup.fcheckSocket.toStdString());
    }
    return answer;
}

void ConfigdSim::answerNotImplemented(SimLink* link, Request::MessageTag tag)
{
    const std::optional<Answer::MessageTag> pairing = answerTag(tag);
    if (!pairing) {
        return;
    }
    Answer answer;
    answer.set_tag(*pairing);
    setError(&answer, nv::EC_NOT_IMPLEMENTED, QString::fromLatin1(kNotServed));
    reply(link, answer);
}
