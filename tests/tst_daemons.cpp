// The two stand-in daemons as separate processes, driven by a client over their sockets with the
// runner's request sequence and the requests tests need beyond it.

#include "TestSignature.h"
#include "TestSupport.h"
#include "configd_public_ipc.pb.h"
#include "fcheck_client_ipc.pb.h"
#include "linux_gui_config.pb.h"

#include <google/protobuf/text_format.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int kStartMs = 5000;
const int kScanMs = 10000;
// How long silence must last to count as "nothing was sent".
const int kQuietMs = 300;

using ConfigdRequest = nv::Public2ConfigdMessage;
using ConfigdAnswer = nv::Configd2PublicMessage;
using FcRequest = fc::ClientMessage;
using FcAnswer = fc::ServerMessage;

// A stand-in started on a socket in its own temporary directory, with a client connected to it.
class Daemon
{
public:
    Daemon(const QString& program, const QStringList& arguments)
        : m_socketPath(m_dir.filePath(QStringLiteral("sock")))
    {
        m_process.start(program, QStringList{QStringLiteral("--socket"), m_socketPath} + arguments);
        m_process.waitForStarted(kStartMs);
        QDeadlineTimer deadline(kStartMs);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            m_client.connectToServer(m_socketPath);
            if (m_client.waitForConnected(100)) {
                return;
            }
            QTest::qWait(20);
        }
    }

    ~Daemon()
    {
        if (m_process.state() == QProcess::Running) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    bool connected() const { return m_client.state() == QLocalSocket::ConnectedState; }
    QLocalSocket* client() { return &m_client; }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    void send(const google::protobuf::Message& message)
    {
        m_client.write(frameOf(message));
        m_client.flush();
    }

    // Ends the daemon as a service manager would; its exit status.
    int terminate()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(kStartMs) ||
            m_process.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        return m_process.exitCode();
    }

    QString log() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

private:
    QTemporaryDir m_dir;
    QString m_socketPath;
    QProcess m_process;
    QLocalSocket m_client;
};

template <typename Message> Message nextMessage(QLocalSocket* socket, int timeoutMs = kStartMs)
{
    const QList<Message> messages = readMessages<Message>(socket, 1, timeoutMs);
    return messages.isEmpty() ? Message() : messages.first();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

ConfigdRequest configdRequest(ConfigdRequest::MessageTag tag)
{
    ConfigdRequest request;
    request.set_tag(tag);
    request.set_uid(::getuid());
    request.set_app(nv::APP_LINUX_GUI);
    return request;
}

FcRequest subscription(bool reportClean, bool reportThreats)
{
    FcRequest request;
    request.set_tag(FcRequest::SUBSCRIBE_TO_SCAN_INFO);
    request.set_serial(1);
    request.mutable_info_options()->set_report_clean(reportClean);
    request.mutable_info_options()->set_report_threats(reportThreats);
    return request;
}

FcRequest startScan(const QStringList& included, const QStringList& excluded)
{
    FcRequest request;
    request.set_tag(FcRequest::START_SCAN_REQUEST);
    request.set_serial(2);
    fc::ScanRequest* scan = request.mutable_scan_request();
    for (const QString& path : included) {
        scan->add_included_path(QFile::encodeName(path).toStdString());
    }
    for (const QString& path : excluded) {
        scan->add_excluded_path(QFile::encodeName(path).toStdString());
    }
    scan->set_origin(nv::APP_LINUX_GUI);
    scan->set_origin_pid(quint32(::getpid()));
    return request;
}

// Every fc.ScanInfo of one task until it is finished, in arrival order; other messages go to
// `others`.
QList<fc::ScanInfo> infosUntilFinished(QLocalSocket* socket, quint32 taskId,
                                       QList<FcAnswer>* others = nullptr)
{
    QList<fc::ScanInfo> infos;
    QDeadlineTimer deadline(kScanMs);
    while (!deadline.hasExpired()) {
        const QList<FcAnswer> messages =
            readMessages<FcAnswer>(socket, 1, int(deadline.remainingTime()));
        if (messages.isEmpty()) {
            break;
        }
        if (messages.first().tag() != FcAnswer::SCAN_INFO_NOTIFICATION) {
            if (others) {
                *others << messages.first();
            }
            continue;
        }
        for (const fc::ScanInfo& info : messages.first().info()) {
            if (info.task_id() == taskId) {
                infos << info;
            }
        }
        if (!infos.isEmpty() && infos.last().state() == fc::SCAN_STATE_FINISHED) {
            break;
        }
    }
    return infos;
}

} // namespace

