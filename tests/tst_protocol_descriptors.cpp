// The protocol definitions are a wire contract shared with the suite's daemons and its other
// components. These tables read the generated descriptor pool, the same descriptors the
// runtime encodes and decodes with, and pin the points that are easiest to get silently wrong.

#include "annotation.pb.h"

#include <QTest>
#include <algorithm>
#include <google/protobuf/descriptor.h>

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::EnumDescriptor;
using google::protobuf::EnumValueDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;

namespace {

// Marks a table cell that has no value: no default, no option, no lex label.
constexpr const char* kNone = "none";

const DescriptorPool& pool()
{
    return *DescriptorPool::generated_pool();
}

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

QString labelText(const FieldDescriptor& field)
{
    switch (field.label()) {
    case FieldDescriptor::LABEL_REQUIRED:
        return QStringLiteral("required");
    case FieldDescriptor::LABEL_OPTIONAL:
        return QStringLiteral("optional");
    case FieldDescriptor::LABEL_REPEATED:
        return QStringLiteral("repeated");
    }
    return QString();
}

// Record and enumeration types by full name, scalars by their keyword.
QString typeText(const FieldDescriptor& field)
{
    if (field.message_type()) {
        return text(field.message_type()->full_name());
    }
    if (field.enum_type()) {
        return text(field.enum_type()->full_name());
    }
    return QString::fromLatin1(field.type_name());
}

QString defaultText(const FieldDescriptor& field)
{
    if (!field.has_default_value()) {
        return QString::fromLatin1(kNone);
    }
    switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_UINT32:
        return QString::number(field.default_value_uint32());
    case FieldDescriptor::CPPTYPE_UINT64:
        return QString::number(field.default_value_uint64());
    case FieldDescriptor::CPPTYPE_BOOL:
        return field.default_value_bool() ? QStringLiteral("true") : QStringLiteral("false");
    case FieldDescriptor::CPPTYPE_ENUM:
        return text(field.default_value_enum()->name());
    case FieldDescriptor::CPPTYPE_STRING:
        return text(field.default_value_string());
    default:
        return QStringLiteral("<default of unexpected type %1>").arg(field.type_name());
    }
}

QString hintText(const FieldDescriptor& field)
{
    if (!field.options().HasExtension(nv::hint)) {
        return QString::fromLatin1(kNone);
    }
    return text(nv::LexHint_Name(field.options().GetExtension(nv::hint)));
}

QString lexText(const EnumValueDescriptor& value)
{
    if (!value.options().HasExtension(nv::lex)) {
        return QString::fromLatin1(kNone);
    }
    return text(value.options().GetExtension(nv::lex));
}

QStringList names(const FileDescriptor& file, bool enums)
{
    QStringList out;
    const int count = enums ? file.enum_type_count() : file.message_type_count();
    for (int i = 0; i < count; ++i) {
        out << text(enums ? file.enum_type(i)->name() : file.message_type(i)->name());
    }
    return out;
}

} // namespace

class TestProtocolDescriptors : public QObject
{
    Q_OBJECT

private slots:
    void files_data();
    void files();
    void enumValues_data();
    void enumValues();
    void undefinedNumbers_data();
    void undefinedNumbers();
    void fields_data();
    void fields();
    void extensions_data();
    void extensions();
    void carriers_data();
    void carriers();
    void configurationRecords_data();
    void configurationRecords();
};

