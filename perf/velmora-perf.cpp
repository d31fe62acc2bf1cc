// Measures what a lab leaving the program on a bench all day cares about: waits that cost no
// processor, a window that stays responsive during sweeps, sweeps that take the time the
// sequence prescribes and no more, quick start-up, bounded memory, a fast chart and a fast
// saved-entries list, a history that records quickly and finds a DUT among 100,000 records,
// and yield figures of a million records in well under a second. Runs the real main window
// offscreen on the simulated bench, real clock.
//
// Prints one line per figure, "name value unit goal", then how many figures miss their goal.

#include "app/HistoryWindow.h"
#include "app/MainForm.h"
#include "base/Clock.h"
#include "base/OperatorDialogs.h"
#include "chart/Chart.h"
#include "gpib/InstrumentIO.h"
#include "history/History.h"
#include "history/HistoryStats.h"
#include "history/HistoryStore.h"
#include "remote/RemoteServer.h"
#include "report/PrintResultForm.h"
#include "report/PrintResultTextForm.h"
#include "session/SweepRecorder.h"
#include "sim/SimulatedBench.h"
#include "sim/SimulatedOperator.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPageLayout>
#include <QPageSize>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

double processSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Seconds since this process started, from the kernel's own record of the start.
double secondsSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double started = fields.value(19).toDouble() / double(sysconf(_SC_CLK_TCK));
    return uptime.readAll().split(' ').value(0).toDouble() - started;
}

// Notes when a window has painted for the first time.
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget& window, double& seconds) : m_seconds(seconds)
    {
        window.installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_seconds < 0)
            m_seconds = secondsSinceProcessStart();
        return false;
    }

private:
    double& m_seconds;
};

struct Figure {
    QString name;
    double value;
    QString unit;
    double goal;
    bool atMost = true;
    bool met() const { return atMost ? value <= goal : value >= goal; }
};

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// The simulated bench whose next read, once asked, blocks its bus call for 2 s, as a
// linux-gpib read does in the kernel until its time-out.
struct BlockingBench : SimulatedBench {
    using SimulatedBench::SimulatedBench;
    int ibrd(int ud, QByteArray& buffer) override
    {
        if (blockNextRead.exchange(false)) {
            blocking = true;
            std::this_thread::sleep_for(std::chrono::seconds(2));
            blocking = false;
        }
        return SimulatedBench::ibrd(ud, buffer);
    }
    std::atomic<bool> blockNextRead = false;
    std::atomic<bool> blocking = false;
};

// The program as it starts, on the in-process bench with the real clock.
struct Program {
    SteadyClock clock;
    BlockingBench bench{clock, *BenchScenario::parse({})};
    FirstButtonDialogs answers;
    SimulatedOperator hands{answers, bench};
    BenchSession session{bench, clock, hands};
    MainForm form{session, hands};

    void start()
    {
        form.Form_Load();
        form.show();
        while (!form.activated())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    void clickFrame(QWidget* frame)
    {
        QMouseEvent press(QEvent::MouseButtonPress,
                          QPointF(frame->width() - 4, frame->height() - 4),
                          frame->mapToGlobal(QPointF(frame->width() - 4, frame->height() - 4)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(frame, &press);
    }

    void chooseStep(int index) { session.setStepIndex(index); }

    // Seconds the Run button's sequence took, the window's event loop running meanwhile.
    double run()
    {
        QElapsedTimer timer;
        timer.start();
        form.Command_Run->click();
        while (session.running())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return timer.nsecsElapsed() / 1e9;
    }

    // A return-loss termination sweep at a step, whatever reference is stored.
    double terminationSweep(int step)
    {
        // Reference selected gives the step list back; the stored table stays good enough.
        form.Option_Refl[0]->click();
        chooseStep(step);
        session.enableReflControls(true, true);
        form.Option_Refl[1]->click();
        return run();
    }
};

double waitCost()
{
    SteadyClock clock;
    const double cpu = processSeconds();
    QElapsedTimer wall;
    wall.start();
    clock.wait(5.0);
    return (processSeconds() - cpu) / (wall.nsecsElapsed() / 1e9);
}

// A 10 ms timer on the window's thread, and how late it fires while counting() holds.
struct Lateness {
    explicit Lateness(std::function<bool()> counting = [] { return true; })
        : m_counting(std::move(counting))
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const double late = std::max(0.0, m_since.nsecsElapsed() / 1e6 - 10.0);
            m_since.restart();
            if (m_counting())
                m_samples << late;
        });
    }
    void start()
    {
        m_since.start();
        m_timer.start(10);
    }
    double stopAtP99()
    {
        m_timer.stop();
        std::sort(m_samples.begin(), m_samples.end());
        return m_samples.isEmpty() ? 0 : m_samples[int(m_samples.size() * 0.99)];
    }

private:
    std::function<bool()> m_counting;
    QVector<double> m_samples;
    QElapsedTimer m_since;
    QTimer m_timer;
};

