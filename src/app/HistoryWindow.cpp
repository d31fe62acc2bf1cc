#include "app/HistoryWindow.h"

#include "app/DatabaseDialog.h"
#include "app/VerdictColour.h"
#include "base/OperatorDialogs.h"
#include "chart/Chart.h"
#include "chart/MarginCharts.h"
#include "history/History.h"
#include "measure/FrequencyStep.h"
#include "measure/GlobalVar.h"
#include "report/PrintResultForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

constexpr int ListLimit = 1000; // newest first; a filter finds older ones

// A shown table whose columns fit their contents measures every row again at each new cell:
// a thousand records took a minute. While it is filled its columns stay put; they fit once, at
// the end.
class ColumnsHeld {
public:
    explicit ColumnsHeld(QTableWidget* table) : m_table(table)
    {
        QHeaderView* header = table->horizontalHeader();
        for (int column = 0; column < header->count(); ++column) {
            m_modes << header->sectionResizeMode(column);
            if (m_modes.last() == QHeaderView::ResizeToContents)
                header->setSectionResizeMode(column, QHeaderView::Interactive);
        }
        table->setUpdatesEnabled(false);
    }
    ~ColumnsHeld()
    {
        for (int column = 0; column < m_modes.size(); ++column)
            m_table->horizontalHeader()->setSectionResizeMode(column, m_modes.at(column));
        m_table->setUpdatesEnabled(true);
    }
    ColumnsHeld(const ColumnsHeld&) = delete;
    ColumnsHeld& operator=(const ColumnsHeld&) = delete;

private:
    QTableWidget* m_table;
    QList<QHeaderView::ResizeMode> m_modes;
};

QString kindText(MeasKind kind)
{
    return kind == MeasKind::ReturnLoss ? QStringLiteral("Return loss")
                                        : QStringLiteral("Attenuation");
}

// The device as the selection's captions name it.
QString deviceText(MeasType type, const QString& device)
{
    if (type == MeasType::CustomAtt)
        return device + QStringLiteral(" dB");
    if (isReference(type))
        return device;
    const QString caption = QString::fromLatin1(measInfo(type).caption);
    return type == MeasType::Cable ? caption + QStringLiteral(" (cable)") : caption;
}

QString localTime(const QDateTime& utc, bool seconds = true)
{
    return utc.isValid()
               ? utc.toLocalTime().toString(seconds ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                                    : QStringLiteral("yyyy-MM-dd HH:mm"))
               : QString();
}

QTableWidget* table(QWidget* parent, const char* name, const QStringList& headers)
{
    auto* t = new QTableWidget(0, int(headers.size()), parent);
    t->setObjectName(QString::fromLatin1(name));
    t->setHorizontalHeaderLabels(headers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setAlternatingRowColors(true);
    t->setWordWrap(false);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setHighlightSections(false);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

QTableWidgetItem* cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setToolTip(text);
    return item;
}

// A file name from a DUT ID that any file system takes.
HistoryExport::Format formatFor(MeasKind kind, bool touchstone)
{
    if (!touchstone)
        return HistoryExport::Format::Csv;
    return kind == MeasKind::ReturnLoss ? HistoryExport::Format::S1p : HistoryExport::Format::S2p;
}

} // namespace

