#include "FcIPCLink.h"
#include "ScanTask.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <functional>

namespace {

using Call = std::function<void(FcIPCLink&)>;
// Builds the daemon's frames from the serials of the threat and quarantine operations that the
// fixture has pending.
using Script = std::function<QByteArray(quint32 threatSerial, quint32 quarantineSerial)>;

const std::string kSecret = "s3cr3t-t0ken";

// A link over a real socket pair; everything it emits is recorded in order as text.
struct Fixture
{
    SocketPair pair;
    FcIPCLink link{pair.client(), nullptr};
    QStringList emitted;

    Fixture()
    {
        auto note = [this](const QString& text) { emitted << text; };
        QObject::connect(&link, &FcIPCLink::threatsDetected, [=](const fc::ServerMessage& m) {
            note("threatsDetected(" + QString::fromStdString(m.ShortDebugString()) + ")");
        });
        QObject::connect(&link, &FcIPCLink::quarantineUpdated, [=](const fc::ServerMessage& m) {
            note("quarantineUpdated(" + QString::fromStdString(m.ShortDebugString()) + ")");
        });
        QObject::connect(&link, &FcIPCLink::scanIsStarted,
                         [=](int id) { note(QStringLiteral("scanIsStarted(%1)").arg(id)); });
        QObject::connect(&link, &FcIPCLink::scanIsInterrupted,
                         [=](int id) { note(QStringLiteral("scanIsInterrupted(%1)").arg(id)); });
        QObject::connect(&link, &FcIPCLink::threatOpError, [=](int id, nv::ErrorCode ec) {
            note(QStringLiteral("threatOpError(%1,%2)").arg(id).arg(int(ec)));
        });
        QObject::connect(&link, &FcIPCLink::quarantineOpError,
                         [=](const std::string& id, nv::ErrorCode ec) {
                             note(QStringLiteral("quarantineOpError(%1,%2)")
                                      .arg(QString::fromStdString(id))
                                      .arg(int(ec)));
                         });
        QObject::connect(&link, &FcIPCLink::newScanInfo, [=](const fc::ScanInfo& info) {
            note(QStringLiteral("newScanInfo(%1)").arg(info.task_id()));
        });
        QObject::connect(
            &link, &FcIPCLink::dirEntryListReceived,
            [=](int serial, const RepeatedDirEntry& entries) {
                QStringList names;
                for (const fc::DirEntry& e : entries) {
                    names << QString::fromStdString(e.name()) + (e.is_directory() ? "/" : "");
                }
                note(
                    QStringLiteral("dirEntryListReceived(%1,%2)").arg(serial).arg(names.join(' ')));
            });
        QObject::connect(&link, &FcIPCLink::dirEntryListError, [=](int serial, nv::ErrorCode ec) {
            note(QStringLiteral("dirEntryListError(%1,%2)").arg(serial).arg(int(ec)));
        });
        QObject::connect(&link, &FcIPCLink::finished, [=] { note("finished()"); });
        QObject::connect(&link, &FcIPCLink::refused, [=](nv::ErrorCode ec) {
            note(QStringLiteral("refused(%1)").arg(int(ec)));
        });
        QObject::connect(&link, &FcIPCLink::interruptFailed, [=](int id, nv::ErrorCode ec) {
            note(QStringLiteral("interruptFailed(%1,%2)").arg(id).arg(int(ec)));
        });
        QObject::connect(&link, &FcIPCLink::connectionLost,
                         [=](QLocalSocket::LocalSocketError cause) {
                             note(QStringLiteral("connectionLost(%1)").arg(int(cause)));
                         });
    }

    QList<fc::ClientMessage> received(int count)
    {
        return readMessages<fc::ClientMessage>(pair.peer(), count);
    }

