#include "ConfigdResponseHandler.h"
#include "Inventory.h"
#include "LenientParser.h"
#include "TestSupport.h"

#include "linux_kivar_config.pb.h"

#include <QTest>

namespace {
using Reply = nv::Configd2PublicMessage;

const QString kStalePath = QStringLiteral("/run/stale");
constexpr quint32 kStaleRevision = 3;

nv::LinuxGUIConfig guiRecord(quint32 scanTimeout)
{
    nv::LinuxGUIConfig record;
    record.set_scan_timeout(scanTimeout);
    return record;
}

QByteArray serialized(const google::protobuf::Message& message)
{
    return QByteArray::fromStdString(message.SerializePartialAsString());
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}
} // namespace

class TestConfigdResponseHandler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void configNotification_data();
    void configNotification();
    void fcheckResponse_data();
    void fcheckResponse();

private:
    ConfigdResponseHandler m_handler;
};

// Checks the state before any notification: only here has no case written to the process-wide
// inventory yet.
void TestConfigdResponseHandler::initTestCase()
{
    const Inventory* inventory = Inventory::instance();
    QCOMPARE(inventory->config().ByteSizeLong(), size_t(0));
    QCOMPARE(inventory->configRevision(), 0u);
    QVERIFY(inventory->fcSocketPath().isEmpty());
    QVERIFY(!inventory->parent());
}

// Every case starts from a stored state that it can only keep or replace.
void TestConfigdResponseHandler::init()
{
    Inventory::instance()->setConfig(kStaleRevision, guiRecord(1));
    Inventory::instance()->setFcSocketPath(kStalePath);
}

void TestConfigdResponseHandler::configNotification_data()
{
    QTest::addColumn<QByteArray>("carrier");
    QTest::addColumn<quint32>("revision");
    QTest::addColumn<QByteArray>("storedConfig");
    QTest::addColumn<quint32>("storedRevision");

    nv::AppConfig carrier;
    carrier.set_app(nv::APP_LINUX_GUI);
    *carrier.MutableExtension(nv::linux_gui_config) = guiRecord(30000);
    QTest::newRow("front-end record")
        << serialized(carrier) << 7u << serialized(guiRecord(30000)) << 7u;

    nv::AppConfig emptyRecord;
    emptyRecord.set_app(nv::APP_LINUX_GUI);
    emptyRecord.MutableExtension(nv::linux_gui_config);
    QTest::newRow("empty front-end record replaces the stored one")
        << serialized(emptyRecord) << 8u << QByteArray() << 8u;

    nv::AppConfig bare;
    bare.set_app(nv::APP_LINUX_GUI);
    QTest::newRow("no front-end record")
        << serialized(bare) << 9u << serialized(guiRecord(1)) << kStaleRevision;

    nv::AppConfig other;
    other.set_app(nv::APP_LINUX_KIVAR);
    other.MutableExtension(nv::linux_kivar_config)->set_scan_timeout(5);
    QTest::newRow("another component's record")
        << serialized(other) << 10u << serialized(guiRecord(1)) << kStaleRevision;
}

void TestConfigdResponseHandler::configNotification()
{
    QFETCH(QByteArray, carrier);
    QFETCH(quint32, revision);
    QFETCH(QByteArray, storedConfig);
    QFETCH(quint32, storedRevision);
    nv::AppConfig config;
    QVERIFY(config.ParseFromArray(carrier.constData(), int(carrier.size())));
    const LogCapture log;

    m_handler.onConfigNotification(config, revision);

    QCOMPARE(log.lines(), QStringList{quoted("ConfigD -> APP_CONFIG_NOTIFICATION")});
    QCOMPARE(serialized(Inventory::instance()->config()), storedConfig);
    QCOMPARE(Inventory::instance()->configRevision(), storedRevision);
}

void TestConfigdResponseHandler::fcheckResponse_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("logs");
    QTest::addColumn<QString>("storedPath");

    Reply path;
    path.set_tag(Reply::GET_FCHECK_RESPONSE);
    path.set_socket_path("/run/fc/sock");
    QTest::newRow("path") << serialized(path)
                          << QStringList{quoted("ConfigD -> GET_FCHECK_RESPONSE: /run/fc/sock")}
                          << QStringLiteral("/run/fc/sock");

    Reply utf8 = path;
    utf8.set_socket_path("/run/fc/сокет");
    QTest::newRow("path beyond ASCII")
        << serialized(utf8)
        << QStringList{quoted(QString::fromUtf8("ConfigD -> GET_FCHECK_RESPONSE: /run/fc/сокет"))}
        << QString::fromUtf8("/run/fc/сокет");

    Reply empty = path;
    empty.set_socket_path("");
    QTest::newRow("empty path") << serialized(empty)
                                << QStringList{quoted("ConfigD -> GET_FCHECK_RESPONSE: ")}
                                << QString();

    Reply both = path;
    both.mutable_error()->set_code(nv::EC_NO_FILE_CHECK);
    QTest::newRow("path and error")
        << serialized(both) << QStringList{quoted("ConfigD -> GET_FCHECK_RESPONSE: /run/fc/sock")}
        << QStringLiteral("/run/fc/sock");

    Reply error;
    error.set_tag(Reply::GET_FCHECK_RESPONSE);
    error.mutable_error()->set_code(nv::EC_NO_FILE_CHECK);
    QTest::newRow("error") << serialized(error)
                           << QStringList{quoted("ConfigD -> GET_FCHECK_RESPONSE ERROR: 120")}
                           << kStalePath;

    Reply newer;
    newer.set_tag(Reply::GET_FCHECK_RESPONSE);
    nv::Error* code = newer.mutable_error();
    code->GetReflection()->MutableUnknownFields(code)->AddVarint(nv::Error::kCodeFieldNumber, 9999);
    QTest::newRow("error of a newer daemon")
        << serialized(newer) << QStringList{quoted("ConfigD -> GET_FCHECK_RESPONSE ERROR: 9999")}
        << kStalePath;

    Reply neither;
    neither.set_tag(Reply::GET_FCHECK_RESPONSE);
    QTest::newRow("neither") << serialized(neither) << QStringList() << kStalePath;
}

void TestConfigdResponseHandler::fcheckResponse()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, logs);
    QFETCH(QString, storedPath);
    Reply message;
    QVERIFY(LenientParser::parse(message, reply));
    const LogCapture log;

    m_handler.onFcheckResponse(message);

    QCOMPARE(log.lines(), logs);
    QCOMPARE(Inventory::instance()->fcSocketPath(), storedPath);
}

QTEST_GUILESS_MAIN(TestConfigdResponseHandler)
#include "tst_configdresponsehandler.moc"