class TestDaemons : public QObject
{
    Q_OBJECT

private slots:
    void configdAnswersTheRunnersSequence();
    void configdNamesTheFileCheckSocket_data();
    void configdNamesTheFileCheckSocket();
    void unservedRequestsGetTheirPairedAnswer_data();
    void unservedRequestsGetTheirPairedAnswer();
    void filecheckScanFindsTheTestFile();
    void filecheckThrottlesProgress();
    void filecheckInterrupt_data();
    void filecheckInterrupt();
    void filecheckRefusesWhenTold();
    void filecheckListsDirectories();
    void socketThatCannotBeBoundEndsTheDaemon_data();
    void socketThatCannotBeBoundEndsTheDaemon();
};

void TestDaemons::configdAnswersTheRunnersSequence()
{
    QTemporaryDir dir;
    const QString configPath = dir.filePath(QStringLiteral("config.txtpb"));
    const QString recordPath = dir.filePath(QStringLiteral("record.txt"));
    QVERIFY(writeFile(configPath, "scan_timeout: 1234\nright_start_scanner: false\n"
                                  "excluded_path { path: \"/proc\" }\n"));
    Daemon daemon(QStringLiteral(NORVO_CONFIGD_SIM),
                  {QStringLiteral("--config"), configPath, QStringLiteral("--revision"),
                   QStringLiteral("7"), QStringLiteral("--fcheck-socket"),
                   QStringLiteral("/run/fc.sock"), QStringLiteral("--record"), recordPath});
    QVERIFY(daemon.connected());

    daemon.send(configdRequest(ConfigdRequest::SUBSCRIBE_TO_CONFIG));
    daemon.send(configdRequest(ConfigdRequest::SUBSCRIBE_TO_CONFIG));
    ConfigdRequest myInfo = configdRequest(ConfigdRequest::MY_INFO_NOTIFICATION);
    myInfo.set_pid(quint32(::getpid()));
    myInfo.set_config_revision(7);
    daemon.send(myInfo);
    daemon.send(configdRequest(ConfigdRequest::GET_FCHECK_REQUEST));

    // MY_INFO_NOTIFICATION has no answer, so the path comes right after the two configurations.
    const QList<ConfigdAnswer> answers = readMessages<ConfigdAnswer>(daemon.client(), 3);
    QCOMPARE(answers.size(), 3);
    for (const ConfigdAnswer& answer : answers.mid(0, 2)) {
        QCOMPARE(answer.tag(), ConfigdAnswer::CONFIG_NOTIFICATION);
        QCOMPARE(answer.config_revision(), 7u);
        QCOMPARE(answer.config().app(), nv::APP_LINUX_GUI);
        const nv::LinuxGUIConfig& config = answer.config().GetExtension(nv::linux_gui_config);
        QCOMPARE(config.scan_timeout(), 1234u);
        QVERIFY(config.has_right_start_scanner());
        QVERIFY(!config.right_start_scanner());
        QCOMPARE(config.excluded_path().path_size(), 1);
    }
    QCOMPARE(answers[2].tag(), ConfigdAnswer::GET_FCHECK_RESPONSE);
    QCOMPARE(answers[2].socket_path(), std::string("/run/fc.sock"));
    QVERIFY(readFrames(daemon.client(), 1, kQuietMs).isEmpty());

    // The connection stays open until the daemon is told to stop.
    QCOMPARE(daemon.client()->state(), QLocalSocket::ConnectedState);
    QCOMPARE(daemon.terminate(), 0);
    const QString log = daemon.log();
    QVERIFY2(log.contains(QStringLiteral("configd-sim: <- SUBSCRIBE_TO_CONFIG uid=%1 "
                                         "app=APP_LINUX_GUI\n")
                              .arg(::getuid())),
             qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("<- MY_INFO_NOTIFICATION ")), qPrintable(log));

    QFile record(recordPath);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QStringList blocks =
        QString::fromUtf8(record.readAll()).split(QStringLiteral("---\n"), Qt::SkipEmptyParts);
    QCOMPARE(blocks.size(), 4);
    ConfigdRequest recorded;
    QVERIFY(google::protobuf::TextFormat::ParseFromString(blocks[2].toStdString(), &recorded));
    QCOMPARE(recorded.SerializeAsString(), myInfo.SerializeAsString());
}

