#include "Duration.h"

#include <QTest>

using OptionalMs = std::optional<qint64>;
Q_DECLARE_METATYPE(OptionalMs)

class TestDuration : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void text_data();
    void text();
};

void TestDuration::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<OptionalMs>("ms");

    QTest::newRow("hours") << "2h" << OptionalMs(7'200'000);
    QTest::newRow("minutes") << "90min" << OptionalMs(5'400'000);
    QTest::newRow("seconds") << "45s" << OptionalMs(45'000);
    QTest::newRow("hours and minutes") << "1h30min" << OptionalMs(5'400'000);
    QTest::newRow("plain seconds") << "300" << OptionalMs(300'000);
    QTest::newRow("zero is off") << "0" << OptionalMs(0);
    QTest::newRow("zero with a unit") << "0h" << OptionalMs(0);
    QTest::newRow("longest") << "168h" << OptionalMs(604'800'000);
    QTest::newRow("longest, plain seconds") << "604800" << OptionalMs(604'800'000);
    QTest::newRow("a millisecond too long") << "168h1ms" << OptionalMs(Duration::kTooLong);
    QTest::newRow("beyond int milliseconds") << "2147484" << OptionalMs(Duration::kTooLong);
    QTest::newRow("beyond 64 bits") << "99999999999999999999999" << OptionalMs(Duration::kTooLong);
    QTest::newRow("leading zeros") << "000000000000045s" << OptionalMs();
    QTest::newRow("leading zeros, plain seconds") << "00000000000045" << OptionalMs(45'000);
    QTest::newRow("many long parts")
        << QString("9999999999h").repeated(300) << OptionalMs(Duration::kTooLong);
    QTest::newRow("empty") << "" << OptionalMs();
    QTest::newRow("negative") << "-5" << OptionalMs();
    QTest::newRow("unit alone") << "h" << OptionalMs();
    QTest::newRow("unknown unit") << "2d" << OptionalMs();
    QTest::newRow("unit trailing garbage") << "2hx" << OptionalMs();
    QTest::newRow("trailing number") << "1h30" << OptionalMs();
    QTest::newRow("leading garbage") << "x2h" << OptionalMs();
    QTest::newRow("fraction") << "1.5h" << OptionalMs();
    QTest::newRow("space") << "1h 30min" << OptionalMs();
}

void TestDuration::parse()
{
    QFETCH(QString, text);
    QFETCH(OptionalMs, ms);
    QCOMPARE(Duration::parseMs(text), ms);
}

void TestDuration::text_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");

    QTest::newRow("hours") << qint64(7'200'000) << "2h";
    QTest::newRow("mixed") << qint64(5'445'250) << "1h30min45s250ms";
    QTest::newRow("below a second") << qint64(300) << "300ms";
    QTest::newRow("zero") << qint64(0) << "0s";
}

void TestDuration::text()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(Duration::text(ms), text);
    QCOMPARE(Duration::parseMs(text), OptionalMs(ms));
}

QTEST_APPLESS_MAIN(TestDuration)
#include "tst_duration.moc"
