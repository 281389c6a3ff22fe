// How the generated protocol classes treat what the daemons may send: incomplete records at any
// depth, numbers the schema does not define, arbitrary bytes in path fields, and absent fields.
// Faults the generated setters cannot express are written as raw wire bytes.

#include "configd_public_ipc.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "gated_config.pb.h"
#include "linux_gui_config.pb.h"
#include "linux_kivar_config.pb.h"

#include <QTest>
#include <QVariant>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>
#include <google/protobuf/unknown_field_set.h>
#include <memory>

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::MessageFactory;
using google::protobuf::Reflection;

namespace {

constexpr uint32_t kWireVarint = 0;
constexpr uint32_t kWireLengthDelimited = 2;

// Numbers that neither nv.ErrorCode nor the tag enumerations define.
constexpr int kUndefinedErrorCode = 46;
constexpr int kUndefinedTag = 22;

std::string encode(int number, uint32_t wireType, uint64_t value, const std::string& payload)
{
    std::string out;
    {
        google::protobuf::io::StringOutputStream stream(&out);
        google::protobuf::io::CodedOutputStream coded(&stream);
        coded.WriteTag(static_cast<uint32_t>(number) << 3 | wireType);
        if (wireType == kWireVarint) {
            coded.WriteVarint64(value);
        } else {
            coded.WriteVarint32(static_cast<uint32_t>(payload.size()));
            coded.WriteString(payload);
        }
    }
    return out;
}

std::string varintField(int number, uint64_t value)
{
    return encode(number, kWireVarint, value, std::string());
}

std::string lengthField(int number, const std::string& payload)
{
    return encode(number, kWireLengthDelimited, 0, payload);
}

QByteArray bytesOf(const std::string& s)
{
    return QByteArray::fromStdString(s);
}

std::unique_ptr<Message> newMessage(const QString& typeName)
{
    const Descriptor* type =
        DescriptorPool::generated_pool()->FindMessageTypeByName(typeName.toStdString());
    if (!type) {
        return nullptr;
    }
    return std::unique_ptr<Message>(MessageFactory::generated_factory()->GetPrototype(type)->New());
}

// A CONFIG_NOTIFICATION carrying the monitor's record, whose log lacks its required type unless
// asked for: the fault sits three records below the envelope, inside an extension.
std::string kivarConfigNotification(bool logHasType)
{
    nv::Configd2PublicMessage message;
    message.set_tag(nv::Configd2PublicMessage::CONFIG_NOTIFICATION);
    message.set_config_revision(7);
    nv::AppConfig* config = message.mutable_config();
    config->set_app(nv::APP_LINUX_KIVAR);
    nv::Log* log = config->MutableExtension(nv::linux_kivar_config)->mutable_log();
    log->set_path("/var/log/kivar.log");
    if (logHasType) {
        log->set_type(nv::Log::FILE);
    }
    return message.SerializePartialAsString();
}

// A proxy scan answer whose report tree is four levels deep; the innermost item lacks its
// required object unless asked for.
std::string deepReportAnswer(bool leafHasObject)
{
    fc::ServerMessage message;
    message.set_tag(fc::ServerMessage::PROXY_SCAN_RESPONSE);
    nv::ScanReport* report = message.mutable_scan_report();
    report->set_object("/home/user/mail.mbox");
    nv::ScanReport* attachment = report->add_item();
    attachment->set_object("invoice.zip");
    nv::ScanReport* archive = attachment->add_item();
    archive->set_object("inner.tar");
    nv::Virus* virus = archive->add_virus();
    virus->set_type(nv::SE_KNOWN_VIRUS);
    virus->set_name("EICAR-Test-File");
    nv::ScanReport* leaf = archive->add_item();
    leaf->set_size(68);
    if (leafHasObject) {
        leaf->set_object("eicar.com");
    }
    return message.SerializePartialAsString();
}

std::string threatsNotification(bool threatHasStat)
{
    fc::ServerMessage message;
    message.set_tag(fc::ServerMessage::THREATS_NOTIFICATION);
    nv::FileThreat* threat = message.add_threats();
    threat->set_threat_id(3);
    threat->set_detection_time(1700000000);
    threat->mutable_report()->set_object("/tmp/eicar.com");
    threat->set_origin(nv::APP_FILE_CHECK);
    threat->set_origin_pid(100);
    if (threatHasStat) {
        threat->mutable_stat()->set_dev(2049);
        threat->mutable_stat()->set_ino(131);
    }
    return message.SerializePartialAsString();
}

std::string startScanAnswerWithError(int code)
{
    return varintField(fc::ServerMessage::kTagFieldNumber, fc::ServerMessage::START_SCAN_RESPONSE) +
           lengthField(fc::ServerMessage::kErrorFieldNumber,
                       varintField(nv::Error::kCodeFieldNumber, code));
}

std::string listDirAnswerWithResult(int code)
{
    return varintField(fc::ServerMessage::kTagFieldNumber, fc::ServerMessage::LIST_DIR_RESPONSE) +
           varintField(fc::ServerMessage::kListResultFieldNumber, code);
}

// An nv.AppConfig for the front-end with one extra field appended after its own.
std::string guiAppConfigWith(const std::string& extra)
{
    return varintField(nv::AppConfig::kAppFieldNumber, nv::APP_LINUX_GUI) + extra;
}

} // namespace

