#pragma once

#include "history/HistoryRecord.h"
#include "measure/MeasType.h"

#include <QDialog>
#include <QPoint>
#include <QString>

#include <optional>

class Chart;
class ResultGrid;
class OperatorDialogs;
class QLabel;
class QPageLayout;
struct GlobalVar;

// What the report takes from the main window when its Print button is pressed.
struct ReportSource {
    const ResultGrid& results; // the results grid, 6 columns
    int freqStepIndex;         // selected index of Combo_FreqStep, 0..3
    QString freqStepText;      // its text
    const GlobalVar& globals;  // MeasType and StepMult
    QString customAttnText;    // Text_CustomAttn, for a custom attenuator's description
    QPoint position;           // the main window's top-left on the screen
    // The record printed; none: the basic page, without the verdict line.
    std::optional<PageRecord> record = std::nullopt;
};

// A page whose texts are known before it is printed: remote control's, or a re-print.
struct PresetPage {
    QString description;
    QString dutId;
    QString comments;
    QString dateText;          // empty: today's
    bool askForPrinter = true; // false: the default printer, without a dialog or a message
    bool saveComments = true;  // false: PrintComments.dat stays as it is
};

// "Print": the report page as a window. It copies header and chart while loading, asks for the
// DUT details on its first activation, prints itself, gives the default printer back, saves
// the identifier and comments, and closes in every case.
class PrintResultForm : public QDialog {
    Q_OBJECT
public:
    // Page size in twips at 15 twips a pixel.
    static constexpr int PageWidth = 10695 / 15;
    static constexpr int PageHeight = 6780 / 15;

    // The main window's Print button: shows the report modally and returns once it has closed.
    // Returns what was printed, as the history keeps it; nothing when the operator cancelled
    // or the print failed.
    static std::optional<PrintRow> Command_Print_Click(const ReportSource& source,
                                                       OperatorDialogs& dialogs,
                                                       QWidget* parent = nullptr);
    // The page with its texts given, without the details dialog. failure: why it was not
    // printed, when the operator was not told.
    static std::optional<PrintRow> PrintPreset(const ReportSource& source, const PresetPage& preset,
                                               OperatorDialogs& dialogs, QWidget* parent,
                                               QString* failure = nullptr);

    // Loads header and chart; the rest happens on the first activation.
    PrintResultForm(const ReportSource& source, OperatorDialogs& dialogs,
                    QWidget* parent = nullptr);

    // Lets the operator choose a printer or a PDF file, prints the page, restores the default
    // printer and saves the DUT identifier and comments.
    void PrintReport();

    // Draws the window onto one page of a PDF, scaled to fit the page's printable area.
    bool writePage(const QString& pdfPath, const QPageLayout& layout);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void setUpPage();
    void createHeaderLabels();
    void createChartAndFrame();
    void createDutLabels();
    void fitFont();
    // Below the basic page's rows: the DUT ID and comments on as many lines as they take,
    // then the verdict line, and the page as tall as that needs.
    void growPage();
    // Header and chart from the main window; the labels of the DUT wait for the dialog.
    void Form_Load(const ReportSource& source);
    void loadHeader(const QString& freqStepText);
    // Limit lines and the curve of the chosen step, multiplier 1, 2, 4 or 8.
    void loadChart(const ResultGrid& results, int step, double multiplier);
    void activate();
    QLabel* label(const char* name, const QString& text, int left, int top, int width);
    void printFailed(const QString& reason);
    void notePrinted(const QString& destination);

    OperatorDialogs& m_dialogs;
    MeasType m_measType;
    QString m_customAttnText;
    bool m_activating = false;
    bool m_activated = false;
    std::optional<PresetPage> m_preset;
    std::optional<PrintRow> m_printed;
    std::optional<PageRecord> m_record;
    int m_step = 0;
    // As typed: the grown page's labels hold them broken into lines.
    QString m_dutIdText, m_commentsText;
    QString m_failure;

    QLabel* Label1 = nullptr;
    QLabel* Label_MeasType = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label_FreqStep = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label_Date = nullptr;
    Chart* MSChartPrint = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label_DUT = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label_DUTId = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label_Comments = nullptr;
    QLabel* Label_Verdict = nullptr;
};
