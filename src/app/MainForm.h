#pragma once

#include "app/OperatorDialogs.h"
#include "measure/GlobalVar.h"

#include <QGroupBox>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class Chart;
class Clock;
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

// The main window: start-up and shut-down, the selection controls, Run and Stop, the results
// chart, and (in measure/) the measurement sequences that run inside the Run handler.
class MainForm : public QWidget {
    Q_OBJECT
public:
    MainForm(InstrumentIO& io, OperatorDialogs& dialogs, QWidget* parent = nullptr);
    ~MainForm() override;

    // Caption, bus, analyser identification and the step list; may end the program.
    void Form_Load();
    bool activated() const { return m_activated; }
    bool running() const { return m_running; }

    const QString AppTitle = QStringLiteral("Velmora");
    const QString AppVersion = QStringLiteral(VELMORA_VERSION);
    const QString AppDate = QStringLiteral("Nov 2017");
    const QString AppTag = QStringLiteral("QZ");

    GlobalVar Globals;
    MeasurementState State;

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
    Chart* MSChart1 = nullptr;

    void EnableAttnControls(bool refEnabled, bool optionsEnabled, bool customEnabled);
    void EnableReflControls(bool refEnabled, bool othersEnabled);
    void ShowBusy(bool busy);
    void ResetStopSeq();
    void ClearGraph(float graphValue);

    // Measurement sequences (measure/MeasurementSequences.cpp)
    void GetRef(const qint16& index);
    void FillRefTable(int kind);
    void GetRetLossResult(const qint16& index);
    void GetAttResult(const qint16& index);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
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

    // Sequence helpers
    MsgResult ask(MsgIcon icon, const QString& title, const QString& text, MsgButtons buttons);
    // A refused entry: the message, then the box cleared and focused.
    void refuseEntry(QLineEdit* entry, const QString& message);
    void giveFocus(QWidget* widget);
    void letEventsRun();
    int stepIndex() const;
    qint16 currentStepMult() const;
    void writeRow(int row, float value);
    // A limit line: every row of the column at one value.
    void writeColumn(int column, float value);
    // The point loop of a device sweep: marker, settle, read, draw with the fill-in between
    // points; it ends after the point at which a stop was asked for.
    void sweepDevice(const QString& progress, bool startCurveAtFirstPoint,
                     const std::function<float(int point, double reading)>& result);
    void fillBetween(int point, int step, float previous, float value);

    InstrumentIO& m_io;
    OperatorDialogs& m_dialogs;
    QWidget* m_selectionArea = nullptr;
    bool m_firstClickDone = false;
    bool m_activated = false;
    bool m_activationPosted = false;
    bool m_running = false;
    bool m_closeRequested = false;
    bool m_sweptToEnd = false; // the last device sweep measured its last point
    QPointer<QWidget> m_pendingFocus;
};
