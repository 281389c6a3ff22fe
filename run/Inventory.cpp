#include "Inventory.h"

Inventory::Inventory() : QObject(nullptr) {}

Inventory* Inventory::instance()
{
    // Deliberately never destroyed: it must outlive every link that may still dispatch a reply.
    static Inventory* const inventory = new Inventory;
    return inventory;
}

void Inventory::setConfig(quint32 revision, const nv::LinuxGUIConfig& config)
{
    m_configRevision = revision;
    m_config = config;
    m_hasConfig = true;
}

void Inventory::setFcSocketPath(const QString& path)
{
    m_fcSocketPath = path;
}