HistoryWindow::HistoryWindow(History& history, OperatorDialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_history(history), m_dialogs(dialogs), m_exportFolder(QDir::homePath())
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("Measurement History"));
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) |
                   Qt::WindowMinMaxButtonsHint);
    // An open history window must not keep the program running once the main window is gone.
    setAttribute(Qt::WA_QuitOnClose, false);

    // Made in reading order, which is the order of the Tab key.
    QWidget* filters = buildFilters();
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    Table_Records =
        table(splitter, "Table_Records",
              {"Ended", "DUT ID", "Kind", "Device", "Verdict", "Margin dB", "Sim.", "Prints"});
    Table_Records->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Table_Records->setAccessibleName(QStringLiteral("Records"));
    Table_Records->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table_Records->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    Table_Records->horizontalHeader()->setStretchLastSection(false);
    splitter->addWidget(Table_Records);
    splitter->addWidget(buildRecordPane());
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({620, 560}); // the list's columns whole, the chart still wide
    splitter->setChildrenCollapsible(false);

    auto* bottom = new QHBoxLayout;
    Label_Status = new QLabel(this);
    Label_Status->setObjectName(QStringLiteral("Label_Status"));
    Label_Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Command_Database = new QPushButton(QStringLiteral("Data&base..."), this);
    Command_Database->setObjectName(QStringLiteral("Command_Database"));
    Command_Export = new QPushButton(QStringLiteral("&Export"), this);
    Command_Export->setObjectName(QStringLiteral("Command_Export"));
    auto* exportMenu = new QMenu(Command_Export);
    exportMenu->addAction(QStringLiteral("As &CSV..."), this, [this] { exportSelected(false); });
    exportMenu->addAction(QStringLiteral("As &Touchstone (s1p, s2p)..."), this,
                          [this] { exportSelected(true); });
    Command_Export->setMenu(exportMenu);
    Command_Export->setToolTip(QStringLiteral("Write the selected records to files"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("Command_Close"));
    for (QPushButton* b : {Command_Database, Command_Export, close})
        b->setAutoDefault(false);
    m_busyNote = new QLabel(QStringLiteral("A run is in progress: re-print, export and the "
                                           "database setting wait until it has ended."),
                            this);
    m_busyNote->setObjectName(QStringLiteral("Label_Busy"));
    m_busyNote->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    m_busyNote->hide();
    bottom->addWidget(Label_Status, 1);
    bottom->addWidget(m_busyNote);
    bottom->addWidget(Command_Database);
    bottom->addWidget(Command_Export);
    bottom->addWidget(close);

    Tab_Views = new QTabWidget(this);
    Tab_Views->setObjectName(QStringLiteral("Tab_Views"));
    Tab_Views->addTab(splitter, QStringLiteral("&Records"));
    Tab_Views->addTab(buildStatsPane(), QStringLiteral("St&atistics"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(filters);
    layout->addWidget(Tab_Views, 1);
    layout->addLayout(bottom);
    resize(1180, 720);

    connect(Table_Records, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previous) {
                if (row != previous)
                    loadCurrent();
            });
    connect(Table_Records, &QTableWidget::itemSelectionChanged, this,
            &HistoryWindow::updateButtons);
    connect(Table_Prints, &QTableWidget::itemSelectionChanged, this, &HistoryWindow::updateButtons);
    connect(Table_Prints, &QTableWidget::cellActivated, this,
            &HistoryWindow::Command_Reprint_Click);
    connect(Command_Reprint, &QPushButton::clicked, this, &HistoryWindow::Command_Reprint_Click);
    connect(Command_Database, &QPushButton::clicked, this, &HistoryWindow::Command_Database_Click);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(Tab_Views, &QTabWidget::currentChanged, this, [this](int tab) {
        // The list shows every run, as it always did; production figures leave the simulated
        // bench's out unless asked.
        const QSignalBlocker block(Check_Simulated);
        Check_Simulated->setChecked(tab == 0);
        query();
    });
    clearRecord(QStringLiteral("Choose a record to see its chart and prints."));
    updateButtons();
}

HistoryWindow::~HistoryWindow() = default;

QWidget* HistoryWindow::buildFilters()
{
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    const auto caption = [&](const QString& text, QWidget* buddy) {
        auto* label = new QLabel(text, box);
        label->setBuddy(buddy);
        row->addWidget(label);
        row->addWidget(buddy);
    };
    Text_DutId = new QLineEdit(box);
    Text_DutId->setObjectName(QStringLiteral("Text_DutId"));
    Text_DutId->setPlaceholderText(QStringLiteral("any"));
    Text_DutId->setClearButtonEnabled(true);
    Text_DutId->setToolTip(
        QStringLiteral("The DUT ID exactly, or a prefix ending in *: the record's own or a "
                       "printed one (\\* for a star)"));
    Text_DutId->setMinimumWidth(Text_DutId->fontMetrics().horizontalAdvance(QString(16, u'X')));
    caption(QStringLiteral("&DUT ID:"), Text_DutId);
    row->addSpacing(12);

    const QDate today = QDate::currentDate();
    const auto dateFilter = [&](const char* name, const QString& text, QCheckBox*& check,
                                QDateEdit*& edit, const QDate& date) {
        check = new QCheckBox(text, box);
        check->setObjectName(QStringLiteral("Check_%1").arg(QLatin1String(name)));
        edit = new QDateEdit(date, box);
        edit->setObjectName(QStringLiteral("Date_%1").arg(QLatin1String(name)));
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setEnabled(false);
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("2000-00-00")) +
                              36);
        edit->setAccessibleName(text.mid(1) + QStringLiteral(" date"));
        row->addWidget(check);
        row->addWidget(edit);
        QDateEdit* e = edit;
        connect(check, &QCheckBox::toggled, this, [this, e](bool on) {
            e->setEnabled(on);
            query();
        });
        connect(edit, &QDateEdit::dateChanged, this, &HistoryWindow::query);
    };
    dateFilter("From", QStringLiteral("&From"), Check_From, Date_From, today.addDays(-30));
    dateFilter("To", QStringLiteral("&To"), Check_To, Date_To, today);
    row->addSpacing(12);

    Combo_Kind = new QComboBox(box);
    Combo_Kind->setObjectName(QStringLiteral("Combo_Kind"));
    Combo_Kind->addItems({"Any", "Attenuation", "Return loss"});
    caption(QStringLiteral("&Kind:"), Combo_Kind);
    Combo_Device = new QComboBox(box);
    Combo_Device->setObjectName(QStringLiteral("Combo_Device"));
    Combo_Device->setEditable(true);
    Combo_Device->setInsertPolicy(QComboBox::NoInsert);
    Combo_Device->addItems({"Any", "X1", "X2", "X2P5", "X5", "X10", "TERM", "PAD"});
    Combo_Device->setToolTip(QStringLiteral("A device, or a custom attenuation in dB"));
    caption(QStringLiteral("D&evice:"), Combo_Device);
    Combo_Verdict = new QComboBox(box);
    Combo_Verdict->setObjectName(QStringLiteral("Combo_Verdict"));
    Combo_Verdict->addItems({"Any", "PASS", "FAIL", "NONE"});
    caption(QStringLiteral("&Verdict:"), Combo_Verdict);
    for (QComboBox* combo : {Combo_Kind, Combo_Device, Combo_Verdict})
        connect(combo, &QComboBox::currentIndexChanged, this, &HistoryWindow::query);
    Check_Simulated = new QCheckBox(QStringLiteral("Si&mulated runs"), box);
    Check_Simulated->setObjectName(QStringLiteral("Check_Simulated"));
    Check_Simulated->setChecked(true);
    Check_Simulated->setToolTip(QStringLiteral("Include the records of the simulated bench"));
    row->addWidget(Check_Simulated);
    connect(Check_Simulated, &QCheckBox::toggled, this, &HistoryWindow::query);

    Command_Search = new QPushButton(QStringLiteral("&Search"), box);
    Command_Search->setObjectName(QStringLiteral("Command_Search"));
    Command_Search->setDefault(true); // Enter in the DUT ID searches
    row->addStretch(1);
    row->addWidget(Command_Search);
    connect(Command_Search, &QPushButton::clicked, this, &HistoryWindow::query);
    return box;
}

