#include "BenchFixture.h"
#include "app/Chart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QtTest>

namespace {

using Shown = ScriptedDialogs::Shown;
using Widgets = std::initializer_list<QWidget*>;
using Buttons = std::initializer_list<QAbstractButton*>;

// A point on the frame's own surface, clear of every control inside it; false when a
// control covers it, so that the click would not reach the frame.
[[nodiscard]] bool clickFrame(QWidget* frame)
{
    const QPoint surface(frame->width() - 4, frame->height() - 4);
    if (frame->childAt(surface))
        return false;
    QTest::mouseClick(frame, Qt::LeftButton, {}, surface);
    return true;
}

// Picks a frequency step with the arrow keys, as an operator does on a closed list.
void chooseStep(QComboBox* list, int index)
{
    while (list->currentIndex() < index)
        QTest::keyClick(list, Qt::Key_Down);
    while (list->currentIndex() > index)
        QTest::keyClick(list, Qt::Key_Up);
}

// '1' when every member of the group is enabled, '0' when none is, '?' when they differ.
char groupState(std::initializer_list<const QWidget*> members)
{
    int on = 0;
    for (const QWidget* member : members)
        on += member->isEnabled() ? 1 : 0;
    return on == 0 ? '0' : on == int(members.size()) ? '1' : '?';
}

// The enabling groups: "ref options custom refRL othersRL".
QString groups(const MainForm& w)
{
    const char states[] = {
        groupState({w.Option_Attn[0]}),
        groupState({w.Option_Attn[1], w.Option_Attn[2], w.Option_Attn[3], w.Option_Attn[4],
                    w.Option_Attn[5]}),
        groupState({w.Check_CustomLimits[0], w.Text_CustomLimits[0], w.Check_CustomAttn,
                    w.Text_CustomAttn, w.Label_dB[0], w.Label_dB[2]}),
        ' ',
        groupState({w.Option_Refl[0]}),
        groupState({w.Option_Refl[1], w.Option_Refl[2], w.Check_CustomLimits[1],
                    w.Text_CustomLimits[1], w.Label_dB[1]}),
        '\0'};
    return QString::fromLatin1(states);
}

// Everything an operator can see of the upper part of the window, one control a line.
QString snapshot(const MainForm& w)
{
    static const QRegularExpression named(QStringLiteral("^(Frame|Option|Check|Text|Label|Combo|"
                                                         "Command)_"));
    QStringList lines;
    for (const QWidget* c : w.findChildren<QWidget*>()) {
        if (!named.match(c->objectName()).hasMatch())
            continue;
        QString line = c->objectName() + (c->isEnabled() ? " on" : " off") +
                       (c->isVisibleTo(&w) ? " shown" : " hidden");
        if (const auto* button = qobject_cast<const QAbstractButton*>(c))
            line += button->isChecked() ? " set" : "";
        if (const auto* text = qobject_cast<const QLineEdit*>(c))
            line += " \"" + text->text() + '"';
        if (const auto* label = qobject_cast<const QLabel*>(c))
            line += " \"" + label->text() + '"';
        if (const auto* list = qobject_cast<const QComboBox*>(c))
            line += ' ' + list->currentText();
        lines << line;
    }
    lines << QStringLiteral("MeasType %1 RefValid %2 %3")
                 .arg(w.Globals.MeasType)
                 .arg(w.State.RefValid[0])
                 .arg(w.State.RefValid[1]);
    return lines.join('\n');
}

// The state a good reference of the kind leaves behind (the bench answers everything).
void makeFull(MainForm& w, int kind)
{
    w.State.RefValid[kind] = true;
    if (kind == AttenuationKind)
        w.EnableAttnControls(true, true, true);
    else
        w.EnableReflControls(true, true);
}

QString describe(const Shown& s)
{
    static const char* const icons[] = {"none", "critical", "exclamation", "information",
                                        "question"};
    static const char* const buttons[] = {"Ok", "OkCancel", "YesNo", "YesNoCancel"};
    return QStringLiteral("%1|%2|%3|%4")
        .arg(QLatin1String(icons[int(s.icon)]), s.title,
             QString(s.text).replace('\n', QLatin1String("\\n")),
             QLatin1String(buttons[int(s.buttons)]));
}

// Calls back on every event the object receives.
class EventHook : public QObject {
public:
    EventHook(QObject* watched, std::function<void(QObject*, QEvent*)> callback)
        : m_callback(std::move(callback))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        m_callback(watched, event);
        return false;
    }

private:
    std::function<void(QObject*, QEvent*)> m_callback;
};

} // namespace

