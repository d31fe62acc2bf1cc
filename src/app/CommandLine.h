#pragma once

#include "app/BenchConnection.h"
#include "gpib/AdapterLink.h"
#include "gpib/LinuxGpibDriver.h"
#include "history/HistoryRecord.h"
#include "sim/BenchScenario.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <initializer_list>

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
                       "tcp://HOST[:PORT] (port %1 when not given); or through a LAN/GPIB "
                       "gateway that speaks VXI-11: vxi11://HOST[:PORTMAPPER-PORT]"
                       "[/INTERFACE[,PAD]] (port 111 and gpib0 when not given; with PAD only "
                       "that address is searched).")
            .arg(AdapterLink::DefaultPort),
        QStringLiteral("DEVICE|tcp://HOST[:PORT]|vxi11://HOST[:PORT][/INTERFACE[,PAD]]")};
    QCommandLineOption trace{QStringLiteral("trace"),
                             QStringLiteral("Write every GPIB driver call, and a "
                                            "gateway's VXI-11 calls, to FILE."),
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
                       "DUT-ID given (or the filter's), and end.")};
    QCommandLineOption stats{
        QStringLiteral("stats"),
        QStringLiteral("Print yield and margin figures of the records the filter takes, one "
                       "tab-separated line for each kind, device and limit, after a header "
                       "line, and end.")};
    QCommandLineOption from{QStringLiteral("from"),
                            QStringLiteral("With --history and --stats: sweeps ended on this UTC "
                                           "day or later."),
                            QStringLiteral("YYYY-MM-DD")};
    QCommandLineOption to{QStringLiteral("to"),
                          QStringLiteral("With --history and --stats: sweeps ended on this UTC "
                                         "day or earlier."),
                          QStringLiteral("YYYY-MM-DD")};
    QCommandLineOption verdict{QStringLiteral("verdict"),
                               QStringLiteral("With --history and --stats: records of this "
                                              "verdict only."),
                               QStringLiteral("pass|fail|none")};
    QCommandLineOption includeSimulated{
        QStringLiteral("include-simulated"),
        QStringLiteral("With --stats: count the simulated bench's records too.")};
    QCommandLineOption exportRecord{
        QStringLiteral("export"),
        QStringLiteral("Write the record with this id, or the DUT's latest record, to standard "
                       "output, and end."),
        QStringLiteral("UUID|DUT-ID")};
    QCommandLineOption format{QStringLiteral("format"),
                              QStringLiteral("With --export: csv (default), s1p or s2p."),
                              QStringLiteral("csv|s1p|s2p"), QStringLiteral("csv")};

    QCommandLineOption remote{
        QStringLiteral("remote"),
        QStringLiteral("Also answer SCPI commands over TCP on 127.0.0.1, port PORT (5025 when not "
                       "given; 0 picks a free one)."),
        QStringLiteral("PORT")};
    QCommandLineOption remoteListen{
        QStringLiteral("remote-listen"),
        QStringLiteral("With --remote: listen on ADDRESS instead of 127.0.0.1. The protocol has "
                       "no authentication."),
        QStringLiteral("ADDRESS")};

    // A run without a window: a reference, one device sweep, the verdict on standard output.
    QCommandLineOption batch{
        QStringLiteral("batch"),
        QStringLiteral("Take a reference and sweep one device without a window, record it, print "
                       "its verdict (PASS, FAIL or NONE) and end: status 0 for PASS or NONE, 1 "
                       "for FAIL, 2 for an error. Needs --kind, --device, --freq-step and "
                       "--dut.")};
    QCommandLineOption kind{QStringLiteral("kind"),
                            QStringLiteral("With --batch: att (attenuation) or rl (return loss). "
                                           "With --history and --stats: that kind only."),
                            QStringLiteral("att|rl")};
    QCommandLineOption device{
        QStringLiteral("device"),
        QStringLiteral("With --batch: the device. Attenuation: X1 (cable), X2, X2P5, X5, X10 or "
                       "a custom attenuation in dB; return loss: TERM (termination) or PAD (an "
                       "attenuator closed by a good termination). With --history and --stats: "
                       "that device only."),
        QStringLiteral("WORD|dB")};
    QCommandLineOption freqStep{QStringLiteral("freq-step"),
                                QStringLiteral("With --batch: the frequency step in MHz."),
                                QStringLiteral("12.5|25|50|100")};
    QCommandLineOption dut{QStringLiteral("dut"),
                           QStringLiteral("With --batch: the DUT ID the record is kept under. "
                                          "With --history and --stats: records of that DUT, "
                                          "their own or printed; ID* for a prefix, \\* for a "
                                          "star."),
                           QStringLiteral("ID")};
    QCommandLineOption limit{
        QStringLiteral("limit"),
        QStringLiteral("With --batch: a custom limit in dB instead of the device's own: +- 0.1 "
                       "to 1.0 for attenuation, 10 to 40 for return loss."),
        QStringLiteral("dB")};
    QCommandLineOption comment{QStringLiteral("comment"),
                               QStringLiteral("With --batch: a comment kept with the record."),
                               QStringLiteral("TEXT")};
    QCommandLineOption yes{
        QStringLiteral("yes"),
        QStringLiteral("With --batch: answer every prompt with its default (OK, Yes) instead of "
                       "asking on the terminal; nobody needs to be at the bench.")};

    void addTo(QCommandLineParser& parser) const
    {
        parser.addOptions({simulate, gpibLibrary, adapter, trace, database, history, exportRecord,
                           format, remote, remoteListen, stats, from, to, verdict,
                           includeSimulated});
        parser.addOptions({batch, kind, device, freqStep, dut, limit, comment, yes});
        parser.addPositionalArgument(
            QStringLiteral("DUT-ID"),
            QStringLiteral("With --history: the DUT whose records to list."),
            QStringLiteral("[DUT-ID]"));
    }

    FilterWords filter(const QCommandLineParser& parser) const
    {
        return {parser.value(dut),
                parser.value(from),
                parser.value(to),
                parser.value(kind),
                parser.value(device),
                parser.value(verdict),
                parser.isSet(includeSimulated)};
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
QStringList withOptionalValues(QStringList arguments);

// The program's names, for the window, the settings and the history file.
void nameProgram();
// The description, --help, --version and every option.
void describe(QCommandLineParser& parser, const Options& options);
// Whether any of the options is on the command line, before any application object exists.
bool asked(int argc, char* argv[], std::initializer_list<const char*> options);