void TestProtocolDescriptors::files_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("package");
    QTest::addColumn<QStringList>("imports");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("enums");

    auto row = [](const char* file, const char* package, const QStringList& imports,
                  const QStringList& messages, const QStringList& enums) {
        QTest::newRow(file) << QString::fromLatin1(file) << QString::fromLatin1(package) << imports
                            << messages << enums;
    };
    row("annotation.proto", "nv", {"google/protobuf/descriptor.proto"}, {}, {"LexHint"});
    row("application.proto", "nv", {"annotation.proto", "error.proto"},
        {"AppInfo", "AppStat", "AppConfig"}, {"Application"});
    row("error.proto", "nv", {"annotation.proto"}, {"Error"}, {"ErrorCode"});
    row("action.proto", "nv", {"annotation.proto"}, {}, {"FileAction", "QEntryAction"});
    row("list.proto", "nv", {}, {"StringList", "PathList"}, {});
    row("log.proto", "nv", {"annotation.proto"}, {"Log"}, {"LogLevel"});
    row("proxy.proto", "nv", {}, {"Proxy"}, {});
    row("configd_public_ipc.proto", "nv",
        {"application.proto", "auth.proto", "error.proto", "esconnection.proto",
         "generic_appinfo.proto", "incident.proto", "lexmap.proto", "setopt_result.proto",
         "threat.proto", "token_passport.proto", "update.proto"},
        {"Public2ConfigdMessage", "Configd2PublicMessage"}, {});
    row("auth.proto", "nv", {"application.proto"}, {"AuthOptions"}, {});
    row("esconnection.proto", "nv", {}, {"ESConnection"}, {});
    row("generic_appinfo.proto", "nv", {"application.proto"}, {"GenericAppInfo"}, {});
    row("lexmap.proto", "nv", {}, {"LexValue", "LexOption", "LexMap"}, {});
    row("setopt_result.proto", "nv", {"error.proto"}, {"SetOptionResultItem", "SetOptionResult"},
        {});
    row("token_passport.proto", "nv", {"annotation.proto", "application.proto"}, {"TokenPassport"},
        {});
    row("fcheck_client_ipc.proto", "fc",
        {"action.proto", "application.proto", "disk.proto", "error.proto", "quarantine.proto",
         "scan_report.proto", "threat.proto", "remote_user.proto"},
        {"ClientMessage", "ServerMessage", "ScanRequest", "ActionSet", "ScanInfoOptions",
         "ScanInfo", "ScanDetails", "ScanProgress", "ScanResult", "DirEntry", "FlowOptions",
         "ProxyOptions"},
        {"ScanState"});
    row("scan_report.proto", "nv", {"annotation.proto"}, {"ScanReport", "Archive", "Virus"},
        {"ArchiveType", "VirusType", "ScanError"});
    row("threat.proto", "nv",
        {"action.proto", "application.proto", "error.proto", "file.proto", "scan_report.proto",
         "remote_user.proto"},
        {"FileThreat", "FileOperation"}, {});
    row("quarantine.proto", "nv",
        {"action.proto", "application.proto", "error.proto", "file.proto", "scan_report.proto",
         "remote_user.proto"},
        {"QEntry", "QEntryOperation"}, {});
    row("file.proto", "nv", {}, {"FileStat", "XAttr"}, {});
    row("remote_user.proto", "nv", {}, {"RemoteUser"}, {});
    row("disk.proto", "nv", {}, {"Disk", "Partition"}, {});
    row("incident.proto", "nv", {"annotation.proto", "scan_report.proto"},
        {"NetIncident", "HttpUrlBlockInfo", "HttpContentBlockInfo"},
        {"NetIncidentType", "UrlBlockReason"});
    row("update.proto", "nv", {"application.proto", "error.proto"},
        {"UpdateInfo", "UpdateResult", "UpdateProgress", "UpdateCheckProgress",
         "UpdateDownloadProgress"},
        {});
    row("linux_gui_config.proto", "nv",
        {"action.proto", "annotation.proto", "application.proto", "list.proto", "log.proto"},
        {"LinuxGUIConfig"}, {});
    row("linux_kivar_config.proto", "nv",
        {"action.proto", "annotation.proto", "application.proto", "list.proto", "log.proto"},
        {"LinuxKivarConfig"}, {"LinuxKivarMode"});
    row("gated_config.proto", "nv",
        {"application.proto", "annotation.proto", "socket.proto", "list.proto", "log.proto",
         "divert.proto"},
        {"GateDConfig"}, {});
    row("update_config.proto", "nv",
        {"application.proto", "annotation.proto", "list.proto", "log.proto", "proxy.proto"},
        {"UpdateConfig"}, {});
    row("divert.proto", "nv", {"annotation.proto"}, {"InputDivert", "OutputDivert"}, {});
    row("socket.proto", "nv", {}, {"IPSocket", "IPSocketList", "SocketList", "IP", "IPList"}, {});
}

