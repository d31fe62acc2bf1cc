#pragma once

#include "history/HistoryExport.h"
#include "history/HistoryRecord.h"
#include "history/HistoryStats.h"

#include <QDialog>
#include <QUuid>

class Chart;
class History;
class MarginHistogram;
class MarginTrend;
class OperatorDialogs;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QVBoxLayout;

// The measurement history beside the main window: records filtered by DUT, dates, kind and
// verdict; one record's chart and prints; a print made again exactly as it was; records
// written out as CSV or Touchstone. Everything it reads arrives asynchronously, so the window
// never waits for the database.
class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    HistoryWindow(History& history, OperatorDialogs& dialogs, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // Shows the window in front and reads the list again.
    void showWindow();
    // While a run is in progress nothing that opens a modal dialog may start: it would nest
    // the event loop while the run's messages come and go.
    void setRunBusy(bool busy);
    // Reads the list again, keeping the selection, when the window is shown.
    void refresh();

    // What a test reads and drives, as an operator would.
    QLineEdit* Text_DutId = nullptr;
    QCheckBox* Check_From = nullptr;
    QDateEdit* Date_From = nullptr;
    QCheckBox* Check_To = nullptr;
    QDateEdit* Date_To = nullptr;
    QComboBox* Combo_Kind = nullptr;
    QComboBox* Combo_Device = nullptr;
    QComboBox* Combo_Verdict = nullptr;
    QCheckBox* Check_Simulated = nullptr;
    QPushButton* Command_Search = nullptr;
    QTableWidget* Table_Records = nullptr;
    QLabel* Label_Record = nullptr;
    QTableWidget* Table_Prints = nullptr;
    QPushButton* Command_Reprint = nullptr;
    QPushButton* Command_Export = nullptr;
    QPushButton* Command_Database = nullptr;
    QLabel* Label_Status = nullptr;
    QTabWidget* Tab_Views = nullptr; // the records, the statistics
    QTableWidget* Table_Stats = nullptr;
    QLabel* Label_Stats = nullptr; // why there are no figures, or which group the charts show
    QPushButton* Command_ExportStats = nullptr;
    MarginHistogram* histogram() const { return m_histogram; }
    MarginTrend* trend() const { return m_trend; }
    Chart* chart() const { return m_chart; }
    // The record the chart and the prints show; null id before one has arrived.
    const HistoryRecord& shownRecord() const { return m_record; }

signals:
    // After every answer to a list or a record, for whoever waits on it.
    void listShown();
    void recordShown();
    void statsShown();
    void groupShown();

private:
    QWidget* buildFilters();
    QWidget* buildRecordPane();
    QWidget* buildStatsPane();
    HistoryFilter currentFilter() const;
    void query();
    void queryStats();
    void showStats(const QVector<HistoryStats::Group>& groups, const QString& error);
    void loadGroup();
    void showGroup(const HistoryStats::Histogram& histogram, const HistoryStats::Trend& trend,
                   const QString& error);
    void exportStats();
    void showList(const QVector<RecordSummary>& records, const QString& note);
    void loadCurrent();
    void showRecord(const HistoryRecord& record, const QString& error);
    void clearRecord(const QString& text);
    void fillChart(const HistoryRecord& record);
    void updateButtons();
    void Command_Reprint_Click();
    void exportSelected(bool touchstone);
    void writeExports(const QVector<HistoryRecord>& records, bool touchstone,
                      const QStringList& paths);
    void Command_Database_Click();
    QVector<QUuid> selectedIds() const;

    History& m_history;
    OperatorDialogs& m_dialogs;
    Chart* m_chart = nullptr;
    QVBoxLayout* m_chartSlot = nullptr;
    QLabel* m_busyNote = nullptr;
    HistoryRecord m_record;
    QVector<RecordSummary> m_list;
    MarginHistogram* m_histogram = nullptr;
    MarginTrend* m_trend = nullptr;
    QVector<HistoryStats::Group> m_groups;
    HistoryFilter m_statsFilter; // the filter m_groups were counted for
    int m_statsSerial = 0;
    int m_groupSerial = 0;
    int m_querySerial = 0; // an answer to an older question is dropped
    int m_loadSerial = 0;
    bool m_runBusy = false;
    bool m_working = false; // a re-print or an export is under way
    QString m_exportFolder;
};