void TestDaemons::configdNamesTheFileCheckSocket_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("error");

    QTest::newRow("path") << QStringList{QStringLiteral("--fcheck-socket"),
                                         QStringLiteral("/tmp/f")}
                          << QStringLiteral("/tmp/f") << int(nv::EC_OK);
    QTest::newRow("error by name wins over the path")
        << QStringList{QStringLiteral("--fcheck-socket"), QStringLiteral("/tmp/f"),
                       QStringLiteral("--fcheck-error"), QStringLiteral("EC_NOT_READY")}
        << QString() << int(nv::EC_NOT_READY);
    QTest::newRow("error by number")
        << QStringList{QStringLiteral("--fcheck-error"), QStringLiteral("24")} << QString()
        << int(nv::EC_PERMISSION_DENIED);
    QTest::newRow("nothing given") << QStringList() << QString() << int(nv::EC_NOT_INSTALLED);
}

void TestDaemons::configdNamesTheFileCheckSocket()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);
    QFETCH(int, error);

    Daemon daemon(QStringLiteral(NORVO_CONFIGD_SIM), arguments);
    QVERIFY(daemon.connected());
    daemon.send(configdRequest(ConfigdRequest::GET_FCHECK_REQUEST));
    const ConfigdAnswer answer = nextMessage<ConfigdAnswer>(daemon.client());
    QCOMPARE(answer.tag(), ConfigdAnswer::GET_FCHECK_RESPONSE);
    QCOMPARE(QString::fromStdString(answer.socket_path()), path);
    QCOMPARE(answer.has_error(), error != nv::EC_OK);
    QCOMPARE(int(answer.error().code()), error);
}

void TestDaemons::unservedRequestsGetTheirPairedAnswer_data()
{
    QTest::addColumn<bool>("filecheck");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("answer");

    // The rows whose answer number differs from the request's are the ones that matter.
    QTest::newRow("configd SET_LEXMAP_REQUEST") << false << int(ConfigdRequest::SET_LEXMAP_REQUEST)
                                                << int(ConfigdAnswer::SET_LEXMAP_RESPONSE);
    QTest::newRow("configd GET_DEFAULT_LEXMAP_REQUEST")
        << false << int(ConfigdRequest::GET_DEFAULT_LEXMAP_REQUEST)
        << int(ConfigdAnswer::GET_DEFAULT_LEXMAP_RESPONSE);
    QTest::newRow("configd START_UPDATE_REQUEST")
        << false << int(ConfigdRequest::START_UPDATE_REQUEST)
        << int(ConfigdAnswer::START_UPDATE_RESPONSE);
    QTest::newRow("filecheck DELETE_THREAT_REQUEST")
        << true << int(FcRequest::DELETE_THREAT_REQUEST) << int(FcAnswer::THREATS_OP_RESPONSE);
    QTest::newRow("filecheck RESTORE_QENTRY_REQUEST")
        << true << int(FcRequest::RESTORE_QENTRY_REQUEST) << int(FcAnswer::QUARANTINE_OP_RESPONSE);
    QTest::newRow("filecheck SUBSCRIBE_TO_QUARANTINE")
        << true << int(FcRequest::SUBSCRIBE_TO_QUARANTINE)
        << int(FcAnswer::QUARANTINE_NOTIFICATION);
}