// Imports are compared in declaration order, unused ones included: the dependency list is part
// of the descriptor that other components build from the same files.
void TestProtocolDescriptors::files()
{
    QFETCH(QString, file);
    QFETCH(QString, package);
    QFETCH(QStringList, imports);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, enums);

    const FileDescriptor* fd = pool().FindFileByName(file.toStdString());
    QVERIFY2(fd, qPrintable(file));
    QCOMPARE(text(fd->package()), package);
    QCOMPARE(fd->syntax(), FileDescriptor::SYNTAX_PROTO2);
    QStringList dependencies;
    for (int i = 0; i < fd->dependency_count(); ++i) {
        dependencies << text(fd->dependency(i)->name());
    }
    QCOMPARE(dependencies, imports);
    QCOMPARE(fd->public_dependency_count(), 0);
    QCOMPARE(names(*fd, false), messages);
    QCOMPARE(names(*fd, true), enums);
    QCOMPARE(fd->options().ByteSizeLong(), size_t(0));

    // Records hold only nested enumerations, and nothing is packed.
    for (int m = 0; m < fd->message_type_count(); ++m) {
        const Descriptor* message = fd->message_type(m);
        QVERIFY2(message->nested_type_count() == 0, message->full_name().c_str());
        for (int f = 0; f < message->field_count(); ++f) {
            QVERIFY2(!message->field(f)->is_packed(), message->field(f)->full_name().c_str());
        }
    }
}

