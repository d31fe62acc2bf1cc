#include "BenchFixture.h"
#include "chart/Chart.h"
#include "remote/RemoteServer.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

namespace {

using Shown = ScriptedDialogs::Shown;
using Widgets = std::initializer_list<QWidget*>;

// The selection as the operator sees it, in one line: the enabling groups, the checked
// controls, the custom boxes and dB labels shown, Run, the step list and Skip Messages when
// usable, Print and the hint when shown, and MeasType.
QString view(const MainForm& w)
{
    // The enabling groups, "ref options custom refRL othersRL": '1' when every member of the
    // group is enabled, '0' when none is, '?' when they differ.
    QString groups;
    for (const Widgets& group : std::initializer_list<Widgets>{
             {w.Option_Attn[0]},
             {w.Option_Attn[1], w.Option_Attn[2], w.Option_Attn[3], w.Option_Attn[4],
              w.Option_Attn[5]},
             {w.Check_CustomLimits[0], w.Text_CustomLimits[0], w.Check_CustomAttn,
              w.Text_CustomAttn, w.Label_dB[0], w.Label_dB[2]},
             {w.Option_Refl[0]},
             {w.Option_Refl[1], w.Option_Refl[2], w.Check_CustomLimits[1], w.Text_CustomLimits[1],
              w.Label_dB[1]}}) {
        const auto on =
            std::count_if(group.begin(), group.end(), [](QWidget* c) { return c->isEnabled(); });
        groups += on == 0 ? '0' : on == qsizetype(group.size()) ? '1' : '?';
    }
    QStringList seen{groups.insert(3, u' ')};
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
    for (const QWidget* c : Widgets{w.Command_Run, w.Combo_FreqStep, w.Check_SkipMsg})
        if (c->isEnabled())
            seen << c->objectName();
    for (const QWidget* c : Widgets{w.Command_Print, w.Label_Info})
        if (c->isVisibleTo(&w))
            seen << c->objectName();
    const MeasType type = w.Globals.MeasType;
    seen << (kindOf(type) == MeasKind::ReturnLoss ? "RL" : "ATT") << measInfo(type).word;
    return seen.join(' ');
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

    // Leaves the state a good reference of the active frame's kind leaves.
    void goodReference()
    {
        const MeasKind kind = kindOf(w.Globals.MeasType);
        w.State.RefValid[kindIndex(kind)] = true;
        if (kind == MeasKind::Attenuation)
            session.enableAttnControls(true, true, true);
        else
            session.enableReflControls(true, true);
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

        // Nothing to click but the two frames and the history; Busy, Print and the custom boxes
        // and labels are hidden (the last left enabled, hence '?').
        QCOMPARE(view(w), "00? 0? Label_Info ATT REF");
        QVERIFY(!w.Command_Stop->isEnabled() && w.Command_History->isEnabled());
        QVERIFY(w.Label_Busy->isHidden() && w.Frame_Attn->isEnabled() && w.Frame_Refl->isEnabled());
        QCOMPARE(w.Label_Info->text(), "Click inside one of the frames");
    }

    // The intro for 2 s by its own timer, the tracking-generator query after it, then four
    // blinks of the hint, 0.15 s each way, ending white: each with the second it came and the
    // ID? queries sent by then.
    void introBeforeTrackingGeneratorQuery()
    {
        BenchFixture f;
        QLabel* const hint = f.form->Label_Info;
        QStringList seen;
        QString colour = QStringLiteral("#ffffff");
        EventHook hook(qApp, [&](QObject* watched, QEvent* event) {
            QString what;
            const bool intro = watched->objectName() == u"IntroForm";
            if (intro && event->type() == QEvent::Show)
                what = watched->findChild<QLabel*>(QStringLiteral("Label1"))->text();
            else if (intro && event->type() == QEvent::Hide)
                what = QStringLiteral("intro gone");
            else if (watched == hint && event->type() == QEvent::PaletteChange &&
                     hint->palette().color(QPalette::Window).name() != colour)
                what = colour = hint->palette().color(QPalette::Window).name();
            if (what.isEmpty())
                return;
            const qsizetype queries = f.bench.received().count(QStringLiteral("ID?"));
            seen << QString::asprintf("%.2f %lld ", f.clock.now(), qlonglong(queries)) + what;
        });
        f.startUp();
        QCOMPARE(seen.join(" | "), "0.00 3 Velmora, v1.4 / Nov 2017 - QZ | 2.00 3 intro gone | "
                                   "2.10 4 #ff0000 | 2.25 4 #ffffff | 2.40 4 #ff0000 | "
                                   "2.55 4 #ffffff | 2.70 4 #ff0000 | 2.85 4 #ffffff | "
                                   "3.00 4 #ff0000 | 3.15 4 #ffffff");
        QVERIFY(!f.form->findChild<QDialog*>(QStringLiteral("IntroForm")));

        // Activated again later: no intro, no query.
        seen.clear();
        f.form->hide();
        f.form->show();
        QCoreApplication::processEvents();
        QCOMPARE(seen, QStringList());
        QCOMPARE(f.bench.received().count(QStringLiteral("ID?")), 4);
    }

    // After the fatal message nothing more reaches the analyser or the operator.
    void noTrackingGeneratorEndsProgram()
    {
        BenchFixture f(QStringLiteral("no-tg"));
        qsizetype traffic = -1;
        f.dialogs.onMessage = [&](const Shown&) -> std::optional<MsgResult> {
            traffic = f.bench.received().size();
            return std::nullopt;
        };
        f.startUp();
        QCOMPARE(f.dialogs.lines(), "critical Ok Error: No Tracking Generator option found in the "
                                    "2712.\\n\\nThis program will quit.");
        QCOMPARE(f.dialogs.shown.first().kind, MsgKind::Fatal);
        QVERIFY(f.session.programEnded());
        f.form->close();
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.bench.received().size(), traffic);
    }