struct SweepFigures {
    double lateness99 = 0;
    QVector<double> overhead; // per step index 0..3, -1 when skipped
};

SweepFigures sweeps(bool withSlowest)
{
    Program p;
    p.start();

    // The window's lateness while a reference and a device sweep run at 100 MHz steps.
    Lateness lateness;
    p.clickFrame(p.form.Frame_Refl);
    p.chooseStep(3);
    lateness.start();
    p.run();
    p.form.Option_Refl[1]->click();
    p.run();

    SweepFigures figures;
    figures.lateness99 = lateness.stopAtP99();
    // Prescribed waits of a termination sweep: 2 s after "SIG", then 0.7 s and the query's
    // 0.1 s a point.
    const int points[] = {79, 40, 20, 10};
    for (int step = 0; step < 4; ++step) {
        if (step == 0 && !withSlowest) {
            figures.overhead << -1;
            continue;
        }
        const double prescribed = 2.0 + points[step] * 0.8;
        figures.overhead << p.terminationSweep(step) / prescribed;
    }
    return figures;
}

// A 10 ms timer's lateness on the window's thread while a reference sweep's driver call
// blocks for 2 s.
double blockingCallLateness99()
{
    Program p;
    p.start();
    Lateness lateness([&p] { return p.bench.blocking.load(); });
    p.clickFrame(p.form.Frame_Refl);
    p.chooseStep(3);
    p.bench.blockNextRead = true;
    lateness.start();
    p.run();
    return lateness.stopAtP99();
}

struct RemoteFigures {
    double idleMedianMs = 0;
    double sweepP99Ms = 0;
};

// "*IDN?" round trips from a client in a thread of its own, as a script on the same machine
// would make them, while the window is idle and while it sweeps.
RemoteFigures remoteFigures()
{
    Program p;
    p.start();
    QTemporaryDir dir;
    History history(p.clock, DatabaseTarget::parse(QStringLiteral("local")),
                    dir.filePath(QStringLiteral("history.sqlite")));
    SweepRecorder recorder(history, p.session, BenchInterface::Simulated, QString());
    RemoteServer server(p.session);
    server.listen(QHostAddress::LocalHost, 0);

    std::atomic<bool> stop = false;
    const auto queries = [&](int count, QVector<double>& times) {
        QTcpSocket socket;
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        socket.waitForConnected(5000);
        QElapsedTimer timer;
        for (int i = 0; (count == 0 || i < count) && !stop; ++i) {
            timer.start();
            socket.write("*IDN?\n");
            while (!socket.canReadLine() && socket.waitForReadyRead(5000)) {
            }
            socket.readLine();
            times << timer.nsecsElapsed() / 1e6;
        }
        stop = true;
    };
    const auto serveUntilStopped = [&] {
        while (!stop)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };

    RemoteFigures figures;
    QVector<double> idle, sweeping;
    std::thread idleClient(queries, 500, std::ref(idle));
    serveUntilStopped();
    idleClient.join();
    figures.idleMedianMs = median(idle);

    stop = false;
    std::thread sweepClient(queries, 0, std::ref(sweeping));
    p.clickFrame(p.form.Frame_Refl);
    p.chooseStep(3);
    p.run();
    p.form.Option_Refl[1]->click();
    p.run();
    stop = true;
    sweepClient.join();
    std::sort(sweeping.begin(), sweeping.end());
    figures.sweepP99Ms = sweeping.isEmpty() ? 0 : sweeping[int(sweeping.size() * 0.99)];
    return figures;
}

