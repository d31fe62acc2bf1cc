// The session that the window, remote control and the batch run all drive: each row is an
// operator's calls on the simulated bench in virtual time, and what came of them. Throughout, the
// window's thread makes no bus call and never handles an event inside another's handler.

#include "EngineBench.h"
#include "Settle.h"
#include "session/BenchSession.h"

#include <QtTest>

#include <condition_variable>
#include <mutex>

BenchScenario scenarioOf(const QString& words);

namespace {

const char* const KindNames[] = {"prompt",  "reuse", "done",  "stop",  "refused", "bus-error",
                                 "timeout", "lost",  "fatal", "close", "notice"};

// Event deliveries the window's thread is inside: 1 in a handler called from the event loop,
// more when a handler runs events of its own.
int deliveryDepth = 0;

class WatchedApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        const int window = QThread::currentThread() == thread() ? 1 : 0;
        deliveryDepth += window;
        const bool handled = QApplication::notify(receiver, event);
        deliveryDepth -= window;
        return handled;
    }
};

bool onWindowThread()
{
    return QThread::currentThread() == qApp->thread();
}

// What went against the rule, once each: "bus call on the window's thread" and so on.
QStringList faults;

void fault(const QString& what)
{
    if (!faults.contains(what))
        faults << what;
}

// Called on the window's thread: from the event loop, a handler must run straight from it.
void checkHandler(const QString& where)
{
    if (QThread::currentThread()->loopLevel() > 1 || deliveryDepth > 1)
        fault("event loop nested at " + where);
}

// The bench that notes where its driver calls come from. A read may be made to block, as a
// linux-gpib read does in the kernel, until the window's thread has handled an event posted
// meanwhile, or for 2 s.
struct WatchedBench : SimulatedBench {
    using SimulatedBench::SimulatedBench;
    int ibwrt(int ud, const QByteArray& text) override
    {
        return note(), SimulatedBench::ibwrt(ud, text);
    }
    int ibrd(int ud, QByteArray& buffer) override
    {
        note();
        if (blockRead.exchange(false)) {
            std::unique_lock lock(mutex);
            order << "read blocks";
            QMetaObject::invokeMethod(qApp, [this] {
                const std::lock_guard handled(mutex);
                order << "event handled";
                eventHandled.notify_all();
            });
            eventHandled.wait_for(lock, std::chrono::seconds(2),
                                  [this] { return order.size() > 1; });
            order << "read returns";
        }
        return SimulatedBench::ibrd(ud, buffer);
    }
    int ibwait(int ud, int mask) override { return note(), SimulatedBench::ibwait(ud, mask); }
    int ibrsp(int ud, char* spr) override { return note(), SimulatedBench::ibrsp(ud, spr); }
    void FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                  int limit) override
    {
        note();
        SimulatedBench::FindLstn(board, addresses, results, limit);
    }
    void note()
    {
        ++calls;
        if (onWindowThread())
            fault(QStringLiteral("bus call on the window's thread"));
    }

    std::atomic<int> calls = 0;
    std::atomic<bool> blockRead = false;
    std::mutex mutex;
    std::condition_variable eventHandled;
    QStringList order;
};

// The virtual clock: a wait is made off the window's thread, which moves time for it from its
// event loop.
struct WatchedClock : VirtualClock {
    void waitUntil(double deadline) override
    {
        if (onWindowThread())
            checkHandler(QStringLiteral("a wait"));
        VirtualClock::waitUntil(deadline);
    }
};

struct SessionBench {
    explicit SessionBench(const QString& scenario) : bench(clock, scenarioOf(scenario))
    {
        session.load();
        session.checkTrackingGenerator();
        settle(session);
        bench.clearReceived();
    }
    WatchedClock clock;
    WatchedBench bench;
    ScriptedDialogs dialogs;
    SimulatedOperator hands{dialogs, bench};
    BenchSession session{bench, clock, hands};
};

MeasType typeOf(MeasKind kind, const QString& word)
{
    int count = 0;
    const MeasInfo* table = measTable(&count);
    for (int i = 0; i < count; ++i) {
        if (table[i].kind == kind && word == QLatin1String(table[i].word))
            return table[i].type;
    }
    return referenceOf(kind);
}

} // namespace

class TestSession : public QObject {
    Q_OBJECT
private slots:
    void steps_data();
    void steps();
    void windowRunsWhileBusCallBlocks();
};

