// Where the program ends, it ends at once: checked in a child process, which must exit with a
// failure status and send nothing more over the bus.

#include "SequenceBench.h"

using namespace AnalyserCommands;

class ProgramEndTest : public QObject {
    Q_OBJECT
private slots:
    void gpibErrorCancelEndsProgram();
};

void ProgramEndTest::gpibErrorCancelEndsProgram()
{
    const ChildOutcome outcome = runInChild([](auto report) {
        Bench b(QStringLiteral("write-error=MFREQ 500E+6)"));
        b.reference(b.w().Frame_Attn, 3);
        b.click(b.w().Option_Attn[2]);
        b.bench.clearReceived();
        b.dialogs.onMessage = [&](const ScriptedDialogs::Shown& shown) -> std::optional<MsgResult> {
            report("shown " + shown.title);
            report("sent " + b.bench.received().join('|'));
            return shown.title.startsWith("GPIB ERROR") ? MsgResult::Cancel : MsgResult::Ok;
        };
        b.run();
        report("returned");
    });
    QCOMPARE(outcome.exitStatus, 1);
    const QStringList lines = outcome.log.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.last(), "sent " + (QStringList{ReferenceLevel(-2.0f), Signal} +
                                      sweepTraffic(8, true).mid(0, 8))
                                         .join('|'));
    QVERIFY(!outcome.log.contains("returned"));
}

QTEST_MAIN(ProgramEndTest)
#include "tst_programend.moc"
