#include "app/BatchRun.h"
#include "app/BenchConnection.h"
#include "app/CommandLine.h"
#include "app/DesktopDialogs.h"
#include "app/HistoryWindow.h"
#include "app/MainForm.h"
#include "base/Clock.h"
#include "gpib/InstrumentIO.h"
#include "history/History.h"
#include "history/HistoryCommand.h"
#include "history/StatsCommand.h"
#include "remote/RemoteServer.h"
#include "session/BenchSession.h"
#include "session/SweepRecorder.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>

namespace {

// The exit status of a program that ends after its message, as the window's fatal ends do.
constexpr int FatalStatus = 1;

int refuseToStart(OperatorDialogs& dialogs, const BenchConnection::Refusal& refusal)
{
    // Said twice: in a window for the operator, on standard error for a terminal.
    std::fprintf(stderr, "velmora: %s\n", qPrintable(QString(refusal.text).replace("\n\n", "\n")));
    dialogs.message(
        {MsgKind::Fatal, MsgIcon::Critical, refusal.title, refusal.text, MsgButtons::Ok});
    return FatalStatus;
}

// --history, --stats, --export, --help and --version: answers for scripts, without a window or a
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
    if (parser.isSet(options.history) || parser.isSet(options.stats)) {
        FilterWords words = options.filter(parser);
        const QString dutId = parser.positionalArguments().value(0);
        QString error;
        if (!dutId.isEmpty() && (parser.isSet(options.dut) || parser.isSet(options.stats)))
            error = parser.isSet(options.stats)
                        ? QStringLiteral("--stats takes the DUT ID as --dut ID.")
                        : QStringLiteral("give the DUT ID once: as --dut ID or after --history.");
        // The DUT ID after --history is exact, as it always was: a star in it is a star.
        if (!dutId.isEmpty())
            words.dut = QString(dutId).replace(u'*', QLatin1String("\\*"));
        std::optional<HistoryFilter> filter = filterOf(words, &error);
        if (!filter || !error.isEmpty()) {
            err << "velmora: " << error << Qt::endl;
            return 2;
        }
        if (parser.isSet(options.stats))
            return StatsCommand::stats(*filter, database, out, err);
        // The list shows simulated runs as it always did.
        filter->includeSimulated = true;
        return HistoryCommand::list(*filter, database, out, err);
    }
    return HistoryCommand::exportRecord(parser.value(options.exportRecord),
                                        parser.value(options.format), database, out, err);
}

} // namespace

int main(int argc, char* argv[])
{
    if (asked(argc, argv, {"--history", "--stats", "--export", "--help", "-h", "--version", "-v"}))
        return answerWithoutWindow(argc, argv);
    if (asked(argc, argv, {"--batch"}))
        return BatchRun::main(argc, argv);

    QApplication app(argc, argv);
    nameProgram();
    // Desktop shells find the menu entry and icon of the window by this name.
    QApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    parser.process(withOptionalValues(QApplication::arguments()));
    if (parser.isSet(options.remoteListen) && !parser.isSet(options.remote)) {
        std::fprintf(stderr, "velmora: --remote-listen needs --remote\n");
        return 2;
    }

    DesktopDialogs desktop;
    BenchConnection connection;
    BenchConnection::Refusal refusal;
    if (!connection.open(options.bus(parser), desktop, &refusal))
        return refuseToStart(desktop, refusal);

    BenchSession session(connection.bus(), connection.clock(), connection.dialogs());
    MainForm form(session, connection.dialogs());
    History history(connection.clock(), DatabaseTarget::choose(parser.value(options.database)));
    SweepRecorder recorder(history, session, connection.interface(), connection.address());
    QObject::connect(&form, &MainForm::reportPrinted, &recorder, &SweepRecorder::recordPrint);
    QObject::connect(&history, &History::outage, &form, &MainForm::showStatus);
    QObject::connect(&history, &History::restored, &form, &MainForm::showStatus);
    HistoryWindow historyWindow(history, connection.dialogs());
    QObject::connect(&form, &MainForm::historyRequested, &historyWindow,
                     &HistoryWindow::showWindow);
    QObject::connect(&form, &MainForm::runStarting, &historyWindow,
                     [&historyWindow] { historyWindow.setRunBusy(true); });
    QObject::connect(&form, &MainForm::runFinished, &historyWindow,
                     [&historyWindow] { historyWindow.setRunBusy(false); });
    // The history takes requests in order: a list asked for after a record or a print holds it.
    QObject::connect(&recorder, &SweepRecorder::recorded, &historyWindow, &HistoryWindow::refresh);
    QObject::connect(&form, &MainForm::reportPrinted, &historyWindow, &HistoryWindow::refresh);
    if (!history.target().valid())
        form.showStatus(history.target().error);

    std::unique_ptr<RemoteServer> remote;
    // Once the bus thread has found the analyser: the window, then remote control.
    const auto loaded = [&]() -> int {
        if (session.programEnded())
            return FatalStatus;
        form.show();
        if (!parser.isSet(options.remote))
            return 0;
        remote = std::make_unique<RemoteServer>(session);
        const QString port = parser.value(options.remote);
        const QHostAddress address(parser.isSet(options.remoteListen)
                                       ? parser.value(options.remoteListen)
                                       : QStringLiteral("127.0.0.1"));
        QString error;
        bool portOk = true;
        const quint16 number = port.isEmpty() ? RemoteServer::DefaultPort : port.toUShort(&portOk);
        if (!portOk || address.isNull() || !remote->listen(address, number, &error))
            return refuseToStart(desktop,
                                 {QStringLiteral("Remote control"),
                                  error.isEmpty()
                                      ? QStringLiteral("Remote control needs a port "
                                                       "number and an address: %1")
                                            .arg(port + u' ' + parser.value(options.remoteListen))
                                      : error});
        std::printf("%s\n", qPrintable(remote->listeningLine()));
        std::fflush(stdout);
        // Said where a terminal or a log hears it too, not only in the window.
        if (const QString warning = remote->exposureWarning(); !warning.isEmpty()) {
            form.showStatus(warning);
            std::fprintf(stderr, "velmora: %s\n", qPrintable(warning));
        }
        QObject::connect(&history, &History::outage, &session, &RemoteBench::systemError);
        return 0;
    };
    form.Form_Load([&] {
        if (const int status = loaded())
            QCoreApplication::exit(status);
    });
    // Every fatal end comes back here: the history keeps what was handed to it (its destructor
    // finishes the writes) and the program exits in this one place.
    const int status = app.exec();
    if (session.programEnded())
        history.keepLocalOnly();
    return status;
}
