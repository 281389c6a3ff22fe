#include "PeerGuard.h"
#include "TestSupport.h"

#include <QTest>

class TestPeerGuard : public QObject
{
    Q_OBJECT

private slots:
    void admit_data();
    void admit();
    void readsTheKernelsRecord();
};

namespace {
constexpr uid_t kOwnUid = 1000;
// In the uid column: the kernel gave no credentials.
constexpr int kUnreadable = -1;
} // namespace

void TestPeerGuard::admit_data()
{
    QTest::addColumn<int>("peerUid");
    QTest::addColumn<QString>("warning");

    const QString refused = QStringLiteral(
        "Refusing the peer at \"/run/peer\": uid %1, pid 4321 is neither root nor this user");
    QTest::newRow("root") << 0 << QString();
    QTest::newRow("this user") << 1000 << QString();
    QTest::newRow("another user") << 1001 << refused.arg(1001);
    QTest::newRow("nobody") << 65534 << refused.arg(65534);
    QTest::newRow("unreadable")
        << kUnreadable
        << QStringLiteral("Refusing the peer at \"/run/peer\": its credentials cannot be read");
}

void TestPeerGuard::admit()
{
    QFETCH(int, peerUid);
    QFETCH(QString, warning);

    const PeerGuard guard(
        [peerUid](const QLocalSocket&) -> std::optional<PeerCredentials> {
            if (peerUid == kUnreadable) {
                return std::nullopt;
            }
            return PeerCredentials{uid_t(peerUid), 4321};
        },
        kOwnUid);
    LogCapture log;
    QCOMPARE(guard.admit(QLocalSocket(), "/run/peer"), warning.isEmpty());
    QCOMPARE(log.lines(), warning.isEmpty() ? QStringList() : QStringList{warning});
}

void TestPeerGuard::readsTheKernelsRecord()
{
    SocketPair pair;
    for (const QLocalSocket* end : {pair.client(), pair.peer()}) {
        const std::optional<PeerCredentials> peer = PeerCredentials::of(*end);
        QVERIFY(peer);
        QCOMPARE(peer->uid, ::getuid());
        QCOMPARE(peer->pid, ::getpid());
    }
    QVERIFY(!PeerCredentials::of(QLocalSocket()));
    QVERIFY(PeerGuard().admit(*pair.client(), pair.path()));
}

QTEST_GUILESS_MAIN(TestPeerGuard)
#include "tst_peerguard.moc"