QWidget* HistoryWindow::buildRecordPane()
{
    auto* pane = new QWidget(this);
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(6, 0, 0, 0);
    Label_Record = new QLabel(pane);
    Label_Record->setObjectName(QStringLiteral("Label_Record"));
    Label_Record->setWordWrap(true);
    Label_Record->setTextFormat(Qt::RichText);
    Label_Record->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label_Record->setMinimumHeight(Label_Record->fontMetrics().lineSpacing() * 3);
    column->addWidget(Label_Record);
    m_chartSlot = new QVBoxLayout;
    column->addLayout(m_chartSlot, 3);

    auto* printsCaption = new QLabel(QStringLiteral("P&rints of this record"), pane);
    column->addWidget(printsCaption);
    Table_Prints = table(pane, "Table_Prints", {"Printed", "DUT ID", "Comments", "Step", "To"});
    Table_Prints->setSelectionMode(QAbstractItemView::SingleSelection);
    Table_Prints->setAccessibleName(QStringLiteral("Prints"));
    Table_Prints->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The free texts share what is left, elided; the whole text is in the tool tip.
    for (int column : {2, 4})
        Table_Prints->horizontalHeader()->setSectionResizeMode(column, QHeaderView::Stretch);
    printsCaption->setBuddy(Table_Prints);
    column->addWidget(Table_Prints, 1);

    auto* buttons = new QHBoxLayout;
    Command_Reprint = new QPushButton(QStringLiteral("Re-&print..."), pane);
    Command_Reprint->setObjectName(QStringLiteral("Command_Reprint"));
    Command_Reprint->setAutoDefault(false);
    Command_Reprint->setToolTip(
        QStringLiteral("Print the chosen page again, exactly as it was printed"));
    buttons->addStretch(1);
    buttons->addWidget(Command_Reprint);
    column->addLayout(buttons);
    return pane;
}

void HistoryWindow::showWindow()
{
    show();
    raise();
    activateWindow();
    query();
}

void HistoryWindow::refresh()
{
    if (isVisible())
        query();
}

void HistoryWindow::setRunBusy(bool busy)
{
    m_runBusy = busy;
    updateButtons();
}

HistoryFilter HistoryWindow::currentFilter() const
{
    HistoryFilter filter;
    filter.setDutPattern(Text_DutId->text().trimmed());
    // Whole local days, both ends included.
    if (Check_From->isChecked())
        filter.from = QDateTime(Date_From->date(), QTime(0, 0)).toUTC();
    if (Check_To->isChecked())
        filter.to = QDateTime(Date_To->date(), QTime(23, 59, 59, 999)).toUTC();
    if (Combo_Kind->currentIndex() > 0)
        filter.kind =
            Combo_Kind->currentIndex() == 1 ? MeasKind::Attenuation : MeasKind::ReturnLoss;
    const Verdict::Outcome outcomes[] = {Verdict::Outcome::Pass, Verdict::Outcome::Fail,
                                         Verdict::Outcome::None};
    if (Combo_Verdict->currentIndex() > 0)
        filter.outcome = outcomes[Combo_Verdict->currentIndex() - 1];
    const QString device = Combo_Device->currentText().trimmed();
    if (!device.isEmpty() && device.compare(QLatin1String("Any"), Qt::CaseInsensitive) != 0) {
        // A word that is no device finds nothing rather than everything.
        filter.device = deviceOf(device, filter.kind);
        if (filter.device.isEmpty())
            filter.device = QStringLiteral("?");
    }
    filter.includeSimulated = Check_Simulated->isChecked();
    return filter;
}