    // The link reads only here, so each test decides what it has seen.
    void deliver(const QByteArray& frames)
    {
        pair.peerWrite(frames);
        link.dataReceived();
    }
};

quint32 ownPid()
{
    return quint32(QCoreApplication::applicationPid());
}

// `serialOffset` counts from the serial of the request sent just before; 0 means none.
fc::ClientMessage envelope(fc::ClientMessage::ClientMessageTag tag, quint32 serialOffset = 0)
{
    fc::ClientMessage msg;
    msg.set_tag(tag);
    if (serialOffset != 0) {
        msg.set_serial(serialOffset);
    }
    return msg;
}

void setOrigin(fc::ScanRequest* request)
{
    request->set_origin(nv::APP_LINUX_GUI);
    request->set_origin_pid(ownPid());
}

// A START_SCAN_REQUEST as scan() builds it, before the configuration is applied.
fc::ClientMessage startScan(const QList<QByteArray>& included, const char* comment, bool boot,
                            bool processes)
{
    fc::ClientMessage msg = envelope(fc::ClientMessage::START_SCAN_REQUEST, 1);
    fc::ScanRequest* request = msg.mutable_scan_request();
    setOrigin(request);
    for (const QByteArray& path : included) {
        request->add_included_path(path.toStdString());
    }
    if (boot) {
        request->add_boot_dev_path("*");
    }
    request->set_scan_processes(processes);
    request->set_comment(comment);
    return msg;
}

// Alternates two actions over the eight categories, so that a swapped field shows. Scan
// requests and configurations name their action fields alike.
template <typename Record> void setActions(Record* set, nv::FileAction a, nv::FileAction b)
{
    set->set_on_known_virus(a);
    set->set_on_incurable(b);
    set->set_on_suspicious(a);
    set->set_on_adware(b);
    set->set_on_dialers(a);
    set->set_on_jokes(b);
    set->set_on_riskware(a);
    set->set_on_hacktools(b);
}

void setLimits(fc::ScanRequest* request, quint32 timeoutMs, quint32 mail, quint32 archive)
{
    request->set_scan_timeout_ms(timeoutMs);
    request->set_mail_max_level(mail);
    request->set_archive_max_level(archive);
}

nv::LinuxGUIConfig configWithActions(nv::FileAction a, nv::FileAction b)
{
    nv::LinuxGUIConfig config;
    setActions(&config, a, b);
    return config;
}

fc::ServerMessage reply(fc::ServerMessage::ServerMessageTag tag)
{
    fc::ServerMessage msg;
    msg.set_tag(tag);
    return msg;
}

fc::ServerMessage failed(fc::ServerMessage msg, nv::ErrorCode code)
{
    msg.mutable_error()->set_code(code);
    return msg;
}

fc::ServerMessage answer(fc::ServerMessage::ServerMessageTag tag, quint32 serial)
{
    fc::ServerMessage msg = reply(tag);
    msg.set_serial(serial);
    return msg;
}

fc::ServerMessage started(quint32 taskId)
{
    fc::ServerMessage msg = reply(fc::ServerMessage::START_SCAN_RESPONSE);
    msg.set_task_id(taskId);
    return msg;
}

nv::FileThreat threat(quint32 id)
{
    nv::FileThreat t;
    t.set_threat_id(id);
    t.set_detection_time(1);
    t.mutable_report()->set_object("/data/eicar");
    t.mutable_stat()->set_dev(1);
    t.mutable_stat()->set_ino(id);
    t.set_origin(nv::APP_LINUX_GUI);
    t.set_origin_pid(1);
    return t;
}

fc::ScanInfo info(quint32 taskId, fc::ScanState state, int threats = 0)
{
    fc::ScanInfo i;
    i.set_task_id(taskId);
    i.set_state(state);
    for (int n = 0; n < threats; ++n) {
        *i.add_threat() = threat(quint32(n + 1));
    }
    return i;
}

fc::ScanInfo progressed(fc::ScanInfo i, bool traverseDone, quint64 toScan, quint64 scanned,
                        const QByteArray& now)
{
    fc::ScanProgress* p = i.mutable_progress();
    p->set_traverse_done(traverseDone);
    p->set_files_to_scan(toScan);
    p->set_files_scanned(scanned);
    p->set_scanning_now(now.toStdString());
    return i;
}

fc::ScanInfo ended(quint32 taskId, nv::ErrorCode status)
{
    fc::ScanInfo i = info(taskId, fc::SCAN_STATE_FINISHED);
    i.mutable_result()->set_stop_time(2);
    i.mutable_result()->set_final_status(status);
    return i;
}

// A value of an enumeration field that this build does not know, as a newer daemon sends it: the
// runtime keeps it among the unknown fields.
void setNewerValue(google::protobuf::Message* msg, int fieldNumber, int value)
{
    msg->GetReflection()->MutableUnknownFields(msg)->AddVarint(fieldNumber, quint64(value));
}

QByteArray partialFrame(const google::protobuf::Message& msg)
{
    return frameOf(QByteArray::fromStdString(msg.SerializePartialAsString()));
}

fc::ServerMessage infos(const QList<fc::ScanInfo>& entries)
{
    fc::ServerMessage msg = reply(fc::ServerMessage::SCAN_INFO_NOTIFICATION);
    for (const fc::ScanInfo& entry : entries) {
        *msg.add_info() = entry;
    }
    return msg;
}

nv::Disk disk(const char* devPath)
{
    nv::Disk d;
    d.set_dev_path(devPath);
    d.set_cylinders(1);
    d.set_heads(1);
    d.set_sectors(1);
    d.set_size(1);
    return d;
}

fc::ServerMessage disksReply(const QList<nv::Disk>& disks)
{
    fc::ServerMessage msg = reply(fc::ServerMessage::ENUMERATE_DISKS_RESPONSE);
    for (const nv::Disk& d : disks) {
        *msg.add_disks() = d;
    }
    return msg;
}

QByteArray frames(const QList<fc::ServerMessage>& messages)
{
    QByteArray out;
    for (const fc::ServerMessage& m : messages) {
        out += frameOf(m);
    }
    return out;
}

QString text(const google::protobuf::Message& msg)
{
    return QString::fromStdString(msg.DebugString());
}

QString filecheck(const QString& name)
{
    return QStringLiteral("\"Filecheck -> %1\"").arg(name);
}

// The debug line of a request as the debug stream writes its items.
QString requestLine(const char* prefix, fc::ClientMessage sent)
{
    if (sent.has_token()) {
        sent.set_token("<redacted>");
    }
    QString line;
    QDebug stream(&line);
    if (prefix) {
        stream << prefix;
    }
    stream << text(sent);
    return line.trimmed();
}

} // namespace

Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(fc::ClientMessage)

class TestFcIPCLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void metaObjectOrder();
    void requests_data();
    void requests();
    void refusedCalls_data();
    void refusedCalls();
    void tokenNeverLogged_data();
    void tokenNeverLogged();
    void enumerateDisks();
    void replyReadInsideASignal();
    void dispatch_data();
    void dispatch();
    void scanEnd_data();
    void scanEnd();
    void newerDaemonValues_data();
    void newerDaemonValues();
    void writeIntoAClosedConnection();
    void summaryFollowsOurTask();

private:
    QTemporaryDir m_config;
};

void TestFcIPCLink::initTestCase()
{
    // A schedule of our own, so that a scheduled task has targets that do not depend on the
    // machine.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("norvo"));
    QCoreApplication::setApplicationName(QStringLiteral("norvo-gui"));
    QSettings schedule(m_config.filePath("norvo/norvo-gui.conf"), QSettings::IniFormat);
    schedule.setValue("Scan/ScheduleScanType", "CustomScan");
    schedule.setValue("Scan/SchedulePersistentPaths", QVariantMap{{"MBR", true}});
    schedule.setValue("Scan/ScheduleCustomPaths",
                      QVariantMap{{"/srv/b", true}, {"/srv/a", true}, {"/srv/c", false}});
    schedule.sync();

    // The counter belongs to the process, so only the very first request can show its start.
    Fixture f;
    f.link.request(IPCLink::SubscribeToScanInfo);
    const QList<fc::ClientMessage> sent = f.received(1);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].serial(), 1u);
}

void TestFcIPCLink::metaObjectOrder()
{
    // Receivers elsewhere connect by these signatures.
    const QMetaObject* meta = &FcIPCLink::staticMetaObject;
    QStringList methods;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        methods << QString::fromLatin1(meta->method(i).methodSignature());
    }
    const QStringList expected{
        "threatsDetected(fc::ServerMessage)",
        "quarantineUpdated(fc::ServerMessage)",
        "scanIsStarted(int)",
        "scanIsInterrupted(int)",
        "threatOpError(int,nv::ErrorCode)",
        "quarantineOpError(std::string,nv::ErrorCode)",
        "newScanInfo(fc::ScanInfo)",
        "dirEntryListReceived(int,RepeatedDirEntry)",
        "dirEntryListError(int,nv::ErrorCode)",
        "finished()",
        "refused(nv::ErrorCode)",
        "interruptFailed(int,nv::ErrorCode)",
        "threatFound(nv::FileThreat)",
        "connectionLost(QLocalSocket::LocalSocketError)",
        "onError(QLocalSocket::LocalSocketError)",
        "scan(QSharedPointer<ScanTask>,nv::LinuxGUIConfig,std::string)",
        "neutralizeByAction(nv::FileAction,int,std::string)",
        "neutralize(int,nv::LinuxGUIConfig,std::string)",
        "interruptScan(int,std::string)",
        "doActionWithQEntry(nv::QEntryAction,QList<std::string>,std::string)",
        "restoryQEntry(QString,QString,QString)",
    };
    QCOMPARE(methods, expected);
}