void TestDaemons::unservedRequestsGetTheirPairedAnswer()
{
    QFETCH(bool, filecheck);
    QFETCH(int, request);
    QFETCH(int, answer);

    Daemon daemon(
        filecheck ? QStringLiteral(NORVO_FILECHECK_SIM) : QStringLiteral(NORVO_CONFIGD_SIM), {});
    QVERIFY(daemon.connected());
    if (filecheck) {
        FcRequest message;
        message.set_tag(FcRequest::ClientMessageTag(request));
        message.set_serial(42);
        daemon.send(message);
        const FcAnswer reply = nextMessage<FcAnswer>(daemon.client());
        QCOMPARE(int(reply.tag()), answer);
        QCOMPARE(reply.serial(), 42u);
        QCOMPARE(reply.error().code(), nv::EC_NOT_IMPLEMENTED);
    } else {
        daemon.send(configdRequest(ConfigdRequest::MessageTag(request)));
        const ConfigdAnswer reply = nextMessage<ConfigdAnswer>(daemon.client());
        QCOMPARE(int(reply.tag()), answer);
        QCOMPARE(reply.error().code(), nv::EC_NOT_IMPLEMENTED);
    }
}

void TestDaemons::filecheckScanFindsTheTestFile()
{
    QTemporaryDir tree;
    QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("docs/deep")));
    QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("skipped")));
    QVERIFY(writeFile(tree.filePath(QStringLiteral("a.txt")), "plain"));
    QVERIFY(writeFile(tree.filePath(QStringLiteral("docs/b.txt")), "plain"));
    QVERIFY(writeFile(tree.filePath(QStringLiteral("docs/deep/c.txt")), "plain"));
    const QString infected = tree.filePath(QStringLiteral("docs/deep/test.com"));
    QVERIFY(writeFile(infected, testSignature() + "\r\n"));
    // Excluded, and a link that is not followed: neither may be reported.
    QVERIFY(writeFile(tree.filePath(QStringLiteral("skipped/other.com")), testSignature()));
    QVERIFY(QFile::link(infected, tree.filePath(QStringLiteral("link.com"))));

    Daemon daemon(QStringLiteral(NORVO_FILECHECK_SIM),
                  {QStringLiteral("--first-task-id"), QStringLiteral("41")});
    QVERIFY(daemon.connected());
    // A second client with the default options hears only of the start and the end.
    QLocalSocket quiet;
    quiet.connectToServer(daemon.client()->serverName());
    QVERIFY(quiet.waitForConnected(kStartMs));
    quiet.write(frameOf(subscription(false, false)));
    // The answer to a later request proves the subscription is in place before the scan starts.
    FcRequest disks;
    disks.set_tag(FcRequest::ENUMERATE_DISKS_REQUEST);
    quiet.write(frameOf(disks));
    quiet.flush();
    QCOMPARE(nextMessage<FcAnswer>(&quiet).tag(), FcAnswer::ENUMERATE_DISKS_RESPONSE);

    daemon.send(subscription(true, true));
    daemon.send(startScan({tree.path()}, {tree.filePath(QStringLiteral("skipped"))}));
    const FcAnswer started = nextMessage<FcAnswer>(daemon.client());
    QCOMPARE(started.tag(), FcAnswer::START_SCAN_RESPONSE);
    QCOMPARE(started.task_id(), 41u);
    QVERIFY(!started.has_error());

    const QList<fc::ScanInfo> infos = infosUntilFinished(daemon.client(), 41);
    QVERIFY(infos.size() >= 2);
    QCOMPARE(infos.first().state(), fc::SCAN_STATE_RUNNING);
    QCOMPARE(infos.first().details().origin(), nv::APP_LINUX_GUI);
    QCOMPARE(infos.first().details().origin_uid(), quint32(::getuid()));
    QVERIFY(infos.first().has_progress());
    QList<nv::FileThreat> threats;
    int cleanFiles = 0;
    for (const fc::ScanInfo& info : infos) {
        for (const nv::FileThreat& threat : info.threat()) {
            threats << threat;
        }
        cleanFiles += info.clean_size();
    }
    QCOMPARE(cleanFiles, 3);
    QCOMPARE(threats.size(), 1);
    const nv::FileThreat& threat = threats.first();
    QCOMPARE(QFile::decodeName(QByteArray::fromStdString(threat.report().object())), infected);
    QCOMPARE(threat.report().virus(0).type(), nv::SE_KNOWN_VIRUS);
    QCOMPARE(threat.report().virus(0).name(), std::string("EICAR-Test-File"));
    struct stat status = {};
    QCOMPARE(::stat(QFile::encodeName(infected).constData(), &status), 0);
    QCOMPARE(threat.stat().dev(), quint64(status.st_dev));
    QCOMPARE(threat.stat().ino(), quint64(status.st_ino));
    QCOMPARE(threat.origin(), nv::APP_FILE_CHECK);
    QCOMPARE(threat.task_id(), 41u);
    QVERIFY(threat.IsInitialized());

    const fc::ScanInfo& last = infos.last();
    QCOMPARE(last.state(), fc::SCAN_STATE_FINISHED);
    QCOMPARE(last.result().final_status(), nv::EC_OK);
    QVERIFY(last.progress().traverse_done());
    QCOMPARE(last.progress().files_to_scan(), 4u);
    QCOMPARE(last.progress().files_scanned(), 4u);

    const QList<fc::ScanInfo> quietInfos = infosUntilFinished(&quiet, 41);
    QCOMPARE(quietInfos.size(), 2);
    QVERIFY(quietInfos.first().has_details());
    QCOMPARE(quietInfos.last().threat_size(), 0);
    QCOMPARE(quietInfos.last().result().final_status(), nv::EC_OK);
}