class TestProtocolRuntime : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void unknownFieldsSurvive_data();
    void unknownFieldsSurvive();
    void unknownNumberInOptionalEnumReadsAbsent();
    void bytesFieldsKeepInvalidUtf8_data();
    void bytesFieldsKeepInvalidUtf8();
    void absentFieldsReadDefaults_data();
    void absentFieldsReadDefaults();
    void rightStartScannerPresence_data();
    void rightStartScannerPresence();
};

void TestProtocolRuntime::parse_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("parses");

    const QString configdAnswer = QStringLiteral("nv.Configd2PublicMessage");
    const QString fcAnswer = QStringLiteral("fc.ServerMessage");

    QTest::newRow("kivar log with type")
        << configdAnswer << bytesOf(kivarConfigNotification(true)) << true;
    QTest::newRow("kivar log without type")
        << configdAnswer << bytesOf(kivarConfigNotification(false)) << false;

    nv::Configd2PublicMessage withoutApp;
    withoutApp.set_tag(nv::Configd2PublicMessage::CONFIG_NOTIFICATION);
    withoutApp.mutable_config()->MutableExtension(nv::linux_gui_config)->set_scan_timeout(1000);
    QTest::newRow("config without app")
        << configdAnswer << bytesOf(withoutApp.SerializePartialAsString()) << false;

    nv::Configd2PublicMessage lexmap;
    lexmap.set_tag(nv::Configd2PublicMessage::GET_LEXMAP_RESPONSE);
    lexmap.mutable_lexmap()->add_option()->set_key("LinuxGUI");
    QTest::newRow("lex option with key only")
        << configdAnswer << bytesOf(lexmap.SerializeAsString()) << true;

    QTest::newRow("deep report tree") << fcAnswer << bytesOf(deepReportAnswer(true)) << true;
    QTest::newRow("deep report leaf without object")
        << fcAnswer << bytesOf(deepReportAnswer(false)) << false;
    QTest::newRow("threat with stat") << fcAnswer << bytesOf(threatsNotification(true)) << true;
    QTest::newRow("threat without stat")
        << fcAnswer << bytesOf(threatsNotification(false)) << false;

    // An undefined number is never stored; in a required field that leaves the record
    // incomplete.
    QTest::newRow("error code defined")
        << fcAnswer << bytesOf(startScanAnswerWithError(45)) << true;
    QTest::newRow("error code undefined")
        << fcAnswer << bytesOf(startScanAnswerWithError(kUndefinedErrorCode)) << false;
    QTest::newRow("configd error code undefined")
        << configdAnswer
        << bytesOf(varintField(nv::Configd2PublicMessage::kTagFieldNumber,
                               nv::Configd2PublicMessage::SET_CONFIG_RESPONSE) +
                   lengthField(nv::Configd2PublicMessage::kErrorFieldNumber,
                               varintField(nv::Error::kCodeFieldNumber, 118)))
        << false;
    QTest::newRow("list result undefined")
        << fcAnswer << bytesOf(listDirAnswerWithResult(kUndefinedErrorCode)) << true;
    QTest::newRow("virus type undefined")
        << QStringLiteral("nv.ScanReport")
        << bytesOf(lengthField(nv::ScanReport::kObjectFieldNumber, "a.exe") +
                   lengthField(nv::ScanReport::kVirusFieldNumber,
                               varintField(nv::Virus::kTypeFieldNumber, 9) +
                                   lengthField(nv::Virus::kNameFieldNumber, "X")))
        << false;
    QTest::newRow("server tag undefined")
        << fcAnswer << bytesOf(varintField(fc::ServerMessage::kTagFieldNumber, kUndefinedTag))
        << false;
    QTest::newRow("client tag undefined")
        << QStringLiteral("fc.ClientMessage")
        << bytesOf(varintField(fc::ClientMessage::kTagFieldNumber, kUndefinedTag)) << false;
    QTest::newRow("server tag missing")
        << fcAnswer << bytesOf(varintField(fc::ServerMessage::kSerialFieldNumber, 1)) << false;
}

