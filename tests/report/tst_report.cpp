#include "PrivateCups.h"
#include "ReportBench.h"
#include "report/DefaultPrinter.h"
#include "report/SavedComments.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/wait.h>
#include <unistd.h>

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
} // namespace

#define REQUIRE_CUPS()                                                                             \
    if (!m_noCups.isEmpty())                                                                       \
        QSKIP(qPrintable("no private cupsd: " + m_noCups));                                        \
    for (const QString& file : {cups->lpoptions(), cups->output("q1"), cups->output("q2")})        \
        QFile::remove(file);                                                                       \
    QCOMPARE(PrivateCups::run("lpadmin", {"-d", "q1"}), QString());                                \
    QCOMPARE(DefaultPrinter::CurrentDefaultPrinter(), QString("q1"))

class TestReport : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir; // the working directory, where PrintComments.dat lies
    QString m_noCups;

public:
    // libcups reads its server and home once, at its first call, which Qt may make early.
    static void initMain() { cups = std::make_unique<PrivateCups>(); }

private slots:
    void initTestCase() { m_noCups = cups->start(); }
    void init() { QDir::setCurrent((m_dir = std::make_unique<QTemporaryDir>())->path()); }
    void cleanup() { m_dir.reset(); }
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

    // ---- Details dialog

    void presets_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("description");
        const QStringList texts = QString(",1 X Attenuator (Cable),2 X Attenuator,2.5 X Attenuator,"
                                          "5 X Attenuator,10 X Attenuator,,Termination,"
                                          "               SELECT --->>,6 dB Attenuator")
                                      .split(',');
        for (int type = 0; type <= 9; ++type)
            QTest::addRow("%d", type) << type << texts[type];
    }
    void presets()
    {
        QFETCH(int, type);
        QFETCH(QString, description);
        Details d(type);
        const bool choose = type == 8; // the attenuator is chosen from a list first
        QCOMPARE(d.state(), description + (choose ? "|||SELECT|Empty|Combo_Att|-"
                                                  : "|||SELECT|Empty|Text_DUTId|Print"));
        QCOMPARE(d.combo("Combo_Att")->isVisible(), choose);
    }

    void attenuatorAndSavedChoices()
    {
        writeFile(Dat, "A1;ok\r\nB2\r\n;x\r\nC3;\r\nZ\r\nD4;a;b\r\n");
        Details d(8);
        QComboBox *att = d.combo("Combo_Att"), *saved = d.combo("Combo_Saved");
        const QString select = "               SELECT --->>";
        QCOMPARE(d.state(), select + "|||SELECT|Select|Combo_Att|-");
        // The entry chosen from a list (none: Clear pressed), then what the operator sees.
        const auto step = [&](QComboBox* list, int index, const QString& state) {
            if (list)
                chooseItem(list, index);
            else
                QTest::mouseClick(d.button("Command_Clear"), Qt::LeftButton);
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
        QTest::mouseClick(d.button("Command_Print"), Qt::LeftButton);
        QCOMPARE(d.dut.text() + '|' + d.dutId.text() + '|' + d.comments.text(),
                 QString("6 dB Attenuator|B2|ok"));
    }

    void separatorProtection()
    {
        Details d(7);
        QTest::keyClicks(d.edit("Text_Comments"), "a;b");
        d.edit("Text_DUTId")->setFocus();
        QTest::keyClicks(d.edit("Text_DUTId"), "a;b");
        QCOMPARE(d.state(), "Termination|a;b|a-b|SELECT|Empty|Text_DUTId|Print");
        QTest::keyClick(d.edit("Text_DUTId"), Qt::Key_Tab);
        QCOMPARE(d.edit("Text_DUTId")->text(), QString("a-b"));
        // Enter presses no button, and Print pressed without taking the focus lets no ";"
        // slip out either.
        d.edit("Text_DUTId")->setFocus();
        QTest::keyClicks(d.edit("Text_DUTId"), ";");
        QTest::keyClick(d.edit("Text_DUTId"), Qt::Key_Return);
        QVERIFY(d.form.isVisible());
        QCOMPARE(d.state(), "Termination|a-b;|a-b|SELECT|Empty|Text_DUTId|Print");
        d.button("Command_Print")->click();
        QCOMPARE(d.dutId.text(), QString("a-b-"));
    }

    // ---- Report page

    void load_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("firstRow"); // the first a sweep of this step fills
        QTest::newRow("12.5 MHz") << 0 << 2;
        QTest::newRow("100 MHz") << 3 << 8;
    }
    void load()
    {
        QFETCH(int, step);
        QFETCH(int, firstRow);
        Bench bench(5);
        bench.results.setSeriesHidden(2, true);
        bench.results.setSeriesHidden(step + 3, true);
        bench.results.setMaximum(50);
        bench.results.setMinimum(-5);
        bench.results.setMajorDivision(11);
        bench.results.setMinorDivision(2);
        PrintResultForm form(bench.source(step), bench.dialogs);
        const Chart* copy = form.findChild<Chart*>("MSChartPrint");
        QCOMPARE(QList<double>({copy->maximum(), copy->minimum(), double(copy->majorDivision()),
                                double(copy->minorDivision()), double(copy->seriesHidden(1)),
                                double(copy->seriesHidden(2)), double(copy->seriesHidden(3))}),
                 QList<double>({50, -5, 11, 2, 0, 1, 0}));
        for (int row = 1; row <= Chart::Rows; ++row) {
            const QString third = row < firstRow ? QString() : bench.results.cell(row, step + 3);
            QCOMPARE(QStringList({copy->cell(row, 1), copy->cell(row, 2), copy->cell(row, 3)}),
                     QStringList({bench.results.cell(row, 1), bench.results.cell(row, 2), third}));
        }
    }

    // What the operator does in the details and print dialogs, and what is then printed, told
    // and saved; PrintComments.dat holds one entry before.
    void print_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("details");  // pasted: identifier;comments
        QTest::addColumn<QString>("button");   // pressed in the details dialog; none: close box
        QTest::addColumn<QString>("to");       // chosen in the print dialog; none: Cancel
        QTest::addColumn<QString>("fault");    // of PrintComments.dat
        QTest::addColumn<QString>("dutLines"); // printed; none: no page
        QTest::addColumn<QString>("told");
        QTest::addColumn<QByteArray>("saved");
        const auto row = [](const char* name, int type, const char* details, const char* button,
                            const char* to, const char* fault, const QString& dutLines,
                            const QString& told = {}, const QByteArray& saved = "A1;ok\r\n") {
            QTest::newRow(name) << type << QString(details) << QString(button) << QString(to)
                                << QString(fault) << dutLines << told << saved;
        };
        const auto notSaved = [](const char* reason) {
            return seen(MsgIcon::Exclamation, MsgButtons::Ok, "DUT ID Not Saved",
                        "The report was printed, but the DUT ID and comments could not be saved "
                        "in PrintComments.dat.\n\n" +
                            QString(reason));
        };
        const char *print = "Command_Print", *pdf = "report.pdf";
        const QString b2 = "DUTID:B2\nComments:x";
        row("attenuation", 5, "B2;x", print, pdf, "", b2, {}, "A1;ok\r\nB2;x\r\n");
        row("no details", 7, ";", print, pdf, "",
            "DUTID:" + QString(46, '_') + "\nComments:" + QString(67, '_'));
        row("pasted line breaks", 7, "A1\r\nB;x\ty\n", print, pdf, "", "DUTID:A1B\nComments:xy", {},
            "A1;ok\r\nA1  B;x y \r\n");
        row("Cancel", 7, "B2;x", "Command_Cancel", pdf, "", {});
        row("close box", 7, "B2;x", "", pdf, "", {});
        row("Cancel in the print dialog", 7, "B2;x", print, "", "", {});
        row("unwritable page", 7, "B2;x", print, "missing/report.pdf", "", {},
            seen(MsgIcon::Exclamation, MsgButtons::Ok, "Report Not Printed",
                 "The report was not printed.\n\nThe file missing/report.pdf could not be "
                 "written."));
        row("file removed while printing", 7, "B2;x", print, pdf, "removed", b2,
            notSaved("The file is no longer there."), "<no file>");
        row("file removed as it is opened", 7, "B2;x", print, pdf, "removed at open", b2,
            notSaved("The file is no longer there."), "<no file>");
        row("disk full", 7, "B2;x", print, pdf, "full at open", b2, notSaved("File too large"));
        row("unreadable file", 7, "B2;x", print, pdf, "unreadable", b2,
            notSaved("Permission denied"));
    }
    void print()
    {
        QFETCH(int, type);
        QFETCH(QString, details);
        QFETCH(QString, button);
        QFETCH(QString, to);
        QFETCH(QString, fault);
        QFETCH(QString, dutLines);
        QFETCH(QString, told);
        QFETCH(QByteArray, saved);
        writeFile(Dat, "A1;ok\r\n");
        if (fault == "unreadable" && !makeSavedFileUnreadable())
            QSKIP("cannot make PrintComments.dat unreadable here");
        Bench bench(type, to);
        bench.meanwhile = [fault] {
            if (fault == "removed")
                QFile::remove(Dat);
            else if (fault == "removed at open")
                beforeSavedOpen = [] { QFile::remove(Dat); };
            else if (fault == "full at open")
                beforeSavedOpen = fillDisk;
        };
        inDetails(details.section(';', 0, 0), details.section(';', 1), button);
        bench.run(type == 7 ? 3 : 1);
        undoFileFaults();
        QCOMPARE(seen(bench.dialogs), told);
        QCOMPARE(readFile(Dat), saved);
        QCOMPARE(printedPage(to), dutLines.isEmpty() ? "no page" : page(type, dutLines));
    }

    // ---- The default printer and printing through a private cupsd

    void setDefaultPrinter()
    {
        REQUIRE_CUPS();
        ScriptedDialogs dialogs;
        QVERIFY(!DefaultPrinter::SetDefaultPrinter("NoSuchQueue", dialogs));
        QCOMPARE(DefaultPrinter::CurrentDefaultPrinter(), QString("q1"));
        // A plain file where the options folder belongs refuses the change.
        QDir(cups->path("home/.cups")).removeRecursively();
        writeFile(cups->path("home/.cups"), "");
        QVERIFY(!DefaultPrinter::SetDefaultPrinter("q2", dialogs));
        QFile::remove(cups->path("home/.cups"));
        const auto failed = [](int code) {
            return seen(MsgIcon::None, MsgButtons::Ok, QCoreApplication::applicationName(),
                        QString("SetPrinterFailed. Error code: %1").arg(code));
        };
        QCOMPARE(seen(dialogs), failed(1030) + Sep + failed(ENOTDIR));
    }

    void printOnQueue_data()
    {
        QTest::addColumn<QString>("queue");   // chosen in the print dialog
        QTest::addColumn<bool>("stopServer"); // meanwhile
        QTest::newRow("another queue") << "q2" << false;
        QTest::newRow("the default") << "q1" << false;
        QTest::newRow("server stopped") << "q2" << true; // last: it takes the server away
    }
    void printOnQueue()
    {
        QFETCH(QString, queue);
        QFETCH(bool, stopServer);
        REQUIRE_CUPS();
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
        QCOMPARE(bench.offered, QString("q1"));
        if (stopServer) {
            const QString told = seen(MsgIcon::Exclamation, MsgButtons::Ok, "Report Not Printed",
                                      "The report was not printed.\n\nThe printer q2 did not "
                                      "accept it: ");
            QVERIFY2(bench.dialogs.shown.size() == 1 && seen(bench.dialogs).startsWith(told),
                     qPrintable(seen(bench.dialogs)));
            QCOMPARE(readFile(Dat), QByteArray());
            QVERIFY(!QFile::exists(cups->output("q2")));
            return;
        }
        QCOMPARE(seen(bench.dialogs), QString());
        // The queue writes its file once the job has gone through the filters.
        QVERIFY2(
            QTest::qWaitFor([&] { return printedPage(cups->output(queue)) != "no page"; }, 120000),
            cups->log().constData());
        QCOMPARE(printedPage(cups->output(queue)), page(5, "DUTID:A1\nComments:ok"));
        QCOMPARE(DefaultPrinter::CurrentDefaultPrinter(), QString("q1"));
        QCOMPARE(QFile::exists(cups->output("q1")), queue == "q1");
        QCOMPARE(QFile::exists(cups->lpoptions()), queue != "q1"); // no default written to keep it
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\n"));
    }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