// Each row's request follows a subscription; serials in `expected` count from the
// subscription's. `pending` is the entry the request leaves under its serial, if any.
void TestFcIPCLink::requests_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<fc::ClientMessage>("expected");
    QTest::addColumn<QVariant>("pending");

    using CM = fc::ClientMessage;
    const QByteArray nonAscii = QByteArray("/tmp/\xc3\xbc");
    const auto custom = [](QStringList paths, bool boot, bool processes) {
        return QSharedPointer<ScanTask>::create(ScanTask::CustomScan, paths, boot, processes);
    };

    {
        nv::LinuxGUIConfig config =
            configWithActions(nv::FILE_ACTION_QUARANTINE, nv::FILE_ACTION_DELETE);
        config.set_auto_applying(true);
        config.set_check_emails(true);
        config.set_check_archives(false);
        config.set_scan_timeout(1500);
        config.mutable_excluded_path()->add_path("/cfg/x");
        config.mutable_excluded_path()->add_path("/cfg/y");
        CM msg = startScan({"/norvo/a", "/norvo/b"}, "2", true, false);
        msg.set_token(kSecret);
        setLimits(msg.mutable_scan_request(), 1500, 8, 0);
        setActions(msg.mutable_scan_request()->mutable_actions(), nv::FILE_ACTION_QUARANTINE,
                   nv::FILE_ACTION_DELETE);
        msg.mutable_scan_request()->add_excluded_path("/cfg/x");
        msg.mutable_scan_request()->add_excluded_path("/cfg/y");
        const auto task = custom({"/norvo/a", "/norvo/b"}, true, false);
        QTest::newRow("scan: actions applied, mail only, boot records, token")
            << Call([=](FcIPCLink& l) { l.scan(task, config, kSecret); }) << msg << QVariant();
    }
    {
        nv::LinuxGUIConfig config = configWithActions(nv::FILE_ACTION_CURE, nv::FILE_ACTION_DELETE);
        config.set_auto_applying(false);
        config.set_check_emails(false);
        config.set_check_archives(true);
        CM msg = startScan({"/norvo/c"}, "2", false, true);
        setLimits(msg.mutable_scan_request(), 0, 0, 8);
        setActions(msg.mutable_scan_request()->mutable_actions(), nv::FILE_ACTION_REPORT,
                   nv::FILE_ACTION_REPORT);
        const auto task = custom({"/norvo/c"}, false, true);
        QTest::newRow("scan: actions only reported, archives only, no token, no exclusions")
            << Call([=](FcIPCLink& l) { l.scan(task, config, ""); }) << msg << QVariant();
    }
    {
        CM msg = startScan({nonAscii}, "2", false, false);
        setLimits(msg.mutable_scan_request(), 0, 0, 0);
        setActions(msg.mutable_scan_request()->mutable_actions(), nv::FILE_ACTION_REPORT,
                   nv::FILE_ACTION_REPORT);
        const auto task = custom({QString::fromUtf8("/tmp/ü")}, false, false);
        QTest::newRow("scan: non-ASCII path as file-system bytes")
            << Call([=](FcIPCLink& l) { l.scan(task, nv::LinuxGUIConfig(), ""); }) << msg
            << QVariant();
    }
    {
        // The schedule written in initTestCase(): custom paths in sorted order, boot records.
        const auto task = QSharedPointer<ScanTask>::create(ScanTask::ScheduledScan);
        CM msg = startScan({"/srv/a", "/srv/b"}, "3", true, false);
        setLimits(msg.mutable_scan_request(), 0, 0, 0);
        setActions(msg.mutable_scan_request()->mutable_actions(), nv::FILE_ACTION_REPORT,
                   nv::FILE_ACTION_REPORT);
        QTest::newRow("scan: scheduled task")
            << Call([=](FcIPCLink& l) { l.scan(task, nv::LinuxGUIConfig(), ""); }) << msg
            << QVariant();
    }
    {
        CM msg = envelope(CM::INTERRUPT_SCAN_REQUEST);
        msg.set_task_id(42);
        msg.set_token(kSecret);
        setOrigin(msg.mutable_scan_request());
        QTest::newRow("interruptScan with token")
            << Call([](FcIPCLink& l) { l.interruptScan(42, kSecret); }) << msg << QVariant();
        msg.clear_token();
        QTest::newRow("interruptScan without token")
            << Call([](FcIPCLink& l) { l.interruptScan(42, ""); }) << msg << QVariant();
    }
    const QList<std::pair<nv::FileAction, CM::ClientMessageTag>> threatOps{
        {nv::FILE_ACTION_CURE, CM::CURE_THREAT_REQUEST},
        {nv::FILE_ACTION_QUARANTINE, CM::QUARANTINE_THREAT_REQUEST},
        {nv::FILE_ACTION_DELETE, CM::DELETE_THREAT_REQUEST},
        {nv::FILE_ACTION_IGNORE, CM::IGNORE_THREAT_REQUEST},
    };
    for (const auto& [action, tag] : threatOps) {
        CM msg = envelope(tag, 1);
        msg.set_threat_id(77);
        msg.set_token(kSecret);
        QTest::addRow("neutralizeByAction %s", CM::ClientMessageTag_Name(tag).c_str())
            << Call([action = action](FcIPCLink& l) { l.neutralizeByAction(action, 77, kSecret); })
            << msg << QVariant(77);
    }
    {
        // REPORT would leave a known threat as it is, so it becomes IGNORE.
        const nv::LinuxGUIConfig config =
            configWithActions(nv::FILE_ACTION_REPORT, nv::FILE_ACTION_QUARANTINE);
        CM msg = envelope(CM::NEUTRALIZE_THREAT_REQUEST, 1);
        msg.set_threat_id(8);
        setActions(msg.mutable_actions(), nv::FILE_ACTION_IGNORE, nv::FILE_ACTION_QUARANTINE);
        msg.mutable_actions()->set_cure_boot(true);
        QTest::newRow("neutralize by configuration")
            << Call([=](FcIPCLink& l) { l.neutralize(8, config, ""); }) << msg << QVariant(8);
    }
    {
        CM msg = envelope(CM::DELETE_QENTRY_REQUEST, 1);
        msg.set_entry_id("entry-\xc3\xa9");
        msg.set_chunk_id("chunk");
        msg.set_token(kSecret);
        QTest::newRow("delete quarantine entry") << Call([](FcIPCLink& l) {
            l.doActionWithQEntry(nv::QENTRY_ACTION_DELETE, {"entry-\xc3\xa9", "chunk"}, kSecret);
        }) << msg << QVariant(QString::fromUtf8("entry-é"));
        msg.set_tag(CM::RESTORE_QENTRY_REQUEST);
        msg.clear_token();
        QTest::newRow("restore quarantine entry in place") << Call([](FcIPCLink& l) {
            l.doActionWithQEntry(nv::QENTRY_ACTION_RESTORE, {"entry-\xc3\xa9", "chunk"}, "");
        }) << msg << QVariant(QString::fromUtf8("entry-é"));
        msg.set_restore_path(nonAscii.toStdString());
        msg.set_token(kSecret);
        QTest::newRow("restore quarantine entry elsewhere") << Call([=](FcIPCLink& l) {
            l.doActionWithQEntry(nv::QENTRY_ACTION_RESTORE,
                                 {"entry-\xc3\xa9", "chunk", nonAscii.toStdString()}, kSecret);
        }) << msg << QVariant(QString::fromUtf8("entry-é"));
        msg.clear_token();
        msg.set_chunk_id("chunk-\xc3\xbc");
        QTest::newRow("restoryQEntry") << Call([](FcIPCLink& l) {
            l.restoryQEntry(QString::fromUtf8("entry-é"), QString::fromUtf8("chunk-ü"),
                            QString::fromUtf8("/tmp/ü"));
        }) << msg << QVariant(QString::fromUtf8("entry-é"));
    }
    {
        CM msg = envelope(CM::LIST_DIR_REQUEST, 1);
        msg.set_path(nonAscii.toStdString());
        msg.set_token(kSecret);
        QTest::newRow("listDir") << Call([](FcIPCLink& l) {
            l.listDir(QString::fromUtf8("/tmp/ü"), kSecret);
        }) << msg << QVariant();
    }
    {
        CM msg = envelope(CM::START_SCAN_REQUEST, 1);
        setOrigin(msg.mutable_scan_request());
        msg.mutable_scan_request()->add_included_path("/in/a");
        msg.mutable_scan_request()->add_included_path(nonAscii.toStdString());
        msg.mutable_scan_request()->add_excluded_path("/out");
        QTest::newRow("kind 2: scan of the stored paths")
            << Call([](FcIPCLink& l) { l.request(IPCLink::StartScan); }) << msg << QVariant();
    }
    {
        CM msg = envelope(CM::INTERRUPT_SCAN_REQUEST);
        msg.set_task_id(0);
        setOrigin(msg.mutable_scan_request());
        QTest::newRow("kind 5: interruption of the current task")
            << Call([](FcIPCLink& l) { l.request(IPCLink::InterruptScan); }) << msg << QVariant();
    }
    {
        CM msg = envelope(CM::SUBSCRIBE_TO_SCAN_INFO, 1);
        fc::ScanInfoOptions* options = msg.mutable_info_options();
        options->set_report_clean(false);
        options->set_report_threats(true);
        options->set_report_errors(true);
        options->set_progress_interval_ms(200);
        QTest::newRow("kind 6: scan information")
            << Call([](FcIPCLink& l) { l.request(IPCLink::SubscribeToScanInfo); }) << msg
            << QVariant();
    }
    const QList<std::pair<int, CM::ClientMessageTag>> storedThreatOps{
        {IPCLink::QuarantineThreat, CM::QUARANTINE_THREAT_REQUEST},
        {IPCLink::DeleteThreat, CM::DELETE_THREAT_REQUEST},
        {IPCLink::CureThreat, CM::CURE_THREAT_REQUEST},
    };
    for (const auto& [kind, tag] : storedThreatOps) {
        CM msg = envelope(tag, 1);
        msg.set_threat_id(5);
        // Not recorded: an error reply to these is logged only.
        QTest::addRow("kind %d: %s of the current threat", kind,
                      CM::ClientMessageTag_Name(tag).c_str())
            << Call([kind = kind](FcIPCLink& l) { l.request(kind); }) << msg << QVariant();
    }
    QTest::newRow("kind 10: threats")
        << Call([](FcIPCLink& l) { l.request(IPCLink::SubscribeToThreats); })
        << envelope(CM::SUBSCRIBE_TO_THREATS) << QVariant();
    QTest::newRow("kind 11: quarantine")
        << Call([](FcIPCLink& l) { l.request(IPCLink::SubscribeToQuarantine); })
        << envelope(CM::SUBSCRIBE_TO_QUARANTINE) << QVariant();
}