void TestDaemons::filecheckThrottlesProgress()
{
    // One file per 50 ms tick, progress asked for every 200 ms: far fewer progress reports than
    // ticks, but some between the start and the end.
    const int files = 12;
    QTemporaryDir tree;
    for (int n = 0; n < files; ++n) {
        QVERIFY(writeFile(tree.filePath(QString::number(n)), "plain"));
    }
    Daemon daemon(QStringLiteral(NORVO_FILECHECK_SIM),
                  {QStringLiteral("--scan-delay-ms"), QStringLiteral("50")});
    QVERIFY(daemon.connected());
    FcRequest subscribe = subscription(false, false);
    subscribe.mutable_info_options()->set_progress_interval_ms(200);
    daemon.send(subscribe);
    daemon.send(startScan({tree.path()}, {}));
    QCOMPARE(nextMessage<FcAnswer>(daemon.client()).task_id(), 1u);

    const QList<fc::ScanInfo> infos = infosUntilFinished(daemon.client(), 1);
    QVERIFY(infos.size() > 2);
    QCOMPARE(infos.last().progress().files_scanned(), quint64(files));
    int between = 0;
    for (const fc::ScanInfo& info : infos.mid(1, infos.size() - 2)) {
        QVERIFY(info.has_progress());
        ++between;
    }
    QVERIFY2(between < files / 2, qPrintable(QString::number(between)));
}

void TestDaemons::filecheckInterrupt_data()
{
    QTest::addColumn<bool>("answered");
    QTest::newRow("answered") << true;
    QTest::newRow("--no-answer-interrupt") << false;
}

void TestDaemons::filecheckInterrupt()
{
    QFETCH(bool, answered);
    const int files = 8;
    QTemporaryDir tree;
    for (int n = 0; n < files; ++n) {
        QVERIFY(writeFile(tree.filePath(QString::number(n)), "plain"));
    }
    QStringList arguments{QStringLiteral("--scan-delay-ms"), QStringLiteral("100")};
    if (!answered) {
        arguments << QStringLiteral("--no-answer-interrupt");
    }
    Daemon daemon(QStringLiteral(NORVO_FILECHECK_SIM), arguments);
    QVERIFY(daemon.connected());
    daemon.send(subscription(false, false));
    daemon.send(startScan({tree.path()}, {}));
    QCOMPARE(nextMessage<FcAnswer>(daemon.client()).task_id(), 1u);

    FcRequest interrupt;
    interrupt.set_tag(FcRequest::INTERRUPT_SCAN_REQUEST);
    interrupt.set_task_id(1);
    *interrupt.mutable_scan_request() = startScan({tree.path()}, {}).scan_request();
    daemon.send(interrupt);

    QList<FcAnswer> others;
    const QList<fc::ScanInfo> infos = infosUntilFinished(daemon.client(), 1, &others);
    QVERIFY(!infos.isEmpty());
    QCOMPARE(infos.last().state(), fc::SCAN_STATE_FINISHED);
    if (answered) {
        QCOMPARE(others.size(), 1);
        QCOMPARE(others.first().tag(), FcAnswer::INTERRUPT_SCAN_RESPONSE);
        QCOMPARE(others.first().task_id(), 1u);
        QCOMPARE(infos.last().result().final_status(), nv::EC_INTERRUPTED_BY_USER);
        QVERIFY(infos.last().progress().files_scanned() < quint64(files));
    } else {
        QVERIFY(others.isEmpty());
        QCOMPARE(infos.last().result().final_status(), nv::EC_OK);
        QCOMPARE(infos.last().progress().files_scanned(), quint64(files));
    }
}

