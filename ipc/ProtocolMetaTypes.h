#pragma once

// Protocol and helper types that travel through the links' signals and slots. Declared in one
// place because each type may be declared to the meta-type system only once.

#include "configd_public_ipc.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "linux_gui_config.pb.h"

#include <QList>
#include <QMetaType>
#include <string>

using RepeatedDirEntry = google::protobuf::RepeatedPtrField<fc::DirEntry>;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(QList<std::string>)
Q_DECLARE_METATYPE(nv::ErrorCode)
Q_DECLARE_METATYPE(nv::Error)
Q_DECLARE_METATYPE(nv::FileAction)
Q_DECLARE_METATYPE(nv::QEntryAction)
Q_DECLARE_METATYPE(nv::LinuxGUIConfig)
Q_DECLARE_METATYPE(fc::ServerMessage)
Q_DECLARE_METATYPE(fc::ScanInfo)
Q_DECLARE_METATYPE(nv::FileThreat)
Q_DECLARE_METATYPE(RepeatedDirEntry)
