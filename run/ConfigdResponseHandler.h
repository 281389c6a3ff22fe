#pragma once

#include "ConfigdIPCLink.h"

// The runner's receiver of configuration-daemon replies: keeps the front-end configuration and
// the file-check socket path in the Inventory. Every other reply is of no interest to a
// scheduled scan.
class ConfigdResponseHandler : public ConfigdIPCLink::delegate
{
public:
    ~ConfigdResponseHandler() override;
    void onConfigNotification(const nv::AppConfig& config, quint32 revision) override;
    void onFcheckResponse(const nv::Configd2PublicMessage& message) override;
};