double peakMemoryMegabytes()
{
    Program p;
    p.start();
    p.clickFrame(p.form.Frame_Refl);
    p.chooseStep(3);
    p.run();
    p.form.Option_Refl[1]->click();
    p.run();
    QTemporaryDir dir;
    ReportSource source{p.session.grid(),
                        p.form.Combo_FreqStep->currentIndex(),
                        p.form.Combo_FreqStep->currentText(),
                        p.form.Globals,
                        QString(),
                        QPoint()};
    PrintResultForm report(source, p.hands);
    report.writePage(dir.filePath(QStringLiteral("report.pdf")),
                     QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF()));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

double chartMilliseconds()
{
    Chart chart(6);
    chart.resize(700, 300);
    chart.show();
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    for (int column = 1; column <= 6; ++column) {
        chart.grid().setColumn(column);
        for (int row = 1; row <= ResultGrid::Rows; ++row) {
            chart.grid().setRow(row);
            chart.grid().setData(ResultGrid::text(float(row % 7) + float(column)));
        }
        chart.repaint();
    }
    QCoreApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

double savedEntriesMilliseconds()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QFile file(QStringLiteral("PrintComments.dat"));
    file.open(QIODevice::WriteOnly);
    for (int i = 0; i < 100000; ++i)
        file.write(QStringLiteral("DUT%1;checked on bench %2\r\n").arg(i).arg(i % 7).toUtf8());
    file.close();
    QLabel dut, id, comments, type(QStringLiteral("Return Loss"));
    FirstButtonDialogs answers;
    QElapsedTimer timer;
    timer.start();
    PrintResultTextForm dialog(MeasType::Termination, QString(),
                               ReportLabels{&dut, &id, &comments, &type}, answers);
    const double ms = timer.nsecsElapsed() / 1e6;
    QDir::setCurrent(previous);
    return ms;
}

struct HistoryFigures {
    double writeMs = 0;
    double listMs = 0;
    double kilobytesPerRecord = 0;
};

// The history file of a busy bench: 100,000 records of 79 points (the largest sweep), four a
// DUT, every tenth printed. Filling skips the disk flush; the timed writes make it.
HistoryFigures historyFigures()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    HistoryStore store;
    store.openLocal(path);
    MeasurementResult result;
    result.type = MeasType::Att5X;
    result.stepIndex = 0;
    result.stepMult = 1;
    result.nominalDb = 14;
    result.limitsShown = true;
    result.limitDb = 0.4f;
    for (int i = 2; i <= 80; ++i) {
        result.points.append({i * 12.5, 0.013f * float(i % 11) - 0.07f});
        result.reference.points.append({i * 12.5, -20.37f - 0.041f * float(i)});
    }
    result.reference.taken = result.started = result.ended = QDateTime::currentDateTimeUtc();
    RunContext context;
    context.bench = {QStringLiteral("2712"), QStringLiteral("ID SIMULATED,2712,V1.04"),
                     BenchInterface::Board, QStringLiteral("GPIB0::1")};
    context.comments = QStringLiteral("checked after repair");
    const int records = 100000;
    QSqlQuery(store.connection()).exec(QStringLiteral("PRAGMA synchronous=OFF"));
    for (int i = 0; i < records; ++i) {
        context.dutId = QStringLiteral("AT-%1").arg(i % (records / 4));
        result.ended = result.ended.addSecs(60);
        const HistoryRecord record = HistoryRecord::make(result, context);
        store.writeRecord(record);
        if (i % 10 == 0) {
            store.writePrint(record.id,
                             {QUuid::createUuid(), QStringLiteral("5 X Attenuator"), context.dutId,
                              context.comments, QString(), QStringLiteral("12.5 MHz"),
                              result.points, QStringLiteral("lab-printer"), result.ended});
        }
    }
    QSqlQuery(store.connection()).exec(QStringLiteral("PRAGMA synchronous=FULL"));

    HistoryFigures figures;
    QVector<double> write, list;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer timer;
        timer.start();
        store.writeRecord(HistoryRecord::make(result, context));
        write << timer.nsecsElapsed() / 1e6;
    }
    for (int i = 0; i < 20; ++i) {
        HistoryFilter filter;
        filter.dutId = QStringLiteral("AT-%1").arg(i * 1237);
        QElapsedTimer timer;
        timer.start();
        const auto found = store.query(filter);
        list << (found && found->size() == 4 ? timer.nsecsElapsed() / 1e6 : 1e9);
    }
    figures.writeMs = median(write);
    figures.listMs = median(list);
    QSqlQuery(store.connection()).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    figures.kilobytesPerRecord = double(QFileInfo(path).size()) / 1024.0 / (records + 20);
    return figures;
}

