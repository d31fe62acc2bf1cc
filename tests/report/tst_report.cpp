#include "PrivateCups.h"
#include "ScriptedDialogs.h"
#include "app/Chart.h"
#include "measure/GlobalVar.h"
#include "report/DefaultPrinter.h"
#include "report/PrintResultForm.h"
#include "report/PrintResultTextForm.h"
#include "report/SavedComments.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Dat = QString::fromLatin1(SavedComments::FileName);
const QStringList StepTexts{"12.5 MHz", "25 MHz", "50 MHz", "100 MHz"};
std::unique_ptr<PrivateCups> cups;

template <typename T> T* child(QWidget* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

QByteArray readFile(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString today()
{
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

// pdftotext's view of a PDF: one form feed ends each page.
QString pdfText(const QString& pdf)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
    process.waitForFinished(60000);
    return process.exitCode() == 0 ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
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

// Runs action on the details dialog once the report shows it, inside its modal loop.
void whenDetailsShown(std::function<void(PrintResultTextForm&)> action)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        auto* form = qobject_cast<PrintResultTextForm*>(QApplication::activeModalWidget());
        if (!form || !form->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(*form);
    });
    timer->start();
}

void enterDetails(const QString& dutId, const QString& comments)
{
    whenDetailsShown([=](PrintResultTextForm& form) {
        QTest::keyClicks(child<QLineEdit>(&form, "Text_DUTId"), dutId);
        QTest::keyClicks(child<QLineEdit>(&form, "Text_Comments"), comments);
        QTest::mouseClick(child<QPushButton>(&form, "Command_Print"), Qt::LeftButton);
    });
}

// The main window's side of a print. Every row of every step column holds a text of its own,
// so that a copy of too many rows shows.
struct Bench {
    Chart results{6};
    GlobalVar globals;
    ScriptedDialogs dialogs;
    QString offered = QStringLiteral("-"); // the printer the print dialog opened with

    explicit Bench(int measType)
    {
        globals.MeasType = qint16(measType);
        globals.StepMult = {1, 2, 4, 8};
        for (int row = 1; row <= Chart::Rows; ++row) {
            results.setRow(row);
            for (int column = 1; column <= 6; ++column) {
                results.setColumn(column);
                results.setData(column == 1   ? " 30"
                                : column == 2 ? " 12"
                                              : QString::number(column * 3 + 6 + row / 100.0));
            }
        }
    }
    ReportSource source(int step) const
    {
        return {results, step, StepTexts[step], globals, QStringLiteral("6"), QPoint(40, 30)};
    }
    void run(int step = 1) { PrintResultForm::Command_Print_Click(source(step), dialogs); }
    // The print dialog: a PDF file when pdf is given, else queue (empty: the one offered).
    void choose(const QString& queue, const QString& pdf = {}, std::function<void()> also = {})
    {
        dialogs.onChoosePrinter = [this, queue, pdf, also](QPrinter& printer) {
            offered = printer.printerName();
            if (!pdf.isEmpty()) {
                printer.setOutputFormat(QPrinter::PdfFormat);
                printer.setOutputFileName(pdf);
            } else if (!queue.isEmpty()) {
                printer.setPrinterName(queue);
            }
            if (also)
                also();
            return true;
        };
    }
};

// The details dialog alone, writing into labels that stand for the report's.
struct Details {
    QLabel dut, dutId, comments, measType{QStringLiteral("Attenuation")};
    PrintResultTextForm form;
    explicit Details(int type) : form(qint16(type), "6", {&dut, &dutId, &comments, &measType})
    {
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    QLineEdit* edit(const char* name) { return child<QLineEdit>(&form, name); }
    QComboBox* combo(const char* name) { return child<QComboBox>(&form, name); }
    QPushButton* button(const char* name) { return child<QPushButton>(&form, name); }
    QString focus() const { return QApplication::focusWidget()->objectName(); }
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
    void initTestCase()
    {
        m_noCups = cups->start();
        if (!m_noCups.isEmpty())
            qWarning("No private print server: %s", qPrintable(m_noCups));
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QDir::setCurrent(m_dir->path());
    }
    void cleanup()
    {
        QDir::setCurrent(QDir::tempPath());
        m_dir.reset();
    }
    void cleanupTestCase() { cups->stop(); }

    // ---- PrintComments.dat

    void savedRules()
    {
        QVERIFY(SavedComments().loadEntries().isEmpty());
        QCOMPARE(readFile(Dat), QByteArray()); // created empty
        const SavedComments saved;
        QCOMPARE(saved.save("A1", "ok"), SavedComments::SaveResult::Saved);
        QCOMPARE(saved.save("A1", "ok"), SavedComments::SaveResult::Duplicate);
        QCOMPARE(saved.save("A1", "OK"), SavedComments::SaveResult::Saved);
        QCOMPARE(saved.save(QString(46, '_'), QString(67, '_')),
                 SavedComments::SaveResult::Nothing);
        QCOMPARE(saved.save("A_1", "x___y"), SavedComments::SaveResult::Saved);
        QCOMPARE(saved.save(QString(46, '_'), "ok"), SavedComments::SaveResult::Saved);
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\nA1;OK\r\nA_1;\r\n;ok\r\n"));
    }

    void savedOldAndForeignLines()
    {
        // LF-only lines, a one-character line, a Windows-1252 line, no final line end.
        writeFile(Dat, "A1;ok\nZ\r\n\r\nM\xfcller;50 \x80\r\nStra\xc3\x9f"
                       "e;x");
        QCOMPARE(SavedComments().loadEntries(),
                 QStringList(
                     {"A1;ok", QString::fromUtf8("Müller;50 €"), QString::fromUtf8("Straße;x")}));
        QCOMPARE(SavedComments().save(QString::fromUtf8("Müller"), QString::fromUtf8("50 €")),
                 SavedComments::SaveResult::Duplicate);
        QCOMPARE(SavedComments().save(QString::fromUtf8("Ä2"), "y"),
                 SavedComments::SaveResult::Saved);
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\nZ\r\n\r\nM\xfcller;50 \x80\r\nStra\xc3\x9f"
                                           "e;x\r\n\xc3\x84"
                                           "2;y\r\n"));
    }

    void savedUnreadableOrRemovedFileIsLeftAlone()
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
        PrintResultTextForm form(2, QString(), {&a, &b, &c, &d});
        const auto saved = SavedComments().save("B2", "x");
        QVERIFY(!root || ::seteuid(0) == 0);
        QCOMPARE(child<QComboBox>(&form, "Combo_Saved")->count(), 0);
        QCOMPARE(child<QComboBox>(&form, "Combo_Saved")->currentText(), QString("Empty"));
        QCOMPARE(saved, SavedComments::SaveResult::Failed);
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\n"));

        QVERIFY(QFile::remove(Dat));
        QCOMPARE(SavedComments().save("A1", "ok"), SavedComments::SaveResult::Failed);
        QVERIFY(!QFile::exists(Dat));
    }

    void savedByTwoInstancesAtOnce()
    {
        // Two benches saving the same entries at the same moment: each entry once, no line
        // split or joined.
        writeFile(Dat, "");
        QStringList entries;
        for (int i = 0; i < 300; ++i)
            entries << QString("D%1;comment %1").arg(i);
        pid_t children[2];
        for (pid_t& child : children) {
            child = fork();
            if (child == 0) {
                for (const QString& entry : entries)
                    SavedComments().save(entry.section(';', 0, 0), entry.section(';', 1));
                _exit(0);
            }
        }
        for (pid_t child : children)
            waitpid(child, nullptr, 0);
        QCOMPARE(SavedComments().loadEntries(), entries);
    }

    void savedOnFullDiskLeavesFileAsItWas()
    {
        writeFile(Dat, "A1;ok\r\n");
        // The file may grow by three bytes only, as on a disk that is full.
        const pid_t child = fork();
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{10, 10};
            setrlimit(RLIMIT_FSIZE, &limit);
            QString reason;
            const bool failed = SavedComments().save("B2", "a longer comment", &reason) ==
                                SavedComments::SaveResult::Failed;
            _exit(failed && !reason.isEmpty() ? 0 : 1);
        }
        int status = -1;
        waitpid(child, &status, 0);
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\n"));
    }

    // ---- Details dialog

    void presets_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("description");
        const char* texts[] = {"",
                               "1 X Attenuator (Cable)",
                               "2 X Attenuator",
                               "2.5 X Attenuator",
                               "5 X Attenuator",
                               "10 X Attenuator",
                               "",
                               "Termination",
                               "               SELECT --->>",
                               "6 dB Attenuator"};
        for (int type = 0; type <= 9; ++type)
            QTest::addRow("%d", type) << type << QString(texts[type]);
    }
    void presets()
    {
        QFETCH(int, type);
        QFETCH(QString, description);
        Details d(type);
        QCOMPARE(d.edit("Text_DUT")->text(), description);
        QVERIFY(d.edit("Text_DUT")->isReadOnly());
        QCOMPARE(d.button("Command_Print")->isEnabled(), type != 8);
        QCOMPARE(d.combo("Combo_Att")->isVisible(), type == 8);
        QCOMPARE(d.combo("Combo_Att")->count(), type == 8 ? 5 : 0);
        QCOMPARE(d.combo("Combo_Att")->currentText(), QString("SELECT"));
        QCOMPARE(d.combo("Combo_Saved")->currentText(), QString("Empty"));
        QCOMPARE(d.focus(), QString(type == 8 ? "Combo_Att" : "Text_DUTId"));
    }

    void attenuatorChoice()
    {
        Details d(8);
        chooseItem(d.combo("Combo_Att"), 1);
        QCOMPARE(d.edit("Text_DUT")->text(), QString("2.5 X Attenuator"));
        QVERIFY(d.edit("Text_DUT")->isReadOnly());
        QCOMPARE(d.combo("Combo_Att")->currentText(), QString());
        QVERIFY(d.button("Command_Print")->isEnabled());
        QCOMPARE(d.focus(), QString("Text_DUTId"));

        QTest::keyClicks(d.edit("Text_DUTId"), "A1");
        chooseItem(d.combo("Combo_Att"), 3);
        QCOMPARE(d.focus(), QString("Text_Comments"));
        QTest::keyClicks(d.edit("Text_Comments"), "ok");
        chooseItem(d.combo("Combo_Att"), 0);
        QCOMPARE(d.focus(), QString("Command_Print"));
        chooseItem(d.combo("Combo_Att"), 4);
        QVERIFY(!d.edit("Text_DUT")->isReadOnly());
        QCOMPARE(d.focus(), QString("Text_DUT"));
        QTest::keyClicks(d.edit("Text_DUT"), "6");
        QTest::mouseClick(d.button("Command_Print"), Qt::LeftButton);
        QCOMPARE(d.dut.text(), QString("6 dB Attenuator"));
    }

    void savedEntryChoice()
    {
        writeFile(Dat, "A1;ok\r\nB2\r\n;x\r\nC3;\r\nZ\r\nD4;a;b\r\n");
        Details d(7);
        auto* saved = d.combo("Combo_Saved");
        QCOMPARE(saved->count(), 5); // not the one-character line
        QCOMPARE(saved->currentText(), QString("Select"));
        const struct {
            int index;
            const char *dutId, *comments, *focus;
        } steps[] = {{0, "A1", "ok", "Command_Print"},
                     {1, "B2", "ok", "Command_Print"}, // no ";": the comments stay
                     {3, "C3", "ok", "Command_Print"}, // ";" last: the comments stay
                     {4, "D4", "a-b", "Command_Print"},
                     {2, "", "x", "Text_DUTId"}};
        for (const auto& step : steps) {
            chooseItem(saved, step.index);
            QCOMPARE(d.edit("Text_DUTId")->text(), QString(step.dutId));
            QCOMPARE(d.edit("Text_Comments")->text(), QString(step.comments));
            QCOMPARE(saved->currentText(), QString());
            QCOMPARE(d.focus(), QString(step.focus));
        }
    }

    void separatorProtectionAndClear()
    {
        Details d(7);
        QTest::keyClicks(d.edit("Text_Comments"), "a;b");
        QCOMPARE(d.edit("Text_Comments")->text(), QString("a-b"));
        d.edit("Text_DUTId")->setFocus();
        QTest::keyClicks(d.edit("Text_DUTId"), "a;b");
        QCOMPARE(d.edit("Text_DUTId")->text(), QString("a;b"));
        QTest::keyClick(d.edit("Text_DUTId"), Qt::Key_Tab);
        QCOMPARE(d.edit("Text_DUTId")->text(), QString("a-b"));
        // Enter presses no button, so a ";" cannot slip out with the focus still in the box.
        QTest::keyClicks(d.edit("Text_DUTId"), ";");
        QTest::keyClick(d.edit("Text_DUTId"), Qt::Key_Return);
        QVERIFY(d.form.isVisible());

        QTest::mouseClick(d.button("Command_Clear"), Qt::LeftButton);
        QCOMPARE(d.edit("Text_DUTId")->text(), QString());
        QCOMPARE(d.edit("Text_Comments")->text(), QString());
        QCOMPARE(d.edit("Text_DUT")->text(), QString("Termination"));
        QCOMPARE(d.focus(), QString("Text_DUTId"));
    }

    void cancelAndCloseBox()
    {
        writeFile(Dat, "A1;ok\r\n");
        for (int way = 0; way < 3; ++way) {
            Details d(7);
            QTest::keyClicks(d.edit("Text_DUTId"), "B2");
            if (way == 0)
                QTest::mouseClick(d.button("Command_Cancel"), Qt::LeftButton);
            else if (way == 1)
                d.form.close();
            else
                QTest::keyClick(&d.form, Qt::Key_Escape);
            QVERIFY(!d.form.isVisible());
            QCOMPARE(d.measType.text(), QString());
            QCOMPARE(d.dutId.text(), QString());
        }
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\n"));
    }

    // ---- Report page

    void load_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("firstRow");
        QTest::newRow("attenuation, 12.5 MHz") << 5 << 0 << 2;
        QTest::newRow("custom attenuation, 25 MHz") << 9 << 1 << 2;
        QTest::newRow("termination, 50 MHz") << 7 << 2 << 4;
        QTest::newRow("attenuator return loss, 100 MHz") << 8 << 3 << 8;
    }
    void load()
    {
        QFETCH(int, type);
        QFETCH(int, step);
        QFETCH(int, firstRow);
        Bench bench(type);
        bench.results.setSeriesHidden(2, true);
        bench.results.setSeriesHidden(step + 3, true);
        bench.results.setMaximum(50);
        bench.results.setMinimum(-5);
        bench.results.setMajorDivision(11);
        bench.results.setMinorDivision(2);
        PrintResultForm form(bench.source(step), bench.dialogs);

        const Chart* copy = child<Chart>(&form, "MSChartPrint");
        QCOMPARE(copy->columnCount(), 3);
        QCOMPARE(QList<double>({copy->maximum(), copy->minimum(), double(copy->majorDivision()),
                                double(copy->minorDivision())}),
                 QList<double>({50, -5, 11, 2}));
        QVERIFY(!copy->seriesHidden(1) && copy->seriesHidden(2) && !copy->seriesHidden(3));
        for (int row = 1; row <= Chart::Rows; ++row) {
            QCOMPARE(copy->cell(row, 1), bench.results.cell(row, 1));
            QCOMPARE(copy->cell(row, 2), bench.results.cell(row, 2));
            QCOMPARE(copy->cell(row, 3),
                     row < firstRow ? QString() : bench.results.cell(row, step + 3));
        }
    }

    void pdfReport_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("dutId");
        QTest::addColumn<QString>("comments");
        QTest::addColumn<QString>("lines");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("attenuation") << 5 << "A1"
                                     << "ok"
                                     << "DUT:10XAttenuator" << QByteArray("A1;ok\r\n");
        QTest::newRow("return loss, no details")
            << 7 << ""
            << ""
            << "DUT:Termination\nDUTID:" + QString(46, '_') + "\nComments:" + QString(67, '_')
            << QByteArray();
    }
    void pdfReport()
    {
        QFETCH(int, type);
        QFETCH(QString, dutId);
        QFETCH(QString, comments);
        QFETCH(QString, lines);
        QFETCH(QByteArray, saved);
        Bench bench(type);
        const QString pdf = m_dir->filePath("report.pdf");
        bench.choose({}, pdf);
        enterDetails(dutId, comments);
        QString date = today();
        bench.run(step(type));

        QVERIFY(bench.dialogs.shown.isEmpty());
        // Labels sit side by side, so the blanks between them depend on the font.
        const QString text = pdfText(pdf).remove(' ');
        QCOMPARE(text.count('\f'), 1);
        const QString header =
            QString("MeasurementType:%1FrequencyStep:%2Date:")
                .arg(type == 7 ? "ReturnLoss" : "Attenuation", StepTexts[step(type)])
                .remove(' ');
        QVERIFY2(text.contains(header + date.remove(' ')) ||
                     text.contains(header + today().remove(' ')),
                 qPrintable(text));
        QVERIFY2(text.contains(lines), qPrintable(text));
        QCOMPARE(text.contains("Thegraphshowsdeviationfromnominalattenuation"), type != 7);
        QCOMPARE(readFile(Dat), saved);
    }

    void cancelInEitherDialogPrintsAndSavesNothing()
    {
        writeFile(Dat, "A1;ok\r\n");
        Bench bench(7);
        bench.choose({}, m_dir->filePath("report.pdf"));
        whenDetailsShown([](PrintResultTextForm& form) {
            QTest::keyClicks(child<QLineEdit>(&form, "Text_DUTId"), "B2");
            QTest::mouseClick(child<QPushButton>(&form, "Command_Cancel"), Qt::LeftButton);
        });
        bench.run();
        QCOMPARE(bench.offered, QString("-")); // no print dialog
        QVERIFY(!QApplication::activeModalWidget());

        bench.dialogs.onChoosePrinter = [](QPrinter&) { return false; };
        enterDetails("B2", "x");
        bench.run();
        QVERIFY(!QFile::exists(m_dir->filePath("report.pdf")));
        QVERIFY(bench.dialogs.shown.isEmpty());
        QCOMPARE(readFile(Dat), QByteArray("A1;ok\r\n"));
    }

    void unwritablePdfIsReported()
    {
        Bench bench(7);
        bench.choose({}, m_dir->filePath("missing/report.pdf"));
        enterDetails("A1", "ok");
        bench.run();
        QCOMPARE(bench.dialogs.titles(), QStringList{"Report Not Printed"});
        QVERIFY(bench.dialogs.shown[0].text.startsWith("The report was not printed.\n\nThe file "));
        QCOMPARE(readFile(Dat), QByteArray());
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
        Bench bench(5);
        // Like a print dialog that makes the chosen printer the default.
        bench.choose(queue, {}, [&] {
            if (queue != "q1")
                DefaultPrinter::SetDefaultPrinter(queue, bench.dialogs);
        });
        enterDetails("A1", "ok");
        bench.run();
        QCOMPARE(bench.offered, QString("q1"));
        QVERIFY2(bench.dialogs.shown.isEmpty(), qPrintable(bench.dialogs.titles().join(',')));
        // The queue writes its file once the job has gone through the filters.
        QVERIFY2(
            QTest::qWaitFor([&] { return pdfText(cups->output(queue)).count('\f') == 1; }, 120000),
            cups->log().constData());
        QVERIFY(pdfText(cups->output(queue)).contains("A1"));
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
        QVERIFY(dialogs.shown.isEmpty());

        QVERIFY(!DefaultPrinter::SetDefaultPrinter("NoSuchQueue", dialogs));
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].text, QString("SetPrinterFailed. Error code: 1030"));
        QCOMPARE(dialogs.shown[0].buttons, MsgButtons::Ok);
        QCOMPARE(DefaultPrinter::CurrentDefaultPrinter(), QString("q2"));

        // A plain file where the options folder belongs refuses the change.
        QDir(cups->path("home/.cups")).removeRecursively();
        writeFile(cups->path("home/.cups"), "");
        QVERIFY(!DefaultPrinter::SetDefaultPrinter("q1", dialogs));
        QFile::remove(cups->path("home/.cups"));
        QCOMPARE(dialogs.shown.size(), 2);
        QCOMPARE(dialogs.shown[1].text, QString("SetPrinterFailed. Error code: %1").arg(ENOTDIR));
    }

    // Last: it takes the server away.
    void stoppedServerIsReportedAndNothingSaved()
    {
        REQUIRE_CUPS();
        Bench bench(5);
        bench.choose("q2", {}, [] { cups->stop(); });
        enterDetails("A1", "ok");
        bench.run();
        QCOMPARE(bench.dialogs.titles(), QStringList{"Report Not Printed"});
        QVERIFY(bench.dialogs.shown[0].text.startsWith(
            "The report was not printed.\n\nThe printer q2 did not accept it: "));
        QCOMPARE(readFile(Dat), QByteArray());
        QVERIFY(!QFile::exists(cups->output("q2")));
    }

private:
    static int step(int type) { return type == 7 ? 3 : 1; }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