void TestDaemons::filecheckRefusesWhenTold()
{
    QTemporaryDir tree;
    Daemon daemon(QStringLiteral(NORVO_FILECHECK_SIM),
                  {QStringLiteral("--refuse-scan"), QStringLiteral("EC_NOT_READY")});
    QVERIFY(daemon.connected());
    daemon.send(subscription(true, true));
    daemon.send(startScan({tree.path()}, {}));
    const FcAnswer answer = nextMessage<FcAnswer>(daemon.client());
    QCOMPARE(answer.tag(), FcAnswer::START_SCAN_RESPONSE);
    QCOMPARE(answer.task_id(), 0u);
    QCOMPARE(answer.error().code(), nv::EC_NOT_READY);
    QVERIFY(readFrames(daemon.client(), 1, kQuietMs).isEmpty());
}

void TestDaemons::filecheckListsDirectories()
{
    QTemporaryDir tree;
    QVERIFY(QDir(tree.path()).mkdir(QStringLiteral("sub")));
    QVERIFY(writeFile(tree.filePath(QStringLiteral("file")), "plain"));
    Daemon daemon(QStringLiteral(NORVO_FILECHECK_SIM), {});
    QVERIFY(daemon.connected());

    FcRequest list;
    list.set_tag(FcRequest::LIST_DIR_REQUEST);
    list.set_serial(9);
    list.set_path(QFile::encodeName(tree.path()).toStdString());
    daemon.send(list);
    list.set_path(QFile::encodeName(tree.filePath(QStringLiteral("missing"))).toStdString());
    daemon.send(list);

    const QList<FcAnswer> answers = readMessages<FcAnswer>(daemon.client(), 2);
    QCOMPARE(answers.size(), 2);
    QCOMPARE(answers[0].tag(), FcAnswer::LIST_DIR_RESPONSE);
    QCOMPARE(answers[0].serial(), 9u);
    QCOMPARE(answers[0].list_result(), nv::EC_OK);
    QCOMPARE(answers[0].direntry_size(), 2);
    QCOMPARE(answers[0].direntry(0).name(), std::string("file"));
    QVERIFY(!answers[0].direntry(0).is_directory());
    QCOMPARE(answers[0].direntry(1).name(), std::string("sub"));
    QVERIFY(answers[0].direntry(1).is_directory());
    QCOMPARE(answers[1].list_result(), nv::EC_NO_SUCH_ENTRY);
}

void TestDaemons::socketThatCannotBeBoundEndsTheDaemon_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("configd") << QStringLiteral(NORVO_CONFIGD_SIM);
    QTest::newRow("filecheck") << QStringLiteral(NORVO_FILECHECK_SIM);
}

void TestDaemons::socketThatCannotBeBoundEndsTheDaemon()
{
    QFETCH(QString, program);
    QTemporaryDir dir;
    // A live daemon's socket is not taken over; a path in a missing directory cannot be bound.
    Daemon live(program, {});
    QVERIFY(live.connected());
    for (const QString& path :
         {live.client()->serverName(), dir.filePath(QStringLiteral("missing/sock"))}) {
        QProcess process;
        process.start(program, {QStringLiteral("--socket"), path});
        QVERIFY(process.waitForFinished(kStartMs));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("cannot listen on"));
    }
    QCOMPARE(live.terminate(), 0);
    QVERIFY(!QFile::exists(live.client()->serverName()));
}

QTEST_GUILESS_MAIN(TestDaemons)
#include "tst_daemons.moc"
