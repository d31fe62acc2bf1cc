#include "BenchFixture.h"
#include "chart/Chart.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {

using Shown = ScriptedDialogs::Shown;
using Widgets = std::initializer_list<QWidget*>;

void click(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
}

// Clicks the frame's own surface, clear of every control inside it.
void clickFrame(QWidget* frame)
{
    const QPoint surface(frame->width() - 4, frame->height() - 4);
    QVERIFY2(!frame->childAt(surface), "a control covers the frame's surface");
    QTest::mouseClick(frame, Qt::LeftButton, {}, surface);
}

// Picks a frequency step with the arrow keys, as an operator does on a closed list.
void chooseStep(QComboBox* list, int index)
{
    QVERIFY(list->isEnabled());
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

// The selection as the operator sees it, in one line: the enabling groups, the checked
// controls, the custom boxes and dB labels shown, Run and the step list when usable, Print
// when shown, and MeasType.
QString view(const MainForm& w)
{
    QStringList seen{groups(w)};
    for (const QWidget* c : w.findChildren<QWidget*>()) {
        const auto* button = qobject_cast<const QAbstractButton*>(c);
        const auto* text = qobject_cast<const QLineEdit*>(c);
        if (button && button->isChecked())
            seen << c->objectName();
        else if (text && text->isVisibleTo(&w))
            seen << c->objectName() + '=' + text->text();
        else if (c->objectName().startsWith(u"Label_dB") && c->isVisibleTo(&w))
            seen << c->objectName();
    }
    for (const QWidget* c : Widgets{w.Command_Run, w.Combo_FreqStep})
        if (c->isEnabled())
            seen << c->objectName();
    if (w.Command_Print->isVisibleTo(&w))
        seen << w.Command_Print->objectName();
    const MeasType type = w.Globals.MeasType;
    return seen.join(' ') + QStringLiteral(" %1 %2")
                                .arg(kindOf(type) == MeasKind::ReturnLoss ? "RL" : "ATT")
                                .arg(QLatin1String(measInfo(type).word));
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

// The program started on the bench.
struct Started : BenchFixture {
    explicit Started(const QString& scenario = {}) : BenchFixture(scenario) { startUp(); }
    MainForm& w = *form;

    // Clicks the kind's frame and, when full, leaves the state a good reference leaves.
    void activate(int kind, bool full = true)
    {
        clickFrame(kind == AttenuationKind ? w.Frame_Attn : w.Frame_Refl);
        if (!full)
            return;
        w.State.RefValid[kind] = true;
        if (kind == AttenuationKind)
            w.EnableAttnControls(true, true, true);
        else
            w.EnableReflControls(true, true);
    }
};

} // namespace

Q_DECLARE_METATYPE(MsgResult)

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void startUp_data()
    {
        QTest::addColumn<QString>("model");
        for (const char* model : {"2710", "2711", "2712"})
            QTest::newRow(model) << model;
    }

    void startUp()
    {
        QFETCH(QString, model);
        Started f(model);
        MainForm& w = f.w;
        QCOMPARE(w.windowTitle(), "Velmora, v1.4 - Nov 2017 / QZ");
        QCOMPARE(w.State.AnalyserName, model);
        QVERIFY(w.State.AnalyserDevice != 0);
        QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.titles().join(", ")));
        QStringList steps;
        for (int i = 0; i < w.Combo_FreqStep->count(); ++i)
            steps << w.Combo_FreqStep->itemText(i);
        QCOMPARE(steps, (QStringList{"12.5 MHz", "25 MHz", "50 MHz", "100 MHz"}));
        QCOMPARE(w.Combo_FreqStep->currentText(), "25 MHz");

        // Nothing to click but the two frames and the history; the custom boxes, Busy and
        // Print are hidden.
        for (QAbstractButton* b : w.findChildren<QAbstractButton*>())
            QVERIFY2(b == w.Command_Print     ? b->isHidden()
                     : b == w.Command_History ? b->isEnabled()
                                              : !b->isEnabled() && !b->isChecked(),
                     qPrintable(b->objectName()));
        QVERIFY(!w.Combo_FreqStep->isEnabled());
        for (QWidget* hidden :
             Widgets{w.Text_CustomAttn, w.Text_CustomLimits[0], w.Text_CustomLimits[1],
                     w.Label_dB[0], w.Label_dB[1], w.Label_dB[2], w.Label_Busy})
            QVERIFY2(hidden->isHidden(), qPrintable(hidden->objectName()));
        QVERIFY(w.Frame_Attn->isEnabled() && w.Frame_Refl->isEnabled());
        QCOMPARE(w.Label_Info->text(), "Click inside one of the frames");
        QVERIFY(w.Label_Info->isVisible());
    }

    void introBeforeTrackingGeneratorQuery()
    {
        BenchFixture f;
        const auto idQueries = [&] { return f.bench.received().count(QStringLiteral("ID?")); };
        QString introText;
        double shownAt = -1, hiddenAt = -1;
        qsizetype queriesAtShow = -1, queriesAtHide = -1;
        EventHook intro(qApp, [&](QObject* watched, QEvent* event) {
            if (watched->objectName() != u"IntroForm")
                return;
            if (event->type() == QEvent::Show) {
                introText = watched->findChild<QLabel*>(QStringLiteral("Label1"))->text();
                shownAt = f.clock.now();
                queriesAtShow = idQueries();
            } else if (event->type() == QEvent::Hide) {
                hiddenAt = f.clock.now();
                queriesAtHide = idQueries();
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
        QCOMPARE(queriesAtHide, queriesAtShow);
        QVERIFY(firstBlink > hiddenAt);
        QCOMPARE(idQueries(), queriesAtHide + 1);
        QCOMPARE(f.bench.received().last(), "ID?");
        // Four blinks, 0.15 s each way, ending white.
        QCOMPARE(blinks.join(' '), "#ff0000 0.00 #ffffff 0.15 #ff0000 0.30 #ffffff 0.45 "
                                   "#ff0000 0.60 #ffffff 0.75 #ff0000 0.90 #ffffff 1.05");

        // Activated again later: no intro, no query.
        f.form->hide();
        f.form->show();
        QCoreApplication::processEvents();
        QCOMPARE(idQueries(), queriesAtHide + 1);
        QCOMPARE(hiddenAt - shownAt, 2.0);
    }

    void noTrackingGeneratorEndsProgram()
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

    void closeQuestion_data()
    {
        QTest::addColumn<MsgResult>("answer");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("yes") << MsgResult::Yes << true << QStringList{"REC 1"};
        QTest::newRow("no") << MsgResult::No << true << QStringList{};
        QTest::newRow("cancel") << MsgResult::Cancel << false << QStringList{};
    }

    void closeQuestion()
    {
        QFETCH(MsgResult, answer);
        QFETCH(bool, closes);
        QFETCH(QStringList, sent);
        Started f;
        f.bench.clearReceived();
        f.dialogs.answer({answer});
        QCOMPARE(f.w.close(), closes);
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(describe(f.dialogs.shown[0]),
                 "none|Terminate Program|Do you want to initialize the 2712 ?|YesNoCancel");
        QCOMPARE(f.bench.received(), sent);
        QCOMPARE(f.w.isVisible(), !closes);
    }

    void secondClickChangesNothing()
    {
        Started f;
        MainForm& w = f.w;
        const auto secondClickKeepsAll = [&](QWidget* frame) {
            const QString before = view(w);
            clickFrame(frame);
            QCOMPARE(view(w), before);
        };
        f.activate(ReturnLossKind);
        click(w.Option_Refl[2]);
        secondClickKeepsAll(w.Frame_Refl);
        f.activate(AttenuationKind);
        click(w.Option_Attn[2]);
        secondClickKeepsAll(w.Frame_Attn);
        click(w.Option_Attn[0]);
        // With Custom Attenuation checked, even while a step change has disabled it.
        click(w.Check_CustomAttn);
        QTest::keyClicks(w.Text_CustomAttn, "6");
        secondClickKeepsAll(w.Frame_Attn);
        chooseStep(w.Combo_FreqStep, 2);
        QCOMPARE(view(w), "100 00 Option_Attn(0) Check_CustomAttn Text_CustomAttn=6 Label_dB(2) "
                          "Check_CustomLimits(0) Text_CustomLimits(0)= Label_dB(0) Option_Refl(2) "
                          "Command_Run Combo_FreqStep ATT CUSTOM");
        secondClickKeepsAll(w.Frame_Attn);
    }

    void frameSwitchKeepsValues()
    {
        Started f;
        MainForm& w = f.w;
        w.Check_SkipMsg->setEnabled(true);
        w.Check_SkipMsg->setChecked(true);
        f.activate(ReturnLossKind, false);
        QCOMPARE(view(w), "000 10 Option_Refl(0) Command_Run Combo_FreqStep RL REF");
        QVERIFY(!w.Check_SkipMsg->isEnabled());
        QVERIFY(!w.Label_Info->isVisible());
        QCOMPARE(w.State.RefValid, (std::array<bool, 2>{false, false}));
        f.activate(ReturnLossKind);
        click(w.Check_CustomLimits[1]);
        QTest::keyClicks(w.Text_CustomLimits[1], "25");
        click(w.Option_Refl[1]);
        // The other frame is only disabled: its choices stay as the operator left them.
        f.activate(AttenuationKind, false);
        QCOMPARE(view(w), "100 00 Option_Attn(0) Option_Refl(1) Check_CustomLimits(1) "
                          "Text_CustomLimits(1)=25 Label_dB(1) Command_Run Combo_FreqStep ATT REF");
        f.activate(ReturnLossKind, false);
        QCOMPARE(view(w), "000 10 Option_Attn(0) Option_Refl(0) Check_CustomLimits(1) "
                          "Text_CustomLimits(1)=25 Label_dB(1) Command_Run Combo_FreqStep RL REF");
        QCOMPARE(w.State.RefValid, (std::array<bool, 2>{false, true}));
    }

    void customAttenuation()
    {
        Started f;
        MainForm& w = f.w;
        f.activate(AttenuationKind);
        click(w.Option_Attn[3]);
        w.Command_Print->show(); // as after a finished sweep
        click(w.Check_CustomAttn);
        QCOMPARE(view(w), "001 00 Option_Attn(3) Check_CustomAttn Text_CustomAttn= Label_dB(2) "
                          "Check_CustomLimits(0) Text_CustomLimits(0)= Label_dB(0) ATT CUSTOM");
        QCOMPARE(w.focusWidget(), w.Text_CustomAttn);
        // Run only with an attenuation typed in.
        QTest::keyClicks(w.Text_CustomAttn, "7");
        QVERIFY(w.Command_Run->isEnabled());
        QTest::keyClick(w.Text_CustomAttn, Qt::Key_Backspace);
        QVERIFY(!w.Command_Run->isEnabled());
        QTest::keyClicks(w.Text_CustomAttn, "12");
        click(w.Check_CustomAttn);
        QCOMPARE(view(w), "111 00 Option_Attn(3) Command_Run ATT X2P5");
    }

    void optionClicks_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("index");
        QTest::addColumn<MeasType>("type");
        const MeasType attn[] = {MeasType::AttReference, MeasType::Cable, MeasType::Att2X,
                                 MeasType::Att2p5X,      MeasType::Att5X, MeasType::Att10X};
        for (int i = 0; i < 6; ++i)
            QTest::addRow("attenuation %d", i) << AttenuationKind << i << attn[i];
        const MeasType refl[] = {MeasType::RlReference, MeasType::Termination,
                                 MeasType::AttenuatorRl};
        for (int i = 0; i < 3; ++i)
            QTest::addRow("return loss %d", i) << ReturnLossKind << i << refl[i];
    }

    void optionClicks()
    {
        QFETCH(int, kind);
        QFETCH(int, index);
        QFETCH(MeasType, type);
        const bool returnLoss = kind == ReturnLossKind;
        Started f;
        MainForm& w = f.w;
        f.activate(kind);
        const auto option = [&](int i) -> QWidget* {
            return returnLoss ? static_cast<QWidget*>(w.Option_Refl[i]) : w.Option_Attn[i];
        };
        click(option(index ? 0 : 1)); // start from another option, so that the click changes it
        w.Command_Print->show();      // as after a finished sweep
        click(option(index));
        QCOMPARE(w.Globals.MeasType, type);
        QCOMPARE(w.Combo_FreqStep->isEnabled(), index == 0);
        // Only the attenuation options take Print away.
        QCOMPARE(w.Command_Print->isVisible(), returnLoss);
    }

    void referenceClickedAgainEnablesStepList()
    {
        // A real reference on the bench: Run disables the list, and Reference stays selected.
        Started f;
        MainForm& w = f.w;
        f.activate(AttenuationKind, false);
        click(w.Command_Run);
        QCOMPARE(f.dialogs.titles(),
                 (QStringList{"Attenuator Measurement Setup", "Attenuator Reference"}));
        QCOMPARE(view(w), "111 00 Option_Attn(0) Command_Run ATT REF");
        QVERIFY(w.State.RefValid[AttenuationKind]);
        click(w.Option_Attn[0]);
        QCOMPARE(view(w), "111 00 Option_Attn(0) Command_Run Combo_FreqStep ATT REF");
        chooseStep(w.Combo_FreqStep, 3);
        QCOMPARE(groups(w), "100 00");
        QVERIFY(!w.State.RefValid[AttenuationKind]);
    }

    void stepChangeInvalidatesOnlyItsSide_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("customAttn");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("seen");
        QTest::newRow("return loss") << ReturnLossKind << false << 2
                                     << "000 10 Option_Refl(0) Command_Run Combo_FreqStep RL REF";
        QTest::newRow("custom attenuation")
            << AttenuationKind << true << 0
            << "100 00 Option_Attn(0) Check_CustomAttn Text_CustomAttn= Label_dB(2) "
               "Check_CustomLimits(0) Text_CustomLimits(0)= Label_dB(0) Combo_FreqStep ATT CUSTOM";
    }

    void stepChangeInvalidatesOnlyItsSide()
    {
        QFETCH(int, kind);
        QFETCH(bool, customAttn);
        QFETCH(int, step);
        QFETCH(QString, seen);
        Started f;
        f.activate(kind);
        f.w.State.RefValid = {true, true};
        if (customAttn)
            click(f.w.Check_CustomAttn);
        chooseStep(f.w.Combo_FreqStep, step);
        QCOMPARE(view(f.w), seen);
        std::array<bool, 2> valid{true, true};
        valid[kind] = false;
        QCOMPARE(f.w.State.RefValid, valid);
        QCOMPARE(f.w.State.RefStep, (std::array<qint16, 2>{2, 2}));
    }

    void startUpSelectionInvalidatesNothing()
    {
        BenchFixture f;
        f.form->State.RefValid = {true, true};
        f.startUp();
        QCOMPARE(f.form->State.RefValid, (std::array<bool, 2>{true, true}));
        // The very next change of the step is the operator's, and counts.
        clickFrame(f.form->Frame_Attn);
        chooseStep(f.form->Combo_FreqStep, 0);
        QCOMPARE(f.form->State.RefValid, (std::array<bool, 2>{false, true}));
    }

    void doubleClickClears()
    {
        Started f;
        MainForm& w = f.w;
        f.activate(ReturnLossKind);
        click(w.Check_CustomLimits[1]);
        QTest::keyClicks(w.Text_CustomLimits[1], "30");
        QTest::mouseDClick(w.Text_CustomLimits[1], Qt::LeftButton);
        QCOMPARE(w.Text_CustomLimits[1]->text(), "");

        f.activate(AttenuationKind);
        click(w.Check_CustomAttn);
        QTest::keyClicks(w.Text_CustomLimits[0], "0.5");
        QTest::keyClicks(w.Text_CustomAttn, "8");
        QTest::mouseDClick(w.Text_CustomLimits[0], Qt::LeftButton);
        QTest::keyClicks(w.Text_CustomLimits[0], "0.4"); // appended to nothing
        QTest::mouseDClick(w.Text_CustomAttn, Qt::LeftButton);
        QCOMPARE(
            view(w),
            "001 00 Option_Attn(0) Check_CustomAttn Text_CustomAttn= Label_dB(2) "
            "Check_CustomLimits(0) Text_CustomLimits(0)=0.4 Label_dB(0) Option_Refl(0) "
            "Check_CustomLimits(1) Text_CustomLimits(1)= Label_dB(1) Combo_FreqStep ATT CUSTOM");

        // A disabled box takes no double-click: the step change disables the custom group.
        QTest::keyClicks(w.Text_CustomAttn, "9");
        chooseStep(w.Combo_FreqStep, 3);
        QTest::mouseDClick(w.Text_CustomAttn, Qt::LeftButton);
        QTest::mouseDClick(w.Text_CustomLimits[0], Qt::LeftButton);
        QCOMPARE(view(w), "100 00 Option_Attn(0) Check_CustomAttn Text_CustomAttn=9 Label_dB(2) "
                          "Check_CustomLimits(0) Text_CustomLimits(0)=0.4 Label_dB(0) "
                          "Option_Refl(0) Check_CustomLimits(1) Text_CustomLimits(1)= Label_dB(1) "
                          "Command_Run Combo_FreqStep ATT CUSTOM");
    }

    void customLimitsKeepTextWhenHidden()
    {
        Started f;
        MainForm& w = f.w;
        f.activate(AttenuationKind);
        click(w.Check_CustomLimits[0]);
        QCOMPARE(w.focusWidget(), w.Text_CustomLimits[0]);
        QTest::keyClicks(w.Text_CustomLimits[0], "0.5");
        click(w.Check_CustomLimits[0]);
        QCOMPARE(view(w), "111 00 Option_Attn(0) Command_Run Combo_FreqStep ATT REF");
        QCOMPARE(w.Text_CustomLimits[0]->text(), "0.5");
        click(w.Check_CustomLimits[0]);
        QCOMPARE(view(w), "111 00 Option_Attn(0) Check_CustomLimits(0) Text_CustomLimits(0)= "
                          "Label_dB(0) Command_Run Combo_FreqStep ATT REF");
        // Already checked: Custom Attenuation leaves the limit the operator typed.
        QTest::keyClicks(w.Text_CustomLimits[0], "0.3");
        click(w.Check_CustomAttn);
        QCOMPARE(w.Text_CustomLimits[0]->text(), "0.3");
        QCOMPARE(w.focusWidget(), w.Text_CustomAttn);
    }

    // A reference and a device sweep through the buttons: what the window shows between them,
    // and what assistive technology hears.
    void sweepThroughWindow()
    {
        Started f;
        MainForm& w = f.w;
        // What a screen reader reads from the hint while the sweep runs.
        QString heard;
        bool busyShown = false;
        f.dialogs.onMessage = [&](const Shown& shown) -> std::optional<MsgResult> {
            if (shown.title == "Return Loss Measurement Setup")
                f.clock.schedule(4.0, [&] {
                    busyShown = w.Label_Busy->isVisible() && w.Label_Info->isVisible() &&
                                w.Label_Busy->text() == "BUSY, Please Wait";
                    heard = QAccessible::queryAccessibleInterface(w.Label_Info)
                                ->text(QAccessible::Name);
                });
            return std::nullopt;
        };
        clickFrame(w.Frame_Refl);
        chooseStep(w.Combo_FreqStep, 3);
        click(w.Command_Run);
        QCOMPARE(w.focusWidget(), w.Option_Refl[1]);
        QCOMPARE(groups(w), "000 11");
        QVERIFY(!w.Combo_FreqStep->isEnabled() && !w.Check_SkipMsg->isEnabled());
        click(w.Option_Refl[1]);
        click(w.Command_Run);
        QVERIFY(w.Command_Print->isVisible() && w.Check_SkipMsg->isEnabled());
        QVERIFY(w.Command_Run->isEnabled() && !w.Command_Stop->isEnabled());
        QVERIFY(!w.Label_Busy->isVisible());
        QVERIFY(!w.MSChart1->seriesHidden(1) && !w.MSChart1->seriesHidden(6));
        QCOMPARE(heard, "Getting value for 300 MHz");
        QVERIFY(busyShown);

        // A label is named by its caption; only the chart and the "dB" boxes carry a name.
        QCOMPARE(w.Label_Info->accessibleName(), "");
        QCOMPARE(w.Command_Run->accessibleName(), "");
        QCOMPARE(w.Text_CustomLimits[1]->accessibleName(), "Custom Limits dB");
        QCOMPARE(w.Text_CustomAttn->accessibleName(), "Custom Attenuation dB");
        QCOMPARE(w.MSChart1->accessibleName(), "Results chart");
    }

    // Stop during a reference run from a frame whose devices were usable: the device options
    // must not come back over a half-overwritten table.
    void stopDuringReferenceFromFullSelection()
    {
        Started f;
        MainForm& w = f.w;
        f.activate(ReturnLossKind);
        f.dialogs.onMessage = [&](const Shown& shown) -> std::optional<MsgResult> {
            if (shown.icon == MsgIcon::Information)
                f.clock.schedule(9.0, [&] { click(w.Command_Stop); });
            if (shown.title == "Reference Table")
                return MsgResult::No;
            return std::nullopt;
        };
        click(w.Command_Run);
        QCOMPARE(f.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "Reference Table", "Stop"}));
        QVERIFY(!w.State.RefValid[ReturnLossKind]);
        QCOMPARE(groups(w), "000 10");
        QVERIFY(w.Combo_FreqStep->isEnabled() && w.Command_Run->isEnabled());
        QVERIFY(w.Frame_Attn->isEnabled());
    }

    void closeDuringSweep_data()
    {
        QTest::addColumn<MsgResult>("answer");
        QTest::newRow("yes") << MsgResult::Yes;
        QTest::newRow("no") << MsgResult::No;
        QTest::newRow("cancel") << MsgResult::Cancel;
    }

    // Closing while a sweep runs winds it down first, then asks once.
    void closeDuringSweep()
    {
        QFETCH(MsgResult, answer);
        Started f;
        MainForm& w = f.w;
        f.activate(AttenuationKind);
        click(w.Option_Attn[2]);
        f.bench.clearReceived();
        f.dialogs.onMessage = [&](const Shown& shown) -> std::optional<MsgResult> {
            if (shown.icon == MsgIcon::Information)
                f.clock.schedule(5.0, [&] { w.close(); });
            if (shown.title == "Terminate Program")
                return answer;
            return std::nullopt;
        };
        click(w.Command_Run);
        for (int turn = 0; turn < 10; ++turn)
            QCoreApplication::processEvents();
        const QStringList received = f.bench.received();
        QCOMPARE(f.dialogs.titles(),
                 (QStringList{"Attenuator Measurement Setup", "Terminate Program"}));
        QCOMPARE(received.count("TRI FRE"), 1);
        QCOMPARE(received.last(), answer == MsgResult::Yes ? "REC 1" : "TRI FRE");
        QCOMPARE(w.isVisible(), answer == MsgResult::Cancel);
        QVERIFY(!w.running() && !w.Command_Print->isVisible());
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