void TestProtocolDescriptors::enumValues_data()
{
    QTest::addColumn<QString>("enumName");
    QTest::addColumn<QString>("valueName");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("lex");

    auto row = [](const char* enumName, const char* valueName, int number,
                  const char* lex = kNone) {
        QTest::addRow("%s.%s", enumName, valueName)
            << QString::fromLatin1(enumName) << QString::fromLatin1(valueName) << number
            << QString::fromLatin1(lex);
    };
    const char* configdRequest = "nv.Public2ConfigdMessage.MessageTag";
    const char* configdAnswer = "nv.Configd2PublicMessage.MessageTag";
    const char* fcRequest = "fc.ClientMessage.ClientMessageTag";
    const char* fcAnswer = "fc.ServerMessage.ServerMessageTag";

    // The text-map answers are rotated against their requests.
    row(configdRequest, "GET_DEFAULT_LEXMAP_REQUEST", 41);
    row(configdAnswer, "GET_DEFAULT_LEXMAP_RESPONSE", 42);
    row(configdRequest, "SUBSCRIBE_TO_LEXMAP", 42);
    row(configdAnswer, "LEXMAP_NOTIFICATION", 43);
    row(configdRequest, "SET_LEXMAP_REQUEST", 43);
    row(configdAnswer, "SET_LEXMAP_RESPONSE", 41);
    row(configdRequest, "_GET_CONFIG_REQUEST", 20);
    row(configdAnswer, "_GET_CONFIG_RESPONSE", 20);
    row(configdRequest, "GET_FCHECK_REQUEST", 2);
    row(configdAnswer, "GET_FCHECK_RESPONSE", 2);
    row(configdRequest, "SUBSCRIBE_TO_CONFIG", 22);
    row(configdAnswer, "CONFIG_NOTIFICATION", 22);
    row(configdRequest, "MY_INFO_NOTIFICATION", 71);
    row(configdRequest, "REVOKE_TOKEN_REQUEST", 122);
    row(configdAnswer, "REVOKE_TOKEN_RESPONSE", 122);

    row(fcRequest, "START_SCAN_REQUEST", 1);
    row(fcAnswer, "START_SCAN_RESPONSE", 1);
    row(fcRequest, "SUBSCRIBE_TO_SCAN_INFO", 3);
    row(fcAnswer, "SCAN_INFO_NOTIFICATION", 3);
    row(fcRequest, "UNSUBSCRIBE_FROM_SCAN_INFO", 4);
    row(fcRequest, "LIST_DIR_REQUEST", 5);
    row(fcAnswer, "LIST_DIR_RESPONSE", 4);
    row(fcRequest, "UNSUBSCRIBE_FROM_THREATS", 11);
    row(fcRequest, "QUARANTINE_THREAT_REQUEST", 12);
    row(fcRequest, "NEUTRALIZE_THREAT_REQUEST", 16);
    row(fcAnswer, "THREATS_OP_RESPONSE", 11);
    row(fcAnswer, "QUARANTINE_UNSUBSCRIBED", 21);
    row(fcRequest, "DELETE_QENTRY_REQUEST", 23);
    row(fcRequest, "RESTORE_QENTRY_REQUEST", 24);
    row(fcAnswer, "QUARANTINE_OP_RESPONSE", 23);
    row(fcRequest, "CLOSE_FLOW_REQUEST", 33);
    row(fcAnswer, "CLOSE_FLOW_RESPONSE", 32);
    row(fcAnswer, "FLOW_ALARM", 33);
    row(fcRequest, "PROXY_SCAN_REQUEST", 42);
    row(fcAnswer, "PROXY_SCAN_RESPONSE", 41);
    row(fcRequest, "PROXY_SUBMIT_THREAT_REQUEST", 43);
    row(fcAnswer, "PROXY_SUBMIT_THREAT_RESPONSE", 42);
    row(fcRequest, "CLOSE_PROXY_REQUEST", 49);
    row(fcAnswer, "CLOSE_PROXY_RESPONSE", 48);
    row(fcAnswer, "PROXY_ALARM", 49);
    row(fcRequest, "ENUMERATE_DISKS_REQUEST", 50);
    row(fcAnswer, "ENUMERATE_DISKS_RESPONSE", 50);

    // Labels are copied from the shared vocabulary, misspellings included.
    row("nv.ErrorCode", "EC_OK", 0, "Success");
    row("nv.ErrorCode", "EC_NOT_A_DIRECTORY", 25, "Not a directrory");
    row("nv.ErrorCode", "EC_SCAN_LIMIT_REACHED", 45, "Scan limit reached");
    row("nv.ErrorCode", "EC_AUTH_FAILED", 47, "Authentication failed");
    row("nv.ErrorCode", "EC_BAD_ES_CREDENTIALS", 112, "Access denied");
    row("nv.ErrorCode", "EC_UNEXPECTED_ERROR", 125, "Unexpected error");
    row("nv.Application", "APP_CONFIGD", 1, "ConfigD");
    row("nv.Application", "APP_GATED", 41, "GateD");
    row("nv.Application", "APP_GENERIC", 99);
    row("nv.Application", "APP_LINUX_GUI", 200, "LinuxGUI");
    row("nv.Application", "APP_LINUX_NSS", 202, "NSS");
    row("nv.Application", "APP_COMMAND_LINE_TOOL", 300, "Ctl");
    row("nv.FileAction", "FILE_ACTION_CURE", 1, "Cure");
    row("nv.FileAction", "FILE_ACTION_REPORT", 4, "Report");
    row("nv.QEntryAction", "QENTRY_ACTION_CURE", 4, "Cure");
    row("nv.Log.LogType", "AUTO", 4, "Auto");
    row("nv.Log.LogFacility", "LOCAL0", 10, "Local0");
    row("nv.LogLevel", "LOG_LEVEL_ERROR", 5, "Error");
    row("nv.LinuxKivarMode", "LSM_AUTO", 0, "Auto");
    row("nv.LinuxKivarMode", "LSM_LKM", 2, "LKM");
    row("nv.VirusType", "SE_JOKE", 6, "Joke program");
    row("nv.ScanError", "SE_NO_ACCESS", 6, "Permission denied");
    row("nv.ScanError", "SE_UNEXPECTED_ERROR", 100, "Unexpected error");
    row("nv.UrlBlockReason", "BL_PORNO", 3, "Adult");
    row("nv.UrlBlockReason", "BL_USER_BLACKLIST", 20, "Blacklist");
    row("nv.InputDivert.InputDivertType", "MANUAL", 3, "Manual");
    row("nv.OutputDivert.OutputDivertType", "OFF", 1, "Off");

    // Enumerations without labels.
    row("nv.LexHint", "ABSPATH", 10);
    row("nv.LexHint", "ONOFF", 13);
    row("nv.Proxy.Type", "PROXY_TYPE_NONE", 0);
    row("nv.ArchiveType", "SE_CONTAINER", 3);
    row("nv.NetIncidentType", "HTTP_CONTENT_BLOCK", 2);
    row("nv.UpdateProgress.Stage", "INSTALLING", 4);
    row("fc.ScanState", "SCAN_STATE_FINISHED", 3);
}

