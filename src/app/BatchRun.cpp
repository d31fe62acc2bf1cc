#include "app/BatchRun.h"

#include "app/BenchConnection.h"
#include "app/CommandLine.h"
#include "app/TerminalDialogs.h"
#include "base/Clock.h"
#include "history/History.h"
#include "measure/FrequencyStep.h"
#include "session/BenchSession.h"
#include "session/SweepRecorder.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <array>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int ErrorStatus = 2;

const char* const Usage =
    "velmora --batch --kind att|rl --device X1|X2|X2P5|X5|X10|TERM|PAD|<dB>\n"
    "        --freq-step 12.5|25|50|100 --dut ID [--limit dB] [--comment TEXT] [--database URL]\n"
    "        [--simulate[=SCENARIO] | --adapter DEVICE | --gpib-library PATH] [--yes]";

int failed(const QString& reason)
{
    std::fprintf(stderr, "velmora: %s\n", qPrintable(reason));
    return ErrorStatus;
}

int badArguments(const QString& reason)
{
    std::fprintf(stderr, "velmora: %s\nUsage: %s\n", qPrintable(reason), Usage);
    return ErrorStatus;
}

// What the command line asks for.
struct Job {
    MeasKind kind = MeasKind::Attenuation;
    MeasType device = MeasType::Cable;
    QString customAttn; // a device given in dB, as written
    int step = 1;       // index into the frequency-step list
    QString dut, comment;
    std::optional<QString> limit;
};

// The device words of a kind, for a message.
QString deviceWords(MeasKind kind)
{
    int count = 0;
    const MeasInfo* table = measTable(&count);
    QStringList words;
    for (const MeasInfo& info : std::span(table, size_t(count))) {
        if (info.kind == kind && !info.reference && info.type != MeasType::CustomAtt)
            words << QLatin1String(info.word);
    }
    if (kind == MeasKind::Attenuation)
        words << QStringLiteral("a value in dB");
    return words.join(QStringLiteral(", "));
}

std::optional<Job> readJob(const QCommandLineParser& parser, const Options& options, QString* error)
{
    const auto refuse = [error](const QString& reason) {
        *error = reason;
        return std::nullopt;
    };
    if (!parser.positionalArguments().isEmpty())
        return refuse("Unexpected argument: " + parser.positionalArguments().first());
    for (const QCommandLineOption* o :
         {&options.kind, &options.device, &options.freqStep, &options.dut}) {
        if (parser.value(*o).trimmed().isEmpty())
            return refuse(QStringLiteral("--%1 is missing.").arg(o->names().first()));
    }

    Job job;
    const QString kind = parser.value(options.kind).trimmed();
    if (kind.compare(QLatin1String("att"), Qt::CaseInsensitive) == 0)
        job.kind = MeasKind::Attenuation;
    else if (kind.compare(QLatin1String("rl"), Qt::CaseInsensitive) == 0)
        job.kind = MeasKind::ReturnLoss;
    else
        return refuse(QStringLiteral("--kind takes att or rl, not %1.").arg(kind));

    const QString device = parser.value(options.device).trimmed();
    int count = 0;
    const MeasInfo* table = measTable(&count);
    const MeasInfo* named = nullptr;
    for (const MeasInfo& info : std::span(table, size_t(count))) {
        if (!info.reference && info.type != MeasType::CustomAtt &&
            device.compare(QLatin1String(info.word), Qt::CaseInsensitive) == 0)
            named = &info;
    }
    bool number = false;
    QString(device).replace(u',', u'.').toDouble(&number);
    if (named && named->kind == job.kind) {
        job.device = named->type;
    } else if (number && job.kind == MeasKind::Attenuation) {
        job.device = MeasType::CustomAtt;
        job.customAttn = device;
    } else {
        return refuse(QStringLiteral("--device %1 is no device of --kind %2, which takes %3.")
                          .arg(device, kind.toLower(), deviceWords(job.kind)));
    }

    const QString step = parser.value(options.freqStep).trimmed();
    job.step = FrequencyStep::indexOfText(step);
    if (job.step < 0)
        return refuse(
            QStringLiteral("--freq-step takes 12.5, 25, 50 or 100 (MHz), not %1.").arg(step));

    job.dut = parser.value(options.dut).trimmed();
    job.comment = parser.value(options.comment);
    if (parser.isSet(options.limit))
        job.limit = parser.value(options.limit);
    return job;
}