Q_DECLARE_METATYPE(MsgResult)

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    // ---- Start-up and shut-down
    void startUp_data();
    void startUp();
    void introBeforeTrackingGeneratorQuery();
    void noTrackingGeneratorEndsProgram();
    void closeQuestion_data();
    void closeQuestion();

    // ---- Selection controls
    void startUpState();
    void firstClickActivatesFrame_data();
    void firstClickActivatesFrame();
    void secondClickChangesNothing();
    void frameSwitchKeepsValues();
    void customAttenuation();
    void frameClickIgnoredWithCustomAttenuation();
    void optionClicks_data();
    void optionClicks();
    void referenceClickedAgainEnablesStepList();
    void startUpSelectionInvalidatesNothing();
    void stepChangeOnReturnLossSide();
    void stepChangeOnAttenuationSide();
    void doubleClickClears();
    void customLimitsKeepTextWhenHidden();
    void enableRoutines_data();
    void enableRoutines();

    // ---- Busy indicator and Stop
    void showBusy();
    void stopDuringReference();

    // ---- Results chart
    void clearGraph_data();
    void clearGraph();
};

void TestMainForm::startUp_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("name");
    QTest::newRow("2710") << "2710"
                          << "2710";
    QTest::newRow("2711") << "2711"
                          << "2711";
    QTest::newRow("2712") << "2712"
                          << "2712";
}

void TestMainForm::startUp()
{
    QFETCH(QString, scenario);
    QFETCH(QString, name);
    BenchFixture f(scenario);
    f.startUp();
    MainForm& w = *f.form;
    QCOMPARE(w.windowTitle(), "Velmora, v1.4 - Nov 2017 / QZ");
    QCOMPARE(w.State.AnalyserName, name);
    QVERIFY(w.State.AnalyserDevice != 0);
    QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.titles().join(", ")));
    QCOMPARE(w.Combo_FreqStep->count(), 4);
    const QStringList steps{"12.5 MHz", "25 MHz", "50 MHz", "100 MHz"};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(w.Combo_FreqStep->itemText(i), steps[i]);
    QCOMPARE(w.Combo_FreqStep->currentText(), "25 MHz");
    QCOMPARE(w.Globals.StepMult, (std::array<qint16, 4>{1, 2, 4, 8}));
    QCOMPARE(w.State.RefStep, (std::array<qint16, 2>{2, 2}));
    QCOMPARE(w.Label_Info->palette().color(QPalette::Window), QColor(Qt::white));
}

void TestMainForm::introBeforeTrackingGeneratorQuery()
{
    BenchFixture f;
    QString introText;
    double shownAt = -1, hiddenAt = -1;
    qsizetype queriesAtShow = -1, queriesAtHide = -1;
    EventHook intro(qApp, [&](QObject* watched, QEvent* event) {
        if (watched->objectName() != u"IntroForm")
            return;
        const qsizetype queries = f.bench.received().count(QStringLiteral("ID?"));
        if (event->type() == QEvent::Show) {
            introText = watched->findChild<QLabel*>(QStringLiteral("Label1"))->text();
            shownAt = f.clock.now();
            queriesAtShow = queries;
        } else if (event->type() == QEvent::Hide) {
            hiddenAt = f.clock.now();
            queriesAtHide = queries;
        }
    });
    QStringList blinks; // each change of the hint's background, with its time
    QString colour = QStringLiteral("#ffffff");
    double firstBlink = 0;
    EventHook hint(f.form->Label_Info, [&](QObject*, QEvent* event) {
        const QString now = f.form->Label_Info->palette().color(QPalette::Window).name();
        if (event->type() == QEvent::PaletteChange && now != colour) {
            colour = now;
            if (blinks.isEmpty())
                firstBlink = f.clock.now();
            blinks << colour << QString::number(f.clock.now() - firstBlink, 'f', 2);
        }
    });
    f.startUp();
    QCOMPARE(introText, "Velmora, v1.4 / Nov 2017 - QZ");
    QCOMPARE(hiddenAt - shownAt, 2.0); // by its own timer, nobody clicking
    QVERIFY(!f.form->findChild<QDialog*>(QStringLiteral("IntroForm")));
    // The identification probes come before it, the tracking-generator query after it.
    QVERIFY(queriesAtShow >= 1);
    QVERIFY(firstBlink > hiddenAt);
    QCOMPARE(queriesAtHide, queriesAtShow);
    QCOMPARE(f.bench.received().count(QStringLiteral("ID?")), queriesAtHide + 1);
    QCOMPARE(f.bench.received().last(), "ID?");
    // Four blinks, 0.15 s each way, ending white.
    QCOMPARE(blinks.join(' '), "#ff0000 0.00 #ffffff 0.15 #ff0000 0.30 #ffffff 0.45 "
                               "#ff0000 0.60 #ffffff 0.75 #ff0000 0.90 #ffffff 1.05");

    // Activated again later: no intro, no query.
    f.form->hide();
    f.form->show();
    QCoreApplication::processEvents();
    QCOMPARE(f.bench.received().count(QStringLiteral("ID?")), queriesAtHide + 1);
    QCOMPARE(hiddenAt - shownAt, 2.0);
}