void TestProtocolDescriptors::enumValues()
{
    QFETCH(QString, enumName);
    QFETCH(QString, valueName);
    QFETCH(int, number);
    QFETCH(QString, lex);

    const EnumDescriptor* type = pool().FindEnumTypeByName(enumName.toStdString());
    QVERIFY2(type, qPrintable(enumName));
    const EnumValueDescriptor* value = type->FindValueByName(valueName.toStdString());
    QVERIFY2(value, qPrintable(valueName));
    QCOMPARE(value->number(), number);
    QCOMPARE(lexText(*value), lex);
}

void TestProtocolDescriptors::undefinedNumbers_data()
{
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<int>("number");

    auto row = [](const char* typeName, int number) {
        QTest::addRow("%s %d", typeName, number) << QString::fromLatin1(typeName) << number;
    };
    row("fc.ClientMessage.ClientMessageTag", 22);
    row("fc.ServerMessage.ServerMessageTag", 22);
    row("fc.ServerMessage.ServerMessageTag", 5);
    row("fc.ServerMessage.ServerMessageTag", 12);
    row("nv.Configd2PublicMessage.MessageTag", 71);
    row("nv.ErrorCode", 46);
    row("nv.ErrorCode", 118);
    row("nv.ErrorCode", 124);
    row("nv.Application", 0);
    row("nv.Application", 101);
    row("nv.ScanError", 11);

    row("nv.GateDConfig", 61);
    row("nv.ScanReport", 5);
    row("fc.ScanInfoOptions", 2);
    row("nv.QEntryOperation", 4);
    row("fc.ProxyOptions", 1);
    row("nv.IPSocketList", 1);
    // Above the carriers' extension range but not one of their own fields.
    row("nv.AppConfig", 1001);
    row("nv.AppInfo", 1100);
}

// A number that the schema does not define must stay undefined: a receiver treats it as unknown.
void TestProtocolDescriptors::undefinedNumbers()
{
    QFETCH(QString, typeName);
    QFETCH(int, number);

    if (const EnumDescriptor* type = pool().FindEnumTypeByName(typeName.toStdString())) {
        QVERIFY(!type->FindValueByNumber(number));
        return;
    }
    const Descriptor* message = pool().FindMessageTypeByName(typeName.toStdString());
    QVERIFY2(message, qPrintable(typeName));
    QVERIFY(!message->FindFieldByNumber(number));
    QVERIFY(!message->IsExtensionNumber(number));
}

