#include "app/BenchConnection.h"
#include "app/DesktopDialogs.h"
#include "app/MainForm.h"
#include "base/Clock.h"
#include "base/ProgramEnd.h"
#include "gpib/AdapterLink.h"
#include "gpib/InstrumentIO.h"
#include "gpib/LinuxGpibDriver.h"
#include "sim/BenchScenario.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {

// Every option of the program, declared once.
struct Options {
    QCommandLineOption simulate{
        QStringLiteral("simulate"),
        QStringLiteral("Run on the built-in simulated bench instead of a GPIB board. SCENARIO is "
                       "a comma-separated list of words (default: a 2712 with tracking generator "
                       "and good devices):\n") +
            BenchScenario::help(),
        QStringLiteral("SCENARIO")};
    QCommandLineOption gpibLibrary{
        QStringLiteral("gpib-library"),
        QStringLiteral("The NI-488.2 compatible GPIB library to load (default: %1).")
            .arg(QLatin1String(LinuxGpibDriver::defaultLibrary)),
        QStringLiteral("PATH")};
    QCommandLineOption adapter{
        QStringLiteral("adapter"),
        QStringLiteral("Reach the bus through a USB or Ethernet GPIB adapter that takes \"++\" "
                       "commands instead of linux-gpib: a serial DEVICE such as /dev/ttyUSB0, or "
                       "tcp://HOST[:PORT] (port %1 when not given).")
            .arg(AdapterLink::DefaultPort),
        QStringLiteral("DEVICE|tcp://HOST[:PORT]")};
    QCommandLineOption trace{QStringLiteral("trace"),
                             QStringLiteral("Write every GPIB driver call to FILE."),
                             QStringLiteral("FILE")};

    void addTo(QCommandLineParser& parser) const
    {
        parser.addOptions({simulate, gpibLibrary, adapter, trace});
    }

    BusChoice bus(const QCommandLineParser& parser) const
    {
        BusChoice choice;
        choice.simulate = parser.isSet(simulate);
        choice.scenario = parser.value(simulate);
        choice.adapter = parser.value(adapter);
        choice.gpibLibrary = parser.value(gpibLibrary);
        choice.tracePath = parser.value(trace);
        return choice;
    }
};

// "--simulate" takes an optional scenario; the parser only knows options that always or
// never take a value, so a bare "--simulate" becomes "--simulate=".
QStringList withOptionalValues(QStringList arguments)
{
    for (QString& argument : arguments) {
        if (argument == QLatin1String("--simulate"))
            argument = QStringLiteral("--simulate=");
    }
    return arguments;
}

[[noreturn]] void refuseToStart(OperatorDialogs& dialogs, const BenchConnection::Refusal& refusal)
{
    // Said twice: in a window for the operator, on standard error for a terminal.
    std::fprintf(stderr, "velmora: %s\n", qPrintable(QString(refusal.text).replace("\n\n", "\n")));
    dialogs.message(MsgIcon::Critical, refusal.title, refusal.text, MsgButtons::Ok);
    EndProgram();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    // Desktop shells find the menu entry and icon of the window by this name.
    QApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks coaxial terminations and attenuators with a spectrum analyser and "
                       "its tracking generator on a GPIB bus."));
    parser.addHelpOption();
    parser.addVersionOption();
    const Options options;
    options.addTo(parser);
    parser.process(withOptionalValues(QApplication::arguments()));

    DesktopDialogs desktop;
    BenchConnection connection;
    BenchConnection::Refusal refusal;
    if (!connection.open(options.bus(parser), desktop, &refusal))
        refuseToStart(desktop, refusal);

    InstrumentIO io(connection.bus(), connection.clock(), connection.dialogs());
    MainForm form(io, connection.dialogs());
    form.Form_Load();
    form.show();
    return app.exec();
}
