#include "ConfigdResponseHandler.h"

#include "Inventory.h"
#include "LenientParser.h"

#include <QDebug>

ConfigdResponseHandler::~ConfigdResponseHandler() = default;

void ConfigdResponseHandler::onConfigNotification(const nv::AppConfig& config, quint32 revision)
{
    qDebug() << QStringLiteral("ConfigD -> APP_CONFIG_NOTIFICATION");
    // A carrier without the front-end's record says nothing about it, so the stored one stays.
    if (config.HasExtension(nv::linux_gui_config)) {
        Inventory::instance()->setConfig(revision, config.GetExtension(nv::linux_gui_config));
    }
}

void ConfigdResponseHandler::onFcheckResponse(const nv::Configd2PublicMessage& message)
{
    if (message.has_socket_path()) {
        const QString path = QString::fromStdString(message.socket_path());
        qDebug() << QStringLiteral("ConfigD -> GET_FCHECK_RESPONSE: %1").arg(path);
        Inventory::instance()->setFcSocketPath(path);
    } else if (message.has_error()) {
        // A newer daemon's code is named as sent.
        const nv::Error& error = message.error();
        qDebug() << QStringLiteral("ConfigD -> GET_FCHECK_RESPONSE ERROR: %1")
                        .arg(int(LenientParser::asSent(error, nv::Error::kCodeFieldNumber,
                                                       error.has_code(), error.code())));
        Inventory::instance()->setFcSocketError(message.error());
    }
}