void TestProtocolDescriptors::fields_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("defaultValue");
    QTest::addColumn<QString>("hint");

    auto row = [](const char* message, const char* field, int number, const char* label,
                  const char* type, const char* defaultValue = kNone, const char* hint = kNone) {
        QTest::addRow("%s.%s", message, field)
            << QString::fromLatin1(message) << QString::fromLatin1(field) << number
            << QString::fromLatin1(label) << QString::fromLatin1(type)
            << QString::fromLatin1(defaultValue) << QString::fromLatin1(hint);
    };

    // The scan limits are declared three times, each with its own numbers and defaults.
    const char* request = "fc.ScanRequest";
    row(request, "scan_timeout_ms", 30, "optional", "uint32", "0");
    row(request, "heuristic_analysis", 31, "optional", "bool", "true");
    row(request, "shell_trace", 32, "optional", "bool", "false");
    row(request, "packer_max_level", 40, "optional", "uint32", "8");
    row(request, "archive_max_level", 41, "optional", "uint32", "8");
    row(request, "mail_max_level", 42, "optional", "uint32", "8");
    row(request, "container_max_level", 43, "optional", "uint32", "8");
    row(request, "max_compression_ratio", 44, "optional", "uint32", "500");
    for (const char* options : {"fc.FlowOptions", "fc.ProxyOptions"}) {
        row(options, "scan_timeout_ms", 30, "optional", "uint32", "30000");
        row(options, "heuristic_analysis", 31, "optional", "bool", "true");
        row(options, "packer_max_level", 32, "optional", "uint32", "8");
        row(options, "archive_max_level", 33, "optional", "uint32", "0");
        row(options, "mail_max_level", 34, "optional", "uint32", "8");
        row(options, "container_max_level", 35, "optional", "uint32", "8");
        row(options, "max_compression_ratio", 36, "optional", "uint32", "500");
    }

    row(request, "origin", 10, "required", "nv.Application");
    row(request, "origin_pid", 11, "required", "uint32");
    row(request, "included_path", 1, "repeated", "bytes");
    row(request, "scan_processes", 4, "optional", "bool", "false");
    row("fc.ActionSet", "on_known_virus", 1, "optional", "nv.FileAction", "FILE_ACTION_REPORT");
    row("fc.ActionSet", "on_hacktools", 8, "optional", "nv.FileAction", "FILE_ACTION_REPORT");
    row("fc.ActionSet", "cure_boot", 9, "optional", "bool", "false");
    row("fc.ScanInfoOptions", "progress_interval_ms", 1, "optional", "uint32", "0");
    row("fc.ScanInfoOptions", "report_clean", 3, "optional", "bool", "false");
    row("nv.ESConnection", "server_port", 2, "optional", "uint32", "2193");
    row("nv.ESConnection", "compress", 6, "optional", "bool");
    row("nv.ESConnection", "newbie", 8, "optional", "bool", "false");
    row("nv.ESConnection", "without_public_key", 12, "optional", "bool", "false");
    row("nv.ScanReport", "cured", 8, "optional", "bool", "false");
    row("nv.ScanReport", "heuristic_analysis", 11, "optional", "bool");
    row("nv.ScanReport", "item", 20, "repeated", "nv.ScanReport");

    // Envelope tags and the records the runner depends on.
    row("nv.Public2ConfigdMessage", "tag", 1, "required", "nv.Public2ConfigdMessage.MessageTag");
    row("nv.Configd2PublicMessage", "tag", 1, "required", "nv.Configd2PublicMessage.MessageTag");
    row("fc.ClientMessage", "tag", 1, "required", "fc.ClientMessage.ClientMessageTag");
    row("fc.ServerMessage", "tag", 1, "required", "fc.ServerMessage.ServerMessageTag");
    row("nv.Public2ConfigdMessage", "token", 200, "optional", "bytes");
    row("nv.Configd2PublicMessage", "socket_path", 2, "optional", "string");
    row("nv.Configd2PublicMessage", "error", 200, "optional", "nv.Error");
    row("fc.ServerMessage", "list_result", 9, "optional", "nv.ErrorCode");
    row("fc.ServerMessage", "error", 100, "optional", "nv.Error");
    row("nv.Error", "code", 1, "required", "nv.ErrorCode");
    row("nv.AppConfig", "app", 1000, "required", "nv.Application");
    row("nv.AppInfo", "exit_code", 1103, "optional", "nv.ErrorCode");

    // File-system text is bytes; human and configuration text is string.
    row("fc.ClientMessage", "path", 6, "optional", "bytes");
    row("fc.ClientMessage", "entry_id", 20, "optional", "string");
    row("fc.ClientMessage", "flow_path", 33, "repeated", "bytes");
    row("fc.DirEntry", "name", 1, "required", "bytes");
    row("nv.QEntry", "restore_path", 4, "required", "bytes");
    row("nv.QEntryOperation", "restore_path", 5, "optional", "string");
    row("nv.Disk", "dev_path", 1, "required", "string");
    row("nv.Disk", "mount_point", 6, "optional", "bytes");

    // Configuration records: no defaults, hints where the text form needs them.
    row("nv.LinuxGUIConfig", "exe_path", 3, "optional", "string", kNone, "ABSPATH");
    row("nv.LinuxGUIConfig", "excluded_path", 4, "optional", "nv.PathList");
    row("nv.LinuxGUIConfig", "on_known_virus", 10, "optional", "nv.FileAction");
    row("nv.LinuxGUIConfig", "scan_timeout", 30, "optional", "uint32", kNone, "TIME");
    row("nv.LinuxGUIConfig", "auto_applying", 33, "optional", "bool");
    row("nv.LinuxGUIConfig", "right_start_scanner", 1003, "optional", "bool");
    row("nv.LinuxKivarConfig", "start", 4, "optional", "bool");
    row("nv.LinuxKivarConfig", "mode", 12, "optional", "nv.LinuxKivarMode");
    row("nv.LinuxKivarConfig", "on_known_virus", 20, "optional", "nv.FileAction");
    row("nv.LinuxKivarConfig", "heuristic_analysis", 31, "optional", "bool", kNone, "ONOFF");
    row("nv.LinuxKivarConfig", "actual_log", 1000, "optional", "nv.Log");
    row("nv.GateDConfig", "kernel_divert", 13, "optional", "bool", kNone, "ONOFF");
    row("nv.GateDConfig", "block_suspicious", 62, "optional", "bool");
    row("nv.GateDConfig", "debug_socket_path", 80, "optional", "string", kNone, "ABSPATH");
    row("nv.GateDConfig", "start", 1100, "optional", "bool");
    row("nv.UpdateConfig", "update_interval", 4, "optional", "uint64", kNone, "TIME");
    row("nv.UpdateConfig", "network_timeout", 5, "optional", "uint32", kNone, "TIME");
    row("nv.UpdateConfig", "kws_custom_mrl_path", 122, "optional", "string", kNone, "ABSPATH");
    row("nv.UpdateConfig", "update_dir", 1001, "optional", "string");
    row("nv.Log", "type", 1, "required", "nv.Log.LogType");
    row("nv.Proxy", "type", 1, "required", "nv.Proxy.Type");
    row("nv.IPSocket", "port", 1, "required", "uint32");
    row("nv.IPSocketList", "ipv4", 2, "repeated", "nv.IPSocket");
}