    // The selection controls, each row an operator's clicks and key presses on the started
    // program with checks in between. A step is a control's name (a click; a frame's on its
    // own surface), "type NAME TEXT", "double-click NAME", "step N" (the step list by keys),
    // "good reference" (what a good reference of the active kind leaves) or "again FRAME" (a click
    // that must change nothing). A check is
    // "= VIEW", "+ WORD" or "- WORD" (the view has or lacks the word), "focus NAME", or
    // "references VV S S": RefValid of attenuation and return loss (1: valid), their RefStep.
    void selection_data()
    {
        QTest::addColumn<QStringList>("steps");
        const auto row = [](const char* name, const QStringList& steps) {
            QTest::newRow(name) << steps;
        };
        row("a second click inside the active frame changes nothing",
            {"Frame_Refl", "good reference", "Option_Refl(2)", "again Frame_Refl", "Frame_Attn",
             "good reference", "Option_Attn(2)", "again Frame_Attn",
             // With Custom Attenuation checked, even while a step change has disabled it.
             "Option_Attn(0)", "Check_CustomAttn", "type Text_CustomAttn 6", "again Frame_Attn",
             "step 2",
             "= 100 00 Option_Attn(0) Check_CustomAttn Text_CustomAttn=6 Label_dB(2) "
             "Check_CustomLimits(0) Text_CustomLimits(0)= Label_dB(0) Option_Refl(2) Command_Run "
             "Combo_FreqStep ATT CUSTOM",
             "references 01 2 2", "again Frame_Attn"});
        // The other frame is only disabled: its choices stay as the operator left them.
        row("a frame switch keeps the other frame's values",
            {"Frame_Attn", "Command_Run", "Option_Attn(1)", "Command_Run", "Check_SkipMsg",
             "Frame_Refl",
             "= 000 10 Option_Attn(1) Option_Refl(0) Command_Run Combo_FreqStep Command_Print RL "
             "REF",
             "good reference", "Check_CustomLimits(1)", "type Text_CustomLimits(1) 25",
             "Option_Refl(1)", "Frame_Attn",
             "= 100 00 Option_Attn(0) Option_Refl(1) Check_CustomLimits(1) Text_CustomLimits(1)=25 "
             "Label_dB(1) Command_Run Combo_FreqStep ATT REF",
             "Frame_Refl",
             "= 000 10 Option_Attn(0) Option_Refl(0) Check_CustomLimits(1) Text_CustomLimits(1)=25 "
             "Label_dB(1) Command_Run Combo_FreqStep RL REF",
             "references 11 2 2"});
        row("custom attenuation",
            {"Frame_Attn", "Command_Run", "Option_Attn(3)", "Command_Run", "+ Command_Print",
             "Check_CustomAttn",
             "= 001 00 Option_Attn(3) Check_CustomAttn Text_CustomAttn= Label_dB(2) "
             "Check_CustomLimits(0) Text_CustomLimits(0)= Label_dB(0) Check_SkipMsg ATT CUSTOM",
             "focus Text_CustomAttn",
             // Run only with an attenuation typed in.
             "type Text_CustomAttn 7", "+ Command_Run", "double-click Text_CustomAttn",
             "- Command_Run", "type Text_CustomAttn 12", "Check_CustomAttn",
             "= 111 00 Option_Attn(3) Command_Run Check_SkipMsg ATT X2P5"});
        row("attenuation options",
            {"Frame_Attn", "Command_Run", "Option_Attn(2)", "Command_Run", "+ Command_Print",
             "Option_Attn(1)", "= 111 00 Option_Attn(1) Command_Run Check_SkipMsg ATT X1",
             "Option_Attn(2)", "= 111 00 Option_Attn(2) Command_Run Check_SkipMsg ATT X2",
             "Option_Attn(3)", "= 111 00 Option_Attn(3) Command_Run Check_SkipMsg ATT X2P5",
             "Option_Attn(4)", "= 111 00 Option_Attn(4) Command_Run Check_SkipMsg ATT X5",
             "Option_Attn(5)", "= 111 00 Option_Attn(5) Command_Run Check_SkipMsg ATT X10",
             "Option_Attn(0)",
             "= 111 00 Option_Attn(0) Command_Run Combo_FreqStep Check_SkipMsg ATT REF"});
        // Only the attenuation options take Print away.
        row("return-loss options",
            {"Frame_Refl", "Command_Run", "Option_Refl(1)", "Command_Run", "Option_Refl(1)",
             "= 000 11 Option_Refl(1) Command_Run Check_SkipMsg Command_Print RL TERM",
             "Option_Refl(2)",
             "= 000 11 Option_Refl(2) Command_Run Check_SkipMsg Command_Print RL PAD",
             "Option_Refl(0)",
             "= 000 11 Option_Refl(0) Command_Run Combo_FreqStep Check_SkipMsg Command_Print RL "
             "REF"});
        // A real reference: Run disables the list, and Reference stays selected.
        row("Reference clicked again after a reference",
            {"Frame_Attn", "Command_Run", "= 111 00 Option_Attn(0) Command_Run ATT REF",
             "references 10 2 2", "Option_Attn(0)", "+ Combo_FreqStep", "step 3",
             "= 100 00 Option_Attn(0) Command_Run Combo_FreqStep ATT REF", "references 00 2 2"});
        row("a step change on the return-loss side",
            {"Frame_Refl", "Frame_Attn", "good reference", "Frame_Refl", "good reference", "step 2",
             "= 000 10 Option_Attn(0) Option_Refl(0) Command_Run Combo_FreqStep RL REF",
             "references 10 2 2"});
        row("a double-click empties an enabled box",
            {"Frame_Refl", "good reference", "Check_CustomLimits(1)",
             "type Text_CustomLimits(1) 30", "double-click Text_CustomLimits(1)", "Frame_Attn",
             "good reference", "Check_CustomAttn", "type Text_CustomLimits(0) 0.5",
             "type Text_CustomAttn 8", "double-click Text_CustomLimits(0)",
             "type Text_CustomLimits(0) 0.4", "double-click Text_CustomAttn",
             "= 001 00 Option_Attn(0) Check_CustomAttn Text_CustomAttn= Label_dB(2) "
             "Check_CustomLimits(0) Text_CustomLimits(0)=0.4 Label_dB(0) Option_Refl(0) "
             "Check_CustomLimits(1) Text_CustomLimits(1)= Label_dB(1) Combo_FreqStep ATT CUSTOM",
             // A disabled box takes none: the step change disables the custom group.
             "type Text_CustomAttn 9", "step 3", "double-click Text_CustomAttn",
             "double-click Text_CustomLimits(0)",
             "= 100 00 Option_Attn(0) Check_CustomAttn Text_CustomAttn=9 Label_dB(2) "
             "Check_CustomLimits(0) Text_CustomLimits(0)=0.4 Label_dB(0) Option_Refl(0) "
             "Check_CustomLimits(1) Text_CustomLimits(1)= Label_dB(1) Command_Run Combo_FreqStep "
             "ATT CUSTOM"});
        row("custom limits",
            {"Frame_Attn", "good reference", "Check_CustomLimits(0)", "focus Text_CustomLimits(0)",
             "type Text_CustomLimits(0) 0.5", "Check_CustomLimits(0)",
             "= 111 00 Option_Attn(0) Command_Run Combo_FreqStep ATT REF", "Check_CustomLimits(0)",
             "= 111 00 Option_Attn(0) Check_CustomLimits(0) Text_CustomLimits(0)= Label_dB(0) "
             "Command_Run Combo_FreqStep ATT REF",
             // Already checked: Custom Attenuation leaves the limit the operator typed.
             "type Text_CustomLimits(0) 0.3", "Check_CustomAttn", "+ Text_CustomLimits(0)=0.3",
             "focus Text_CustomAttn"});
    }