void HistoryWindow::query()
{
    // The list is read again when its tab is shown: the figures need the worker to themselves.
    if (Tab_Views && Tab_Views->currentIndex() == 1) {
        queryStats();
        return;
    }
    HistoryFilter filter = currentFilter();
    filter.limit = ListLimit;
    const int serial = ++m_querySerial;
    m_history.query(filter, this,
                    [this, serial](const QVector<RecordSummary>& records, const QString& note) {
                        if (serial == m_querySerial)
                            showList(records, note);
                    });
}

void HistoryWindow::showList(const QVector<RecordSummary>& records, const QString& note)
{
    const QUuid current = m_record.id;
    QSet<QUuid> selected;
    for (const QUuid& id : selectedIds())
        selected.insert(id);
    m_list = records;

    const QSignalBlocker block(Table_Records);
    const ColumnsHeld held(Table_Records);
    Table_Records->clearContents();
    Table_Records->setRowCount(int(records.size()));
    int currentRow = -1;
    for (int row = 0; row < records.size(); ++row) {
        const RecordSummary& r = records.at(row);
        const QString margin = r.verdict.outcome == Verdict::Outcome::None
                                   ? QString()
                                   : Verdict::marginText(r.verdict.marginDb);
        const QStringList texts{localTime(r.ended, false),
                                r.dutId,
                                kindWord(r.kind()),
                                deviceText(r.type, r.device),
                                r.verdict.word(),
                                margin,
                                r.simulated ? QStringLiteral("yes") : QString(),
                                QString::number(r.prints)};
        for (int column = 0; column < texts.size(); ++column) {
            QTableWidgetItem* item = cell(texts.at(column));
            if (column >= 5)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (column == 4) {
                item->setForeground(verdictColour(r.verdict.outcome));
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            Table_Records->setItem(row, column, item);
        }
        if (r.id == current)
            currentRow = row;
    }
    for (int row = 0; row < records.size(); ++row) {
        if (selected.contains(records.at(row).id))
            Table_Records->selectRow(row);
    }
    if (currentRow >= 0)
        Table_Records->setCurrentCell(currentRow, 0,
                                      selected.contains(current)
                                          ? QItemSelectionModel::Current
                                          : QItemSelectionModel::ClearAndSelect |
                                                QItemSelectionModel::Rows);

    QString status = records.isEmpty()     ? QStringLiteral("No records")
                     : records.size() == 1 ? QStringLiteral("1 record")
                                           : QStringLiteral("%1 records").arg(records.size());
    if (records.size() >= ListLimit)
        status += QStringLiteral(" (the newest; narrow the filter for older ones)");
    status += QStringLiteral(" in %1.").arg(m_history.target().displayName());
    if (!note.isEmpty())
        status += u' ' + note;
    Label_Status->setText(status);
    updateButtons();
    if (currentRow >= 0)
        loadCurrent(); // its prints may have grown
    else if (!current.isNull())
        clearRecord(QStringLiteral("Choose a record to see its chart and prints."));
    emit listShown();
}

void HistoryWindow::loadCurrent()
{
    const int row = Table_Records->currentRow();
    if (row < 0 || row >= m_list.size())
        return;
    const int serial = ++m_loadSerial;
    m_history.load(m_list.at(row).id, this,
                   [this, serial](const HistoryRecord& record, const QString& error) {
                       if (serial == m_loadSerial)
                           showRecord(record, error);
                   });
}

void HistoryWindow::clearRecord(const QString& text)
{
    m_record = HistoryRecord();
    Label_Record->setText(text.toHtmlEscaped());
    Table_Prints->setRowCount(0);
    fillChart(m_record);
    updateButtons();
}

void HistoryWindow::showRecord(const HistoryRecord& record, const QString& error)
{
    if (record.id.isNull()) {
        clearRecord(QStringLiteral("The record could not be read: ") + error);
        emit recordShown();
        return;
    }
    const int keptPrint = record.id == m_record.id ? Table_Prints->currentRow() : -1;
    m_record = record;
    const MeasurementResult& r = record.result;
    const QString device = deviceText(r.type, deviceWord(r.type, r.nominalDb));
    QString bench = QStringLiteral("Analyser %1").arg(record.context.bench.analyserModel);
    if (record.simulated())
        bench += QStringLiteral(" (simulated bench)");
    QStringList facts{bench, QStringLiteral("operator ") + record.context.operatorLogin};
    if (!record.dutId().isEmpty())
        facts << QStringLiteral("DUT ID ") + record.dutId();
    if (r.customLimits)
        facts << QStringLiteral("custom limits");
    Label_Record->setText(QStringLiteral("<b>%1 &middot; %2 &middot; %3 step</b> &nbsp; "
                                         "<b style=\"color:%4\">%5</b><br>Ended %6 &middot; %7")
                              .arg(kindText(r.kind()), device.toHtmlEscaped(),
                                   QLatin1String(FrequencyStep::at(r.stepIndex).text),
                                   verdictColour(record.verdict.outcome).name(),
                                   record.verdict.text(), localTime(r.ended),
                                   facts.join(QStringLiteral(" · ")).toHtmlEscaped()));
    fillChart(record);

    const QSignalBlocker block(Table_Prints);
    Table_Prints->setRowCount(int(record.prints.size()));
    for (int row = 0; row < record.prints.size(); ++row) {
        const PrintRow& p = record.prints.at(row);
        const QStringList texts{localTime(p.printed, false), p.dutId, p.comments, p.stepText,
                                p.destination};
        // What else the page showed, for a look before printing it again.
        const QString page = QStringLiteral("DUT: %1\nDate on the page: %2\nPrinted %3")
                                 .arg(p.dutDescription, p.dateText, localTime(p.printed));
        for (int column = 0; column < texts.size(); ++column) {
            QTableWidgetItem* item = cell(texts.at(column));
            item->setToolTip(texts.at(column) + QStringLiteral("\n\n") + page);
            Table_Prints->setItem(row, column, item);
        }
    }
    if (keptPrint >= 0 && keptPrint < record.prints.size())
        Table_Prints->selectRow(keptPrint);
    updateButtons();
    emit recordShown();
}

void HistoryWindow::fillChart(const HistoryRecord& record)
{
    // A grid keeps its cells for good: each record gets a chart of its own.
    auto* chart = new Chart(6, this);
    chart->setObjectName(QStringLiteral("MSChartHistory"));
    chart->setAccessibleName(QStringLiteral("Record chart"));
    chart->setMinimumSize(360, 220);
    const MeasurementResult& r = record.result;
    ResultGrid& grid = chart->grid();
    grid.setScaleFor(r.kind());
    for (int series = 1; series <= 6; ++series)
        grid.setSeriesHidden(series, true);
    if (!record.id.isNull()) {
        grid.drawLimits(r);
        const int column = FrequencyStep::at(r.stepIndex).column;
        grid.drawCurve(column, r.points);
        grid.setSeriesHidden(column, false);
    }
    if (m_chart) {
        // The layout hands back the old chart's item, which is ours to delete.
        delete m_chartSlot->replaceWidget(m_chart, chart);
        delete m_chart;
    } else {
        m_chartSlot->addWidget(chart);
    }
    m_chart = chart;
}

QVector<QUuid> HistoryWindow::selectedIds() const
{
    QVector<QUuid> ids;
    for (int row = 0; row < m_list.size(); ++row) {
        if (Table_Records->selectionModel()->isRowSelected(row, {}))
            ids << m_list.at(row).id;
    }
    return ids;
}

void HistoryWindow::updateButtons()
{
    const bool free = !m_runBusy && !m_working;
    const int print = Table_Prints->currentRow();
    Command_Reprint->setEnabled(free && !m_record.id.isNull() && print >= 0 &&
                                print < m_record.prints.size() &&
                                Table_Prints->selectionModel()->hasSelection());
    Command_Export->setEnabled(free && !selectedIds().isEmpty());
    Command_Database->setEnabled(free);
    m_busyNote->setVisible(m_runBusy);
}

void HistoryWindow::Command_Reprint_Click()
{
    const int index = Table_Prints->currentRow();
    if (m_runBusy || m_working || m_record.id.isNull() || index < 0 ||
        index >= m_record.prints.size())
        return;
    const QUuid recordId = m_record.id;
    const MeasurementResult result = m_record.result;
    const PrintRow row = m_record.prints.at(index);

    // The page from the row's own texts and cells; only the axis and the limit lines come
    // from the record, as the main window had them for its sweep.
    int step = FrequencyStep::indexOfText(row.stepText);
    if (step < 0)
        step = std::clamp(result.stepIndex, 0, FrequencyStep::Count - 1);
    ResultGrid page(6);
    page.setScaleFor(result.kind());
    page.drawLimits(result);
    page.drawCurve(FrequencyStep::at(step).column, row.cells);
    GlobalVar globals;
    globals.MeasType = result.type;
    for (int i = 0; i < FrequencyStep::Count; ++i)
        globals.StepMult[size_t(i)] = FrequencyStep::at(i).multiplier;
    // A page printed before the verdict line was is printed again as it was.
    std::optional<PageRecord> record;
    if (row.layout == PageLayout::VerdictLine)
        record = PageRecord{recordId, m_record.verdict, m_record.context.operatorLogin,
                            result.stepIndex};
    const ReportSource source{page,  step,  row.stepText, globals, result.customAttnText,
                              pos(), record};
    const PresetPage preset{row.dutDescription,     row.dutId,
                            row.comments,           row.dateText,
                            /*askForPrinter*/ true, /*saveComments*/ false};

    m_working = true;
    updateButtons();
    QString failure;
    const std::optional<PrintRow> printed =
        PrintResultForm::PrintPreset(source, preset, m_dialogs, this, &failure);
    m_working = false;
    if (printed) {
        // A re-print is a print of its own: the record gains a row, the old one stays.
        m_history.appendPrint(recordId, *printed);
        Label_Status->setText(QStringLiteral("Printed again to %1.").arg(printed->destination));
        query();
    } else if (!failure.isEmpty()) {
        Label_Status->setText(QStringLiteral("Not printed: ") + failure);
    }
    updateButtons();
}

void HistoryWindow::exportSelected(bool touchstone)
{
    if (m_runBusy || m_working)
        return;
    QVector<RecordSummary> chosen;
    const QVector<QUuid> ids = selectedIds();
    for (const RecordSummary& summary : std::as_const(m_list)) {
        if (ids.contains(summary.id))
            chosen << summary;
    }
    if (chosen.isEmpty())
        return;

    // Where to first, while the list is what the operator sees; the records are read after.
    QStringList paths;
    if (chosen.size() == 1) {
        const HistoryExport::Format format = formatFor(chosen.first().kind(), touchstone);
        const QString suffix = HistoryExport::formatName(format);
        const QString filter = touchstone ? QStringLiteral("Touchstone (*.%1)").arg(suffix)
                                          : QStringLiteral("CSV (*.csv)");
        QStringList taken;
        const RecordSummary& one = chosen.first();
        QString path =
            QFileDialog::getSaveFileName(this, QStringLiteral("Export Record"),
                                         HistoryExport::exportPath(one.dutId, one.kind(), one.ended,
                                                                   suffix, m_exportFolder, taken),
                                         filter);
        if (path.isEmpty())
            return;
        if (QFileInfo(path).suffix().isEmpty())
            path += u'.' + suffix;
        paths << path;
        m_exportFolder = QFileInfo(path).absolutePath();
    } else {
        const QString folder = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Export %1 Records to Folder").arg(chosen.size()), m_exportFolder);
        if (folder.isEmpty())
            return;
        m_exportFolder = folder;
        // Nothing is overwritten: a name taken gets a number.
        for (const RecordSummary& summary : std::as_const(chosen))
            HistoryExport::exportPath(
                summary.dutId, summary.kind(), summary.ended,
                HistoryExport::formatName(formatFor(summary.kind(), touchstone)), folder, paths);
    }

    m_working = true;
    updateButtons();
    Label_Status->setText(QStringLiteral("Reading the records..."));
    struct Batch {
        QVector<HistoryRecord> records;
        QStringList errors;
        qsizetype remaining = 0;
    };
    auto batch = std::make_shared<Batch>();
    batch->remaining = chosen.size();
    for (const RecordSummary& summary : std::as_const(chosen)) {
        m_history.load(
            summary.id, this,
            [this, batch, paths, touchstone](const HistoryRecord& record, const QString& error) {
                if (record.id.isNull())
                    batch->errors << error;
                else
                    batch->records << record;
                if (--batch->remaining > 0)
                    return;
                m_working = false;
                if (!batch->errors.isEmpty()) {
                    Label_Status->clear();
                    m_dialogs.message({MsgKind::Notice, MsgIcon::Exclamation,
                                       QStringLiteral("Export Records"),
                                       QStringLiteral("Nothing was written: a record "
                                                      "could not be read.\n\n") +
                                           batch->errors.first(),
                                       MsgButtons::Ok});
                } else {
                    writeExports(batch->records, touchstone, paths);
                }
                updateButtons();
            });
    }
}

void HistoryWindow::writeExports(const QVector<HistoryRecord>& records, bool touchstone,
                                 const QStringList& paths)
{
    QStringList failed;
    QString firstFailed; // a name only, and not too long for the screen
    for (int i = 0; i < records.size() && i < paths.size(); ++i) {
        const HistoryRecord& record = records.at(i);
        const QString text =
            HistoryExport::write(record, formatFor(record.result.kind(), touchstone));
        // Written whole or not at all: a half file would pass for a short sweep.
        QSaveFile file(paths.at(i));
        if (file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit())
            continue;
        if (firstFailed.isEmpty())
            firstFailed = fontMetrics().elidedText(
                QFileInfo(paths.at(i)).fileName() + QStringLiteral(": ") + file.errorString(),
                Qt::ElideMiddle, 60 * fontMetrics().averageCharWidth());
        failed << QDir::toNativeSeparators(paths.at(i)) + QStringLiteral(": ") + file.errorString();
    }
    if (!failed.isEmpty()) {
        Label_Status->clear();
        OperatorMessage message{MsgKind::Notice, MsgIcon::Exclamation,
                                QStringLiteral("Export Records"),
                                QStringLiteral("%1 of %2 files could not be written.\n\n%3")
                                    .arg(failed.size())
                                    .arg(records.size())
                                    .arg(firstFailed),
                                MsgButtons::Ok};
        message.details = failed.join(u'\n');
        m_dialogs.message(message);
        return;
    }
    Label_Status->setText(
        records.size() == 1
            ? QStringLiteral("Written to %1.").arg(QDir::toNativeSeparators(paths.first()))
            : QStringLiteral("%1 files written to %2.")
                  .arg(records.size())
                  .arg(QDir::toNativeSeparators(m_exportFolder)));
}

void HistoryWindow::Command_Database_Click()
{
    if (m_runBusy || m_working)
        return;
    DatabaseDialog dialog(m_history.target(), this);
    if (dialog.exec() == QDialog::Accepted && dialog.changed())
        Label_Status->setText(QStringLiteral("The database setting is saved; it takes effect "
                                             "when Velmora is next started."));
}

QWidget* HistoryWindow::buildStatsPane()
{
    auto* pane = new QWidget(this);
    auto* column = new QVBoxLayout(pane);
    QStringList headers;
    for (const char* caption : {"Kind", "Device", "Limit dB", "Limit", "Records", "DUTs", "Pass",
                                "Fail", "None", "Yield %", "First-pass %", "Final %", "Median dB",
                                "Worst dB", "Worst MHz", "First", "Last"})
        headers << QLatin1String(caption);
    Table_Stats = table(pane, "Table_Stats", headers);
    Table_Stats->setSelectionMode(QAbstractItemView::SingleSelection);
    Table_Stats->setAccessibleName(QStringLiteral("Statistics by kind, device and limit"));
    Table_Stats->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The --stats words, for whoever knows the command line's columns.
    const QStringList words = HistoryStats::header();
    for (int c = 0; c < Table_Stats->columnCount(); ++c)
        Table_Stats->horizontalHeaderItem(c)->setToolTip(words.value(c));
    column->addWidget(Table_Stats, 2);

    auto* row = new QHBoxLayout;
    Label_Stats = new QLabel(pane);
    Label_Stats->setObjectName(QStringLiteral("Label_Stats"));
    Label_Stats->setWordWrap(true);
    Label_Stats->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Command_ExportStats = new QPushButton(QStringLiteral("Export &CSV..."), pane);
    Command_ExportStats->setObjectName(QStringLiteral("Command_ExportStats"));
    Command_ExportStats->setAutoDefault(false);
    Command_ExportStats->setToolTip(QStringLiteral("Write the table to a CSV file"));
    row->addWidget(Label_Stats, 1);
    row->addWidget(Command_ExportStats);
    column->addLayout(row);

    auto* charts = new QSplitter(Qt::Horizontal, pane);
    m_histogram = new MarginHistogram(charts);
    m_histogram->setObjectName(QStringLiteral("Chart_Histogram"));
    m_histogram->setAccessibleName(QStringLiteral("Histogram of worst margins"));
    m_histogram->setFocusPolicy(Qt::TabFocus);
    m_trend = new MarginTrend(charts);
    m_trend->setObjectName(QStringLiteral("Chart_Trend"));
    m_trend->setAccessibleName(QStringLiteral("Worst margin against sweep end"));
    m_trend->setFocusPolicy(Qt::TabFocus);
    for (QWidget* chart : {static_cast<QWidget*>(m_histogram), static_cast<QWidget*>(m_trend)})
        chart->setMinimumSize(320, 220);
    charts->setChildrenCollapsible(false);
    column->addWidget(charts, 3);

    connect(Table_Stats, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previous) {
                if (row != previous)
                    loadGroup();
            });
    connect(Command_ExportStats, &QPushButton::clicked, this, &HistoryWindow::exportStats);
    Command_ExportStats->setEnabled(false);
    return pane;
}

