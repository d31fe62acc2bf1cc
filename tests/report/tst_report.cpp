#include "PrivateCups.h"
#include "ScriptedDialogs.h"
#include "chart/Chart.h"
#include "measure/GlobalVar.h"
#include "report/DefaultPrinter.h"
#include "report/PrintResultForm.h"
#include "report/PrintResultTextForm.h"
#include "report/SavedComments.h"

#include <QPrinter>
#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Saved = SavedComments::SaveResult;
const QString Dat = QString::fromLatin1(SavedComments::FileName);
const QStringList StepTexts{"12.5 MHz", "25 MHz", "50 MHz", "100 MHz"};
const QString Sep = QStringLiteral("\n--\n"); // between two messages
std::unique_ptr<PrivateCups> cups;

QByteArray readFile(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

void writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// pdftotext's view of a PDF: one form feed ends each page.
QString pdfText(const QString& pdf)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
    process.waitForFinished(60000);
    return process.exitCode() == 0 ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
}

// The frequency axis labels as printed: the row that holds 950.
QString axisRow(const QString& pdf)
{
    return pdfText(pdf).split('\n').filter(QStringLiteral("950")).value(0).simplified();
}
const QString Axis =
    "50 100 150 200 250 300 350 400 450 500 550 600 650 700 750 800 850 900 950 1000";

// A hand that removes PrintComments.dat in the instant before the program opens it to write.
bool removeBeforeOpen = false;

} // namespace

extern "C" int open64(const char* path, int flags, ...)
{
    static const auto next =
        reinterpret_cast<int (*)(const char*, int, ...)>(dlsym(RTLD_NEXT, "open64"));
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    if (removeBeforeOpen && (flags & O_ACCMODE) != O_RDONLY &&
        QByteArray(path).endsWith(SavedComments::FileName)) {
        removeBeforeOpen = false;
        ::unlink(path);
    }
    return next(path, flags, mode);
}

namespace {

// A message as the operator sees it: icon and buttons (as numbers), title and text.
QString seen(MsgIcon icon, MsgButtons buttons, const QString& title, const QString& text)
{
    return QString("%1 %2 %3: %4").arg(int(icon)).arg(int(buttons)).arg(title, text);
}
QString seen(const ScriptedDialogs& dialogs)
{
    QStringList all;
    for (const auto& s : dialogs.shown)
        all << seen(s.icon, s.buttons, s.title, s.text);
    return all.join(Sep);
}

// Opens the list and clicks the entry, as the operator does.
void chooseItem(QComboBox* combo, int index)
{
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    QVERIFY(QTest::qWaitForWindowExposed(view->window()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(combo->model()->index(index, 0)).center());
}

// Once the report shows the details dialog, inside its modal loop: types the details and
// presses button (none: the close box).
void inDetails(const QString& dutId, const QString& comments,
               const QString& button = "Command_Print")
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* form = qobject_cast<PrintResultTextForm*>(QApplication::activeModalWidget());
        if (!form)
            return;
        timer->stop();
        timer->deleteLater();
        // Pasted, as texts with line breaks come in.
        for (const auto& [box, text] :
             {std::pair{"Text_DUTId", dutId}, {"Text_Comments", comments}}) {
            auto* edit = form->findChild<QLineEdit*>(box);
            QGuiApplication::clipboard()->setText(text);
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        }
        if (button.isEmpty())
            form->close();
        else
            QTest::mouseClick(form->findChild<QPushButton*>(button), Qt::LeftButton);
    });
    timer->start(5);
}

// The main window's side of a print. Its print dialog, opened on the printer offered, prints
// to the PDF file or queue "to" (none: Cancel) and runs meanwhile for what a hand does there.
struct Bench {
    Chart results{6};
    GlobalVar globals;
    ScriptedDialogs dialogs;
    QString to, offered = "-";
    std::function<void()> meanwhile = [] {};