    void selection()
    {
        QFETCH(QStringList, steps);
        Started f;
        MainForm& w = f.w;
        for (const QString& step : steps) {
            const QString verb = step.section(u' ', 0, 0), what = step.section(u' ', 1);
            QWidget* const named = w.findChild<QWidget*>(what.section(u' ', 0, 0));
            if (verb == "=") {
                QCOMPARE(view(w), what);
            } else if (verb == "+" || verb == "-") {
                QVERIFY2(view(w).split(u' ').contains(what) == (verb == "+"),
                         qPrintable(step + " in " + view(w)));
            } else if (verb == "focus") {
                QCOMPARE(w.focusWidget(), named);
            } else if (verb == "references") {
                QCOMPARE(QString::asprintf("%d%d %d %d", w.State.RefValid[0], w.State.RefValid[1],
                                           w.State.RefStep[0], w.State.RefStep[1]),
                         what);
            } else if (verb == "type") {
                QTest::keyClicks(named, what.section(u' ', 1));
            } else if (verb == "double-click") {
                QTest::mouseDClick(named, Qt::LeftButton);
            } else if (verb == "step") {
                chooseStep(w.Combo_FreqStep, what.toInt());
            } else if (step == "good reference") {
                f.goodReference();
            } else if (verb == "again") {
                const QString before = view(w);
                clickFrame(named);
                QCOMPARE(view(w), before);
            } else {
                QWidget* const control = w.findChild<QWidget*>(step);
                QVERIFY2(control, qPrintable(step));
                if (qobject_cast<ClickFrame*>(control))
                    clickFrame(control);
                else
                    click(control);
            }
        }
    }