void TestMainForm::noTrackingGeneratorEndsProgram()
{
    const ChildOutcome outcome = runInChild([](auto report) {
        BenchFixture f(QStringLiteral("no-tg"));
        f.dialogs.onMessage = [report](const Shown& s) -> std::optional<MsgResult> {
            report(describe(s));
            return std::nullopt;
        };
        f.startUp();
        report(QStringLiteral("still running"));
    });
    QCOMPARE(outcome.exitStatus, 1);
    QCOMPARE(outcome.log, "critical|Error|No Tracking Generator option found in the 2712."
                          "\\n\\nThis program will quit.|Ok\n");
}

void TestMainForm::closeQuestion_data()
{
    QTest::addColumn<MsgResult>("answer");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("yes") << MsgResult::Yes << true << QStringList{"REC 1"};
    QTest::newRow("no") << MsgResult::No << true << QStringList{};
    QTest::newRow("cancel") << MsgResult::Cancel << false << QStringList{};
}

void TestMainForm::closeQuestion()
{
    QFETCH(MsgResult, answer);
    QFETCH(bool, closes);
    QFETCH(QStringList, sent);
    BenchFixture f;
    f.startUp();
    f.bench.clearReceived();
    f.dialogs.answer({answer});
    QCOMPARE(f.form->close(), closes);
    QCOMPARE(f.dialogs.shown.size(), 1);
    QCOMPARE(describe(f.dialogs.shown[0]),
             "none|Terminate Program|Do you want to initialize the 2712 ?|YesNoCancel");
    QCOMPARE(f.bench.received(), sent);
    QCOMPARE(f.form->isVisible(), !closes);
}

void TestMainForm::startUpState()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    // The hidden text boxes and labels are not part of what starts disabled.
    for (QWidget* off : Widgets{
             w.Option_Attn[0], w.Option_Attn[1], w.Option_Attn[2], w.Option_Attn[3],
             w.Option_Attn[4], w.Option_Attn[5], w.Option_Refl[0], w.Option_Refl[1],
             w.Option_Refl[2], w.Check_CustomAttn, w.Check_CustomLimits[0], w.Check_CustomLimits[1],
             w.Check_SkipMsg, w.Combo_FreqStep, w.Command_Run, w.Command_Stop})
        QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
    for (QWidget* hidden :
         Widgets{w.Text_CustomAttn, w.Text_CustomLimits[0], w.Text_CustomLimits[1], w.Label_dB[0],
                 w.Label_dB[1], w.Label_dB[2], w.Label_Busy, w.Command_Print})
        QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
    for (QAbstractButton* unset :
         Buttons{w.Option_Attn[0], w.Option_Refl[0], w.Check_CustomAttn, w.Check_CustomLimits[0],
                 w.Check_CustomLimits[1], w.Check_SkipMsg})
        QVERIFY2(!unset->isChecked(), qPrintable(unset->objectName()));
    QVERIFY(w.Frame_Attn->isEnabled() && w.Frame_Refl->isEnabled());
    QVERIFY(w.Label_Info->isVisible());
    QCOMPARE(w.Label_Info->text(), "Click inside one of the frames");
    QCOMPARE(w.Globals.MeasType, 0);
}