// Ctrl-C (or SIGTERM, SIGHUP) ends the run at once. The handler only writes a byte into a
// pipe, and the byte stays there: the event loop sees it through a notifier while the run waits
// on the bus thread, and a question on the terminal sees it in its poll. A second signal exits
// at once, for a run stuck in a driver call.
class Interruption {
public:
    Interruption()
    {
        if (pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        s_writeFd = m_fds[1];
        struct sigaction action {};
        action.sa_handler = &Interruption::handle;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < Signals.size(); ++i) {
            struct sigaction previous {};
            sigaction(Signals[i], nullptr, &previous);
            // Started in the background by a shell that ignores it for us: keep ignoring it.
            if (previous.sa_handler == SIG_IGN)
                continue;
            sigaction(Signals[i], &action, &m_previous[i]);
            m_handled[i] = true;
        }
        m_installed = true;
    }
    ~Interruption()
    {
        if (!m_installed)
            return;
        for (size_t i = 0; i < Signals.size(); ++i) {
            if (m_handled[i])
                sigaction(Signals[i], &m_previous[i], nullptr);
        }
        s_writeFd = -1;
        close(m_fds[0]);
        close(m_fds[1]);
    }
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    int fd() const { return m_installed ? m_fds[0] : -1; }
    static bool happened() { return s_signal != 0; }
    // "Stopped by Ctrl-C." or the signal's name.
    static QString stoppedText()
    {
        return QStringLiteral("Stopped by %1.")
            .arg(s_signal == SIGINT    ? QStringLiteral("Ctrl-C")
                 : s_signal == SIGTERM ? QStringLiteral("SIGTERM")
                                       : QStringLiteral("SIGHUP"));
    }

private:
    static constexpr std::array<int, 3> Signals{SIGINT, SIGTERM, SIGHUP};

    static void handle(int signal)
    {
        if (s_signal != 0) {
            static const char second[] = "velmora: Stopped at once.\n";
            [[maybe_unused]] const ssize_t said = write(STDERR_FILENO, second, sizeof second - 1);
            _exit(ErrorStatus);
        }
        s_signal = signal;
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(s_writeFd, &byte, 1);
    }

    static inline volatile std::sig_atomic_t s_signal = 0;
    static inline int s_writeFd = -1;
    int m_fds[2] = {-1, -1};
    bool m_installed = false;
    std::array<bool, 3> m_handled{};
    std::array<struct sigaction, 3> m_previous{};
};

// The sweep under way on one line of standard error: the points done of the step's count and
// the time left, estimated on the program's clock.
class ProgressLine {
public:
    explicit ProgressLine(const Clock& clock) : m_clock(clock) {}

    void show(const SweepProgress& progress)
    {
        if (progress.total == 0) {
            put(progress.text);
            return;
        }
        if (progress.done == 0)
            m_firstPoint = m_clock.now();
        QString line = QStringLiteral("%1: %2 of %3 points done")
                           .arg(progress.text)
                           .arg(progress.done)
                           .arg(progress.total);
        if (progress.done > 0) {
            const int left = int(std::lround((m_clock.now() - m_firstPoint) / progress.done *
                                             (progress.total - progress.done)));
            line += QStringLiteral(", %1:%2 left")
                        .arg(left / 60)
                        .arg(left % 60, 2, 10, QLatin1Char('0'));
        }
        put(line);
    }
    void clear()
    {
        if (m_shown)
            std::fputs("\r\033[K", stderr);
        m_shown = false;
    }

private:
    void put(const QString& line)
    {
        std::fprintf(stderr, "\r\033[K%s", qPrintable(line));
        std::fflush(stderr);
        m_shown = true;
    }

    const Clock& m_clock;
    double m_firstPoint = 0;
    bool m_shown = false;
};

// The verdict's exit status, once its record is kept (read back), else why it could not be.
int keptVerdict(History& history, const SweepRecorder& recorder, const MeasurementResult& result,
                ProgressLine& progress)
{
    progress.clear();
    // The verdict counts only once its record is kept: read it back.
    const Verdict verdict = Verdict::of(result);
    bool kept = false;
    QString lost;
    QObject receiver;
    history.load(recorder.lastRecord(), &receiver,
                 [&](const HistoryRecord& record, const QString& why) {
                     kept = !record.id.isNull();
                     lost = why;
                 });
    history.drain();
    QCoreApplication::sendPostedEvents(&receiver);
    if (!kept) {
        history.lossTold();
        return failed(
            QStringLiteral("%1, but the record could not be kept: %2").arg(verdict.text(), lost));
    }

    QTextStream(stdout) << verdict.text() << Qt::endl;
    return verdict.outcome == Verdict::Outcome::Fail ? 1 : 0;
}

} // namespace

