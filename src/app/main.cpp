#include "app/BenchConnection.h"
#include "app/DesktopDialogs.h"
#include "app/MainForm.h"
#include "app/SweepRecorder.h"
#include "base/Clock.h"
#include "base/ProgramEnd.h"
#include "gpib/AdapterLink.h"
#include "gpib/InstrumentIO.h"
#include "gpib/LinuxGpibDriver.h"
#include "history/History.h"
#include "history/HistoryCommand.h"
#include "sim/BenchScenario.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

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
    QCommandLineOption database{
        QStringLiteral("database"),
        QStringLiteral("Keep the records in this database for this run: \"local\" (this "
                       "bench's file) or postgresql://USER@HOST[:PORT]/DBNAME, "
                       "postgresql://USER@/DBNAME?host=/socket/dir. The password comes from "
                       "~/.pgpass."),
        QStringLiteral("URL")};
    QCommandLineOption history{
        QStringLiteral("history"),
        QStringLiteral("Print the records, one tab-separated line each, of every DUT or of the "
                       "DUT-ID given, and end.")};
    QCommandLineOption exportRecord{
        QStringLiteral("export"),
        QStringLiteral("Write the record with this id, or the DUT's latest record, to standard "
                       "output, and end."),
        QStringLiteral("UUID|DUT-ID")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("With --export: csv (default), s1p or s2p."),
                              QStringLiteral("csv|s1p|s2p"), QStringLiteral("csv")};

    void addTo(QCommandLineParser& parser) const
    {
        parser.addOptions(
            {simulate, gpibLibrary, adapter, trace, database, history, exportRecord, format});
        parser.addPositionalArgument(
            QStringLiteral("DUT-ID"),
            QStringLiteral("With --history: the DUT whose records to list."),
            QStringLiteral("[DUT-ID]"));
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

void nameProgram()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
}

void describe(QCommandLineParser& parser, const Options& options)
{
    parser.setApplicationDescription(
        QStringLiteral("Checks coaxial terminations and attenuators with a spectrum analyser and "
                       "its tracking generator on a GPIB bus."));
    parser.addHelpOption();
    parser.addVersionOption();
    options.addTo(parser);
}

// --history, --export, --help and --version: answers for scripts, without a window or a
// display.
int answerWithoutWindow(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    nameProgram();
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    parser.process(withOptionalValues(QCoreApplication::arguments()));
    QTextStream out(stdout), err(stderr);
    const QString database = parser.value(options.database);
    if (parser.isSet(options.history))
        return HistoryCommand::list(parser.positionalArguments().value(0), database, out, err);
    return HistoryCommand::exportRecord(parser.value(options.exportRecord),
                                        parser.value(options.format), database, out, err);
}

bool asked(int argc, char* argv[], std::initializer_list<const char*> options)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        for (const char* option : options) {
            if (argument == option || argument.startsWith(QByteArray(option) + '='))
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (asked(argc, argv, {"--history", "--export", "--help", "-h", "--version", "-v"}))
        return answerWithoutWindow(argc, argv);

    QApplication app(argc, argv);
    nameProgram();
    // Desktop shells find the menu entry and icon of the window by this name.
    QApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    parser.process(withOptionalValues(QApplication::arguments()));

    DesktopDialogs desktop;
    BenchConnection connection;
    BenchConnection::Refusal refusal;
    if (!connection.open(options.bus(parser), desktop, &refusal))
        refuseToStart(desktop, refusal);

    InstrumentIO io(connection.bus(), connection.clock(), connection.dialogs());
    MainForm form(io, connection.dialogs());
    History history(connection.clock(), DatabaseTarget::choose(parser.value(options.database)));
    SweepRecorder recorder(history, form.engine(), connection, StartedFrom::Window);
    QObject::connect(&recorder, &SweepRecorder::recorded, &form,
                     [&form](const Verdict& verdict) { form.showVerdict(verdict.text()); });
    QObject::connect(&history, &History::outage, &form, &MainForm::showStatus);
    QObject::connect(&history, &History::restored, &form, &MainForm::showStatus);
    if (!history.target().valid())
        form.showStatus(history.target().error);
    form.Form_Load();
    form.show();
    return app.exec();
}
