// velmora-bench: the simulated bench as a GPIB adapter on a local TCP port or a
// pseudo-terminal, or as a VXI-11 LAN/GPIB gateway on 127.0.0.1, for `velmora --adapter`.

#include "base/Clock.h"
#include "sim/BenchServer.h"
#include "sim/GatewayServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

int serveGateway(const QString& scenario, const QString& portText)
{
    const std::optional<GatewayServer::Scenario> words = GatewayServer::parse(scenario);
    if (!words) {
        std::fprintf(stderr, "velmora-bench: unknown scenario: %s\n", qPrintable(scenario));
        return 2;
    }
    bool portOk = false;
    const uint portNumber = portText.toUInt(&portOk);
    if (!portOk || portNumber > 65535) {
        std::fprintf(stderr, "velmora-bench: no TCP port: %s\n", qPrintable(portText));
        return 2;
    }
    SteadyClock clock;
    GatewayServer server(clock, *words);
    QString error;
    if (!server.listen(quint16(portNumber), &error)) {
        std::fprintf(stderr, "velmora-bench: cannot serve on %s\n", qPrintable(error));
        return 1;
    }
    std::printf("velmora-bench listening on %s (portmapper on TCP port %u, VXI-11 core channel "
                "on TCP port %u)\n",
                qPrintable(server.address()), unsigned(server.portmapperPort()),
                unsigned(server.corePort()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-bench"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves Velmora's simulated bench as a GPIB adapter of the \"++\" command "
                       "kind, on 127.0.0.1 or on a pseudo-terminal. Start velmora with --adapter "
                       "and the address printed at start; with --vxi11, as a VXI-11 gateway "
                       "with interface gpib0 and its own portmapper.\n\nThe adapter starts "
                       "with ") +
        BenchProtocol::describe(BenchProtocol::Settings{}) +
        QStringLiteral(", as a new one does; refused values are answered \"Unrecognized "
                       "command\" and change nothing."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("TCP port on 127.0.0.1 (default %1; 0 picks a free one).").arg(1234),
        QStringLiteral("N"), QStringLiteral("1234"));
    const QCommandLineOption pty(QStringLiteral("pty"),
                                 QStringLiteral("Serve on a new pseudo-terminal instead of TCP, "
                                                "as a USB adapter's serial device would be."));
    const QCommandLineOption scenario(
        QStringLiteral("scenario"),
        QStringLiteral("Comma-separated words: the simulated bench's\n") + BenchScenario::help() +
            QStringLiteral("and the adapter link's\n") + BenchServer::help(),
        QStringLiteral("WORDS"));
    const QCommandLineOption vxi11(
        QStringLiteral("vxi11"),
        QStringLiteral("Serve as a VXI-11 LAN/GPIB gateway on 127.0.0.1 instead: the portmapper "
                       "on --portmapper-port, the core channel on a free port. Its scenario "
                       "words besides the bench's:\n") +
            GatewayServer::help());
    const QCommandLineOption portmapperPort(
        QStringLiteral("portmapper-port"),
        QStringLiteral("With --vxi11: the portmapper's TCP port (default %1, which needs root; 0 "
                       "picks a free one).")
            .arg(GatewayServer::DefaultPortmapperPort),
        QStringLiteral("N"), QString::number(GatewayServer::DefaultPortmapperPort));
    parser.addOptions({port, pty, scenario, vxi11, portmapperPort});
    parser.process(app);

    if (parser.isSet(vxi11))
        return serveGateway(parser.value(scenario), parser.value(portmapperPort));

    const std::optional<BenchServer::Scenario> words = BenchServer::parse(parser.value(scenario));
    if (!words) {
        std::fprintf(stderr, "velmora-bench: unknown scenario: %s\n",
                     qPrintable(parser.value(scenario)));
        return 2;
    }
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535) {
        std::fprintf(stderr, "velmora-bench: no TCP port: %s\n", qPrintable(parser.value(port)));
        return 2;
    }

    SteadyClock clock;
    BenchServer server(clock, *words);
    QString error;
    const bool serving = parser.isSet(pty) ? server.openTerminal(&error)
                                           : server.listen(quint16(portNumber), &error);
    if (!serving) {
        std::fprintf(stderr, "velmora-bench: cannot serve on %s\n", qPrintable(error));
        return 1;
    }
    std::printf("velmora-bench listening on %s\n", qPrintable(server.address()));
    std::fflush(stdout);
    return app.exec();
}