void TestMainForm::firstClickActivatesFrame_data()
{
    QTest::addColumn<bool>("returnLoss");
    QTest::newRow("attenuation") << false;
    QTest::newRow("return loss") << true;
}

void TestMainForm::firstClickActivatesFrame()
{
    QFETCH(bool, returnLoss);
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    w.Check_SkipMsg->setEnabled(true);
    w.Check_SkipMsg->setChecked(true);
    QVERIFY(clickFrame(returnLoss ? w.Frame_Refl : w.Frame_Attn));
    QCOMPARE(groups(w), returnLoss ? "000 10" : "100 00");
    QVERIFY(returnLoss ? w.Option_Refl[0]->isChecked() : w.Option_Attn[0]->isChecked());
    QCOMPARE(w.Globals.MeasType, returnLoss ? 6 : 0);
    QVERIFY(w.Command_Run->isEnabled());
    QVERIFY(w.Combo_FreqStep->isEnabled());
    QVERIFY(!w.Check_SkipMsg->isChecked());
    QVERIFY(!w.Check_SkipMsg->isEnabled());
    QVERIFY(!w.Label_Info->isVisible());
    QCOMPARE(w.State.RefValid, (std::array<bool, 2>{false, false}));
}

void TestMainForm::secondClickChangesNothing()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Attn));
    makeFull(w, AttenuationKind);
    QTest::mouseClick(w.Option_Attn[2], Qt::LeftButton);
    QCOMPARE(w.Globals.MeasType, 2);
    const QString before = snapshot(w);
    QVERIFY(clickFrame(w.Frame_Attn));
    QCOMPARE(snapshot(w), before);

    QVERIFY(clickFrame(w.Frame_Refl));
    makeFull(w, ReturnLossKind);
    QTest::mouseClick(w.Option_Refl[2], Qt::LeftButton);
    const QString refl = snapshot(w);
    QVERIFY(clickFrame(w.Frame_Refl));
    QCOMPARE(snapshot(w), refl);
}

void TestMainForm::frameSwitchKeepsValues()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Refl));
    makeFull(w, ReturnLossKind);
    QTest::mouseClick(w.Check_CustomLimits[1], Qt::LeftButton);
    QTest::keyClicks(w.Text_CustomLimits[1], "25");
    QTest::mouseClick(w.Option_Refl[1], Qt::LeftButton);
    QCOMPARE(w.Globals.MeasType, 7);

    QVERIFY(clickFrame(w.Frame_Attn));
    QCOMPARE(groups(w), "100 00");
    QCOMPARE(w.Globals.MeasType, 0);
    // The other frame is only disabled: its choices stay as the operator left them.
    QVERIFY(w.Option_Refl[1]->isChecked());
    QVERIFY(w.Check_CustomLimits[1]->isChecked());
    QVERIFY(w.Text_CustomLimits[1]->isVisible());
    QCOMPARE(w.Text_CustomLimits[1]->text(), "25");

    QVERIFY(clickFrame(w.Frame_Refl));
    QCOMPARE(groups(w), "000 10");
    QVERIFY(w.Option_Refl[0]->isChecked());
    QVERIFY(w.Option_Attn[0]->isChecked());
    QCOMPARE(w.Globals.MeasType, 6);
    QCOMPARE(w.State.RefValid, (std::array<bool, 2>{false, true}));
}

