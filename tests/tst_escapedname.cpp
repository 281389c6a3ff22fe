#include "EscapedName.h"

#include <QRandomGenerator>
#include <QTest>
#include <optional>

namespace {
// The reverse of the documented form: what a reader of the log does to get the bytes back.
std::optional<QByteArray> unescaped(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray bytes;
    for (qsizetype at = 0; at < utf8.size(); ++at) {
        if (utf8[at] != '\\') {
            bytes += utf8[at];
            continue;
        }
        if (++at == utf8.size()) {
            return std::nullopt;
        }
        switch (utf8[at]) {
        case '\\':
            bytes += '\\';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 'r':
            bytes += '\r';
            break;
        case 't':
            bytes += '\t';
            break;
        case 'x': {
            bool ok = false;
            const uint byte = utf8.mid(at + 1, 2).toUInt(&ok, 16);
            if (!ok || at + 2 >= utf8.size()) {
                return std::nullopt;
            }
            bytes += char(byte);
            at += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return bytes;
}

bool isOneLineOfText(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f) ||
            c == QChar(0x2028) || c == QChar(0x2029) || c == QChar(0x202e)) {
            return false;
        }
    }
    return true;
}
} // namespace

class TestEscapedName : public QObject
{
    Q_OBJECT

private slots:
    void escapes_data();
    void escapes();
    void anyBytesAreOneLineAndComeBack();
};

void TestEscapedName::escapes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QByteArray("/home/u/a b.com") << "/home/u/a b.com";
    QTest::newRow("UTF-8 stays") << QByteArray("/d/\xc3\xbc\xf0\x9f\x98\x80")
                                 << QString::fromUtf8("/d/\xc3\xbc\xf0\x9f\x98\x80");
    QTest::newRow("a forged closing line") << QByteArray("/tmp/x\nScheduled scan finished: task 7")
                                           << "/tmp/x\\nScheduled scan finished: task 7";
    QTest::newRow("carriage return, tab") << QByteArray("a\rb\tc") << "a\\rb\\tc";
    QTest::newRow("terminal escape") << QByteArray("\x1b[2Jx") << "\\x1b[2Jx";
    QTest::newRow("NUL and DEL") << QByteArray("a\0b\x7f", 4) << "a\\x00b\\x7f";
    QTest::newRow("backslash") << QByteArray("C:\\x41") << "C:\\\\x41";
    QTest::newRow("C1 control") << QByteArray("a\xc2\x85z") << "a\\xc2\\x85z";
    QTest::newRow("line separator") << QByteArray("a\xe2\x80\xa8z") << "a\\xe2\\x80\\xa8z";
    QTest::newRow("direction override") << QByteArray("a\xe2\x80\xaez") << "a\\xe2\\x80\\xaez";
    QTest::newRow("not UTF-8") << QByteArray("/d/\xff\xfe") << "/d/\\xff\\xfe";
    QTest::newRow("cut sequence") << QByteArray("a\xc3") << "a\\xc3";
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << "\\xc0\\xaf";
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << "\\xed\\xa0\\x80";
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << "\\xf4\\x90\\x80\\x80";
}

void TestEscapedName::escapes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(escapedName(bytes), expected);
    QCOMPARE(unescaped(expected), bytes);
}

void TestEscapedName::anyBytesAreOneLineAndComeBack()
{
    QRandomGenerator random(25);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(random.bounded(1, 24), Qt::Uninitialized);
        for (char& byte : bytes) {
            // Mostly the bytes that matter: controls, backslashes, lead and continuation bytes.
            static const char kOdd[] = "\n\r\t\x1b\\\x00\x7f\xc2\x85\xe2\x80\xa8\xf0\x9f\xff";
            byte = random.bounded(2) ? kOdd[random.bounded(int(sizeof kOdd))]
                                     : char(random.bounded(256));
        }
        const QString text = escapedName(bytes);
        QVERIFY2(isOneLineOfText(text), qPrintable(text));
        QCOMPARE(unescaped(text), bytes);
    }
}

QTEST_GUILESS_MAIN(TestEscapedName)
#include "tst_escapedname.moc"
