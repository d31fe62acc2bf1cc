#include "app/DesktopDialogs.h"
#include "app/MainForm.h"
#include "base/Clock.h"
#include "base/OperatorDialogs.h"
#include "base/ProgramEnd.h"
#include "gpib/AdapterDriver.h"
#include "gpib/AdapterLink.h"
#include "gpib/InstrumentIO.h"
#include "gpib/LinuxGpibDriver.h"
#include "gpib/TracingDriver.h"
#include "sim/BenchScenario.h"
#include "sim/SimulatedBench.h"
#include "sim/SimulatedOperator.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>

#include <cstdio>
#include <memory>

namespace {

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

[[noreturn]] void refuseToStart(OperatorDialogs& dialogs, const QString& title, const QString& text)
{
    // Said twice: in a window for the operator, on standard error for a terminal.
    std::fprintf(stderr, "velmora: %s\n", qPrintable(QString(text).replace("\n\n", "\n")));
    dialogs.message(MsgIcon::Critical, title, text, MsgButtons::Ok);
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
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Run on the built-in simulated bench instead of a GPIB board. SCENARIO is "
                       "a comma-separated list of words (default: a 2712 with tracking generator "
                       "and good devices):\n") +
            BenchScenario::help(),
        QStringLiteral("SCENARIO"));
    const QCommandLineOption gpibLibrary(
        QStringLiteral("gpib-library"),
        QStringLiteral("The NI-488.2 compatible GPIB library to load (default: %1).")
            .arg(QLatin1String(LinuxGpibDriver::defaultLibrary)),
        QStringLiteral("PATH"));
    const QCommandLineOption adapter(
        QStringLiteral("adapter"),
        QStringLiteral("Reach the bus through a USB or Ethernet GPIB adapter that takes \"++\" "
                       "commands instead of linux-gpib: a serial DEVICE such as /dev/ttyUSB0, or "
                       "tcp://HOST[:PORT] (port %1 when not given).")
            .arg(AdapterLink::DefaultPort),
        QStringLiteral("DEVICE|tcp://HOST[:PORT]"));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Write every GPIB driver call to FILE."),
                                   QStringLiteral("FILE"));
    parser.addOptions({simulate, gpibLibrary, adapter, trace});
    parser.process(withOptionalValues(QApplication::arguments()));

    SteadyClock clock;
    DesktopDialogs desktop;
    OperatorDialogs* dialogs = &desktop;

    std::unique_ptr<GpibDriver> driver;
    std::unique_ptr<SimulatedOperator> simulatedOperator;
    if (parser.isSet(simulate)) {
        const std::optional<BenchScenario> scenario = BenchScenario::parse(parser.value(simulate));
        if (!scenario)
            refuseToStart(desktop, QStringLiteral("Simulated bench"),
                          QStringLiteral("Unknown simulated bench scenario: %1\n\nKnown words:\n%2")
                              .arg(parser.value(simulate), BenchScenario::help()));
        auto bench = std::make_unique<SimulatedBench>(clock, *scenario);
        simulatedOperator = std::make_unique<SimulatedOperator>(desktop, *bench);
        dialogs = simulatedOperator.get();
        driver = std::move(bench);
    } else if (parser.isSet(adapter)) {
        QString error;
        driver = AdapterDriver::open(parser.value(adapter), clock, &error);
        if (!driver)
            refuseToStart(desktop, QStringLiteral("GPIB adapter not reached"),
                          QStringLiteral("The GPIB adapter could not be used.\n%1\n\nCheck the "
                                         "device or address and that the adapter is powered. "
                                         "velmora-bench serves a simulated bench as an adapter "
                                         "to try this without hardware.")
                              .arg(error));
    } else {
        QString error;
        driver = LinuxGpibDriver::load(parser.value(gpibLibrary), &error);
        if (!driver) {
            const QString library = parser.isSet(gpibLibrary)
                                        ? parser.value(gpibLibrary)
                                        : QLatin1String(LinuxGpibDriver::defaultLibrary);
            refuseToStart(
                desktop, QStringLiteral("GPIB library not found"),
                QStringLiteral("The GPIB library %1 could not be loaded.\n%2\n\n"
                               "The library is provided by linux-gpib. To try the program "
                               "without a GPIB board, start it with --simulate: that runs the "
                               "built-in simulated bench.")
                    .arg(library, error));
        }
    }

    QFile traceFile;
    std::unique_ptr<TracingDriver> tracing;
    GpibDriver* bus = driver.get();
    if (parser.isSet(trace)) {
        traceFile.setFileName(parser.value(trace));
        if (!traceFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            refuseToStart(desktop, QStringLiteral("Trace"),
                          QStringLiteral("The trace file %1 cannot be written: %2")
                              .arg(traceFile.fileName(), traceFile.errorString()));
        tracing = std::make_unique<TracingDriver>(*driver, clock, traceFile);
        bus = tracing.get();
    }

    InstrumentIO io(*bus, clock, *dialogs);
    MainForm form(io, *dialogs);
    form.Form_Load();
    form.show();
    return app.exec();
}