void HistoryWindow::queryStats()
{
    const HistoryFilter filter = currentFilter();
    const int serial = ++m_statsSerial;
    Label_Stats->setText(QStringLiteral("Counting..."));
    m_history.stats(
        filter, this,
        [this, serial, filter](const QVector<HistoryStats::Group>& groups, const QString& error) {
            if (serial != m_statsSerial)
                return;
            m_statsFilter = filter;
            showStats(groups, error);
        });
}

void HistoryWindow::showStats(const QVector<HistoryStats::Group>& groups, const QString& error)
{
    const int kept = Table_Stats->currentRow();
    const HistoryStats::Group chosen =
        kept >= 0 && kept < m_groups.size() ? m_groups.at(kept) : HistoryStats::Group();
    m_groups = error.isEmpty() ? groups : QVector<HistoryStats::Group>();
    const QSignalBlocker block(Table_Stats);
    Table_Stats->clearContents();
    Table_Stats->setRowCount(int(m_groups.size()));
    int current = m_groups.isEmpty() ? -1 : 0;
    for (int r = 0; r < m_groups.size(); ++r) {
        const HistoryStats::Group& g = m_groups.at(r);
        QStringList texts = HistoryStats::fields(g);
        texts[15] = localTime(g.first, false);
        texts[16] = localTime(g.last, false);
        for (int c = 0; c < texts.size(); ++c) {
            QTableWidgetItem* item = cell(texts.at(c));
            if (c >= 4 && c <= 14)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            // What a screen reader says for the cell: the column with the number.
            item->setData(Qt::AccessibleTextRole,
                          Table_Stats->horizontalHeaderItem(c)->text() + u' ' +
                              (texts.at(c).isEmpty() ? QStringLiteral("none") : texts.at(c)));
            Table_Stats->setItem(r, c, item);
        }
        if (g.sameGroup(chosen))
            current = r;
    }
    Command_ExportStats->setEnabled(error.isEmpty());
    if (!error.isEmpty()) {
        Label_Stats->setText(error);
        m_histogram->setBins(0.05, {});
        m_trend->setPoints({}, false);
        m_histogram->setAccessibleDescription(QString());
        m_trend->setAccessibleDescription(QString());
    } else if (m_groups.isEmpty()) {
        Label_Stats->setText(QStringLiteral("No records in %1 for this filter.")
                                 .arg(m_history.target().displayName()));
        m_histogram->setBins(0.05, {});
        m_trend->setPoints({}, false);
    }
    if (current >= 0)
        Table_Stats->setCurrentCell(current, 0);
    emit statsShown();
    if (current >= 0)
        loadGroup();
}