    // Remote control drives the window's own session: the window shows each change it makes,
    // and a run it starts, as if the operator had clicked.
    void followsRemoteControl()
    {
        Started f;
        RemoteServer server(f.session);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.port());
        client.write("CONF:KIND RL;STEP 100\n");
        QTRY_COMPARE(view(f.w), "000 10 Option_Refl(0) Command_Run Combo_FreqStep RL REF");
        client.write("SYST:PROM OFF;:INIT;*OPC?\n");
        QTRY_VERIFY(client.canReadLine());
        QCOMPARE(view(f.w), "000 11 Option_Refl(0) Command_Run RL REF");
        // Nobody at the bench: the messages take their defaults unseen.
        QCOMPARE(f.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "Return Loss Reference"}));
        QVERIFY(f.dialogs.shown[0].unattended && f.dialogs.shown[1].unattended);
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
        measure(w, MeasKind::ReturnLoss, 3);
        QCOMPARE(w.focusWidget(), w.Option_Refl[1]);
        QCOMPARE(view(w), "000 11 Option_Refl(0) Command_Run RL REF");
        click(w.Option_Refl[1]);
        click(w.Command_Run);
        QCOMPARE(view(w), "000 11 Option_Refl(1) Command_Run Check_SkipMsg Command_Print RL TERM");
        QVERIFY(!w.Command_Stop->isEnabled() && !w.Label_Busy->isVisible());
        QVERIFY(!w.MSChart1->grid().seriesHidden(1) && !w.MSChart1->grid().seriesHidden(6));
        QCOMPARE(heard, "Getting value for 300 MHz");
        QVERIFY(busyShown);
        // The verdict in green, and heard as it is read.
        QCOMPARE(w.Label_Verdict->text().left(5) + w.Label_Verdict->accessibleName().left(13) +
                     w.Label_Verdict->palette().color(QPalette::WindowText).name(),
                 "PASS Verdict PASS #007828");

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
        clickFrame(w.Frame_Refl);
        f.goodReference();
        f.dialogs.onMessage = [&](const Shown& shown) -> std::optional<MsgResult> {
            if (shown.kind == MsgKind::ConnectionPrompt)
                f.clock.schedule(9.0, [&] { click(w.Command_Stop); });
            if (shown.title == "Reference Table")
                return MsgResult::No;
            return std::nullopt;
        };
        click(w.Command_Run);
        QCOMPARE(f.dialogs.titles(),
                 (QStringList{"Return Loss Measurement Setup", "Reference Table", "Stop"}));
        QVERIFY(!w.State.RefValid[ReturnLossKind] && w.Frame_Attn->isEnabled());
        QCOMPARE(view(w), "000 10 Option_Refl(0) Command_Run Combo_FreqStep RL REF");
    }

    void closeDuringSweep_data()
    {
        QTest::addColumn<MsgResult>("answer");
        QTest::newRow("yes") << MsgResult::Yes;
        QTest::newRow("no") << MsgResult::No;
        QTest::newRow("cancel") << MsgResult::Cancel;
    }

    // Closing while a sweep runs winds it down first, then asks once: Yes resets the analyser,
    // No closes without a word to it, Cancel keeps the program.
    void closeDuringSweep()
    {
        QFETCH(MsgResult, answer);
        Started f;
        MainForm& w = f.w;
        clickFrame(w.Frame_Attn);
        f.goodReference();
        click(w.Option_Attn[2]);
        f.bench.clearReceived();
        f.dialogs.onMessage = [&](const Shown& shown) -> std::optional<MsgResult> {
            if (shown.kind == MsgKind::ConnectionPrompt)
                f.clock.schedule(5.0, [&] { w.close(); });
            if (shown.title == "Terminate Program")
                return answer;
            return std::nullopt;
        };
        click(w.Command_Run);
        for (int turn = 0; turn < 10; ++turn)
            QCoreApplication::processEvents();
        settle(f.session);
        const QStringList received = f.bench.received();
        QCOMPARE(f.dialogs.titles(),
                 (QStringList{"Attenuator Measurement Setup", "Terminate Program"}));
        QCOMPARE(f.dialogs.shown[1].line(),
                 "none YesNoCancel Terminate Program: Do you want to initialize the 2712 ?");
        QCOMPARE(received.count("TRI FRE"), 1);
        QCOMPARE(received.last(), answer == MsgResult::Yes ? "REC 1" : "TRI FRE");
        QCOMPARE(w.isVisible(), answer == MsgResult::Cancel);
        QVERIFY(!w.running() && !w.Command_Print->isVisible());
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
