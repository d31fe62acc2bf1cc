#include "BenchFixture.h"
#include "PrintBench.h"
#include "app/BenchConnection.h"
#include "app/HistoryWindow.h"
#include "chart/Chart.h"
#include "history/History.h"
#include "report/SavedComments.h"
#include "session/SweepRecorder.h"

#include <QPrinter>
#include <QtTest>
#include <QtWidgets>

namespace {

std::unique_ptr<PrivateCups> cups;

// At a point of the widget.
void clickAt(QWidget* widget, QPoint at)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
}

// The whole page as text, once the queue has written it; the file is taken away for the next.
QString takePrinted(const QString& pdf)
{
    if (!QTest::qWaitFor([&] { return printedPage(pdf) != "no page"; }, 120000))
        return "no page; the scheduler's log:\n" + cups->log();
    QProcess text;
    text.start("pdftotext", {"-layout", pdf, "-"});
    text.waitForFinished(60000);
    QFile::remove(pdf);
    return QString::fromUtf8(text.readAllStandardOutput());
}

} // namespace

class TestHistoryWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir; // the working directory, where PrintComments.dat lies
    QString m_noCups;

public:
    // libcups reads its server and home once, at its first call, which Qt may make early.
    static void initMain() { cups = std::make_unique<PrivateCups>(); }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        QDir::setCurrent(m_dir.path());
        m_noCups = cups->start();
    }
    void cleanupTestCase() { cups->stop(); }

    // A page printed after a sweep, then printed again from the history after the main window
    // has moved on to another step, another axis and another custom value: the same page,
    // PrintComments.dat as it was, and a second print row on the record.
    void reprintAsPrinted()
    {
        if (!m_noCups.isEmpty())
            QSKIP(qPrintable("no private cupsd: " + m_noCups));
        QCOMPARE(PrivateCups::run("lpadmin", {"-d", "q1"}), QString());
        BenchFixture f;
        f.startUp();
        MainForm& w = *f.form;
        History history(f.clock, DatabaseTarget::parse("local"), m_dir.filePath("history.sqlite"));
        SweepRecorder recorder(history, f.session, BenchInterface::Board, QString());
        connect(&w, &MainForm::reportPrinted, &recorder, &SweepRecorder::recordPrint);
        HistoryWindow window(history, f.hands);
        connect(&w, &MainForm::historyRequested, &window, &HistoryWindow::showWindow);
        f.dialogs.onChoosePrinter = [](QPrinter& printer) {
            printer.setPrinterName("q1");
            return true;
        };

        // A 6 dB attenuator with +-0.5 dB limits at 25 MHz, printed.
        measure(w, MeasKind::Attenuation, 1);
        click(w.Check_CustomAttn);
        QTest::keyClicks(w.Text_CustomAttn, "6");
        QTest::keyClicks(w.Text_CustomLimits[0], "0.5");
        click(w.Command_Run);
        QVERIFY(w.Command_Print->isVisible());
        inDetails("AT-77", "after repair");
        click(w.Command_Print);
        const QString first = takePrinted(cups->output("q1"));
        // The sweep's verdict and record under the texts.
        QVERIFY2(
            first.contains("AT-77") && first.contains("6 dB Attenuator") &&
                first.contains(QRegularExpression("Verdict: PASS .* MHz, record [-0-9a-f]{36}")),
            qPrintable(first));
        QCOMPARE(readFile(SavedComments::FileName), QByteArray("AT-77;after repair\r\n"));
        writeFile(SavedComments::FileName, ""); // a re-print must not add to it

        // Another custom value, step and axis (a return-loss reference) in the main window.
        w.Text_CustomAttn->selectAll();
        QTest::keyClicks(w.Text_CustomAttn, "9");
        measure(w, MeasKind::ReturnLoss, 3);
        QCOMPARE(w.MSChart1->grid().maximum(), 40.0);
        QCOMPARE(w.reportSource().freqStepText, "100 MHz");

        // The history window finds the record by its printed DUT ID, and by no other.
        click(w.Command_History);
        for (const auto& [id, found] : {std::pair{"AT-7", 0}, {"AT-77", 1}}) {
            window.Text_DutId->clear();
            QTest::keyClicks(window.Text_DutId, id);
            QTest::keyClick(window.Text_DutId, Qt::Key_Return);
            QVERIFY(QTest::qWaitFor([&] { return window.Table_Records->rowCount() == found; }));
        }
        QCOMPARE(window.Table_Records->item(0, 1)->text(), "AT-77");
        clickAt(window.Table_Records->viewport(), {9, 9});
        QVERIFY(QTest::qWaitFor([&] { return !window.shownRecord().id.isNull(); }));
        QCOMPARE(window.Table_Prints->rowCount(), 1);
        QCOMPARE(window.chart()->grid().cellValue(1, 1).value_or(-99), 0.5f); // the record's limits
        QCOMPARE(window.chart()->grid().cellValue(1, 2).value_or(-99), -0.5f);

        // Re-print the row to the same queue.
        QVERIFY(!window.Command_Reprint->isEnabled());
        clickAt(window.Table_Prints->viewport(), {9, 9});
        QVERIFY(window.Command_Reprint->isEnabled());
        click(window.Command_Reprint);
        const QString second = takePrinted(cups->output("q1"));
        QCOMPARE(second, first);
        QCOMPARE(readFile(SavedComments::FileName), QByteArray());

        QVERIFY(QTest::qWaitFor([&] { return window.Table_Prints->rowCount() == 2; }));
        const QVector<PrintRow> prints = window.shownRecord().prints;
        QCOMPARE(prints.at(1).stepText, "25 MHz");
        QCOMPARE(prints.at(1).cells, prints.at(0).cells);

        window.setRunBusy(true); // nothing that opens a dialog while a run is busy
        QVERIFY(!window.Command_Reprint->isEnabled() && !window.Command_Export->isEnabled());
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