void TestMainForm::customAttenuation()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Attn));
    makeFull(w, AttenuationKind);
    QTest::mouseClick(w.Option_Attn[3], Qt::LeftButton);
    w.Command_Print->show(); // as after a finished sweep

    QTest::mouseClick(w.Check_CustomAttn, Qt::LeftButton);
    QVERIFY(w.Check_CustomAttn->isChecked());
    QCOMPARE(w.Globals.MeasType, 9);
    QCOMPARE(groups(w), "001 00");
    QVERIFY(w.Check_CustomLimits[0]->isChecked());
    for (QWidget* shown :
         Widgets{w.Text_CustomAttn, w.Label_dB[2], w.Text_CustomLimits[0], w.Label_dB[0]})
        QVERIFY2(shown->isVisible(), qPrintable(shown->objectName()));
    QVERIFY(w.Text_CustomAttn->text().isEmpty());
    QVERIFY(w.Text_CustomLimits[0]->text().isEmpty());
    QCOMPARE(w.focusWidget(), w.Text_CustomAttn);
    QVERIFY(!w.Command_Run->isEnabled());
    QVERIFY(!w.Command_Print->isVisible());

    QTest::keyClicks(w.Text_CustomAttn, "7");
    QVERIFY(w.Command_Run->isEnabled());
    QTest::keyClick(w.Text_CustomAttn, Qt::Key_Backspace);
    QVERIFY(!w.Command_Run->isEnabled());
    QTest::keyClicks(w.Text_CustomAttn, "12");
    QVERIFY(w.Command_Run->isEnabled());

    QTest::mouseClick(w.Check_CustomAttn, Qt::LeftButton);
    QVERIFY(!w.Check_CustomAttn->isChecked());
    QCOMPARE(w.Globals.MeasType, 3);
    QCOMPARE(groups(w), "111 00");
    QVERIFY(!w.Check_CustomLimits[0]->isChecked());
    for (QWidget* hidden :
         Widgets{w.Text_CustomAttn, w.Label_dB[2], w.Text_CustomLimits[0], w.Label_dB[0]})
        QVERIFY2(!hidden->isVisible(), qPrintable(hidden->objectName()));
    QVERIFY(w.Command_Run->isEnabled());
}

void TestMainForm::frameClickIgnoredWithCustomAttenuation()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Attn));
    makeFull(w, AttenuationKind);
    QTest::mouseClick(w.Check_CustomAttn, Qt::LeftButton);
    QTest::keyClicks(w.Text_CustomAttn, "6");
    const QString custom = snapshot(w);
    QVERIFY(clickFrame(w.Frame_Attn));
    QCOMPARE(snapshot(w), custom);

    // The box stays checked while a step change disables it: still nothing.
    chooseStep(w.Combo_FreqStep, 2);
    QCOMPARE(groups(w), "100 00");
    QVERIFY(w.Check_CustomAttn->isChecked());
    const QString disabled = snapshot(w);
    QVERIFY(clickFrame(w.Frame_Attn));
    QCOMPARE(snapshot(w), disabled);
}

void TestMainForm::optionClicks_data()
{
    QTest::addColumn<bool>("returnLoss");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("measType");
    const char* const attn[] = {"Reference", "1 X", "2 X", "2.5 X", "5 X", "10 X"};
    for (int i = 0; i < 6; ++i)
        QTest::addRow("attenuation %s", attn[i]) << false << i << i;
    const char* const refl[] = {"Reference", "Termination", "Attenuator"};
    for (int i = 0; i < 3; ++i)
        QTest::addRow("return loss %s", refl[i]) << true << i << i + 6;
}

void TestMainForm::optionClicks()
{
    QFETCH(bool, returnLoss);
    QFETCH(int, index);
    QFETCH(int, measType);
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(returnLoss ? w.Frame_Refl : w.Frame_Attn));
    makeFull(w, returnLoss ? ReturnLossKind : AttenuationKind);
    // Start from another option, so that the click changes the selection.
    QAbstractButton* other = returnLoss
                                 ? static_cast<QAbstractButton*>(w.Option_Refl[index ? 0 : 1])
                                 : w.Option_Attn[index ? 0 : 1];
    QTest::mouseClick(other, Qt::LeftButton);
    w.Command_Print->show(); // as after a finished sweep
    QTest::mouseClick(returnLoss ? static_cast<QWidget*>(w.Option_Refl[index])
                                 : w.Option_Attn[index],
                      Qt::LeftButton);
    QCOMPARE(w.Globals.MeasType, measType);
    QCOMPARE(w.Combo_FreqStep->isEnabled(), index == 0);
    // Only the attenuation options take Print away.
    QCOMPARE(w.Command_Print->isVisible(), returnLoss);
}

void TestMainForm::referenceClickedAgainEnablesStepList()
{
    // A real reference on the bench: Run disables the list, and Reference stays selected.
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Attn));
    QTest::mouseClick(w.Command_Run, Qt::LeftButton);
    QCOMPARE(f.dialogs.titles(),
             (QStringList{"Attenuator Measurement Setup", "Attenuator Reference"}));
    QCOMPARE(groups(w), "111 00");
    QVERIFY(w.State.RefValid[AttenuationKind]);
    QVERIFY(w.Option_Attn[0]->isChecked());
    QVERIFY(!w.Combo_FreqStep->isEnabled());

    QTest::mouseClick(w.Option_Attn[0], Qt::LeftButton);
    QVERIFY(w.Combo_FreqStep->isEnabled());
    QCOMPARE(w.Globals.MeasType, 0);
    chooseStep(w.Combo_FreqStep, 3);
    QCOMPARE(groups(w), "100 00");
    QVERIFY(!w.State.RefValid[AttenuationKind]);
}

