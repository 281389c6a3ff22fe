#pragma once

#include "error.pb.h"
#include "linux_gui_config.pb.h"

#include <QObject>
#include <QString>
#include <optional>

// The process-wide record of what the configuration daemon told us: the front-end configuration
// with its revision, and the file-check daemon's socket path. Created on first use and kept until
// the process ends, since replies may arrive at any point of the run.
class Inventory : public QObject
{
    Q_OBJECT

public:
    static Inventory* instance();

    // The revision always belongs to the configuration stored with it.
    void setConfig(quint32 revision, const nv::LinuxGUIConfig& config);
    // A copy: a reply dispatched during a later wait may replace the stored record.
    nv::LinuxGUIConfig config() const { return m_config; }
    quint32 configRevision() const { return m_configRevision; }
    // Whether the daemon has sent a configuration at all; until then config() is empty.
    bool hasConfig() const { return m_hasConfig; }

    void setFcSocketPath(const QString& path);
    QString fcSocketPath() const { return m_fcSocketPath; }
    // The daemon's error when it named no file-check socket.
    void setFcSocketError(const nv::Error& error) { m_fcSocketError = error; }
    std::optional<nv::Error> fcSocketError() const { return m_fcSocketError; }

private:
    Inventory();

    nv::LinuxGUIConfig m_config;
    quint32 m_configRevision = 0;
    bool m_hasConfig = false;
    QString m_fcSocketPath;
    std::optional<nv::Error> m_fcSocketError;
};
