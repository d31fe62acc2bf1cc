#include "report/PrintResultForm.h"

#include "base/OperatorDialogs.h"
#include "chart/Chart.h"
#include "measure/FrequencyStep.h"
#include "measure/GlobalVar.h"
#include "report/CupsJob.h"
#include "report/DefaultPrinter.h"
#include "report/PrintResultTextForm.h"
#include "report/SavedComments.h"

#include <QDate>
#include <QDir>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QTemporaryFile>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>

namespace {

// The page is laid out in twips; the screen has 15 of them to a pixel at 96 dpi.
int twips(int value)
{
    return qRound(value / 15.0);
}

constexpr int LabelHeight = 300;
constexpr int RowGap = 120; // between one row's labels and the next's

// The text on lines no wider than width at font, joined by line breaks: broken at blanks
// where it can, anywhere else, so that nothing of it is cut off. lines: how many.
QString wrapped(const QString& text, const QFont& font, int width, int* lines)
{
    const QString flat = SavedComments::oneLine(text);
    QTextLayout layout(flat, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList parts;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        parts << flat.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    *lines = std::max(1, int(parts.size()));
    return parts.join(u'\n');
}

} // namespace

std::optional<PrintRow> PrintResultForm::Command_Print_Click(const ReportSource& source,
                                                             OperatorDialogs& dialogs,
                                                             QWidget* parent)
{
    PrintResultForm form(source, dialogs, parent);
    form.exec();
    return form.m_printed;
}

std::optional<PrintRow> PrintResultForm::PrintPreset(const ReportSource& source,
                                                     const PresetPage& preset,
                                                     OperatorDialogs& dialogs, QWidget* parent,
                                                     QString* failure)
{
    PrintResultForm form(source, dialogs, parent);
    form.m_preset = preset;
    form.Label_DUT->setText(SavedComments::oneLine(preset.description));
    form.Label_DUTId->setText(SavedComments::oneLine(preset.dutId));
    form.Label_Comments->setText(SavedComments::oneLine(preset.comments));
    if (!preset.dateText.isEmpty())
        form.Label_Date->setText(preset.dateText);
    form.PrintReport();
    if (failure)
        *failure = form.m_failure;
    return form.m_printed;
}

QLabel* PrintResultForm::label(const char* name, const QString& text, int left, int top, int width)
{
    auto* label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(twips(left), twips(top), twips(width), twips(LabelHeight));
    return label;
}

PrintResultForm::PrintResultForm(const ReportSource& source, OperatorDialogs& dialogs,
                                 QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs), m_measType(source.globals.MeasType),
      m_customAttnText(source.customAttnText), m_record(source.record),
      m_step(std::clamp(source.freqStepIndex, 0, FrequencyStep::Count - 1))
{
    setUpPage();
    createHeaderLabels();
    createChartAndFrame();
    createDutLabels();
    fitFont();
    Form_Load(source);
}

void PrintResultForm::setUpPage()
{
    setObjectName(QStringLiteral("PrintResultForm"));
    setWindowTitle(QStringLiteral("Print"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setFixedSize(PageWidth, PageHeight);
    QPalette page = palette();
    page.setColor(QPalette::Window, Qt::white);
    page.setColor(QPalette::WindowText, Qt::black);
    setPalette(page);
    setAutoFillBackground(true);
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    font.setPointSizeF(12);
    setFont(font);
}

void PrintResultForm::createHeaderLabels()
{
    Label1 = label("Label1", QStringLiteral("Measurement Type: "), 120, 420, 2160);
    Label_MeasType = label("Label_MeasType", QString(), 2280, 420, 1365);
    Label5 = label("Label5", QStringLiteral("Frequency Step: "), 3900, 420, 1815);
    Label_FreqStep = label("Label_FreqStep", QString(), 5760, 420, 1065);
    Label7 = label("Label7", QStringLiteral("Date: "), 7080, 420, 645);
    Label_Date = label("Label_Date", QString(), 7740, 420, 2745);
}

void PrintResultForm::createChartAndFrame()
{
    MSChartPrint = new Chart(3, this);
    MSChartPrint->setObjectName(QStringLiteral("MSChartPrint"));
    MSChartPrint->setGeometry(twips(120), twips(900), twips(10455), twips(4335));
    MSChartPrint->setFrameShape(QFrame::NoFrame);

    // A closed frame of 2-pixel lines just outside the chart.
    const int left = twips(115) - 1, right = twips(10590) - 1;
    const int top = twips(895) - 2, bottom = twips(5250) - 1;
    const struct {
        const char* name;
        QRect rect;
    } lines[] = {{"Line1", QRect(left, top, right - left + 2, 2)},
                 {"Line2", QRect(right, top, 2, bottom - top + 2)},
                 {"Line3", QRect(left, bottom, right - left + 2, 2)},
                 {"Line4", QRect(left, top, 2, bottom - top + 2)}};
    for (const auto& line : lines) {
        auto* frame = new QFrame(this);
        frame->setObjectName(QString::fromLatin1(line.name));
        frame->setGeometry(line.rect);
        QPalette black = frame->palette();
        black.setColor(QPalette::Window, Qt::black);
        frame->setPalette(black);
        frame->setAutoFillBackground(true);
    }
}

void PrintResultForm::createDutLabels()
{
    Label3 = label("Label3", QStringLiteral("DUT: "), 180, 5460, 615);
    Label_DUT = label("Label_DUT", QString(), 840, 5460, 3765);
    Label6 = label("Label6", QStringLiteral("The graph shows deviation from nominal attenuation"),
                   4680, 5460, 5835);
    Label6->setAlignment(Qt::AlignCenter);
    Label6->hide();
    Label4 = label("Label4", QStringLiteral("DUT ID: "), 180, 5880, 930);
    Label_DUTId = label("Label_DUTId", QString(), 1140, 5880, 9405);
    Label2 = label("Label2", QStringLiteral("Comments: "), 180, 6300, 1275);
    Label_Comments = label("Label_Comments", QString(), 1500, 6300, 9045);
    Label_Verdict = label("Label_Verdict", QString(), 180, 6720, 10365);
    Label_Verdict->hide();
}

void PrintResultForm::Form_Load(const ReportSource& source)
{
    move(source.position);
    loadHeader(source.freqStepText);
    loadChart(source.results, m_step, source.globals.StepMult[size_t(m_step)]);
}

void PrintResultForm::loadHeader(const QString& freqStepText)
{
    if (kindOf(m_measType) == MeasKind::Attenuation) {
        Label_MeasType->setText(QStringLiteral("Attenuation"));
        Label6->show();
    } else {
        Label_MeasType->setText(QStringLiteral("Return Loss"));
    }
    Label_FreqStep->setText(freqStepText);
    Label_Date->setText(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
}

void PrintResultForm::loadChart(const ResultGrid& results, int step, double multiplier)
{
    MSChartPrint->grid().setMaximum(results.maximum());
    MSChartPrint->grid().setMinimum(results.minimum());
    MSChartPrint->grid().setMajorDivision(results.majorDivision());
    MSChartPrint->grid().setMinorDivision(results.minorDivision());
    // Empty cells stay unwritten so that they are not drawn as points at zero.
    auto copy = [&](int fromColumn, int toColumn, int row) {
        const QString text = results.cell(row, fromColumn);
        if (text.isEmpty())
            return;
        MSChartPrint->grid().setColumn(toColumn);
        MSChartPrint->grid().setRow(row);
        MSChartPrint->grid().setData(text);
    };
    for (int k = 1; k <= 2; ++k) {
        MSChartPrint->grid().setSeriesHidden(k, results.seriesHidden(k));
        for (int r = 1; r <= ResultGrid::Rows; ++r)
            copy(k, k, r);
    }
    // Only the rows a sweep of this step fills; a 12.5 MHz sweep leaves out its first point.
    MSChartPrint->grid().setSeriesHidden(3, false);
    const int first = multiplier == 1 ? 2 : std::max(1, int(multiplier));
    for (int r = first; r <= ResultGrid::Rows; ++r)
        copy(FrequencyStep::at(step).column, 3, r);
}

void PrintResultForm::fitFont()
{
    // The page was laid out for a narrow bitmap font; a wider substitute gets smaller until
    // every caption, the longest header values and the placeholder lines fit their boxes.
    const std::pair<QLabel*, QString> widest[] = {
        {Label1, Label1->text()},
        {Label_MeasType, QStringLiteral("Return Loss")},
        {Label_MeasType, QStringLiteral("Attenuation")},
        {Label5, Label5->text()},
        {Label_FreqStep, QStringLiteral("12.5 MHz")},
        {Label7, Label7->text()},
        {Label_Date, QLocale::system().toString(QDate(2000, 12, 28), QLocale::ShortFormat)},
        {Label3, Label3->text()},
        {Label6, Label6->text()},
        {Label4, Label4->text()},
        {Label_DUTId, QString(PrintResultTextForm::DUTIdPlaceholderLength, u'_')},
        {Label2, Label2->text()},
        {Label_Comments, QString(PrintResultTextForm::CommentsPlaceholderLength, u'_')}};
    QFont fitted = font();
    for (; fitted.pointSizeF() > 6; fitted.setPointSizeF(fitted.pointSizeF() - 0.5)) {
        const QFontMetrics metrics(fitted);
        if (std::all_of(std::begin(widest), std::end(widest), [&](const auto& entry) {
                return metrics.horizontalAdvance(entry.second) <= entry.first->width();
            }))
            break;
    }
    setFont(fitted);
}

void PrintResultForm::growPage()
{
    m_dutIdText = Label_DUTId->text();
    m_commentsText = Label_Comments->text();
    if (!m_record)
        return;
    int top = Label_DUTId->y();
    const auto place = [&](QLabel* caption, QLabel* value, const QString& text) {
        const QFontMetrics metrics(value->font());
        // Room to spare: a printer's metrics may set a line a little wider than the screen's.
        const int width = value->width() - 2 * metrics.averageCharWidth();
        int lines = 0;
        value->setText(wrapped(text, value->font(), width, &lines));
        const int height = std::max(twips(LabelHeight), lines * metrics.lineSpacing());
        if (caption)
            caption->move(caption->x(), top);
        value->setGeometry(value->x(), top, value->width(), height);
        top += height + twips(RowGap);
    };
    place(Label4, Label_DUTId, m_dutIdText);
    place(Label2, Label_Comments, m_commentsText);
    // The chart shows the chosen step's column: the verdict is of the record's own step only.
    const QString verdict = m_record->stepIndex == m_step
                                ? QStringLiteral("Verdict: ") + m_record->verdict.text()
                                : QStringLiteral("No verdict: this page shows the %1 column")
                                      .arg(Label_FreqStep->text());
    const QString line =
        QStringLiteral("%1, record %2, operator %3")
            .arg(verdict, m_record->id.toString(QUuid::WithoutBraces), m_record->operatorLogin);
    // One line where a smaller font makes it one; a long operator name wraps.
    QFont lineFont = font();
    while (lineFont.pointSizeF() > 7 &&
           QFontMetrics(lineFont).horizontalAdvance(line) >
               Label_Verdict->width() - 2 * QFontMetrics(lineFont).averageCharWidth())
        lineFont.setPointSizeF(lineFont.pointSizeF() - 0.5);
    Label_Verdict->setFont(lineFont);
    place(nullptr, Label_Verdict, line);
    Label_Verdict->show();
    // The basic page's margin below its last row.
    setFixedSize(PageWidth, top - twips(RowGap) + twips(180));
}

void PrintResultForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Some window managers never activate a window they did not place; do not wait on it.
    QTimer::singleShot(0, this, &PrintResultForm::activate);
}

void PrintResultForm::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        QTimer::singleShot(0, this, &PrintResultForm::activate);
}

void PrintResultForm::activate()
{
    if (m_activating || m_activated)
        return;
    m_activating = true;
    m_activated = true;
    {
        PrintResultTextForm details(m_measType, m_customAttnText,
                                    {Label_DUT, Label_DUTId, Label_Comments, Label_MeasType},
                                    m_dialogs, this);
        details.exec();
    }
    if (!Label_MeasType->text().isEmpty())
        PrintReport();
    m_activating = false;
    done(QDialog::Accepted);
}

void PrintResultForm::notePrinted(const QString& destination)
{
    PrintRow page;
    page.dutDescription = Label_DUT->text();
    page.dutId = m_dutIdText;
    page.comments = m_commentsText;
    page.dateText = Label_Date->text();
    page.stepText = Label_FreqStep->text();
    page.destination = destination;
    page.printed = QDateTime::currentDateTimeUtc();
    page.layout = m_record ? PageLayout::VerdictLine : PageLayout::Basic;
    for (int row = 1; row <= ResultGrid::Rows; ++row) {
        if (const std::optional<float> value = MSChartPrint->grid().cellValue(row, 3))
            page.cells << MeasuredPoint{row * 12.5, *value};
    }
    m_printed = page;
}

void PrintResultForm::printFailed(const QString& reason)
{
    if (m_preset && !m_preset->askForPrinter) {
        m_failure = reason;
        return;
    }
    m_dialogs.message({MsgKind::Notice, MsgIcon::Exclamation, QStringLiteral("Report Not Printed"),
                       QStringLiteral("The report was not printed.\n\n") + reason, MsgButtons::Ok});
}

void PrintResultForm::PrintReport()
{
    growPage();
    const QString previous = DefaultPrinter::CurrentDefaultPrinter();
    QPrinter printer(QPrinter::HighResolution);
    if (!previous.isEmpty())
        printer.setPrinterName(previous);
    printer.setCopyCount(1);
    if (m_preset && !m_preset->askForPrinter) {
        if (previous.isEmpty()) {
            printFailed(QStringLiteral("There is no default printer."));
            return;
        }
    } else if (!m_dialogs.choosePrinter(printer)) {
        return;
    }

    if (printer.outputFormat() == QPrinter::PdfFormat) {
        // A bench without a printer keeps its records as PDF files; no printer is involved.
        const QString path = printer.outputFileName();
        if (path.isEmpty()) {
            printFailed(QStringLiteral("No file was chosen for the PDF."));
            return;
        }
        if (!writePage(path, printer.pageLayout())) {
            printFailed(QStringLiteral("The file %1 could not be written.")
                            .arg(QDir::toNativeSeparators(path)));
            return;
        }
        notePrinted(path);
    } else {
        const QString chosen = printer.printerName();
        if (chosen.isEmpty()) {
            printFailed(QStringLiteral("No printer was chosen."));
            return;
        }
        QTemporaryFile pdf(QDir::tempPath() + QStringLiteral("/velmora-report-XXXXXX.pdf"));
        if (!pdf.open()) {
            printFailed(QStringLiteral("No temporary file for the page could be made in %1.")
                            .arg(QDir::toNativeSeparators(QDir::tempPath())));
            return;
        }
        pdf.close();
        if (!writePage(pdf.fileName(), printer.pageLayout())) {
            printFailed(QStringLiteral("The page could not be drawn into %1.")
                            .arg(QDir::toNativeSeparators(pdf.fileName())));
            return;
        }
        QString reason;
        if (CupsJob::SubmitPdf(chosen, pdf.fileName(), QStringLiteral("Velmora report"), reason) ==
            0) {
            printFailed(QStringLiteral("The printer %1 did not accept it: %2").arg(chosen, reason));
            return;
        }
        if (chosen != previous && !previous.isEmpty())
            DefaultPrinter::SetDefaultPrinter(previous, m_dialogs);
        notePrinted(chosen);
    }

    if (m_preset && !m_preset->saveComments)
        return;
    QString reason;
    if (SavedComments().save(m_dutIdText, m_commentsText, &reason) ==
        SavedComments::SaveResult::Failed)
        // The page is printed; the operator should know the entry will not be offered again.
        m_dialogs.message({MsgKind::Notice, MsgIcon::Exclamation,
                           QStringLiteral("DUT ID Not Saved"),
                           QStringLiteral("The report was printed, but the DUT ID and comments "
                                          "could not be saved in %1.\n\n%2")
                               .arg(QLatin1String(SavedComments::FileName), reason),
                           MsgButtons::Ok});
}

bool PrintResultForm::writePage(const QString& pdfPath, const QPageLayout& layout)
{
    QPdfWriter writer(pdfPath);
    writer.setPageLayout(layout);
    writer.setResolution(600);
    writer.setCreator(QStringLiteral("Velmora " VELMORA_VERSION));
    writer.setTitle(QStringLiteral("Velmora report"));
    QPainter painter;
    if (!painter.begin(&writer))
        return false;
    const double scale =
        std::min(writer.width() / double(width()), writer.height() / double(height()));
    painter.scale(scale, scale);
    render(&painter, QPoint(), QRegion(), DrawWindowBackground | DrawChildren);
    return painter.end();
}