void TestMainForm::startUpSelectionInvalidatesNothing()
{
    BenchFixture f;
    f.form->State.RefValid = {true, true};
    f.startUp();
    QCOMPARE(f.form->State.RefValid, (std::array<bool, 2>{true, true}));
    // The very next change of the step is the operator's, and counts.
    QVERIFY(clickFrame(f.form->Frame_Attn));
    chooseStep(f.form->Combo_FreqStep, 0);
    QCOMPARE(f.form->State.RefValid, (std::array<bool, 2>{false, true}));
}

void TestMainForm::stepChangeOnReturnLossSide()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    w.State.RefValid = {true, false};
    QVERIFY(clickFrame(w.Frame_Refl));
    makeFull(w, ReturnLossKind);
    QCOMPARE(groups(w), "000 11");
    chooseStep(w.Combo_FreqStep, 2);
    QCOMPARE(w.Combo_FreqStep->currentText(), "50 MHz");
    QCOMPARE(groups(w), "000 10");
    QCOMPARE(w.State.RefValid, (std::array<bool, 2>{true, false}));
    QCOMPARE(w.State.RefStep, (std::array<qint16, 2>{2, 2}));
    QCOMPARE(w.Globals.MeasType, 6);
}

void TestMainForm::stepChangeOnAttenuationSide()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    w.State.RefValid = {false, true};
    QVERIFY(clickFrame(w.Frame_Attn));
    makeFull(w, AttenuationKind);
    QTest::mouseClick(w.Check_CustomAttn, Qt::LeftButton);
    QVERIFY(w.Combo_FreqStep->isEnabled());
    chooseStep(w.Combo_FreqStep, 0);
    QCOMPARE(groups(w), "100 00");
    QCOMPARE(w.State.RefValid, (std::array<bool, 2>{false, true}));
    QCOMPARE(w.Globals.MeasType, 9);
    QVERIFY(w.Text_CustomAttn->isVisible());
}

void TestMainForm::doubleClickClears()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Refl));
    makeFull(w, ReturnLossKind);
    QTest::mouseClick(w.Check_CustomLimits[1], Qt::LeftButton);
    QTest::keyClicks(w.Text_CustomLimits[1], "30");
    QTest::mouseDClick(w.Text_CustomLimits[1], Qt::LeftButton);
    QCOMPARE(w.Text_CustomLimits[1]->text(), "");

    QVERIFY(clickFrame(w.Frame_Attn));
    makeFull(w, AttenuationKind);
    QTest::mouseClick(w.Check_CustomAttn, Qt::LeftButton);
    QTest::keyClicks(w.Text_CustomLimits[0], "0.5");
    QTest::keyClicks(w.Text_CustomAttn, "8");
    QVERIFY(w.Command_Run->isEnabled());
    QTest::mouseDClick(w.Text_CustomLimits[0], Qt::LeftButton);
    QCOMPARE(w.Text_CustomLimits[0]->text(), "");
    QTest::keyClicks(w.Text_CustomLimits[0], "0.4");
    QTest::mouseDClick(w.Text_CustomAttn, Qt::LeftButton);
    QCOMPARE(w.Text_CustomAttn->text(), "");
    QVERIFY(!w.Command_Run->isEnabled());

    // A disabled box takes no double-click: the step change below disables the custom group.
    QTest::keyClicks(w.Text_CustomAttn, "9");
    chooseStep(w.Combo_FreqStep, 3);
    QVERIFY(!w.Text_CustomAttn->isEnabled());
    QTest::mouseDClick(w.Text_CustomAttn, Qt::LeftButton);
    QTest::mouseDClick(w.Text_CustomLimits[0], Qt::LeftButton);
    QCOMPARE(w.Text_CustomAttn->text(), "9");
    QCOMPARE(w.Text_CustomLimits[0]->text(), "0.4");
}