void TestFcIPCLink::requests()
{
    QFETCH(Call, call);
    QFETCH(fc::ClientMessage, expected);
    QFETCH(QVariant, pending);

    Fixture f;
    // Stored state that only the requests by kind may use.
    f.link.setIncludedPaths({"/in/a", QString::fromUtf8("/tmp/ü")});
    f.link.setExcludedPaths({"/out"});
    f.link.setCurrentThreatId(5);
    f.link.request(IPCLink::SubscribeToScanInfo);
    call(f.link);

    const QList<fc::ClientMessage> sent = f.received(2);
    QCOMPARE(sent.size(), 2);
    const quint32 first = sent[0].serial();
    if (expected.has_serial()) {
        expected.set_serial(first + expected.serial());
    }
    QCOMPARE(text(sent[1]), text(expected));
    QMap<quint32, QVariant> entries;
    if (pending.isValid()) {
        entries.insert(first + 1, pending);
    }
    QCOMPARE(f.link.pendingRequests(), entries);
}

void TestFcIPCLink::refusedCalls_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QStringList>("warnings");

    const QStringList tooFew{
        "Quarantine operation needs an entry id and a chunk id, got 1 parameters, nothing sent"};
    QTest::newRow("quarantine delete with one parameter") << Call([](FcIPCLink& l) {
        l.doActionWithQEntry(nv::QENTRY_ACTION_DELETE, {"entry"}, kSecret);
    }) << tooFew;
    QTest::newRow("quarantine restore without parameters")
        << Call([](FcIPCLink& l) { l.doActionWithQEntry(nv::QENTRY_ACTION_RESTORE, {}, ""); })
        << QStringList{"Quarantine operation needs an entry id and a chunk id, got 0 parameters, "
                       "nothing sent"};
    QTest::newRow("quarantine rescan") << Call([](FcIPCLink& l) {
        l.doActionWithQEntry(nv::QENTRY_ACTION_RESCAN, {"entry", "chunk"}, "");
    }) << QStringList{"Quarantine action 3 has no request, nothing sent"};
    QTest::newRow("quarantine cure") << Call([](FcIPCLink& l) {
        l.doActionWithQEntry(nv::QENTRY_ACTION_CURE, {"entry", "chunk"}, "");
    }) << QStringList{"Quarantine action 4 has no request, nothing sent"};
    QTest::newRow("threat report")
        << Call([](FcIPCLink& l) { l.neutralizeByAction(nv::FILE_ACTION_REPORT, 5, kSecret); })
        << QStringList{"Threat action 4 has no request, nothing sent"};
    QTest::newRow("scan without task")
        << Call([](FcIPCLink& l) { l.scan({}, nv::LinuxGUIConfig(), ""); })
        << QStringList{"Scan request without a task, nothing sent"};
    for (int kind : {0, 1, 3, 4, 12}) {
        QTest::addRow("kind %d has nothing to send", kind)
            << Call([kind](FcIPCLink& l) { l.request(kind); }) << QStringList();
    }
}

