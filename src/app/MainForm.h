#pragma once

#include "base/OperatorDialogs.h"
#include "measure/MeasurementEngine.h"
#include "measure/MeasurementView.h"
#include "report/PrintResultForm.h"

#include <QGroupBox>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class Chart;
class Clock;
class Twips;
class InstrumentIO;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// A frame that reports a click on its own surface, not on the controls inside it.
class ClickFrame : public QGroupBox {
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;
signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The main window: start-up and shut-down, the selection controls, Run and Stop, and the
// results chart. The measurement sequences run inside the Run handler, in the engine, which
// sees the controls through MeasurementView.
class MainForm : public QWidget, public MeasurementView {
    Q_OBJECT
public:
    MainForm(InstrumentIO& io, OperatorDialogs& dialogs, QWidget* parent = nullptr);
    ~MainForm() override;

    // Caption, bus, analyser identification and the step list; may end the program.
    void Form_Load();
    bool activated() const { return m_activated; }
    bool running() const { return m_engine.running(); }
    MeasurementEngine& engine() { return m_engine; }

    const QString AppTitle = QStringLiteral("Velmora");
    const QString AppVersion = QStringLiteral(VELMORA_VERSION);
    const QString AppDate = QStringLiteral("Nov 2017");
    const QString AppTag = QStringLiteral("QZ");

    // Built before the engine, which draws into it.
    Chart* const MSChart1;

private:
    MeasurementEngine m_engine;

public:
    GlobalVar& Globals;
    MeasurementState& State;

    // Controls, named as the operator's documentation names them.
    ClickFrame* Frame_Attn = nullptr;
    ClickFrame* Frame_Refl = nullptr;
    std::array<QRadioButton*, 6> Option_Attn{};
    std::array<QRadioButton*, 3> Option_Refl{};
    QCheckBox* Check_CustomAttn = nullptr;
    QLineEdit* Text_CustomAttn = nullptr;
    std::array<QCheckBox*, 2> Check_CustomLimits{};
    std::array<QLineEdit*, 2> Text_CustomLimits{};
    std::array<QLabel*, 3> Label_dB{};
    QLabel* Label1 = nullptr;
    QComboBox* Combo_FreqStep = nullptr;
    QCheckBox* Check_SkipMsg = nullptr;
    QLabel* Label_Info = nullptr;
    QLabel* Label_Busy = nullptr;
    QPushButton* Command_Print = nullptr;
    QPushButton* Command_Stop = nullptr;
    QPushButton* Command_Run = nullptr;
    // The status line under the chart: the last verdict, notices, and the history.
    QLabel* Label_Verdict = nullptr;
    QLabel* Label_Status = nullptr;
    QPushButton* Command_History = nullptr;

    void showVerdict(const QString& text);
    // What the Print button gives the report: the chart and the selection as they are now.
    ReportSource reportSource() const;
    void showStatus(const QString& text);

    void EnableAttnControls(bool refEnabled, bool optionsEnabled, bool customEnabled);
    void EnableReflControls(bool refEnabled, bool othersEnabled);
    void ShowBusy(bool busy);

    // What the sequences see of the controls.
    int stepIndex() const override;
    bool skipMessages() const override;
    bool customAttenuation() const override;
    bool customLimits(MeasKind kind) const override;
    QString entryText(Entry entry) const override;
    bool deviceOptionsEnabled(MeasKind kind) const override;
    void setEntryText(Entry entry, const QString& text) override;
    void clearAndFocus(Entry entry) override;
    void uncheckCustomLimits(MeasKind kind) override;
    void enableAttnControls(bool refEnabled, bool optionsEnabled, bool customEnabled) override
    {
        EnableAttnControls(refEnabled, optionsEnabled, customEnabled);
    }
    void enableReflControls(bool refEnabled, bool othersEnabled) override
    {
        EnableReflControls(refEnabled, othersEnabled);
    }
    void enableFrame(MeasKind kind, bool enabled) override;
    void enableStepList(bool enabled) override;
    void enableSkipMessages(bool enabled) override;
    void uncheckSkipMessages() override;
    void focusFirstDevice(MeasKind kind) override;
    void enableStop(bool enabled) override;
    void showBusy(bool busy) override { ShowBusy(busy); }
    void showProgress(const QString& text) override;

signals:
    void historyRequested();
    // Around every run, whoever started it.
    void runStarting();
    void runFinished();
    void reportPrinted(const PrintRow& page);
    // Stop has just become usable.
    void stopAvailable();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildAttnFrame(const Twips& tw);
    void buildReflFrame(const Twips& tw);
    void buildSidePanel(QWidget* top, const Twips& tw);
    QWidget* buildStatusLine(const Twips& tw);
    void setInitialState();
    void connectControls();
    void Form_Activate();
    void Intro(int seconds);
    void Form_QueryUnload(bool& cancel);

    void Frame_Attn_Click();
    void Frame_Refl_Click();
    void Option_Attn_Click(int index);
    void Option_Refl_Click(int index);
    void Check_CustomAttn_Click();
    void Check_CustomLimits_Click(int index);
    void Text_CustomAttn_Change();
    void Combo_FreqStep_Click();
    void Command_Run_Click();
    void Command_Stop_Click();
    void Command_Print_Click();

    bool eventFilter(QObject* watched, QEvent* event) override;

    QLineEdit* entry(Entry which) const;
    void giveFocus(QWidget* widget);
    void letEventsRun();
    // After a fatal condition: asks the event loop to end the program with status 1.
    bool leaveIfEnded();

    InstrumentIO& m_io;
    OperatorDialogs& m_dialogs;
    QWidget* m_selectionArea = nullptr;
    bool m_firstClickDone = false;
    bool m_activated = false;
    bool m_activationPosted = false;
    QPointer<QWidget> m_pendingFocus;
};