// A step is "kind att|rl", "step N" (0..3), "device WORD", "custom TEXT", "limit TEXT",
// "dut TEXT", "comment TEXT", "run", "answer BUTTON" (the next question), "at-prompt STEP" (done
// while the next connection prompt waits) or "show" (the texts, references and result). The
// log: each refusal, each message (kind and title; a refusal's text too), each run's bus
// commands, and what "show" shows.
void TestSession::steps_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("log");
    const QString rlSetup = "prompt Return Loss Measurement Setup";
    QTest::newRow("devices wait for their reference")
        << ""
        << QStringList{"device X2", "kind att",      "device X2", "custom 5", "step 2",    "run",
                       "step 1",    "device CUSTOM", "step 1",    "custom 5", "limit 0.2", "show"}
        << "device X2 -> -221 | device X2 -> -221 | custom 5 -> -221 | prompt Attenuator "
           "Measurement Setup | done Attenuator Reference | sent 46 | step 1 -> -221 | "
           "step 1 -> -221 | dut= comment= refs=10 no result";
    // Line breaks of every kind; the bounds are checked at the remote door.
    QTest::newRow("texts from outside")
        << "" << QStringList{"dut \t a\u2028b;c \n", "comment  x;y\u0085z", "show"}
        << "dut=a b-c comment= x-y z refs=00 no result";
    QTest::newRow("the selection is locked while a run is in progress; then a termination")
        << "" << QStringList{"kind rl", "at-prompt kind rl", "at-prompt dut D",
                             "run",     "device TERM",       "run",
                             "show"}
        << rlSetup +
               " | kind rl -> -221 | dut D -> -221 | done Return Loss Reference | sent 86 | " +
               rlSetup +
               " | done Return Loss Measurement | sent 82 | dut= comment= refs=01 PASS "
               "6.29 dB at 875 MHz";
    // After the fatal end's message nothing more goes over the bus or to the operator.
    QTest::newRow("Cancel in the GPIB error dialog ends the program")
        << "write-error=MFREQ 300E+6)"
        << QStringList{"kind rl", "step 3", "answer Ok", "answer Cancel", "run", "run"}
        << rlSetup + " | bus-error GPIB ERROR # 2 | sent 9 | run -> -221 | sent 0";
}

void TestSession::steps()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, steps);
    QFETCH(QString, log);
    SessionBench b(scenario);
    BenchSession& s = b.session;
    QStringList seen;
    QStringList atPrompt;
    const auto step = [&](const QString& text) {
        const QString verb = text.section(u' ', 0, 0), value = text.section(u' ', 1);
        const MeasKind kind = s.kind();
        RemoteBench::Refusal refusal;
        if (verb == "kind")
            refusal = s.setKind(value == "rl" ? MeasKind::ReturnLoss : MeasKind::Attenuation);
        else if (verb == "step")
            refusal = s.setStepIndex(value.toInt());
        else if (verb == "device")
            refusal = s.setDevice(typeOf(kind, value));
        else if (verb == "custom")
            refusal = s.setCustomAttenuation(value);
        else if (verb == "limit")
            refusal = s.setCustomLimit(true, value);
        else if (verb == "dut")
            refusal = s.setDutId(value);
        else if (verb == "comment")
            refusal = s.setComment(value);
        else if (verb == "answer")
            b.dialogs.answer({value == "Cancel" ? MsgResult::Cancel : MsgResult::Ok});
        else if (verb == "at-prompt")
            atPrompt << value;
        if (refusal.refused())
            seen << QStringLiteral("%1 -> %2 %3")
                        .arg(text)
                        .arg(refusal.code)
                        .arg(refusal.text)
                        .trimmed();
    };
    faults.clear();
    QObject::connect(&s, &BenchSession::changed, [&s] {
        if (s.running())
            checkHandler(QStringLiteral("a change of the controls"));
    });
    b.dialogs.onMessage = [&](const ScriptedDialogs::Shown& shown) {
        checkHandler(shown.title);
        seen << QLatin1String(KindNames[int(shown.kind)]) + u' ' + shown.title.trimmed() +
                    (shown.kind == MsgKind::RefusedValue ? ": " + shown.text : QString());
        if (shown.kind == MsgKind::ConnectionPrompt)
            for (const QString& pending : std::exchange(atPrompt, {}))
                step(pending);
        return std::optional<MsgResult>();
    };
    for (const QString& text : steps) {
        if (text == "run") {
            const qsizetype before = b.bench.received().size();
            if (const RemoteBench::Refusal r = s.runNow(StartedFrom::Batch); r.refused())
                seen << QStringLiteral("run -> %1").arg(r.code);
            settle(s);
            seen << QStringLiteral("sent %1").arg(b.bench.received().size() - before);
        } else if (text == "show") {
            const std::optional<MeasurementResult> result = s.lastResult();
            seen << QStringLiteral("dut=%1 comment=%2 refs=%3%4 %5")
                        .arg(s.dutId(), s.comment())
                        .arg(s.engine().State.RefValid[0])
                        .arg(s.engine().State.RefValid[1])
                        .arg(result ? Verdict::of(*result).text() : QStringLiteral("no result"));
        } else {
            step(text);
        }
    }
    QCOMPARE(seen.join(QLatin1String(" | ")), log);
    QCOMPARE(faults.join(u'|'), QString());
    QVERIFY(b.bench.calls > 0);
}

// A driver call that blocks the bus thread leaves the window's thread free: an event posted
// while the read blocks is handled before the read returns.
void TestSession::windowRunsWhileBusCallBlocks()
{
    SessionBench b(QString{});
    QVERIFY(!b.session.setKind(MeasKind::ReturnLoss).refused());
    b.bench.blockRead = true;
    QVERIFY(!b.session.runNow(StartedFrom::Window).refused());
    settle(b.session);
    QCOMPARE(b.bench.order, (QStringList{"read blocks", "event handled", "read returns"}));
    QVERIFY(b.session.reference(MeasKind::ReturnLoss).valid);
}

int main(int argc, char* argv[])
{
    WatchedApplication app(argc, argv);
    TestSession test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_session.moc"