    explicit Bench(int measType, const QString& printTo = {}) : to(printTo)
    {
        globals.MeasType = MeasType(measType);
        globals.StepMult = {1, 2, 4, 8};
        // Every cell holds a text of its own, so that a copy of a wrong one shows.
        for (int cell = 0; cell < Chart::Rows * 6; ++cell) {
            results.setRow(cell / 6 + 1);
            results.setColumn(cell % 6 + 1);
            results.setData(QString::number(cell));
        }
        dialogs.onChoosePrinter = [this](QPrinter& printer) {
            offered = printer.printerName();
            if (to.endsWith(".pdf"))
                printer.setOutputFileName(to); // and the format becomes PDF
            else
                printer.setPrinterName(to);
            meanwhile();
            return !to.isEmpty();
        };
    }
    ReportSource source(int step) const
    {
        return {results, step, StepTexts[step], globals, QStringLiteral("6"), QPoint(40, 30)};
    }
    void run(int step = 1) { PrintResultForm::Command_Print_Click(source(step), dialogs); }
};

// The details dialog alone, writing into labels that stand for the report's.
struct Details {
    QLabel dut, dutId, comments, measType{QStringLiteral("Attenuation")};
    PrintResultTextForm form;
    explicit Details(int type) : form(MeasType(type), "6", {&dut, &dutId, &comments, &measType})
    {
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    QLineEdit* edit(const char* name) { return form.findChild<QLineEdit*>(name); }
    QComboBox* combo(const char* name) { return form.findChild<QComboBox*>(name); }
    QPushButton* button(const char* name) { return form.findChild<QPushButton*>(name); }
    // DUT (* when it can be typed in), identifier, comments, the texts of both lists, the
    // focus and whether Print can be pressed.
    QString state()
    {
        const bool print = button("Command_Print")->isEnabled();
        return QString("%1%2|%3|%4|%5|%6|%7|%8")
            .arg(edit("Text_DUT")->isReadOnly() ? "" : "*", edit("Text_DUT")->text(),
                 edit("Text_DUTId")->text(), edit("Text_Comments")->text(),
                 combo("Combo_Att")->currentText(), combo("Combo_Saved")->currentText(),
                 QApplication::focusWidget()->objectName(), print ? "Print" : "-");
    }
};

} // namespace

