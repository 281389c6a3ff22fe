// A stand-in desktop notification server for the tests: owns org.freedesktop.Notifications on
// the bus it is given, prints "ready" once it does, and records each Notify call.

#include "NotificationServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stand-in org.freedesktop.Notifications server for the tests."));
    parser.addHelpOption();
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Bus address (default: the session bus)."),
                                     QStringLiteral("address"));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("File that gets one JSON line per Notify."),
                                    QStringLiteral("file"));
    const QCommandLineOption answer(QStringLiteral("answer"),
                                    QStringLiteral("How Notify is answered: id, error or never."),
                                    QStringLiteral("how"), QStringLiteral("id"));
    const QCommandLineOption noMarkup(QStringLiteral("no-markup"),
                                      QStringLiteral("Do not announce body-markup."));
    parser.addOptions({address, record, answer, noMarkup});
    parser.process(app);

    const QMap<QString, NotificationServer::Answer> answers{
        {QStringLiteral("id"), NotificationServer::Answer::Id},
        {QStringLiteral("error"), NotificationServer::Answer::Error},
        {QStringLiteral("never"), NotificationServer::Answer::Never}};
    if (!parser.isSet(record) || !answers.contains(parser.value(answer))) {
        std::fprintf(stderr, "norvo-notifications-standin: --record FILE is needed, and "
                             "--answer is one of id, error, never\n");
        return 2;
    }
    QDBusConnection bus =
        parser.isSet(address)
            ? QDBusConnection::connectToBus(parser.value(address), QStringLiteral("standin"))
            : QDBusConnection::sessionBus();
    NotificationServer server(parser.value(record), answers.value(parser.value(answer)),
                              !parser.isSet(noMarkup));
    if (!server.isRecording()) {
        std::fprintf(stderr, "norvo-notifications-standin: %s\n", qPrintable(server.recordError()));
        return 1;
    }
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "norvo-notifications-standin: cannot serve on the bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