int BatchRun::main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    nameProgram();
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    if (!parser.parse(withOptionalValues(QCoreApplication::arguments())))
        return badArguments(parser.errorText());
    QString error;
    const std::optional<Job> job = readJob(parser, options, &error);
    if (!job)
        return badArguments(error);
    // The values meet the Run command's own rules before anything goes over the bus.
    for (const QString& refusal :
         {job->device == MeasType::CustomAtt
              ? MeasurementEngine::customAttenuationRefusal(job->customAttn)
              : QString(),
          job->limit ? MeasurementEngine::customLimitRefusal(job->kind, *job->limit) : QString()}) {
        if (!refusal.isEmpty())
            return failed(refusal);
    }
    const DatabaseTarget target = DatabaseTarget::choose(parser.value(options.database));
    if (!target.valid() && target.fromCommandLine)
        return badArguments(target.error);

    // Nobody at a terminal to ask: every prompt takes its default, and the record says so.
    const bool interactive = !parser.isSet(options.yes) && isatty(STDIN_FILENO);
    Interruption interruption;
    TerminalDialogs terminal(interactive, interruption.fd());
    BenchConnection connection;
    BenchConnection::Refusal refusal;
    if (!connection.open(options.bus(parser), terminal, &refusal))
        return failed(refusal.title + ": " + QString(refusal.text).replace("\n\n", "\n"));
    // No modal window here waits on the virtual clock, and there is no QApplication to ask.
    if (auto* clock = dynamic_cast<VirtualClock*>(&connection.clock()))
        clock->idleAdvance = nullptr;

    BenchSession session(connection.bus(), connection.clock(), connection.dialogs());
    MeasurementEngine& engine = session.engine();
    // The DUT ID and comments are cleaned and bounded as at every door, before any bus traffic.
    for (const RemoteBench::Refusal& refusal :
         {session.setDutId(job->dut), session.setComment(job->comment)}) {
        if (refusal.refused())
            return failed(refusal.text);
    }
    // Stopped by the dialogs as the error is reported, the sweep ends before it can complete:
    // an error in its last point leaves no record either.
    terminal.busError = [&engine] { engine.requestStop(); };
    std::unique_ptr<QSocketNotifier> interrupted;
    if (interruption.fd() >= 0) {
        interrupted = std::make_unique<QSocketNotifier>(interruption.fd(), QSocketNotifier::Read);
        QObject::connect(interrupted.get(), &QSocketNotifier::activated, [&] {
            interrupted->setEnabled(false);
            session.cutShort();
        });
    }

    ProgressLine progress(connection.clock());
    if (isatty(STDERR_FILENO)) {
        QObject::connect(&session, &BenchSession::progressed,
                         [&progress](const SweepProgress& p) { progress.show(p); });
        terminal.beforeWriting = [&progress] { progress.clear(); };
    }
    History history(connection.clock(), target);
    const auto note = [&progress](const QString& message) {
        progress.clear();
        std::fprintf(stderr, "velmora: %s\n", qPrintable(message));
    };
    // This bench's own file failing is told once, with the record it could not keep.
    QObject::connect(&history, &History::outage, [&note](const QString& message, bool atRisk) {
        if (!atRisk)
            note(message);
    });
    QObject::connect(&history, &History::restored, note);
    SweepRecorder recorder(history, session, connection.interface(), connection.address());

    const auto ended = [&]() -> std::optional<int> {
        progress.clear();
        if (terminal.ended() || engine.programEnded())
            return ErrorStatus;
        if (terminal.busFailed())
            return failed(QStringLiteral("The run ended after a bus error: no verdict."));
        if (Interruption::happened())
            return failed(Interruption::stoppedText());
        return std::nullopt;
    };
    // The runs go on the bus thread; each step below comes when the one before has returned.
    int status = ErrorStatus;
    const auto end = [&status](int code) {
        status = code;
        QCoreApplication::exit(code);
    };
    enum class Stage { Reference, Device } stage = Stage::Reference;
    // The operator's way: a click in the kind's frame, the step, Run; then the device, its
    // values and Run again.
    const auto reference = [&] {
        // The message has said why.
        if (session.programEnded())
            return end(ErrorStatus);
        session.setKind(job->kind);
        session.setStepIndex(job->step);
        if (Interruption::happened() || session.runNow(StartedFrom::Batch, interactive).refused())
            return end(ended().value_or(ErrorStatus));
    };
    const auto device = [&] {
        if (const std::optional<int> code = ended())
            return end(*code);
        if (!engine.State.RefValid[kindIndex(job->kind)])
            return end(failed(QStringLiteral("No reference was taken: no verdict.")));
        stage = Stage::Device;
        session.setDevice(job->device);
        if (job->device == MeasType::CustomAtt)
            session.setCustomAttenuation(job->customAttn);
        if (job->limit)
            session.setCustomLimit(true, *job->limit);
        if (session.runNow(StartedFrom::Batch, interactive).refused())
            end(ErrorStatus);
    };
    const auto verdict = [&] {
        // A Ctrl-C after the last point came too late to stop the sweep: its record stands.
        const std::optional<MeasurementResult> result = session.lastResult();
        if (!result || terminal.busFailed()) {
            if (const std::optional<int> code = ended())
                return end(*code);
            return end(failed(QStringLiteral("The device sweep did not complete: no verdict.")));
        }
        end(keptVerdict(history, recorder, *result, progress));
    };
    QObject::connect(&session, &RemoteBench::runFinished, [&] {
        if (stage == Stage::Reference)
            device();
        else
            verdict();
    });
    session.load([&] { session.checkTrackingGenerator(reference); });
    QCoreApplication::exec();
    return status;
}