void TestMainForm::customLimitsKeepTextWhenHidden()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Attn));
    makeFull(w, AttenuationKind);
    QTest::mouseClick(w.Check_CustomLimits[0], Qt::LeftButton);
    QVERIFY(w.Text_CustomLimits[0]->isVisible() && w.Label_dB[0]->isVisible());
    QCOMPARE(w.focusWidget(), w.Text_CustomLimits[0]);
    QTest::keyClicks(w.Text_CustomLimits[0], "0.5");

    QTest::mouseClick(w.Check_CustomLimits[0], Qt::LeftButton);
    QVERIFY(!w.Text_CustomLimits[0]->isVisible() && !w.Label_dB[0]->isVisible());
    QCOMPARE(w.Text_CustomLimits[0]->text(), "0.5");

    QTest::mouseClick(w.Check_CustomLimits[0], Qt::LeftButton);
    QVERIFY(w.Text_CustomLimits[0]->isVisible());
    QCOMPARE(w.Text_CustomLimits[0]->text(), "");

    // Already checked: Custom Attenuation leaves the limit the operator typed.
    QTest::keyClicks(w.Text_CustomLimits[0], "0.3");
    QTest::mouseClick(w.Check_CustomAttn, Qt::LeftButton);
    QCOMPARE(w.Text_CustomLimits[0]->text(), "0.3");
    QCOMPARE(w.focusWidget(), w.Text_CustomAttn);
}

void TestMainForm::enableRoutines_data()
{
    QTest::addColumn<bool>("returnLoss");
    QTest::addColumn<bool>("first");
    QTest::addColumn<bool>("second");
    QTest::addColumn<bool>("third");
    QTest::addColumn<QString>("groups");
    QTest::newRow("attn ref") << false << true << false << false << "100 11";
    QTest::newRow("attn options") << false << false << true << false << "010 11";
    QTest::newRow("attn custom") << false << false << false << true << "001 11";
    QTest::newRow("attn all") << false << true << true << true << "111 11";
    QTest::newRow("attn none") << false << false << false << false << "000 11";
    QTest::newRow("refl ref") << true << true << false << false << "111 10";
    QTest::newRow("refl others") << true << false << true << false << "111 01";
    QTest::newRow("refl all") << true << true << true << false << "111 11";
    QTest::newRow("refl none") << true << false << false << false << "111 00";
}

void TestMainForm::enableRoutines()
{
    QFETCH(bool, returnLoss);
    QFETCH(bool, first);
    QFETCH(bool, second);
    QFETCH(bool, third);
    QFETCH(QString, groups);
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    // Each group starts opposite to where the routine puts it, so a member it misses shows
    // as '?'; the other frame starts fully enabled and must stay so.
    if (returnLoss) {
        w.EnableAttnControls(true, true, true);
        w.EnableReflControls(!first, !second);
    } else {
        w.EnableReflControls(true, true);
        w.EnableAttnControls(!first, !second, !third);
    }
    const QString before = snapshot(w);
    if (returnLoss)
        w.EnableReflControls(first, second);
    else
        w.EnableAttnControls(first, second, third);
    QCOMPARE(::groups(w), groups);
    // Only Enabled changes: no value, visibility or MeasType.
    static const QRegularExpression enabled(QStringLiteral(" on| off"));
    QCOMPARE(snapshot(w).remove(enabled), QString(before).remove(enabled));
}

void TestMainForm::showBusy()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Attn));
    w.Label_Info->setText(QStringLiteral("Getting Ref value for 50 MHz"));
    const QString enabled = snapshot(w).remove(QRegularExpression(" (shown|hidden)|\"[^\"]*\""));
    w.ShowBusy(true);
    QVERIFY(w.Label_Busy->isVisible());
    QVERIFY(w.Label_Info->isVisible());
    QCOMPARE(w.Label_Info->text(), "");
    QCOMPARE(w.Label_Busy->text(), "BUSY, Please Wait");
    QVERIFY(w.Label_Busy->font().bold());
    QCOMPARE(w.Label_Busy->font().pointSize(), 12);
    QCOMPARE(w.Label_Busy->palette().color(QPalette::Window), QColor(Qt::red));
    QCOMPARE(w.Label_Busy->palette().color(QPalette::WindowText), QColor(Qt::white));
    w.ShowBusy(false);
    QVERIFY(!w.Label_Busy->isVisible());
    QVERIFY(!w.Label_Info->isVisible());
    QCOMPARE(snapshot(w).remove(QRegularExpression(" (shown|hidden)|\"[^\"]*\"")), enabled);
}

