// Every fault of the simulated bench at each step of each sequence, with what the operator
// sees and whether the program goes on. Each row is one cell of docs/fault-matrix.md.

#include "BenchFixture.h"

#include <QRadioButton>
#include <QTest>

namespace {

// What the operator saw, message titles in order, and whether the program got to the end of
// the step it was driven through ("ended" when it stopped on the way).
QString driveCell(const QString& scenario, const QString& step, bool cancelErrors)
{
    QStringList lines;
    BenchFixture fixture(scenario);
    fixture.dialogs.onMessage =
        [&](const ScriptedDialogs::Shown& shown) -> std::optional<MsgResult> {
        lines << shown.title.trimmed();
        if (cancelErrors && shown.kind == MsgKind::BusError)
            return MsgResult::Cancel;
        return std::nullopt;
    };
    const auto ended = [&] { return fixture.session.programEnded(); };
    fixture.startUp();
    if (step != "identification" && !ended()) {
        MainForm& w = *fixture.form;
        const bool attenuation = step == "attenuation sweep";
        QWidget* device = attenuation ? static_cast<QWidget*>(w.Option_Attn[2]) : w.Option_Refl[1];
        // 100 MHz: ten points a sweep
        measure(w, attenuation ? MeasKind::Attenuation : MeasKind::ReturnLoss, 3,
                step.endsWith("sweep") ? device : nullptr);
        if (step == "closing" && !ended()) {
            w.close();
            settle(fixture.session);
        }
    }
    // The program's end comes back to main(), which exits with status 1.
    lines << (ended() ? QStringLiteral("ended 1") : QStringLiteral("finished"));
    return lines.join(QLatin1String(" | "));
}

} // namespace

class FaultMatrixTest : public QObject {
    Q_OBJECT
private slots:
    void cell_data();
    void cell();
};

void FaultMatrixTest::cell_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("cancelErrors");
    QTest::addColumn<QString>("seen");

    const QString rlRef = "Return Loss Measurement Setup | Return Loss Reference";
    const QString atRef = "Attenuator Measurement Setup | Attenuator Reference";
    const QString rlSweep = rlRef + " | Return Loss Measurement Setup | Return Loss Measurement";
    const QString atSweep = atRef + " | Attenuator Measurement Setup | Attenuation Measurement";
    const QString closing = rlRef + " | Terminate Program";
    const auto row = [](const char* scenario, const char* step, bool cancel, const QString& seen) {
        QTest::addRow("%s at %s%s", scenario, step, cancel ? ", Cancel" : "")
            << QString(scenario) << QString(step) << cancel << seen;
    };

    // Identification: the bus and the analyser as found at start-up.
    row("no-board", "identification", false, "Initialization Error 4 | ended 1");
    row("no-board-device", "identification", false, "Initialization Error 0 | ended 1");
    row("no-listener", "identification", false, "Initialization Error 14 | ended 1");
    row("15-listeners", "identification", false, "Initialization Error 20 | ended 1");
    row("14-listeners", "identification", false, "finished");
    row("twin-analysers", "identification", false, "finished");
    row("others-first", "identification", false, "finished");
    row("no-tg", "identification", false, "Error | ended 1");
    row("timeout=ID?", "identification", false,
        "Expected Id-response from device not found | ended 1");
    row("write-error=ID?", "identification", false,
        "Expected Id-response from device not found | ended 1");
    for (const char* ending : {"long-answers", "crlf", "lf", "junk", "stale-srq"})
        row(ending, "identification", false, "finished");

    // Set-up: the general and the return-loss set-up before the reference sweep.
    row("write-error=EOS ON", "set-up", false, "GPIB ERROR # 2 | " + rlRef + " | finished");
    row("write-error=EOS ON", "set-up", true, "GPIB ERROR # 2 | ended 1");
    row("write-error=REFLVL 10.0", "set-up", false,
        "Return Loss Measurement Setup | GPIB ERROR # 2 | Return Loss Reference | finished");
    row("no-srq", "set-up", false,
        "Return Loss Measurement Setup | GPIB ERROR # 6 | Return Loss Reference | finished");
    row("no-srq", "set-up", true, "Return Loss Measurement Setup | GPIB ERROR # 6 | ended 1");
    row("stale-srq", "set-up", false, rlRef + " | finished");

    // Reference sweep (ten points at 100 MHz).
    row("timeout=REFLVL?", "reference", false,
        "Return Loss Measurement Setup | I/O Error | Return Loss Reference | finished");
    row("timeout=MAMPL?@3", "reference", false,
        "Return Loss Measurement Setup | I/O Error | Return Loss Reference | finished");
    row("write-error=MFREQ 300E+6)", "reference", false,
        "Return Loss Measurement Setup | GPIB ERROR # 2 | Return Loss Reference | finished");
    row("write-error=MFREQ 300E+6)", "reference", true,
        "Return Loss Measurement Setup | GPIB ERROR # 2 | ended 1");
    row("vanish=3", "reference", true,
        "Return Loss Measurement Setup | I/O Error | GPIB ERROR # 2 | ended 1");
    for (const char* ending : {"long-answers", "crlf", "lf", "junk"})
        row(ending, "reference", false, rlRef + " | finished");

    // Device sweeps, after a reference of ten points.
    for (const char* sweep : {"return-loss sweep", "attenuation sweep"}) {
        const bool rl = QString(sweep).startsWith("return");
        const QString before = rl ? rlRef + " | Return Loss Measurement Setup"
                                  : atRef + " | Attenuator Measurement Setup";
        const QString done =
            rl ? "Return Loss Measurement | finished" : "Attenuation Measurement | finished";
        row("timeout=MAMPL?@13", sweep, false, before + " | I/O Error | " + done);
        row("write-error=MFREQ 300E+6)@2", sweep, false, before + " | GPIB ERROR # 2 | " + done);
        row("write-error=MFREQ 300E+6)@2", sweep, true, before + " | GPIB ERROR # 2 | ended 1");
        row("vanish=13", sweep, true, before + " | I/O Error | GPIB ERROR # 2 | ended 1");
        row("stale-srq", sweep, false, (rl ? rlSweep : atSweep) + " | finished");
        row("no-srq", sweep, true,
            rl ? "Return Loss Measurement Setup | GPIB ERROR # 6 | ended 1"
               : "Attenuator Measurement Setup | GPIB ERROR # 6 | ended 1");
        for (const char* ending : {"long-answers", "crlf", "lf", "junk"})
            row(ending, sweep, false, (rl ? rlSweep : atSweep) + " | finished");
    }

    // Closing with Yes: the reset command after a reference.
    row("write-error=REC 1@2", "closing", false, closing + " | GPIB ERROR # 2 | finished");
    row("write-error=REC 1@2", "closing", true, closing + " | GPIB ERROR # 2 | ended 1");
    // The analyser leaves during the last reference point: its closing command and the reset
    // both find nobody listening, and OK goes on each time.
    row("vanish=10", "closing", false,
        "Return Loss Measurement Setup | I/O Error | GPIB ERROR # 2 | Return Loss Reference | "
        "Terminate Program | GPIB ERROR # 2 | finished");
}

void FaultMatrixTest::cell()
{
    QFETCH(QString, scenario);
    QFETCH(QString, step);
    QFETCH(bool, cancelErrors);
    QFETCH(QString, seen);
    QCOMPARE(driveCell(scenario, step, cancelErrors), seen);
}

QTEST_MAIN(FaultMatrixTest)
#include "tst_faultmatrix.moc"
