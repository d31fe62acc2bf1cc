#include "PrintBench.h"
#include "ScriptedDialogs.h"
#include "chart/Chart.h"
#include "measure/DutText.h"
#include "measure/GlobalVar.h"
#include "report/DefaultPrinter.h"
#include "report/PrintResultForm.h"
#include "report/PrintResultTextForm.h"
#include "report/SavedComments.h"

#include <QPrinter>
#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(Verdict)

namespace {
using Saved = SavedComments::SaveResult;
const QString Dat = QString::fromLatin1(SavedComments::FileName);

std::unique_ptr<PrivateCups> cups;

// The page of a 10 X attenuator (type 5) at 25 MHz or of a termination (7) at 100 MHz, with
// the lines of the DUT's identifier and comments, as printedPage gives it.
QString page(int type, const QString& dutLines)
{
    return (type == 5 ? "MeasurementType:AttenuationFrequencyStep:25MHzDate:<today>\n"
                        "DUT:10XAttenuatorThegraphshowsdeviationfromnominalattenuation\n"
                      : "MeasurementType:ReturnLossFrequencyStep:100MHzDate:<today>\n"
                        "DUT:Termination\n") +
           dutLines +
           "\n50 100 150 200 250 300 350 400 450 500 550 600 650 700 750 800 850 900 950 1000";
}

// The main window's side of a print. Its print dialog prints
// to the PDF file or queue "to" (none: Cancel) and runs meanwhile for what a hand does there.
struct Bench {
    ResultGrid results{6};
    GlobalVar globals;
    ScriptedDialogs dialogs;
    std::function<void()> meanwhile = [] {};

    explicit Bench(int measType, const QString& to = {})
    {
        globals.MeasType = MeasType(measType);
        globals.StepMult = {1, 2, 4, 8};
        // Every cell holds a text of its own, so that a copy of a wrong one shows.
        for (int cell = 0; cell < ResultGrid::Rows * 6; ++cell) {
            results.setRow(cell / 6 + 1);
            results.setColumn(cell % 6 + 1);
            results.setData(QString::number(cell));
        }
        dialogs.onChoosePrinter = [this, to](QPrinter& printer) {
            if (to.startsWith('/') || to.endsWith(".pdf"))
                printer.setOutputFileName(to); // and the format becomes PDF
            else
                printer.setPrinterName(to);
            meanwhile();
            return !to.isEmpty();
        };
    }
    ReportSource source(int step) const
    {
        return {results, step, QString("%1 MHz").arg(12.5 * (1 << step)), globals, "6", {40, 30}};
    }
    void run(int step) { PrintResultForm::Command_Print_Click(source(step), dialogs); }
};

// The page's text from the DUT ID on, without blanks or line breaks.
QString dutRows(const QString& pdf)
{
    QProcess process;
    process.start("pdftotext", {"-layout", pdf, "-"});
    process.waitForFinished(60000);
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    return text.mid(text.indexOf("DUT ID:")).remove(QRegularExpression("\\s"));
}

// The details dialog alone, writing into labels that stand for the report's.
struct Details {
    QLabel dut, dutId, comments, measType{QStringLiteral("Attenuation")};
    ScriptedDialogs dialogs;
    PrintResultTextForm form;

    explicit Details(int type)
        : form(MeasType(type), "6", {&dut, &dutId, &comments, &measType}, dialogs)
    {
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    QLineEdit* edit(const char* name) const { return form.findChild<QLineEdit*>(name); }
    QComboBox* combo(const char* name) const { return form.findChild<QComboBox*>(name); }
    QPushButton* button(const char* name) const { return form.findChild<QPushButton*>(name); }
    // DUT (* when it can be typed in), identifier, comments, the texts of both lists, the
    // focus and whether Print can be pressed, between bars.
    QString state() const
    {
        return QString("%1%2|%3|%4|%5|%6|%7|%8")
            .arg(edit("Text_DUT")->isReadOnly() ? "" : "*", edit("Text_DUT")->text(),
                 edit("Text_DUTId")->text(), edit("Text_Comments")->text(),
                 combo("Combo_Att")->currentText(), combo("Combo_Saved")->currentText(),
                 form.focusWidget()->objectName(),
                 button("Command_Print")->isEnabled() ? "Print" : "-");
    }
    // Opens the list and clicks the entry, as the operator does.
    void choose(QComboBox* list, int index)
    {
        list->showPopup();
        QAbstractItemView* view = list->view();
        QVERIFY(QTest::qWaitForWindowExposed(view->window()));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(list->model()->index(index, 0)).center());
    }
};
} // namespace