void TestFcIPCLink::refusedCalls()
{
    QFETCH(Call, call);
    QFETCH(QStringList, warnings);

    Fixture f;
    LogCapture log;
    call(f.link);
    QCOMPARE(log.lines(QtWarningMsg), warnings);
    QVERIFY(f.link.pendingRequests().isEmpty());
    // A request that went out would reach the peer before this one.
    f.link.request(IPCLink::SubscribeToThreats);
    const QList<fc::ClientMessage> sent = f.received(1);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].tag(), fc::ClientMessage::SUBSCRIBE_TO_THREATS);
    QCOMPARE(f.pair.peer()->bytesAvailable(), qint64(0));
}

void TestFcIPCLink::tokenNeverLogged_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QByteArray>("prefix");
    QTest::addColumn<bool>("withToken");

    const auto task = QSharedPointer<ScanTask>::create(ScanTask::CustomScan,
                                                       QStringList{"/norvo/a"}, false, false);
    QTest::newRow("scan with token")
        << Call([=](FcIPCLink& l) { l.scan(task, nv::LinuxGUIConfig(), kSecret); })
        << QByteArray("Scan request:") << true;
    QTest::newRow("scan without token")
        << Call([=](FcIPCLink& l) { l.scan(task, nv::LinuxGUIConfig(), ""); })
        << QByteArray("Scan request:") << false;
    QTest::newRow("listDir with token")
        << Call([](FcIPCLink& l) { l.listDir("/srv", kSecret); }) << QByteArray() << true;
}

void TestFcIPCLink::tokenNeverLogged()
{
    QFETCH(Call, call);
    QFETCH(QByteArray, prefix);
    QFETCH(bool, withToken);

    Fixture f;
    LogCapture log;
    call(f.link);
    const QList<fc::ClientMessage> sent = f.received(1);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].has_token(), withToken);
    if (withToken) {
        QCOMPARE(sent[0].token(), kSecret);
    }
    const QStringList lines = log.lines(QtDebugMsg);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines[0], requestLine(prefix.isEmpty() ? nullptr : prefix.constData(), sent[0]));
    QVERIFY(!lines[0].contains(QString::fromStdString(kSecret)));
    QCOMPARE(lines[0].contains("<redacted>"), withToken);
}

void TestFcIPCLink::enumerateDisks()
{
    Fixture f;
    f.link.setWaitMs(50);
    QVERIFY(f.link.enumerateDisks().isEmpty());
    const QList<fc::ClientMessage> sent = f.received(1);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(text(sent[0]), text(envelope(fc::ClientMessage::ENUMERATE_DISKS_REQUEST)));

    // The answer is already on its way when the request goes out: the call blocks the only
    // thread there is.
    f.pair.peer()->write(frameOf(disksReply({disk("/dev/sda"), disk("/dev/sdb")})));
    f.pair.peer()->flush();
    const QList<nv::Disk> disks = f.link.enumerateDisks();
    QCOMPARE(disks.size(), 2);
    QCOMPARE(disks[1].dev_path(), "/dev/sdb");
}

// A receiver may wait for a reply from inside a signal: the frame read then must not disturb the
// one whose entries are still being delivered.
void TestFcIPCLink::replyReadInsideASignal()
{
    Fixture f;
    bool nested = false;
    QObject::connect(&f.link, &FcIPCLink::newScanInfo, [&](const fc::ScanInfo& info) {
        if (info.task_id() != 12 || nested) {
            return;
        }
        nested = true;
        f.pair.peer()->write(frameOf(disksReply({disk("/dev/sda")})));
        f.pair.peer()->flush();
        QCOMPARE(f.link.enumerateDisks().size(), 1);
    });
    fc::ScanInfo second = progressed(info(13, fc::SCAN_STATE_RUNNING), true, 8, 3, "/other");
    f.deliver(frameOf(infos({info(12, fc::SCAN_STATE_RUNNING), second})));
    QVERIFY(nested);
    QCOMPARE(f.emitted, (QStringList{"newScanInfo(12)", "newScanInfo(13)"}));
}

