#pragma once

#include "base/OperatorDialogs.h"
#include "measure/MeasurementEngine.h"
#include "report/PrintResultForm.h"
#include "session/BenchSession.h"

#include <QGroupBox>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class Chart;
class Twips;
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
// results chart. It shows the bench session, whose rules decide what every control shows, and
// turns the operator's clicks and typing into session calls; the sequences run in the session.
class MainForm : public QWidget {
    Q_OBJECT
public:
    MainForm(BenchSession& session, OperatorDialogs& dialogs, QWidget* parent = nullptr);
    ~MainForm() override;

    // Caption, bus, analyser identification and the step list; then loaded, on this thread,
    // once the bus thread has done them. The program may end there.
    void Form_Load(std::function<void()> loaded = {});
    // The first activation is over: the tracking generator has been checked.
    bool activated() const { return m_activated; }
    bool running() const { return m_session.running(); }
    BenchSession& session() const { return m_session; }

    const QString AppTitle = QStringLiteral("Velmora");
    const QString AppVersion = QStringLiteral(VELMORA_VERSION);
    const QString AppDate = QStringLiteral("Nov 2017");
    const QString AppTag = QStringLiteral("QZ");

    // Draws the session's results grid.
    Chart* const MSChart1;

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

    // The last sweep's verdict, coloured by its outcome; none: the line is empty.
    void showVerdict(const std::optional<Verdict>& verdict);
    // What the Print button gives the report: the chart and the selection as they are now.
    ReportSource reportSource() const;
    void showStatus(const QString& text);

signals:
    void historyRequested();
    // Around every run, whoever started it.
    void runStarting();
    void runFinished();
    void reportPrinted(const PrintRow& page);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildAttnFrame(const Twips& tw);
    void buildReflFrame(const Twips& tw);
    void buildSidePanel(QWidget* top, const Twips& tw);
    QWidget* buildStatusLine(const Twips& tw);
    void connectControls();
    // Every control as the session's state has it.
    void showSession();
    void Form_Activate();
    void Intro(int seconds);
    void blinkInfo(int changesLeft);

    void Command_Run_Click();
    void Command_Print_Click();
    void runEnded();

    bool eventFilter(QObject* watched, QEvent* event) override;

    void giveFocus(QWidget* widget);
    // After a fatal condition: asks the event loop to end the program with status 1.
    bool leaveIfEnded();

    BenchSession& m_session;
    OperatorDialogs& m_dialogs;
    QWidget* m_selectionArea = nullptr;
    bool m_activated = false;
    bool m_leaving = false; // the analyser is being reset before the window closes
    bool m_left = false;
    bool m_activationPosted = false;
    QPointer<QWidget> m_pendingFocus;
};