// A message parses as a whole or not at all; one that parses writes back the bytes it came from.
void TestProtocolRuntime::parse()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, wire);
    QFETCH(bool, parses);

    std::unique_ptr<Message> message = newMessage(type);
    QVERIFY2(message, qPrintable(type));
    QCOMPARE(message->ParseFromArray(wire.constData(), int(wire.size())), parses);
    if (parses) {
        QCOMPARE(bytesOf(message->SerializeAsString()), wire);
    }
}

void TestProtocolRuntime::unknownFieldsSurvive_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QList<int>>("unknownNumbers");

    // Unknown fields are written after the known ones, so each input puts them last.
    QTest::newRow("undeclared extension")
        << QStringLiteral("nv.AppConfig")
        << bytesOf(guiAppConfigWith(lengthField(7, varintField(1, 1)))) << QList<int>{7};
    // Above the extension range a number is just unknown, never an extension.
    QTest::newRow("number above extension range")
        << QStringLiteral("nv.AppConfig") << bytesOf(guiAppConfigWith(varintField(1500, 3)))
        << QList<int>{1500};
    QTest::newRow("gated field 61")
        << QStringLiteral("nv.GateDConfig")
        << bytesOf(varintField(nv::GateDConfig::kBlockKnownVirusFieldNumber, 1) +
                   varintField(61, 1))
        << QList<int>{61};
    QTest::newRow("undefined list result") << QStringLiteral("fc.ServerMessage")
                                           << bytesOf(listDirAnswerWithResult(kUndefinedErrorCode))
                                           << QList<int>{fc::ServerMessage::kListResultFieldNumber};
}

void TestProtocolRuntime::unknownFieldsSurvive()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, wire);
    QFETCH(QList<int>, unknownNumbers);

    std::unique_ptr<Message> message = newMessage(type);
    QVERIFY2(message, qPrintable(type));
    QVERIFY(message->ParseFromArray(wire.constData(), int(wire.size())));
    const google::protobuf::UnknownFieldSet& unknown =
        message->GetReflection()->GetUnknownFields(*message);
    QList<int> numbers;
    for (int i = 0; i < unknown.field_count(); ++i) {
        numbers << unknown.field(i).number();
    }
    QCOMPARE(numbers, unknownNumbers);
    QCOMPARE(bytesOf(message->SerializeAsString()), wire);
}

void TestProtocolRuntime::unknownNumberInOptionalEnumReadsAbsent()
{
    fc::ServerMessage answer;
    QVERIFY(answer.ParseFromString(listDirAnswerWithResult(kUndefinedErrorCode)));
    QVERIFY(!answer.has_list_result());
    QCOMPARE(answer.list_result(), nv::EC_OK);
}

void TestProtocolRuntime::bytesFieldsKeepInvalidUtf8_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("field");

    QTest::newRow("ClientMessage.path") << "fc.ClientMessage"
                                        << "path";
    QTest::newRow("ClientMessage.restore_path") << "fc.ClientMessage"
                                                << "restore_path";
    QTest::newRow("ClientMessage.flow_path") << "fc.ClientMessage"
                                             << "flow_path";
    QTest::newRow("ScanRequest.included_path") << "fc.ScanRequest"
                                               << "included_path";
    QTest::newRow("DirEntry.name") << "fc.DirEntry"
                                   << "name";
    QTest::newRow("ScanProgress.scanning_now") << "fc.ScanProgress"
                                               << "scanning_now";
    QTest::newRow("ScanReport.object") << "nv.ScanReport"
                                       << "object";
    QTest::newRow("QEntry.restore_path") << "nv.QEntry"
                                         << "restore_path";
}