// A lab's history of a million records, made once: 48 records written through the store (four
// devices, custom limits and none among them), then copied by one bulk insert with new ids,
// DUT IDs, end times a minute apart and margins spread over +-0.1 dB.
struct StatsFigures {
    double makeSeconds = 0, totalsSeconds = 0, fileMegabytes = 0, commandMs = 0, windowMs = 0;
    double viewMs = 0;
    double memoryMegabytes = 0;
};

bool makeMillion(const QString& path, int records, double& seconds)
{
    QElapsedTimer timer;
    timer.start();
    HistoryStore store;
    if (!store.openLocal(path))
        return false;
    RunContext context;
    context.bench = {QStringLiteral("2712"), QStringLiteral("ID TEK/2712,V1.04"),
                     BenchInterface::Board, QStringLiteral("GPIB0::1")};
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-700);
    const MeasType types[] = {MeasType::Att2X, MeasType::Att5X, MeasType::Termination,
                              MeasType::CustomAtt};
    for (int i = 0; i < 48; ++i) {
        MeasurementResult r;
        r.type = types[i % 4];
        r.stepIndex = 2;
        r.stepMult = r.reference.stepMult = 4;
        r.nominalDb = r.type == MeasType::CustomAtt ? 7.5f : measInfo(r.type).nominalDb;
        r.limitsShown = r.type != MeasType::CustomAtt || i % 8 == 3;
        r.customLimits = i % 8 == 3 || i % 12 == 1;
        r.limitDb = r.customLimits ? (r.kind() == MeasKind::ReturnLoss ? 25.0f : 0.25f)
                                   : measInfo(r.type).limitDb;
        const bool rl = r.kind() == MeasKind::ReturnLoss;
        for (int row = 4; row <= 80; row += 4) {
            const float wobble = 0.02f * float((row + i) % 9) - 0.08f;
            r.points.append({row * 12.5, rl ? 28.0f - float(row) * 0.05f + wobble * 10 : wobble});
            r.reference.points.append({row * 12.5, -20.0f - float(row) * 0.04f});
        }
        r.reference.taken = r.started = r.ended = start;
        context.dutId = QStringLiteral("BASE-%1").arg(i);
        if (!store.writeRecord(HistoryRecord::make(r, context)))
            return false;
    }
    QSqlQuery query(store.connection());
    query.exec(QStringLiteral("PRAGMA table_info(records)"));
    QStringList columns, values;
    while (query.next()) {
        const QString name = query.value(1).toString();
        columns << name;
        if (name == QLatin1String("id"))
            values << QStringLiteral(
                "lower(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4' || "
                "substr(hex(randomblob(2)), 2) || '-a' || substr(hex(randomblob(2)), 2) || '-' || "
                "hex(randomblob(6)))");
        else if (name == QLatin1String("dut_id"))
            values << QStringLiteral("'AT-' || (n.i % 4000) || '-' || r.rowid");
        else if (name == QLatin1String("margin_db"))
            values << QStringLiteral("r.margin_db + ((n.i * 7 + r.rowid) % 41 - 20) * 0.005");
        else if (name == QLatin1String("verdict"))
            values << QStringLiteral(
                "CASE WHEN r.margin_db IS NULL THEN r.verdict WHEN r.margin_db + ((n.i * 7 + "
                "r.rowid) % 41 - 20) * 0.005 < 0 THEN 'FAIL' ELSE 'PASS' END");
        else if (name == QLatin1String("ended_ms"))
            values << QStringLiteral("r.ended_ms + (n.i * 48 + r.rowid) * 60000");
        else
            values << QStringLiteral("r.") + name;
    }
    // The copies come in as into a file of an older version, without running totals: they are
    // made afterwards, as this version's first writing open makes them for such a file.
    for (const char* drop :
         {"DROP TRIGGER records_totals", "DROP TABLE totals_groups", "DROP TABLE totals_duts"})
        query.exec(QString::fromLatin1(drop));
    query.exec(QStringLiteral("PRAGMA synchronous=OFF"));
    const bool ok = query.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT "
                                              "i + 1 FROM n WHERE i < %3) INSERT INTO records "
                                              "(%1) SELECT %2 FROM n, records r")
                                   .arg(columns.join(u','), values.join(u','))
                                   .arg(std::max(1, records / 48)));
    query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    seconds = timer.nsecsElapsed() / 1e9;
    return ok;
}