#define REQUIRE_CUPS()                                                                             \
    if (!m_noCups.isEmpty())                                                                       \
        QSKIP(qPrintable("no private cupsd: " + m_noCups));                                        \
    QFile::remove(cups->lpoptions());                                                              \
    QFile::remove(cups->output("q1"));                                                             \
    QFile::remove(cups->output("q2"));                                                             \
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
        // Placeholders ("___") count as empty; a duplicate is the same line, case and all.
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

    void unreadableFileIsLeftAlone()
    {
        writeFile(Dat, "A1;ok\r\n");
        // Root reads everything, so the unreadable file belongs to nobody, who acts meanwhile.
        const QByteArray file = QFile::encodeName(m_dir->filePath(Dat));
        const bool root = geteuid() == 0;
        if (root && (::chmod(QFile::encodeName(m_dir->path()).constData(), 0777) != 0 ||
                     ::chown(file.constData(), 65534, 65534) != 0))
            QSKIP("cannot hand the file to user nobody");
        QVERIFY(::chmod(file.constData(), 0200) == 0);
        if (root && ::seteuid(65534) != 0)
            QSKIP("cannot act as user nobody");
        QLabel a, b, c, d("Attenuation");
        PrintResultTextForm form(MeasType::Att2X, QString(), {&a, &b, &c, &d}); // loads the entries
        const Saved result = SavedComments().save("B2", "x");
        QVERIFY(!root || ::seteuid(0) == 0);
        QCOMPARE(form.findChild<QComboBox*>("Combo_Saved")->currentText(), QString("Empty"));
        QCOMPARE(result, Saved::Failed);
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\n"));
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

    void savedOnFullDiskLeavesFileAsItWas()
    {
        writeFile(Dat, "A1;ok\r\n");
        // The file may grow by three bytes only, as on a disk that is full.
        rlimit limit;
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit full{10, limit.rlim_max};
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &full);
        QString reason;
        const Saved result = SavedComments().save("B2", "a longer comment", &reason);
        setrlimit(RLIMIT_FSIZE, &limit);
        QCOMPARE(result, Saved::Failed);
        QVERIFY(!reason.isEmpty());
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\n"));
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
        QCOMPARE(QList<double>({double(copy->columnCount()), copy->maximum(), copy->minimum(),
                                double(copy->majorDivision()), double(copy->minorDivision()),
                                double(copy->seriesHidden(1)), double(copy->seriesHidden(2)),
                                double(copy->seriesHidden(3))}),
                 QList<double>({3, 50, -5, 11, 2, 0, 1, 0}));
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
        QTest::addColumn<QString>("details"); // typed: identifier;comments
        QTest::addColumn<QString>("button");  // pressed in the details dialog; none: close box
        QTest::addColumn<QString>("to");      // chosen in the print dialog; none: Cancel
        QTest::addColumn<QString>("page");    // its labelled lines; none: no page
        QTest::addColumn<QString>("told");
        QTest::addColumn<QByteArray>("saved");
        const auto row = [](const char* name, int type, const char* details, const char* button,
                            const char* to, const QString& page, const QString& told = {},
                            const QByteArray& saved = "A1;ok\r\n") {
            QTest::newRow(name) << type << QString(details) << QString(button) << QString(to)
                                << page << told << saved;
        };
        row("attenuation", 5, "B2;x", "Command_Print", "report.pdf",
            "MeasurementType:AttenuationFrequencyStep:25MHzDate:%date\n"
            "DUT:10XAttenuatorThegraphshowsdeviationfromnominalattenuation\nDUTID:B2\nComments:x",
            {}, "A1;ok\r\nB2;x\r\n");
        row("return loss, no details", 7, ";", "Command_Print", "report.pdf",
            "MeasurementType:ReturnLossFrequencyStep:100MHzDate:%date\nDUT:Termination\nDUTID:" +
                QString(46, '_') + "\nComments:" + QString(67, '_'));
        row("pasted line breaks", 7, "A1\r\nB;x\ty\n", "Command_Print", "report.pdf",
            "MeasurementType:ReturnLossFrequencyStep:100MHzDate:%date\nDUT:Termination\nDUTID:A1B\n"
            "Comments:xy",
            {}, "A1;ok\r\nA1  B;x y \r\n");
        row("Cancel", 7, "B2;x", "Command_Cancel", "report.pdf", {});
        row("close box", 7, "B2;x", "", "report.pdf", {});
        row("Cancel in the print dialog", 7, "B2;x", "Command_Print", "", {});
        row("unwritable page", 7, "B2;x", "Command_Print", "missing/report.pdf", {},
            seen(MsgIcon::Exclamation, MsgButtons::Ok, "Report Not Printed",
                 "The report was not printed.\n\nThe file missing/report.pdf could not be "
                 "written."));
    }
    void print()
    {
        QFETCH(int, type);
        QFETCH(QString, details);
        QFETCH(QString, button);
        QFETCH(QString, to);
        QFETCH(QString, page);
        QFETCH(QString, told);
        QFETCH(QByteArray, saved);
        writeFile(Dat, "A1;ok\r\n");
        Bench bench(type, to);
        inDetails(details.section(';', 0, 0), details.section(';', 1), button);
        const auto today = [] {
            return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
        };
        const QString before = today().remove(' ');
        bench.run(type == 7 ? 3 : 1);
        QCOMPARE(seen(bench.dialogs), told);
        QCOMPARE(readFile(Dat), saved);
        // Labels sit side by side, so the blanks between them depend on the font.
        const QString text = pdfText(to).remove(' ');
        QCOMPARE(text.count('\f'), page.isEmpty() ? 0 : 1);
        const QString labelled = text.split('\n').filter(QStringLiteral(":")).join('\n');
        // The date is the print's, which may have been just before midnight.
        QVERIFY2(labelled == QString(page).replace("%date", before) ||
                     labelled == page.replace("%date", today().remove(' ')),
                 qPrintable(labelled));
        if (!page.isEmpty())
            QCOMPARE(axisRow(to), Axis);
    }

    void failedSaveIsTold_data()
    {
        QTest::addColumn<bool>("atOpen");
        QTest::newRow("removed while printing") << false;
        QTest::newRow("removed just before it is opened") << true;
    }
    void failedSaveIsTold()
    {
        // The page is written, but a hand removes PrintComments.dat meanwhile: it is not made
        // anew, and the operator learns the entry will not be offered again.
        QFETCH(bool, atOpen);
        Bench bench(7, "report.pdf");
        bench.meanwhile = [atOpen] {
            if (atOpen)
                removeBeforeOpen = true;
            else
                QFile::remove(Dat);
        };
        inDetails("A1", "ok");
        bench.run();
        QVERIFY(QFile::exists("report.pdf") && !QFile::exists(Dat));
        QCOMPARE(seen(bench.dialogs),
                 seen(MsgIcon::Exclamation, MsgButtons::Ok, "DUT ID Not Saved",
                      "The report was printed, but the DUT ID and comments could not be saved in "
                      "PrintComments.dat.\n\nThe file is no longer there."));
    }

    // ---- Printing through a private cupsd

    void printsOnChosenQueueAndKeepsTheDefault_data()
    {
        QTest::addColumn<QString>("queue"); // chosen in the print dialog
        QTest::newRow("another queue") << "q2";
        QTest::newRow("the default") << "q1";
    }
    void printsOnChosenQueueAndKeepsTheDefault()
    {
        QFETCH(QString, queue);
        REQUIRE_CUPS();
        Bench bench(5, queue);
        // Like a print dialog that makes the chosen printer the default.
        if (queue != "q1")
            bench.meanwhile = [&] { DefaultPrinter::SetDefaultPrinter(queue, bench.dialogs); };
        inDetails("A1", "ok");
        bench.run();
        QCOMPARE(bench.offered, QString("q1"));
        QCOMPARE(seen(bench.dialogs), QString());
        // The queue writes its file once the job has gone through the filters.
        QVERIFY2(
            QTest::qWaitFor([&] { return pdfText(cups->output(queue)).count('\f') == 1; }, 120000),
            cups->log().constData());
        QVERIFY(pdfText(cups->output(queue)).contains("A1"));
        QCOMPARE(axisRow(cups->output(queue)), Axis);
        QCOMPARE(DefaultPrinter::CurrentDefaultPrinter(), QString("q1"));
        QCOMPARE(QFile::exists(cups->output("q1")), queue == "q1");
        QCOMPARE(QFile::exists(cups->lpoptions()), queue != "q1"); // no default written to keep it
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\n"));
    }

    void setDefaultPrinter()
    {
        REQUIRE_CUPS();
        ScriptedDialogs dialogs;
        QVERIFY(DefaultPrinter::SetDefaultPrinter("q2", dialogs));
        QCOMPARE(DefaultPrinter::CurrentDefaultPrinter(), QString("q2"));
        QVERIFY(!DefaultPrinter::SetDefaultPrinter("NoSuchQueue", dialogs));
        QCOMPARE(DefaultPrinter::CurrentDefaultPrinter(), QString("q2"));
        // A plain file where the options folder belongs refuses the change.
        QDir(cups->path("home/.cups")).removeRecursively();
        writeFile(cups->path("home/.cups"), "");
        QVERIFY(!DefaultPrinter::SetDefaultPrinter("q1", dialogs));
        QFile::remove(cups->path("home/.cups"));
        const auto failed = [](int code) {
            return seen(MsgIcon::None, MsgButtons::Ok, QCoreApplication::applicationName(),
                        QString("SetPrinterFailed. Error code: %1").arg(code));
        };
        QCOMPARE(seen(dialogs), failed(1030) + Sep + failed(ENOTDIR));
    }

    // Last: it takes the server away.
    void stoppedServerIsReportedAndNothingSaved()
    {
        REQUIRE_CUPS();
        Bench bench(5, "q2");
        bench.meanwhile = [] { cups->stop(); };
        inDetails("A1", "ok");
        bench.run();
        const QString told = seen(MsgIcon::Exclamation, MsgButtons::Ok, "Report Not Printed",
                                  "The report was not printed.\n\nThe printer q2 did not accept "
                                  "it: ");
        QVERIFY2(bench.dialogs.shown.size() == 1 && seen(bench.dialogs).startsWith(told),
                 qPrintable(seen(bench.dialogs)));
        QCOMPARE(readFile(Dat), QByteArray());
        QVERIFY(!QFile::exists(cups->output("q2")));
    }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