void HistoryWindow::loadGroup()
{
    const int row = Table_Stats->currentRow();
    if (row < 0 || row >= m_groups.size())
        return;
    const HistoryStats::Group group = m_groups.at(row);
    const int serial = ++m_groupSerial;
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    Label_Stats->setText(group.name());
    m_history.groupFigures(m_statsFilter, group, offset, this,
                           [this, serial](const HistoryStats::Histogram& histogram,
                                          const HistoryStats::Trend& trend, const QString& error) {
                               if (serial == m_groupSerial)
                                   showGroup(histogram, trend, error);
                           });
}

void HistoryWindow::showGroup(const HistoryStats::Histogram& histogram,
                              const HistoryStats::Trend& trend, const QString& error)
{
    const int row = Table_Stats->currentRow();
    if (!error.isEmpty() || row < 0 || row >= m_groups.size()) {
        Label_Stats->setText(error);
        m_histogram->setBins(0.05, {});
        m_trend->setPoints({}, false);
        emit groupShown();
        return;
    }
    const HistoryStats::Group& group = m_groups.at(row);
    QVector<MarginHistogram::Bin> bins;
    QStringList binTexts;
    for (const auto& [index, count] : histogram.bins) {
        bins.append({index, count});
        binTexts << QStringLiteral("%1 to %2 dB: %3")
                        .arg(HistoryStats::rounded(index * histogram.width, 2),
                             HistoryStats::rounded((index + 1) * histogram.width, 2))
                        .arg(count);
    }
    m_histogram->setBins(histogram.width, bins);
    m_histogram->setAccessibleDescription(
        QStringLiteral("%1, records by worst margin: %2.").arg(group.name(), binTexts.join("; ")));

    QVector<MarginTrend::Point> points;
    for (const HistoryStats::Trend::Point& p : trend.points)
        points.append({p.at, p.low, p.median, p.high});
    m_trend->setPoints(points, trend.daily);
    const QString worst = group.worst ? HistoryStats::rounded(*group.worst, 2) : QString();
    m_trend->setAccessibleDescription(
        QStringLiteral("%1: %2 %3 from %4 to %5; worst margin %6 dB, median %7 dB.")
            .arg(group.name())
            .arg(points.size())
            .arg(trend.daily ? QStringLiteral("days") : QStringLiteral("records"),
                 localTime(group.first, false), localTime(group.last, false), worst,
                 group.median ? HistoryStats::rounded(*group.median, 2) : QString()));
    Label_Stats->setText(
        QStringLiteral("%1: histogram of %2 worst margins, bins of %3 dB; trend %4.")
            .arg(group.name())
            .arg(group.pass + group.fail)
            .arg(histogram.width)
            .arg(trend.daily ? QStringLiteral("each day's lowest, median and highest")
                             : QStringLiteral("each record")));
    emit groupShown();
}

