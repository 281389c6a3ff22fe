// The real runner against stand-in daemons that run as another user: it sends them nothing and
// ends with the refusal line.

#include "DaemonScripts.h"
#include "PeerGuard.h"
#include "StandIn.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

namespace {
constexpr uid_t kNobody = 65534;
}

class TestUntrustedPeer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void refused_data();
    void refused();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_peerDir; // the other user's: its socket and its record
};

void TestUntrustedPeer::init()
{
    if (::geteuid() != 0) {
        QSKIP("needs root to start a daemon as another user");
    }
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The other user passes through the private temporary directory into a directory of its own.
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::permissions(m_dir->path()) |
                                                     QFile::ExeOther | QFile::ExeGroup));
    m_peerDir = m_dir->filePath("peer");
    QVERIFY(QDir().mkdir(m_peerDir));
    QVERIFY(::chown(QFile::encodeName(m_peerDir).constData(), kNobody, kNobody) == 0);
}

void TestUntrustedPeer::refused_data()
{
    QTest::addColumn<bool>("configdIsUntrusted");
    QTest::newRow("configuration daemon") << true;
    QTest::newRow("file-check daemon") << false;
}

void TestUntrustedPeer::refused()
{
    QFETCH(bool, configdIsUntrusted);

    const QString untrustedSocket = QDir(m_peerDir).filePath("sock");
    const QString record = QDir(m_peerDir).filePath("record");
    const QStringList recording{QStringLiteral("--record"), record};
    const QString trustedSocket = m_dir->filePath("trusted");
    std::unique_ptr<StandIn> configd;
    std::unique_ptr<StandIn> untrusted;
    if (configdIsUntrusted) {
        untrusted =
            std::make_unique<StandIn>(NORVO_CONFIGD_SIM, untrustedSocket, recording, kNobody);
    } else {
        configd = std::make_unique<StandIn>(NORVO_CONFIGD_SIM, trustedSocket,
                                            QStringList{"--fcheck-socket", untrustedSocket});
        untrusted =
            std::make_unique<StandIn>(NORVO_FILECHECK_SIM, untrustedSocket, recording, kNobody);
    }
    QCOMPARE(QFileInfo(untrustedSocket).ownerId(), kNobody);

    RunnerProcess runner(m_dir->path());
    runner.start(QFile::encodeName(configdIsUntrusted ? untrustedSocket : trustedSocket));
    const auto run = runner.finish();

    QVERIFY(run.ended);
    QCOMPARE(run.exitCode, 0);
    const QString warning =
        QStringLiteral(
            "Refusing the peer at \"%1\": uid 65534, pid %2 is neither root nor this user")
            .arg(untrustedSocket)
            .arg(untrusted->pid());
    QCOMPARE(run.lines.count(warning), 1);
    QCOMPARE(run.lines.last(), PeerGuard::refusedLine(untrustedSocket));
    // Nothing reached the other user, not even a subscription.
    QCOMPARE(QFileInfo(record).size(), 0);
}

QTEST_GUILESS_MAIN(TestUntrustedPeer)
#include "tst_untrustedpeer.moc"
