#include "ConfigdSim.h"
#include "SimCommandLine.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    SimCommandLine commandLine(
        QString::fromLatin1(ConfigdSim::kName),
        QStringLiteral(
            "Stand-in for the suite's configuration daemon, for tests and demonstrations.\n"
            "Answers SUBSCRIBE_TO_CONFIG with CONFIG_NOTIFICATION (the front-end configuration\n"
            "and its revision), GET_FCHECK_REQUEST with GET_FCHECK_RESPONSE (--fcheck-socket or\n"
            "--fcheck-error), takes MY_INFO_NOTIFICATION without answer, and answers other\n"
            "requests with their paired answer carrying EC_NOT_IMPLEMENTED. Logs one line per\n"
            "message on stderr; SIGTERM or SIGINT ends it with status 0.\n"
            "The --config file is an nv.LinuxGUIConfig in protobuf text format, for example:\n"
            "  scan_timeout: 30000  check_archives: true  right_start_scanner: true\n"
            "  excluded_path { path: \"/proc\" }  on_known_virus: FILE_ACTION_REPORT"));
    const QCommandLineOption config(
        QStringLiteral("config"),
        QStringLiteral("The front-end configuration to hand out (default: an empty record)."),
        QStringLiteral("file"));
    const QCommandLineOption revision(QStringLiteral("revision"),
                                      QStringLiteral("Its revision number (default 1)."),
                                      QStringLiteral("n"));
    const QCommandLineOption fcheckSocket(
        QStringLiteral("fcheck-socket"),
        QStringLiteral("The file-check socket path that GET_FCHECK_RESPONSE names."),
        QStringLiteral("path"));
    const QCommandLineOption fcheckError(
        QStringLiteral("fcheck-error"),
        QStringLiteral("Answer GET_FCHECK_REQUEST with this error instead (name such as "
                       "EC_NOT_READY, or number)."),
        QStringLiteral("code"));
    commandLine.addOptions({config, revision, fcheckSocket, fcheckError});
    commandLine.process(app);

    ConfigdSim::Setup setup;
    QString error;
    if (commandLine.isSet(config) &&
        !ConfigdSim::readConfig(commandLine.value(config), &setup.config, &error)) {
        commandLine.fail(
            QStringLiteral("cannot read %1: %2").arg(commandLine.value(config), error));
    }
    setup.revision = commandLine.number(revision, setup.revision);
    setup.fcheckSocket = commandLine.value(fcheckSocket);
    setup.fcheckError = commandLine.errorCode(fcheckError);

    ConfigdSim sim(setup);
    return sim.serve(commandLine.socketPath(), commandLine.recordPath());
}