void HistoryWindow::exportStats()
{
    if (m_groups.isEmpty() && Table_Stats->rowCount() == 0 && !Command_ExportStats->isEnabled())
        return;
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export Statistics"),
        QDir(m_exportFolder).filePath(QStringLiteral("statistics.csv")),
        QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    m_exportFolder = QFileInfo(path).absolutePath();
    const HistoryFilter& f = m_statsFilter;
    const auto day = [](const QDateTime& t) {
        return t.isValid() ? t.toLocalTime().date().toString(Qt::ISODate) : QString();
    };
    const QList<std::pair<QString, QString>> metadata{
        {"database", m_history.target().displayName()},
        {"dut_id", f.dutId + (f.dutPrefix ? QStringLiteral("*") : QString())},
        {"from", day(f.from)},
        {"to", day(f.to)},
        {"kind", f.kind ? kindWord(*f.kind) : QString()},
        {"device", f.device},
        {"verdict", f.outcome ? Verdict{*f.outcome, 0, 0}.word() : QString()},
        {"simulated_runs", f.includeSimulated ? QStringLiteral("yes") : QStringLiteral("no")},
    };
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) &&
        file.write(HistoryStats::csv(m_groups, metadata).toUtf8()) >= 0 && file.commit()) {
        Label_Status->setText(QStringLiteral("Written to %1.").arg(QDir::toNativeSeparators(path)));
        return;
    }
    m_dialogs.message({MsgKind::Notice, MsgIcon::Exclamation, QStringLiteral("Export Statistics"),
                       QStringLiteral("The file could not be written.\n\n%1: %2")
                           .arg(QFileInfo(path).fileName(), file.errorString()),
                       MsgButtons::Ok});
}