// Paths travel exactly as the file system holds them, whatever their encoding.
void TestProtocolRuntime::bytesFieldsKeepInvalidUtf8()
{
    QFETCH(QString, type);
    QFETCH(QString, field);

    // A Latin-1 file name, a lone continuation byte and an overlong slash.
    const std::string path = "/srv/caf\xe9/\x80\xc0\xaf";

    std::unique_ptr<Message> sent = newMessage(type);
    QVERIFY2(sent, qPrintable(type));
    const FieldDescriptor* fd = sent->GetDescriptor()->FindFieldByName(field.toStdString());
    QVERIFY2(fd, qPrintable(field));
    const Reflection* reflection = sent->GetReflection();
    if (fd->is_repeated()) {
        reflection->AddString(sent.get(), fd, path);
    } else {
        reflection->SetString(sent.get(), fd, path);
    }

    // The other required fields of the record do not matter here.
    std::unique_ptr<Message> received = newMessage(type);
    QVERIFY(received->ParsePartialFromString(sent->SerializePartialAsString()));
    const std::string got = fd->is_repeated() ? reflection->GetRepeatedString(*received, fd, 0)
                                              : reflection->GetString(*received, fd);
    QCOMPARE(bytesOf(got), bytesOf(path));
}

void TestProtocolRuntime::absentFieldsReadDefaults_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("expected");

    // The smallest complete scan request: everything else comes from the declared defaults.
    const QByteArray request =
        bytesOf(varintField(fc::ScanRequest::kOriginFieldNumber, nv::APP_LINUX_GUI) +
                varintField(fc::ScanRequest::kOriginPidFieldNumber, 4242));
    const QByteArray reportOnlyObject =
        bytesOf(lengthField(nv::ScanReport::kObjectFieldNumber, "/etc/passwd"));
    const QByteArray empty;
    const QString report = QStringLiteral("FILE_ACTION_REPORT");

    auto row = [](const char* type, const QByteArray& wire, const char* field,
                  const QVariant& expected) {
        QTest::addRow("%s.%s", type, field)
            << QString::fromLatin1(type) << wire << QString::fromLatin1(field) << expected;
    };
    // The limits differ per record: a scan request, a flow and a proxy session each keep theirs.
    row("fc.ScanRequest", request, "scan_timeout_ms", 0u);
    row("fc.ScanRequest", request, "heuristic_analysis", true);
    row("fc.ScanRequest", request, "shell_trace", false);
    row("fc.ScanRequest", request, "packer_max_level", 8u);
    row("fc.ScanRequest", request, "archive_max_level", 8u);
    row("fc.ScanRequest", request, "mail_max_level", 8u);
    row("fc.ScanRequest", request, "container_max_level", 8u);
    row("fc.ScanRequest", request, "max_compression_ratio", 500u);
    row("fc.FlowOptions", empty, "scan_timeout_ms", 30000u);
    row("fc.FlowOptions", empty, "archive_max_level", 0u);
    row("fc.ProxyOptions", empty, "scan_timeout_ms", 30000u);
    row("fc.ProxyOptions", empty, "heuristic_analysis", true);
    row("fc.ProxyOptions", empty, "packer_max_level", 8u);
    row("fc.ProxyOptions", empty, "archive_max_level", 0u);
    row("fc.ProxyOptions", empty, "max_compression_ratio", 500u);

    // An empty action set only reports.
    for (const char* field : {"on_known_virus", "on_incurable", "on_suspicious", "on_adware",
                              "on_dialers", "on_jokes", "on_riskware", "on_hacktools"}) {
        row("fc.ActionSet", empty, field, report);
    }
    row("fc.ActionSet", empty, "cure_boot", false);

    row("nv.ESConnection", empty, "server_port", 2193u);
    row("nv.ESConnection", empty, "newbie", false);
    row("nv.ESConnection", empty, "wrong_public_key", false);
    row("nv.ESConnection", empty, "without_public_key", false);

    // Configuration records declare no defaults: enumerations read their first value.
    row("nv.LinuxGUIConfig", empty, "on_known_virus", QStringLiteral("FILE_ACTION_CURE"));
    row("nv.LinuxGUIConfig", empty, "scan_timeout", 0u);
    row("nv.LinuxGUIConfig", empty, "check_archives", false);
    row("nv.LinuxKivarConfig", empty, "mode", QStringLiteral("LSM_AUTO"));
    row("nv.LinuxKivarConfig", empty, "log_level", QStringLiteral("LOG_LEVEL_DEBUG"));

    row("nv.ScanReport", reportOnlyObject, "cured", false);
    row("nv.ScanReport", reportOnlyObject, "cured_by_deletion", false);
    row("nv.ScanReport", reportOnlyObject, "boot", false);
}

