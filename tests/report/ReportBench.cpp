#include "ReportBench.h"

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
#include <unistd.h>

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

QString printedPage(const QString& pdf)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
    process.waitForFinished(60000);
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    if (process.exitCode() != 0 || text.count('\f') != 1)
        return QStringLiteral("no page");
    const QStringList lines = text.split('\n');
    QString labelled = lines.filter(":").join('\n').remove(' ');
    for (const QDate& date : {QDate::currentDate(), QDate::currentDate().addDays(-1)})
        labelled.replace(QLocale::system().toString(date, QLocale::ShortFormat).remove(' '),
                         "<today>");
    return labelled + '\n' + lines.filter("950").value(0).simplified();
}

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

void chooseItem(QComboBox* combo, int index)
{
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    QVERIFY(QTest::qWaitForWindowExposed(view->window()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(combo->model()->index(index, 0)).center());
}

void inDetails(const QString& dutId, const QString& comments, const QString& button)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* form = qobject_cast<PrintResultTextForm*>(QApplication::activeModalWidget());
        if (!form)
            return;
        timer->stop();
        timer->deleteLater();
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

std::function<void()> beforeSavedOpen;

// Every open of the process passes here; the one the hand waits for runs it first.
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
    if (beforeSavedOpen && (flags & O_ACCMODE) != O_RDONLY &&
        QByteArray(path).endsWith(SavedComments::FileName))
        std::exchange(beforeSavedOpen, nullptr)();
    return next(path, flags, mode);
}

namespace {
std::optional<rlimit> fileSizeLimit; // before the disk was filled
} // namespace

void fillDisk()
{
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &fileSizeLimit.emplace());
    const rlimit full{10, fileSizeLimit->rlim_max};
    setrlimit(RLIMIT_FSIZE, &full);
}

bool makeSavedFileUnreadable()
{
    const QByteArray file =
        QFile::encodeName(QFileInfo(SavedComments::FileName).absoluteFilePath());
    if (geteuid() != 0)
        return ::chmod(file.constData(), 0200) == 0;
    // The folder open to nobody too, for the page written there.
    return ::chmod(".", 0777) == 0 && ::chown(file.constData(), 65534, 65534) == 0 &&
           ::chmod(file.constData(), 0200) == 0 && ::seteuid(65534) == 0;
}

void undoFileFaults()
{
    if (geteuid() != getuid())
        QVERIFY(::seteuid(getuid()) == 0);
    if (fileSizeLimit)
        setrlimit(RLIMIT_FSIZE, &*fileSizeLimit);
    fileSizeLimit.reset();
}

Bench::Bench(int measType, const QString& printTo) : to(printTo)
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

ReportSource Bench::source(int step) const
{
    const char* texts[] = {"12.5 MHz", "25 MHz", "50 MHz", "100 MHz"};
    return {results, step, texts[step], globals, QStringLiteral("6"), QPoint(40, 30)};
}

Details::Details(int type) : form(MeasType(type), "6", {&dut, &dutId, &comments, &measType})
{
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
}

QLineEdit* Details::edit(const char* name) const
{
    return form.findChild<QLineEdit*>(name);
}
QComboBox* Details::combo(const char* name) const
{
    return form.findChild<QComboBox*>(name);
}
QPushButton* Details::button(const char* name) const
{
    return form.findChild<QPushButton*>(name);
}

QString Details::state() const
{
    const bool print = button("Command_Print")->isEnabled();
    return QString("%1%2|%3|%4|%5|%6|%7|%8")
        .arg(edit("Text_DUT")->isReadOnly() ? "" : "*", edit("Text_DUT")->text(),
             edit("Text_DUTId")->text(), edit("Text_Comments")->text(),
             combo("Combo_Att")->currentText(), combo("Combo_Saved")->currentText(),
             QApplication::focusWidget()->objectName(), print ? "Print" : "-");
}