void TestProtocolDescriptors::fields()
{
    QFETCH(QString, message);
    QFETCH(QString, field);
    QFETCH(int, number);
    QFETCH(QString, label);
    QFETCH(QString, type);
    QFETCH(QString, defaultValue);
    QFETCH(QString, hint);

    const Descriptor* record = pool().FindMessageTypeByName(message.toStdString());
    QVERIFY2(record, qPrintable(message));
    const FieldDescriptor* fd = record->FindFieldByName(field.toStdString());
    QVERIFY2(fd, qPrintable(field));
    QCOMPARE(fd->number(), number);
    QCOMPARE(labelText(*fd), label);
    QCOMPARE(typeText(*fd), type);
    QCOMPARE(defaultText(*fd), defaultValue);
    QCOMPARE(hintText(*fd), hint);
}

void TestProtocolDescriptors::extensions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("extendee");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("file");

    auto row = [](const char* name, const char* extendee, int number, const char* type,
                  const char* file) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(extendee) << number
                            << QString::fromLatin1(type) << QString::fromLatin1(file);
    };
    // The three options numbered 50001 do not clash: each extends a different options record.
    row("nv.app", "google.protobuf.MessageOptions", 50001, "int32", "annotation.proto");
    row("nv.ini_section", "google.protobuf.MessageOptions", 50002, "string", "annotation.proto");
    row("nv.hint", "google.protobuf.FieldOptions", 50001, "nv.LexHint", "annotation.proto");
    row("nv.lex", "google.protobuf.EnumValueOptions", 50001, "string", "annotation.proto");
    row("nv.update_config", "nv.AppConfig", 4, "nv.UpdateConfig", "update_config.proto");
    row("nv.gated_config", "nv.AppConfig", 41, "nv.GateDConfig", "gated_config.proto");
    row("nv.linux_gui_config", "nv.AppConfig", 200, "nv.LinuxGUIConfig", "linux_gui_config.proto");
    row("nv.linux_kivar_config", "nv.AppConfig", 201, "nv.LinuxKivarConfig",
        "linux_kivar_config.proto");
    row("nv.generic_info", "nv.AppInfo", 99, "nv.GenericAppInfo", "generic_appinfo.proto");
}