class TestReport : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir; // the working directory, where PrintComments.dat lies
    QString m_noCups;

public:
    // libcups reads its server and home once, at its first call, which Qt may make early.
    static void initMain() { cups = std::make_unique<PrivateCups>(); }

private slots:
    void initTestCase() { m_noCups = cups->start(); }
    void init()
    {
        QDir::setCurrent((m_dir = std::make_unique<QTemporaryDir>())->path());
        // The tests named cups... print through the private server, q1 its default again.
        if (!QByteArray(QTest::currentTestFunction()).startsWith("cups"))
            return;
        if (!m_noCups.isEmpty())
            QSKIP(qPrintable("no private cupsd: " + m_noCups));
        for (const QString& file :
             {cups->path("home/.cups/lpoptions"), cups->output("q1"), cups->output("q2")})
            QFile::remove(file);
        QCOMPARE(PrivateCups::run("lpadmin", {"-d", "q1"}), QString());
    }
    void cleanupTestCase() { cups->stop(); }

    // ---- PrintComments.dat

    void savedFile()
    {
        QVERIFY(SavedComments().loadEntries().isEmpty());
        QCOMPARE(readFile(Dat), QByteArray()); // created empty
        // LF-only lines, a one-character line, a Windows-1252 line, no final line end.
        const QByteArray old = "A1;ok\nZ\r\n\r\nM\xfcller;50 \x80\r\nStra\xc3\x9f"
                               "e;x";
        writeFile(Dat, old);
        QCOMPARE(SavedComments().loadEntries(), QStringList({"A1;ok", "Müller;50 €", "Straße;x"}));
        // Placeholders ("___") count as empty; a duplicate is the same line, case and all;
        // control characters become blanks.
        const SavedComments saved;
        const QList<Saved> results{
            saved.save("A1", "ok"),          saved.save("Müller", "50 €"),
            saved.save("A1", "OK"),          saved.save(QString(46, '_'), QString(67, '_')),
            saved.save("Ä_1", "x___y"),      saved.save(QString(46, '_'), "ok"),
            saved.save("C\r\n3", "x\ty\x7f")};
        QCOMPARE(results, QList<Saved>({Saved::Duplicate, Saved::Duplicate, Saved::Saved,
                                        Saved::Nothing, Saved::Saved, Saved::Saved, Saved::Saved}));
        QCOMPARE(readFile(Dat), old + "\r\nA1;OK\r\n\xc3\x84_1;\r\n;ok\r\nC  3;x y \r\n");
    }

    void savedByTwoInstancesAtOnce()
    {
        // This process and a child save the same entries at the same moment: each entry
        // once, no line split or joined. Fewer entries let a missing lock slip through.
        writeFile(Dat, "");
        QStringList entries;
        for (int i = 0; i < 1000; ++i)
            entries << QString("D%1;comment %1").arg(i);
        const pid_t other = fork();
        QVERIFY(other >= 0);
        for (const QString& entry : entries)
            SavedComments().save(entry.section(';', 0, 0), entry.section(';', 1));
        if (other == 0)
            _exit(0);
        waitpid(other, nullptr, 0);
        QCOMPARE(SavedComments().loadEntries(), entries);
    }

    // ---- DUT texts, whichever way they come in

    void dutText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cleaned"); // as comments|as identifier
        QTest::addColumn<int>("codePoints");
        QTest::addColumn<QString>("refused"); // the identifier's refusal, then the comments'
        QTest::addColumn<QString>("first2");  // its first two code points
        const QString x64(64, 'x'), x512(512, 'x'), pair = "\U0001F600"; // two UTF-16 units
        const QString id = "The DUT ID can be at most 64 characters long.";
        const QString all = id + "The comments can be at most 512 characters long.";
        QTest::newRow("breaks, tab, ';'") << "\r\n\t\u0085\u2028\u2029;a "
                                          << "      -a |-a" << 9 << ""
                                          << "\r\n";
        QTest::newRow("a pair") << "a" + pair + "b"
                                << "a" + pair + "b|a" + pair + "b" << 3 << ""
                                << "a" + pair;
        QTest::newRow("64") << pair + x64.mid(1) << pair + x64.mid(1) + '|' + pair + x64.mid(1)
                            << 64 << "" << pair + "x";
        QTest::newRow("65") << x64 + "x" << x64 + "x|" + x64 + "x" << 65 << id << "xx";
        QTest::newRow("512") << x512 << x512 + '|' + x512 << 512 << id << "xx";
        QTest::newRow("513") << x512 + "x" << x512 + "x|" + x512 + "x" << 513 << all << "xx";
    }
    void dutText()
    {
        QFETCH(QString, text);
        const QString comments = DutText::cleanComments(text), id = DutText::cleanId(text);
        QTEST(comments + '|' + id, "cleaned");
        QTEST(DutText::codePoints(text), "codePoints");
        QTEST(DutText::idRefusal(id) + DutText::commentsRefusal(comments), "refused");
        QTEST(DutText::truncated(text, 2), "first2");
    }

    // ---- Details dialog

    void attenuatorSavedChoicesAndSeparators()
    {
        writeFile(Dat,
                  "A1;ok\r\nB2\r\n;x\r\nC3;\r\nZ\r\nD4;a;b\r\n" + QByteArray(65, 'E') + ";long");
        Details d(8);
        QComboBox *att = d.combo("Combo_Att"), *saved = d.combo("Combo_Saved");
        const QString select = "               SELECT --->>";
        QCOMPARE(d.state(), select + "|||SELECT|Select|Combo_Att|-");
        // The entry chosen from a list (none: Clear pressed), then what the operator sees.
        const auto step = [&](QComboBox* list, int index, const QString& state) {
            list ? d.choose(list, index)
                 : QTest::mouseClick(d.button("Command_Clear"), Qt::LeftButton);
            QCOMPARE(d.state(), state);
        };
        step(saved, 2, select + "||x|SELECT||Text_DUTId|-");    // an empty box takes the focus
        step(saved, 0, select + "|A1|ok|SELECT||Combo_Att|-");  // else (no Print) the list
        step(saved, 1, select + "|B2|ok|SELECT||Combo_Att|-");  // no ";": the comments stay
        step(saved, 3, select + "|C3|ok|SELECT||Combo_Att|-");  // ";" last: the same
        step(saved, 4, select + "|D4|a-b|SELECT||Combo_Att|-"); // not the one-character line
        step(nullptr, 0, select + "|||SELECT||Text_DUTId|-");
        step(att, 1, "2.5 X Attenuator|||||Text_DUTId|Print");
        QTest::keyClicks(d.edit("Text_DUTId"), "A1");
        step(att, 3, "10 X Attenuator|A1||||Text_Comments|Print");
        QTest::keyClicks(d.edit("Text_Comments"), "ok");
        step(att, 0, "2 X Attenuator|A1|ok|||Command_Print|Print");
        step(saved, 1, "2 X Attenuator|B2|ok|||Command_Print|Print");
        step(att, 4, "* dB Attenuator|B2|ok|||Text_DUT|Print"); // the value goes in front
        QTest::keyClicks(d.edit("Text_DUT"), "6");
        // A saved identifier beyond 64 characters goes in whole, but Print refuses it and
        // empties its box; typing stops at 64. A ";" would split the saved line: it becomes "-"
        // at once. Enter presses no button; the identifier printed has no blanks around.
        step(saved, 5, "*6 dB Attenuator|" + QString(65, 'E') + "|long|||Command_Print|Print");
        d.button("Command_Print")->click();
        QCOMPARE(d.dialogs.lines(),
                 "critical Ok Error: The DUT ID can be at most 64 characters long.");
        QCOMPARE(d.state() + d.dutId.text(), "*6 dB Attenuator||long|||Text_DUTId|Print");
        QVERIFY(d.form.isVisible());
        QTest::keyClicks(d.edit("Text_DUTId"), " B2;" + QString(66, 'x'));
        QTest::keyClicks(d.edit("Text_Comments"), ";");
        d.edit("Text_DUTId")->setFocus();
        QTest::keyClick(d.edit("Text_DUTId"), Qt::Key_Return);
        const QString b2 = "B2-" + QString(60, 'x');
        QCOMPARE(d.state(), "*6 dB Attenuator| " + b2 + "|long-|||Text_DUTId|Print");
        d.button("Command_Print")->click();
        QCOMPARE(d.dut.text() + '|' + d.dutId.text() + '|' + d.comments.text(),
                 "6 dB Attenuator|" + b2 + "|long-");
    }

    // ---- Report page

    // The chart copied for the page: its scale, which lines show, and the limits and the
    // measured column of the step, from the first row its sweep fills (row 8 at 100 MHz).
    void chartCopy()
    {
        Bench bench(5);
        bench.results.setSeriesHidden(2, true);
        bench.results.setSeriesHidden(6, true);
        bench.results.setMaximum(50);
        bench.results.setMinimum(-5);
        bench.results.setMajorDivision(11);
        bench.results.setMinorDivision(2);
        PrintResultForm form(bench.source(3), bench.dialogs);
        const Chart* copy = form.findChild<Chart*>("MSChartPrint");
        QCOMPARE(QList<double>(
                     {copy->grid().maximum(), copy->grid().minimum(),
                      double(copy->grid().majorDivision()), double(copy->grid().minorDivision()),
                      double(copy->grid().seriesHidden(1)), double(copy->grid().seriesHidden(2)),
                      double(copy->grid().seriesHidden(3))}),
                 QList<double>({50, -5, 11, 2, 0, 1, 0}));
        for (int row = 1; row <= ResultGrid::Rows; ++row) {
            const QString third = row < 8 ? QString() : bench.results.cell(row, 6);
            QCOMPARE(QStringList({copy->grid().cell(row, 1), copy->grid().cell(row, 2),
                                  copy->grid().cell(row, 3)}),
                     QStringList({bench.results.cell(row, 1), bench.results.cell(row, 2), third}));
        }
    }

    // What the operator does in the details and print dialogs, and what is then printed, told
    // and saved; PrintComments.dat holds one entry before.
    void print_data()
    {
        QTest::addColumn<QString>(
            "details"); // pasted: identifier|comments[|button pressed, none: the close box]
        QTest::addColumn<QString>("to");       // chosen in the print dialog; none: Cancel
        QTest::addColumn<QString>("fault");    // of PrintComments.dat
        QTest::addColumn<QString>("dutLines"); // printed; none: no page
        QTest::addColumn<QString>("told");
        QTest::addColumn<QByteArray>("saved");
        const auto row = [](const char* name, const char* details, const char* to,
                            const char* fault, const QString& dutLines, const QString& told = {},
                            const QByteArray& saved = "A1;ok\r\n") {
            QTest::newRow(name) << QString(details) << QString(to) << QString(fault) << dutLines
                                << told << saved;
        };
        const QString notSaved = "exclamation Ok DUT ID Not Saved: The report was printed, but "
                                 "the DUT ID and comments could not be saved in "
                                 "PrintComments.dat.\\n\\n";
        const char* pdf = "report.pdf";
        const QString b2 = "DUTID:B2\nComments:x";
        row("printed and saved", "B2|x", pdf, "", b2, {}, "A1;ok\r\nB2;x\r\n");
        row("no details", "|", pdf, "",
            "DUTID:" + QString(46, '_') + "\nComments:" + QString(67, '_'));
        row("pasted line breaks and separators", "A1\r\n;B|x\ty;\n", pdf, "",
            "DUTID:A1-B\nComments:xy-", {}, "A1;ok\r\nA1  -B;x y- \r\n");
        row("Cancel", "B2|x|Command_Cancel", pdf, "", {});
        row("close box", "B2|x|", pdf, "", {});
        row("Cancel in the print dialog", "B2|x", "", "", {});
        row("unwritable page", "B2|x", "missing/report.pdf", "", {},
            "exclamation Ok Report Not Printed: The report was not printed.\\n\\nThe file "
            "missing/report.pdf could not be written.");
        row("file removed while printing", "B2|x", pdf, "removed", b2,
            notSaved + "The file is no longer there.", "<no file>");
        // The page goes where no file size limit reaches.
        row("disk full", "B2|x", "/dev/null", "full", {}, notSaved + "File too large");
        row("a folder in its place", "B2|x", pdf, "folder", b2, notSaved + "Is a directory",
            "<no file>");
    }
    void print()
    {
        QFETCH(QString, details);
        QFETCH(QString, to);
        QFETCH(QString, fault);
        QFETCH(QString, dutLines);
        writeFile(Dat, "A1;ok\r\n");
        if (fault == "folder")
            QVERIFY(QFile::remove(Dat) && QDir().mkdir(Dat));
        rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        Bench bench(7, to);
        bench.meanwhile = [&] {
            if (fault == "removed")
                QFile::remove(Dat);
            // Files may grow to 10 bytes only; a write beyond fails instead of ending the test.
            const rlimit full{10, limit.rlim_max};
            if (fault == "full")
                signal(SIGXFSZ, SIG_IGN), setrlimit(RLIMIT_FSIZE, &full);
        };
        const QStringList pasted = (details + "|Command_Print").split('|');
        inDetails(pasted[0], pasted[1], pasted[2]);
        bench.run(3);
        setrlimit(RLIMIT_FSIZE, &limit);
        QTEST(bench.dialogs.lines(), "told");
        QTEST(readFile(Dat), "saved");
        QCOMPARE(printedPage(to), dutLines.isEmpty() ? "no page" : page(7, dutLines));
    }

    // The line under the DUT's texts: the record's verdict, or why there is none on this page;
    // the comments printed whole however long; a print from before the line is printed without.
    void verdictLine_data()
    {
        QTest::addColumn<int>("recordStep"); // -1: a print from before the verdict line
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QString>("comments");
        QTest::addColumn<QString>("line");
        const Verdict pass{Verdict::Outcome::Pass, 0.27, 912.5};
        const QString record = ",record00000000-0000-0000-0000-00000000000a,operatortech";
        // Words, then a run without a blank to break: 512 characters, the most there can be.
        const QString longText =
            QString("re-checked after repair at 912.5 MHz ").repeated(12) + QString(68, 'W');
        QTest::newRow("PASS") << 3 << pass << "ok"
                              << "Verdict:PASS0.27dBat912.5MHz" + record;
        QTest::newRow("FAIL") << 3 << Verdict{Verdict::Outcome::Fail, -0.034, 25} << "ok"
                              << "Verdict:FAIL-0.03dBat25MHz" + record;
        QTest::newRow("another step") << 1 << pass << "ok"
                                      << "Noverdict:thispageshowsthe100MHzcolumn" + record;
        QTest::newRow("printed before") << -1 << pass << "ok"
                                        << "";
        QTest::newRow("long comments")
            << 3 << pass << longText << "Verdict:PASS0.27dBat912.5MHz" + record;
    }
    void verdictLine()
    {
        QFETCH(int, recordStep);
        QFETCH(Verdict, verdict);
        QFETCH(QString, comments);
        QFETCH(QString, line);
        Bench bench(7, "report.pdf");
        ReportSource source = bench.source(3);
        if (recordStep >= 0)
            source.record = PageRecord{QUuid("{00000000-0000-0000-0000-00000000000a}"), verdict,
                                       "tech", recordStep};
        const std::optional<PrintRow> row = PrintResultForm::PrintPreset(
            source, {"Termination", "T-9", comments, {}, true, false}, bench.dialogs, nullptr);
        QVERIFY(row);
        // The row keeps the texts as typed, and which page it was.
        QCOMPARE(row->comments + '|' + QString::number(int(row->layout)),
                 comments + (recordStep >= 0 ? "|1" : "|0"));
        QCOMPARE(dutRows("report.pdf"),
                 "DUTID:T-9Comments:" + QString(comments).remove(' ') + line);
    }

    // ---- The default printer and printing through a private cupsd

    void cupsDefaultPrinter()
    {
        ScriptedDialogs dialogs;
        QVERIFY(!DefaultPrinter::SetDefaultPrinter("NoSuchQueue", dialogs));
        QCOMPARE(DefaultPrinter::CurrentDefaultPrinter(), QString("q1"));
        // A plain file where the options folder belongs refuses the change.
        QDir(cups->path("home/.cups")).removeRecursively();
        writeFile(cups->path("home/.cups"), "");
        QVERIFY(!DefaultPrinter::SetDefaultPrinter("q2", dialogs));
        QFile::remove(cups->path("home/.cups"));
        const QString failed = "none Ok test_report: SetPrinterFailed. Error code: ";
        QCOMPARE(dialogs.lines(), failed + "1030\n" + failed + QString::number(ENOTDIR));
    }

    void cupsQueue_data()
    {
        QTest::addColumn<QString>("queue");   // chosen in the print dialog
        QTest::addColumn<bool>("stopServer"); // meanwhile
        QTest::newRow("another queue") << "q2" << false;
        QTest::newRow("the default") << "q1" << false;
        QTest::newRow("server stopped") << "q2" << true; // last: it takes the server away
    }
    void cupsQueue()
    {
        QFETCH(QString, queue);
        QFETCH(bool, stopServer);
        Bench bench(5, queue);
        // Like a print dialog that makes the chosen printer the default.
        bench.meanwhile = [&] {
            if (queue != "q1")
                DefaultPrinter::SetDefaultPrinter(queue, bench.dialogs);
            if (stopServer)
                cups->stop();
        };
        inDetails("A1", "ok");
        bench.run(1);
        if (stopServer) {
            const QString told = "exclamation Ok Report Not Printed: The report was not "
                                 "printed.\\n\\nThe printer q2 did not accept it: ";
            QVERIFY2(bench.dialogs.shown.size() == 1 && bench.dialogs.lines().startsWith(told),
                     qPrintable(bench.dialogs.lines()));
            QCOMPARE(readFile(Dat), QByteArray());
            return;
        }
        QCOMPARE(bench.dialogs.lines(), QString());
        // The queue writes its file once the job has gone through the filters.
        QVERIFY2(
            QTest::qWaitFor([&] { return printedPage(cups->output(queue)) != "no page"; }, 120000),
            cups->log().constData());
        QCOMPARE(printedPage(cups->output(queue)), page(5, "DUTID:A1\nComments:ok"));
        QCOMPARE(DefaultPrinter::CurrentDefaultPrinter(), QString("q1"));
        QCOMPARE(QFile::exists(cups->output("q1")), queue == "q1");
        QCOMPARE(QFile::exists(cups->path("home/.cups/lpoptions")),
                 queue != "q1"); // no default written to keep it
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\n"));
    }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
