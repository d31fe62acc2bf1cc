// Where the program ends, it ends at once: checked in a child process, which must exit with a
// failure status and send nothing more over the bus.

#include "BenchFixture.h"
#include "app/Chart.h"
#include "gpib/AnalyserCommands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace AnalyserCommands;

namespace {

const int Multipliers[] = {1, 2, 4, 8};

struct Bench : BenchFixture {
    explicit Bench(const QString& scenario = {}) : BenchFixture(scenario)
    {
        startUp();
        bench.clearReceived();
        dialogs.clear();
    }

    MainForm& w() { return *form; }

    void clickFrame(QWidget* frame)
    {
        QTest::mouseClick(frame, Qt::LeftButton, {}, QPoint(frame->width() - 4, frame->height() - 4));
    }

    void chooseStep(int index)
    {
        QComboBox* combo = w().Combo_FreqStep;
        QVERIFY(combo->isEnabled());
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentIndex(), index);
    }

    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void run() { click(w().Command_Run); }

    // A reference of the kind whose frame this is, at the given step index.
    void reference(QWidget* frame, int step)
    {
        clickFrame(frame);
        chooseStep(step);
        run();
    }

    float cell(int row, int column) const { return form->MSChart1->cell(row, column).toFloat(); }
};

QStringList sweepTraffic(int m, bool skipFirst)
{
    QStringList traffic;
    for (int i = m; i <= 80; i += m) {
        if (skipFirst && i == 1)
            continue;
        traffic << MarkerFrequency(i * 12.5) << MarkerAmplitude;
    }
    return traffic;
}

const QStringList ReturnLossReference{Reset, GeneralSetup, ReturnLossSetup, Signal,
                                      ReferenceLevelQuery};
const QStringList AttenuationReference{Reset, GeneralSetup, AttenuationSetup, Signal,
                                       ReferenceLevelQuery};

} // namespace

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
                                      sweepTraffic(8, true).mid(0, 8)).join('|'));
    QVERIFY(!outcome.log.contains("returned"));
}

QTEST_MAIN(ProgramEndTest)
#include "tst_programend.moc"