void TestProtocolRuntime::absentFieldsReadDefaults()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, wire);
    QFETCH(QString, field);
    QFETCH(QVariant, expected);

    std::unique_ptr<Message> message = newMessage(type);
    QVERIFY2(message, qPrintable(type));
    QVERIFY2(message->ParseFromArray(wire.constData(), int(wire.size())), "complete as sent");
    const FieldDescriptor* fd = message->GetDescriptor()->FindFieldByName(field.toStdString());
    QVERIFY2(fd, qPrintable(field));
    const Reflection* reflection = message->GetReflection();
    QVERIFY(!reflection->HasField(*message, fd));

    QVariant value;
    switch (fd->cpp_type()) {
    case FieldDescriptor::CPPTYPE_UINT32:
        value = reflection->GetUInt32(*message, fd);
        break;
    case FieldDescriptor::CPPTYPE_BOOL:
        value = reflection->GetBool(*message, fd);
        break;
    case FieldDescriptor::CPPTYPE_ENUM:
        value = QString::fromStdString(reflection->GetEnum(*message, fd)->name());
        break;
    default:
        QFAIL("no reader for this field type");
    }
    QCOMPARE(value, expected);
}

void TestProtocolRuntime::rightStartScannerPresence_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("hasRecord");
    QTest::addColumn<bool>("hasRight");
    QTest::addColumn<bool>("right");

    auto notification = [](const nv::LinuxGUIConfig* record) {
        nv::Configd2PublicMessage message;
        message.set_tag(nv::Configd2PublicMessage::CONFIG_NOTIFICATION);
        message.mutable_config()->set_app(nv::APP_LINUX_GUI);
        if (record) {
            *message.mutable_config()->MutableExtension(nv::linux_gui_config) = *record;
        }
        return bytesOf(message.SerializeAsString());
    };
    nv::LinuxGUIConfig unset;
    unset.set_scan_timeout(30000);
    nv::LinuxGUIConfig denied = unset;
    denied.set_right_start_scanner(false);
    nv::LinuxGUIConfig allowed = unset;
    allowed.set_right_start_scanner(true);

    QTest::newRow("no record") << notification(nullptr) << false << false << false;
    QTest::newRow("right absent") << notification(&unset) << true << false << false;
    QTest::newRow("right false") << notification(&denied) << true << true << false;
    QTest::newRow("right true") << notification(&allowed) << true << true << true;
}

// Absent and present-false are different answers to "may the scanner be started".
void TestProtocolRuntime::rightStartScannerPresence()
{
    QFETCH(QByteArray, wire);
    QFETCH(bool, hasRecord);
    QFETCH(bool, hasRight);
    QFETCH(bool, right);

    nv::Configd2PublicMessage message;
    QVERIFY(message.ParseFromArray(wire.constData(), int(wire.size())));
    QCOMPARE(message.config().HasExtension(nv::linux_gui_config), hasRecord);
    const nv::LinuxGUIConfig& record = message.config().GetExtension(nv::linux_gui_config);
    QCOMPARE(record.has_right_start_scanner(), hasRight);
    QCOMPARE(record.right_start_scanner(), right);
    QCOMPARE(bytesOf(message.SerializeAsString()), wire);
}

QTEST_GUILESS_MAIN(TestProtocolRuntime)
#include "tst_protocol_runtime.moc"