void TestProtocolDescriptors::extensions()
{
    QFETCH(QString, name);
    QFETCH(QString, extendee);
    QFETCH(int, number);
    QFETCH(QString, type);
    QFETCH(QString, file);

    const FieldDescriptor* extension = pool().FindExtensionByName(name.toStdString());
    QVERIFY2(extension, qPrintable(name));
    QCOMPARE(text(extension->containing_type()->full_name()), extendee);
    QCOMPARE(extension->number(), number);
    QCOMPARE(typeText(*extension), type);
    QCOMPARE(text(extension->file()->name()), file);
    QCOMPARE(labelText(*extension), QStringLiteral("optional"));
    QVERIFY2(!extension->extension_scope(), "declared at file level");
}

void TestProtocolDescriptors::carriers_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QList<int>>("declared");

    QTest::newRow("AppConfig") << QStringLiteral("nv.AppConfig") << QList<int>{4, 41, 200, 201};
    QTest::newRow("AppInfo") << QStringLiteral("nv.AppInfo") << QList<int>{99};
    QTest::newRow("AppStat") << QStringLiteral("nv.AppStat") << QList<int>{};
}

// Each carrier reserves exactly 1 to 999 for per-component records and keeps its own fields
// from 1000 up.
void TestProtocolDescriptors::carriers()
{
    QFETCH(QString, message);
    QFETCH(QList<int>, declared);

    const Descriptor* carrier = pool().FindMessageTypeByName(message.toStdString());
    QVERIFY2(carrier, qPrintable(message));
    QCOMPARE(carrier->extension_range_count(), 1);
    QCOMPARE(carrier->extension_range(0)->start, 1);
    QCOMPARE(carrier->extension_range(0)->end, 1000); // exclusive
    for (int i = 0; i < carrier->field_count(); ++i) {
        QVERIFY(carrier->field(i)->number() >= 1000);
    }

    std::vector<const FieldDescriptor*> extensions;
    pool().FindAllExtensions(carrier, &extensions);
    QList<int> numbers;
    for (const FieldDescriptor* extension : extensions) {
        numbers << extension->number();
    }
    std::sort(numbers.begin(), numbers.end());
    QCOMPARE(numbers, declared);
}

void TestProtocolDescriptors::configurationRecords_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("app");
    QTest::addColumn<QString>("iniSection");

    QTest::newRow("LinuxGUIConfig")
        << QStringLiteral("nv.LinuxGUIConfig") << 200 << QStringLiteral("LinuxGUI");
    QTest::newRow("LinuxKivarConfig")
        << QStringLiteral("nv.LinuxKivarConfig") << 201 << QStringLiteral("LinuxKivar");
    QTest::newRow("GateDConfig") << QStringLiteral("nv.GateDConfig") << 41
                                 << QStringLiteral("GateD");
    QTest::newRow("UpdateConfig") << QStringLiteral("nv.UpdateConfig") << 4
                                  << QStringLiteral("Update");
}

// The app option, the component's Application value and the record's extension number on
// nv.AppConfig must all agree.
void TestProtocolDescriptors::configurationRecords()
{
    QFETCH(QString, message);
    QFETCH(int, app);
    QFETCH(QString, iniSection);

    const Descriptor* record = pool().FindMessageTypeByName(message.toStdString());
    QVERIFY2(record, qPrintable(message));
    QVERIFY(record->options().HasExtension(nv::app));
    QCOMPARE(record->options().GetExtension(nv::app), app);
    QCOMPARE(text(record->options().GetExtension(nv::ini_section)), iniSection);
    QVERIFY(pool().FindEnumTypeByName("nv.Application")->FindValueByNumber(app));

    const Descriptor* carrier = pool().FindMessageTypeByName("nv.AppConfig");
    const FieldDescriptor* extension = pool().FindExtensionByNumber(carrier, app);
    QVERIFY(extension);
    QCOMPARE(extension->message_type(), record);

    // Every field is optional and defaultless: readers test presence where it matters.
    for (int i = 0; i < record->field_count(); ++i) {
        QCOMPARE(labelText(*record->field(i)), QStringLiteral("optional"));
        QVERIFY2(!record->field(i)->has_default_value(), record->field(i)->name().c_str());
    }
}

QTEST_GUILESS_MAIN(TestProtocolDescriptors)
#include "tst_protocol_descriptors.moc"