bool makeTotals(const QString& path, double& seconds)
{
    QElapsedTimer timer;
    timer.start();
    HistoryStore store;
    const bool ok = store.openLocal(path) && store.hasTotals();
    seconds = timer.nsecsElapsed() / 1e9;
    store.close();
    // The file just written is still on its way to the disk: let it get there before the
    // reads are timed.
    ::sync();
    return ok;
}

template <typename Signal>
double millisecondsUntil(HistoryWindow& window, Signal signal, const std::function<void()>& start)
{
    bool done = false;
    const QMetaObject::Connection c = QObject::connect(&window, signal, [&done] { done = true; });
    QElapsedTimer timer;
    timer.start();
    start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(c);
    return timer.nsecsElapsed() / 1e6;
}

StatsFigures statsFigures(int records)
{
    StatsFigures figures;
    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("Velmora/Velmora/history.sqlite"));
    if (!makeMillion(path, records, figures.makeSeconds) ||
        !makeTotals(path, figures.totalsSeconds))
        return figures;
    figures.fileMegabytes = double(QFileInfo(path).size()) / 1e6;

    // --stats as a script runs it: the program's start included.
    QProcess command;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    command.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    command.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/velmora"),
                  {QStringLiteral("--stats"), QStringLiteral("--include-simulated")});
    command.waitForFinished(60000);
    figures.commandMs = timer.nsecsElapsed() / 1e6;
    if (command.exitCode() != 0 || command.readAllStandardOutput().count('\n') < 5)
        figures.commandMs = 1e9;

    SteadyClock clock;
    History history(clock, DatabaseTarget::parse(QStringLiteral("local")), path);
    FirstButtonDialogs answers;
    HistoryWindow window(history, answers);
    figures.windowMs =
        millisecondsUntil(window, &HistoryWindow::listShown, [&window] { window.showWindow(); });
    // One group: the 2 X attenuators with their default limit.
    window.Combo_Kind->setCurrentIndex(1);
    window.Combo_Device->setCurrentText(QStringLiteral("X2"));
    QCoreApplication::processEvents();
    history.drain();
    QCoreApplication::processEvents();
    figures.viewMs = millisecondsUntil(window, &HistoryWindow::groupShown,
                                       [&window] { window.Tab_Views->setCurrentIndex(1); });
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    figures.memoryMegabytes = usage.ru_maxrss / 1024.0;
    return figures;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Measures Velmora's waits, sweeps and memory."));
    parser.addHelpOption();
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Median of N runs (1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption slow(QStringLiteral("with-12.5"),
                                  QStringLiteral("Also time the 12.5 MHz sweep (about 70 s)."));
    const QCommandLineOption onlyStats(
        QStringLiteral("history-stats"),
        QStringLiteral("Only the figures of a million-record history (also part of a full run)."));
    const QCommandLineOption statsRecords(
        QStringLiteral("history-records"),
        QStringLiteral("Records of that history, to try a change on a smaller one (1000000)."),
        QStringLiteral("N"), QStringLiteral("1000000"));
    parser.addOptions({runs, slow, onlyStats, statsRecords});
    parser.process(app);
    if (parser.isSet(onlyStats)) {
        // A process of its own, so that its peak memory is the statistics' alone.
        const StatsFigures s = statsFigures(parser.value(statsRecords).toInt());
        const Figure figures[] = {
            {"history-1m-make", s.makeSeconds, "s", 120},
            {"history-1m-totals", s.totalsSeconds, "s", 60},
            {"history-1m-file", s.fileMegabytes, "MB", 4000},
            {"history-1m-stats-command", s.commandMs, "ms", 1000},
            {"history-1m-window-open", s.windowMs, "ms", 300},
            {"history-1m-statistics-view", s.viewMs, "ms", 500},
            {"history-1m-memory-peak", s.memoryMegabytes, "MB", 150},
        };
        int missed = 0;
        for (const Figure& f : figures) {
            std::printf("%s %.4g %s %g\n", qPrintable(f.name), f.value, qPrintable(f.unit), f.goal);
            missed += f.met() ? 0 : 1;
        }
        return missed;
    }
    const int n = std::max(1, parser.value(runs).toInt());

    // Start-up: this process up to the main window's first paint, before its intro window.
    double startUp = -1;
    {
        Program p;
        FirstPaint painted(p.form, startUp);
        p.form.Form_Load();
        p.form.show();
        while (startUp < 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // Let the first activation finish before the window goes.
        while (!p.form.activated())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    QVector<double> wait, late, blocked, memory, chart, entries;
    QVector<QVector<double>> overhead(4);
    for (int i = 0; i < n; ++i) {
        wait << waitCost();
        const SweepFigures s = sweeps(parser.isSet(slow) && i == 0);
        late << s.lateness99;
        blocked << blockingCallLateness99();
        for (int step = 0; step < 4; ++step)
            if (s.overhead[step] >= 0)
                overhead[step] << s.overhead[step];
        chart << chartMilliseconds();
        entries << savedEntriesMilliseconds();
    }
    memory << peakMemoryMegabytes();
    const HistoryFigures history = historyFigures();
    const RemoteFigures remote = remoteFigures();

    QVector<Figure> figures{
        {"wait-cost", median(wait), "cpu/wall", 0.01},
        {"responsiveness-p99", median(late), "ms", 5},
        {"responsiveness-blocking-call-p99", median(blocked), "ms", 5},
        {"start-up", startUp * 1000, "ms", 300},
        {"memory-peak", median(memory), "MB", 80},
        {"chart-480-cells", median(chart), "ms", 20},
        {"saved-entries-100k", median(entries), "ms", 200},
        {"history-write", history.writeMs, "ms", 10},
        {"history-list-100k-by-dut", history.listMs, "ms", 100},
        {"history-file-per-record", history.kilobytesPerRecord, "KB", 4},
        {"remote-round-trip-idle-median", remote.idleMedianMs, "ms", 1},
        {"remote-round-trip-sweep-p99", remote.sweepP99Ms, "ms", 5},
    };
    const char* stepNames[] = {"12.5MHz", "25MHz", "50MHz", "100MHz"};
    for (int step = 0; step < 4; ++step)
        if (!overhead[step].isEmpty())
            figures.insert(3 + step, {QStringLiteral("sweep-overhead-%1").arg(stepNames[step]),
                                      median(overhead[step]), "ratio", 1.01});
    int missed = 0;
    for (const Figure& f : figures) {
        std::printf("%s %.4g %s %g\n", qPrintable(f.name), f.value, qPrintable(f.unit), f.goal);
        missed += f.met() ? 0 : 1;
    }
    std::fflush(stdout);
    QProcess stats;
    stats.setProcessChannelMode(QProcess::ForwardedChannels);
    stats.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--history-stats")});
    stats.waitForFinished(-1);
    missed += stats.exitStatus() == QProcess::NormalExit ? stats.exitCode() : 1;
    std::printf("missed %d\n", missed);
    return missed == 0 ? 0 : 1;
}
