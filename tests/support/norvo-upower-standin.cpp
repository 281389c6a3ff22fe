// A stand-in UPower daemon for the tests: owns org.freedesktop.UPower on the bus it is given,
// prints "ready" once it does, and takes one command a line on its standard input: "ac",
// "battery" (OnBattery changes, with its signal) or "other" (another property changes).

#include "UPowerServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in UPower daemon for the tests."));
    parser.addHelpOption();
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Bus address."),
                                     QStringLiteral("address"));
    const QCommandLineOption onBattery(QStringLiteral("on-battery"),
                                       QStringLiteral("OnBattery is true at first."));
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("Never answer a Get."));
    parser.addOptions({address, onBattery, silent});
    parser.process(app);
    if (!parser.isSet(address)) {
        std::fprintf(stderr, "norvo-upower-standin: --address ADDRESS is needed\n");
        return 2;
    }

    QDBusConnection bus =
        QDBusConnection::connectToBus(parser.value(address), QStringLiteral("standin"));
    UPowerServer server(bus, parser.isSet(onBattery), !parser.isSet(silent));
    if (!bus.registerVirtualObject(QLatin1String(UPowerServer::kPath), &server) ||
        !bus.registerService(QStringLiteral("org.freedesktop.UPower"))) {
        std::fprintf(stderr, "norvo-upower-standin: cannot serve on the bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }

    QByteArray pending;
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            // The test is gone.
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, count);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QByteArray command = pending.left(end);
            pending.remove(0, end + 1);
            if (command == "ac" || command == "battery") {
                server.setOnBattery(command == "battery");
            } else if (command == "other") {
                server.changeOtherProperty();
            } else {
                std::fprintf(stderr, "norvo-upower-standin: unknown command %s\n",
                             command.constData());
            }
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