// The fixture has a threat operation (threat 5) and a quarantine operation ("entry") pending;
// `left` names the ones still pending afterwards.
void TestFcIPCLink::dispatch_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QStringList>("debug");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QStringList>("emitted");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QStringList>("disks");

    using SM = fc::ServerMessage;
    const auto fixed = [](QByteArray bytes) {
        return Script([=](quint32, quint32) { return bytes; });
    };
    const QStringList both{"threat", "quarantine"};
    const QString unrecognized = "Unrecognized message from norvo-filecheck";

    QTest::newRow("START_SCAN_RESPONSE")
        << fixed(frameOf(started(12)))
        << QStringList{filecheck("START_SCAN_RESPONSE (task id = 12)")} << QStringList()
        << QStringList{"scanIsStarted(12)"} << both << QStringList();
    {
        SM msg = failed(reply(SM::INTERRUPT_SCAN_RESPONSE), nv::EC_NOT_READY);
        msg.set_task_id(7);
        QTest::newRow("INTERRUPT_SCAN_RESPONSE with an error")
            << fixed(frameOf(msg))
            << QStringList{filecheck("INTERRUPT_SCAN_RESPONSE (task id = 7)")} << QStringList()
            << QStringList{QStringLiteral("interruptFailed(7,%1)").arg(nv::EC_NOT_READY),
                           "scanIsInterrupted(7)"}
            << both << QStringList();
    }
    QTest::newRow("three infos in order")
        << fixed(frameOf(infos({info(3, fc::SCAN_STATE_RUNNING), info(1, fc::SCAN_STATE_PENDING),
                                ended(2, nv::EC_OK)})))
        << QStringList() << QStringList()
        << QStringList{"newScanInfo(3)", "newScanInfo(1)", "newScanInfo(2)"} << both
        << QStringList();
    {
        SM msg = answer(SM::LIST_DIR_RESPONSE, 9);
        fc::DirEntry* entry = msg.add_direntry();
        entry->set_name("sub");
        entry->set_is_directory(true);
        entry = msg.add_direntry();
        entry->set_name("file");
        entry->set_is_directory(false);
        QTest::newRow("LIST_DIR_RESPONSE with entries")
            << fixed(frameOf(msg)) << QStringList{filecheck("LIST_DIR_RESPONSE")} << QStringList()
            << QStringList{"dirEntryListReceived(9,sub/ file)"} << both << QStringList();
        QTest::newRow("LIST_DIR_RESPONSE with entries and error")
            << fixed(frameOf(failed(msg, nv::EC_NOT_A_DIRECTORY)))
            << QStringList{filecheck("LIST_DIR_RESPONSE"), "LIST_DIR_RESPONSE error: 25"}
            << QStringList() << QStringList{"dirEntryListError(9,25)"} << both << QStringList();
    }
    {
        SM msg = reply(SM::THREATS_NOTIFICATION);
        *msg.add_threats() = threat(4);
        QTest::newRow("THREATS_NOTIFICATION")
            << fixed(frameOf(msg)) << QStringList{filecheck("THREATS_NOTIFICATION")}
            << QStringList()
            << QStringList{"threatsDetected(" + QString::fromStdString(msg.ShortDebugString()) +
                           ")"}
            << both << QStringList();
    }
    {
        SM msg = reply(SM::QUARANTINE_NOTIFICATION);
        msg.add_removed_chunks("chunk");
        QTest::newRow("QUARANTINE_NOTIFICATION")
            << fixed(frameOf(msg)) << QStringList{filecheck("QUARANTINE_NOTIFICATION")}
            << QStringList()
            << QStringList{"quarantineUpdated(" + QString::fromStdString(msg.ShortDebugString()) +
                           ")"}
            << both << QStringList();
    }
    const QString threatsOp = filecheck("THREATS_OP_RESPONSE");
    const QString quarantineOp = filecheck("QUARANTINE_OP_RESPONSE");
    QTest::newRow("THREATS_OP_RESPONSE success settles silently")
        << Script([](quint32 t, quint32) { return frameOf(answer(SM::THREATS_OP_RESPONSE, t)); })
        << QStringList{threatsOp} << QStringList() << QStringList() << QStringList{"quarantine"}
        << QStringList();
    QTest::newRow("THREATS_OP_RESPONSE error, repeated")
        << Script([](quint32 t, quint32) {
               const SM msg = failed(answer(SM::THREATS_OP_RESPONSE, t), nv::EC_PERMISSION_DENIED);
               return frameOf(msg) + frameOf(msg);
           })
        << QStringList{threatsOp, threatsOp} << QStringList() << QStringList{"threatOpError(5,24)"}
        << QStringList{"quarantine"} << QStringList();
    QTest::newRow("QUARANTINE_OP_RESPONSE error") << Script([](quint32, quint32 q) {
        return frameOf(failed(answer(SM::QUARANTINE_OP_RESPONSE, q), nv::EC_IO_ERROR));
    }) << QStringList{quarantineOp} << QStringList()
                                                  << QStringList{"quarantineOpError(entry,22)"}
                                                  << QStringList{"threat"} << QStringList();
    QTest::newRow("op errors for serials never recorded") << Script([](quint32 t, quint32 q) {
        const quint32 unknown = qMax(t, q) + 1000;
        return frameOf(failed(answer(SM::QUARANTINE_OP_RESPONSE, unknown), nv::EC_IO_ERROR)) +
               frameOf(failed(answer(SM::THREATS_OP_RESPONSE, unknown), nv::EC_IO_ERROR));
    }) << QStringList{quarantineOp, threatsOp} << QStringList()
                                                          << QStringList() << both << QStringList();
    const QString disksLine = filecheck("ENUMERATE_DISKS_RESPONSE");
    QTest::newRow("ENUMERATE_DISKS_RESPONSE replaces the disks")
        << fixed(frameOf(disksReply({disk("/dev/sda")})) +
                 frameOf(disksReply({disk("/dev/sdb"), disk("/dev/sdc")})))
        << QStringList{disksLine, disksLine} << QStringList() << QStringList() << both
        << QStringList{"/dev/sdb", "/dev/sdc"};
    QTest::newRow("ENUMERATE_DISKS_RESPONSE empty")
        << fixed(frameOf(disksReply({disk("/dev/sda")})) + frameOf(disksReply({})))
        << QStringList{disksLine, disksLine} << QStringList() << QStringList() << both
        << QStringList();
    QTest::newRow("QUARANTINE_UNSUBSCRIBED")
        << fixed(frameOf(reply(SM::QUARANTINE_UNSUBSCRIBED))) << QStringList()
        << QStringList{unrecognized} << QStringList() << both << QStringList();
    QTest::newRow("FLOW_ALARM") << fixed(frameOf(reply(SM::FLOW_ALARM))) << QStringList()
                                << QStringList{unrecognized} << QStringList() << both
                                << QStringList();
    QTest::newRow("malformed frame between good ones")
        << fixed(frameOf(started(1)) + frameOf(QByteArray("\xff\xff\xff")) + frameOf(started(2)))
        << QStringList{filecheck("START_SCAN_RESPONSE (task id = 1)"),
                       filecheck("START_SCAN_RESPONSE (task id = 2)")}
        << QStringList{"Malformed message of 3 bytes from norvo-filecheck dropped"}
        << QStringList{"scanIsStarted(1)", "scanIsStarted(2)"} << both << QStringList();
    {
        // Well-formed bytes without the required tag, and a tag that came after this build.
        SM untagged;
        untagged.set_serial(5);
        QTest::newRow("message without a known tag")
            << fixed(frameOf(QByteArray::fromStdString(untagged.SerializePartialAsString())) +
                     frameOf(QByteArray("\x08\x63", 2)))
            << QStringList()
            << QStringList{"Malformed message of 2 bytes from norvo-filecheck dropped",
                           unrecognized}
            << QStringList() << both << QStringList();
    }
}