void TestMainForm::stopDuringReference()
{
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Attn));
    f.dialogs.answer({MsgResult::Ok}); // the connection prompt

    struct {
        bool pressed = false;
        bool busyShown = true, infoShown = true, runEnabled = true;
        qsizetype readings = 0;
    } atStop;
    // The operator presses Stop a few seconds into the point loop, which enables Stop.
    const auto pressStop = [&] {
        QVERIFY(w.Label_Busy->isVisible());
        QVERIFY(!w.Label_Info->text().isEmpty());
        QTest::mouseClick(w.Command_Stop, Qt::LeftButton);
        atStop = {true, w.Label_Busy->isVisible(), w.Label_Info->isVisible(),
                  w.Command_Run->isEnabled(), f.bench.received().count(QStringLiteral("MAMPL?"))};
    };
    EventHook stopEnabled(w.Command_Stop, [&](QObject*, QEvent* event) {
        if (event->type() == QEvent::EnabledChange && w.Command_Stop->isEnabled())
            f.clock.schedule(4.5, pressStop);
    });

    QString lastSentAtMessage;
    bool stopEnabledAtMessage = true, runEnabledAtMessage = true;
    f.dialogs.onMessage = [&](const Shown& s) -> std::optional<MsgResult> {
        if (s.title == u"Stop") {
            lastSentAtMessage = f.bench.received().last();
            stopEnabledAtMessage = w.Command_Stop->isEnabled();
            runEnabledAtMessage = w.Command_Run->isEnabled();
        }
        return std::nullopt;
    };
    QTest::mouseClick(w.Command_Run, Qt::LeftButton);

    QVERIFY(atStop.pressed);
    QVERIFY(atStop.readings >= 5);
    QVERIFY(!atStop.busyShown);
    QVERIFY(!atStop.infoShown);
    QVERIFY(!atStop.runEnabled); // the sequence has not returned yet
    // The point being measured is read, then the sweep winds down.
    QVERIFY(f.bench.received().count(QStringLiteral("MAMPL?")) <= atStop.readings + 1);
    QCOMPARE(lastSentAtMessage, "TRI FRE");
    QVERIFY(!stopEnabledAtMessage);
    QVERIFY(!runEnabledAtMessage);
    QCOMPARE(describe(f.dialogs.shown.last()), "exclamation|Stop|Sequence interupted by user.|Ok");
    QCOMPARE(f.dialogs.titles().count(QStringLiteral("Stop")), 1);

    QVERIFY(w.Command_Run->isEnabled());
    QVERIFY(!w.Command_Stop->isEnabled());
    QVERIFY(!w.Label_Busy->isVisible());
    QVERIFY(w.Combo_FreqStep->isEnabled());
    QCOMPARE(groups(w), "100 00");
    QVERIFY(!w.State.RefValid[AttenuationKind]);
}

void TestMainForm::clearGraph_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("firstRow");
    QTest::newRow("12.5 MHz") << 0 << 3 << 2;
    QTest::newRow("25 MHz") << 1 << 4 << 2;
    QTest::newRow("50 MHz") << 2 << 5 << 4;
    QTest::newRow("100 MHz") << 3 << 6 << 8;
}

void TestMainForm::clearGraph()
{
    QFETCH(int, step);
    QFETCH(int, column);
    QFETCH(int, firstRow);
    BenchFixture f;
    f.startUp();
    MainForm& w = *f.form;
    QVERIFY(clickFrame(w.Frame_Refl));
    chooseStep(w.Combo_FreqStep, step);
    Chart& chart = *w.MSChart1;
    chart.setColumn(column);
    chart.setRow(1);
    chart.setData(QStringLiteral("7"));

    w.ClearGraph(-0.25f);
    for (int row = 1; row <= 80; ++row) {
        for (int c = 1; c <= 6; ++c) {
            QString expected;
            if (c == column && row >= firstRow)
                expected = QStringLiteral("-0.25");
            else if (c == column && row == 1)
                expected = QStringLiteral("7");
            QVERIFY2(chart.cell(row, c) == expected,
                     qPrintable(QStringLiteral("row %1 column %2: %3")
                                    .arg(row)
                                    .arg(c)
                                    .arg(chart.cell(row, c))));
        }
    }
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