void TestFcIPCLink::dispatch()
{
    QFETCH(Script, script);
    QFETCH(QStringList, debug);
    QFETCH(QStringList, warnings);
    QFETCH(QStringList, emitted);
    QFETCH(QStringList, left);
    QFETCH(QStringList, disks);

    Fixture f;
    f.link.neutralizeByAction(nv::FILE_ACTION_DELETE, 5, "");
    f.link.doActionWithQEntry(nv::QENTRY_ACTION_DELETE, {"entry", "chunk"}, "");
    const QList<fc::ClientMessage> sent = f.received(2);
    QCOMPARE(sent.size(), 2);
    const quint32 threatSerial = sent[0].serial();
    const quint32 quarantineSerial = sent[1].serial();

    LogCapture log;
    f.deliver(script(threatSerial, quarantineSerial));
    QCOMPARE(log.lines(QtDebugMsg), debug);
    QCOMPARE(log.lines(QtWarningMsg), warnings);
    QCOMPARE(f.emitted, emitted);
    QStringList pending;
    for (quint32 serial : f.link.pendingRequests().keys()) {
        pending << (serial == threatSerial       ? "threat"
                    : serial == quarantineSerial ? "quarantine"
                                                 : "other");
    }
    QCOMPARE(pending, left);
    QStringList devices;
    for (const nv::Disk& d : f.link.disks()) {
        devices << QString::fromStdString(d.dev_path());
    }
    QCOMPARE(devices, disks);
}

// How the link reports the end of its scan to its owner. Which entries belong to the scan is
// tst_scantracker's table; this one is about the signals and the connection.
void TestFcIPCLink::scanEnd_data()
{
    QTest::addColumn<bool>("scanRequested");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<bool>("peerCloses");
    QTest::addColumn<QStringList>("emitted");
    QTest::addColumn<int>("taskId");

    using SM = fc::ServerMessage;
    const auto running = [](quint32 task) { return info(task, fc::SCAN_STATE_RUNNING); };
    const QString lost =
        QStringLiteral("connectionLost(%1)").arg(int(QLocalSocket::PeerClosedError));
    QTest::newRow("our task finishes")
        << true
        << frames({started(12), infos({running(12)}),
                   infos({ended(13, nv::EC_OK), ended(12, nv::EC_CANCELED), running(14)})})
        << false << QStringList{"scanIsStarted(12)", "newScanInfo(12)", "newScanInfo(13)",
                                "newScanInfo(12)",   "newScanInfo(14)", "finished()"}
        << 12;
    QTest::newRow("our task finishes before the answer names it")
        << true << frames({infos({ended(12, nv::EC_OK)}), started(12)}) << false
        << QStringList{"newScanInfo(12)", "scanIsStarted(12)", "finished()"} << 12;
    QTest::newRow("start response to somebody else's request")
        << false << frames({started(12), infos({ended(12, nv::EC_OK)})}) << false
        << QStringList{"scanIsStarted(12)", "newScanInfo(12)"} << 0;
    QTest::newRow("start refused")
        << true
        << frames({failed(reply(SM::START_SCAN_RESPONSE), nv::EC_NOT_READY),
                   infos({ended(0, nv::EC_OK)})})
        << false
        << QStringList{"scanIsStarted(0)", QStringLiteral("refused(%1)").arg(nv::EC_NOT_READY),
                       "newScanInfo(0)"}
        << 0;
    {
        const quint32 overBound = IPCLink::kMaxFrameBytes + 1;
        QTest::newRow("frame over the bound")
            << true
            << frames({started(12)}) +
                   QByteArray(reinterpret_cast<const char*>(&overBound), sizeof overBound)
            << false
            << QStringList{"scanIsStarted(12)", QStringLiteral("connectionLost(%1)")
                                                    .arg(int(QLocalSocket::DatagramTooLargeError))}
            << 12;
    }
    QTest::newRow("connection lost while waiting for the start")
        << true << QByteArray() << true << QStringList{lost} << 0;
    QTest::newRow("connection lost while scanning")
        << true << frames({started(12)}) << true << QStringList{"scanIsStarted(12)", lost} << 12;
    QTest::newRow("connection lost without a scan")
        << false << QByteArray() << true << QStringList{lost} << 0;
    QTest::newRow("connection lost after the scan ended")
        << true << frames({started(12), infos({ended(12, nv::EC_OK)})}) << true
        << QStringList{"scanIsStarted(12)", "newScanInfo(12)", "finished()", lost} << 12;
}

void TestFcIPCLink::scanEnd()
{
    QFETCH(bool, scanRequested);
    QFETCH(QByteArray, replies);
    QFETCH(bool, peerCloses);
    QFETCH(QStringList, emitted);
    QFETCH(int, taskId);

    Fixture f;
    if (scanRequested) {
        QVERIFY(f.link.scan(QSharedPointer<ScanTask>::create(ScanTask::CustomScan,
                                                             QStringList{"/srv"}, false, false),
                            nv::LinuxGUIConfig(), ""));
        QCOMPARE(f.received(1).size(), 1);
    }
    if (!replies.isEmpty()) {
        f.deliver(replies);
    }
    LogCapture log;
    if (peerCloses) {
        f.pair.peer()->abort();
        QTRY_COMPARE(f.pair.client()->state(), QLocalSocket::UnconnectedState);
        QCOMPARE(log.lines(QtWarningMsg), QStringList{"Filecheck socket error: 1"});
    }
    QCOMPARE(f.emitted, emitted);
    QCOMPARE(f.link.currentTaskId(), taskId);
    QCOMPARE(f.link.scanSummary().finished, emitted.contains("finished()"));
}

// Values of a daemon newer than this build: the frame is used, each field as far as it is known;
// a frame that lacks anything but such a value is still dropped.
void TestFcIPCLink::newerDaemonValues_data()
{
    QTest::addColumn<QByteArray>("replies"); // after the answer that names task 12
    QTest::addColumn<QStringList>("emitted");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("finalStatus"); // -1: none

    const QString dropped = QStringLiteral("Malformed message of %1 bytes from norvo-filecheck "
                                           "dropped");
    const QStringList news{"newScanInfo(12)"};
    {
        fc::ScanInfo last = info(12, fc::SCAN_STATE_FINISHED);
        last.mutable_result()->set_stop_time(2);
        setNewerValue(last.mutable_result(), fc::ScanResult::kFinalStatusFieldNumber, 9999);
        QTest::newRow("final status")
            << partialFrame(infos({last})) << QStringList{"newScanInfo(12)", "finished()"}
            << QStringList() << int(fc::SCAN_STATE_FINISHED) << 9999;
    }
    {
        fc::ScanInfo entry = info(12, fc::SCAN_STATE_RUNNING);
        entry.clear_state();
        setNewerValue(&entry, fc::ScanInfo::kStateFieldNumber, 77);
        QTest::newRow("state: not the end")
            << partialFrame(infos({entry})) << news << QStringList() << 77 << -1;
    }
    {
        fc::ScanInfo entry = info(12, fc::SCAN_STATE_RUNNING, 1);
        nv::FileOperation* done = entry.mutable_threat(0)->add_history();
        done->set_action_time(1);
        setNewerValue(done, nv::FileOperation::kActionFieldNumber, 40);
        setNewerValue(done, nv::FileOperation::kResultFieldNumber, 500);
        QTest::newRow("threat operation")
            << partialFrame(infos({entry})) << QStringList{"newScanInfo(12)", "threatFound(1)"}
            << QStringList() << int(fc::SCAN_STATE_RUNNING) << -1;
    }
    {
        // The task id is a plain number: its absence is no newer value.
        fc::ScanInfo entry = info(12, fc::SCAN_STATE_FINISHED);
        entry.clear_task_id();
        entry.mutable_result()->set_stop_time(2);
        setNewerValue(entry.mutable_result(), fc::ScanResult::kFinalStatusFieldNumber, 9999);
        const QByteArray frame = partialFrame(infos({entry}));
        QTest::newRow("newer value beside a missing number")
            << frame << QStringList() << QStringList{dropped.arg(frame.size() - 4)}
            << int(fc::SCAN_STATE_PENDING) << -1;
    }
    {
        fc::ScanInfo entry = info(12, fc::SCAN_STATE_FINISHED);
        entry.mutable_result()->set_stop_time(2);
        const QByteArray frame = partialFrame(infos({entry}));
        QTest::newRow("missing final status")
            << frame << QStringList() << QStringList{dropped.arg(frame.size() - 4)}
            << int(fc::SCAN_STATE_PENDING) << -1;
    }
}

void TestFcIPCLink::newerDaemonValues()
{
    QFETCH(QByteArray, replies);
    QFETCH(QStringList, emitted);
    QFETCH(QStringList, warnings);
    QFETCH(int, state);
    QFETCH(int, finalStatus);

    Fixture f;
    QObject::connect(&f.link, &FcIPCLink::threatFound, [&f](const nv::FileThreat& t) {
        f.emitted << QStringLiteral("threatFound(%1)").arg(t.threat_id());
    });
    f.link.scan(QSharedPointer<ScanTask>::create(ScanTask::FullScan), nv::LinuxGUIConfig(), "");
    f.deliver(frameOf(started(12)));
    f.emitted.clear();
    LogCapture log;
    f.deliver(replies);
    QCOMPARE(f.emitted, emitted);
    QCOMPARE(log.lines(QtWarningMsg), warnings);
    const FcIPCLink::ScanSummary& s = f.link.scanSummary();
    QCOMPARE(int(s.state), state);
    QCOMPARE(s.finalStatus ? int(*s.finalStatus) : -1, finalStatus);
}

// A daemon that went away before the run wrote to it: the write fails, and the link says so
// instead of reporting a request that went nowhere as sent.
void TestFcIPCLink::writeIntoAClosedConnection()
{
    Fixture f;
    f.pair.peer()->abort();
    // Without letting the client's events run: it is the write that finds the peer gone.
    QThread::msleep(20);
    LogCapture log;
    const bool sent =
        f.link.scan(QSharedPointer<ScanTask>::create(ScanTask::FullScan), nv::LinuxGUIConfig(), "");
    QVERIFY(!sent);
    QCOMPARE(
        f.emitted,
        QStringList{QStringLiteral("connectionLost(%1)").arg(int(QLocalSocket::PeerClosedError))});
}

void TestFcIPCLink::summaryFollowsOurTask()
{
    Fixture f;
    QSignalSpy finished(&f.link, &FcIPCLink::finished);
    f.link.scan(QSharedPointer<ScanTask>::create(ScanTask::FullScan), nv::LinuxGUIConfig(), "");
    f.deliver(frames(
        {started(12),
         infos({progressed(info(12, fc::SCAN_STATE_RUNNING, 2), false, 10, 4, "/data/\xc3\xbc"),
                progressed(info(13, fc::SCAN_STATE_RUNNING, 5), true, 99, 98, "/other")})}));

    FcIPCLink::ScanSummary s = f.link.scanSummary();
    QCOMPARE(s.taskId, 12u);
    QCOMPARE(s.state, fc::SCAN_STATE_RUNNING);
    QCOMPARE(s.traverseDone, false);
    QCOMPARE(s.filesToScan, 10u);
    QCOMPARE(s.filesScanned, 4u);
    QCOMPARE(s.scanningNow, QString::fromUtf8("/data/ü"));
    QCOMPARE(s.threatsFound, 2u);
    QCOMPARE(s.finished, false);
    QCOMPARE(finished.size(), 0);

    // The task that the link started is the one an interruption by kind names.
    f.link.request(IPCLink::InterruptScan);
    const QList<fc::ClientMessage> sent = f.received(2);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[1].tag(), fc::ClientMessage::INTERRUPT_SCAN_REQUEST);
    QCOMPARE(sent[1].task_id(), 12u);

    fc::ScanInfo last = progressed(info(12, fc::SCAN_STATE_FINISHED, 1), true, 10, 10, "");
    last.mutable_result()->set_stop_time(3);
    last.mutable_result()->set_final_status(nv::EC_INTERRUPTED_BY_USER);
    f.deliver(frameOf(infos({last})));

    s = f.link.scanSummary();
    QCOMPARE(s.state, fc::SCAN_STATE_FINISHED);
    QCOMPARE(s.traverseDone, true);
    QCOMPARE(s.filesScanned, 10u);
    QCOMPARE(s.scanningNow, QString());
    // Threat 1 of the last entry was reported before: counted once.
    QCOMPARE(s.threatsFound, 2u);
    QCOMPARE(s.finished, true);
    QVERIFY(s.finalStatus == nv::EC_INTERRUPTED_BY_USER);
    QCOMPARE(finished.size(), 1);
}

QTEST_GUILESS_MAIN(TestFcIPCLink)
#include "tst_fcipclink.moc"
