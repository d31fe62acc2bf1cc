#pragma once

#include "ScriptedDialogs.h"
#include "chart/Chart.h"
#include "measure/GlobalVar.h"
#include "report/PrintResultForm.h"
#include "report/PrintResultTextForm.h"

#include <QDate>
#include <QLabel>

#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;

QByteArray readFile(const QString& name); // "<no file>" when there is none
void writeFile(const QString& name, const QByteArray& bytes);

// The page as pdftotext reads it: the labelled lines without blanks (labels sit side by side,
// so the blanks between them depend on the font), then the frequency axis row; "no page"
// unless the PDF holds exactly one page. Today's date reads "<today>", and so does
// yesterday's, for a print begun before midnight.
QString printedPage(const QString& pdf);

// A message as the operator sees it: icon and buttons (as numbers), title and text; all that
// were shown, one after the other.
QString seen(MsgIcon icon, MsgButtons buttons, const QString& title, const QString& text);
QString seen(const ScriptedDialogs& dialogs);
inline const QString Sep = QStringLiteral("\n--\n"); // between two messages

// Opens the list and clicks the entry, as the operator does.
void chooseItem(QComboBox* combo, int index);

// Once the report shows the details dialog, inside its modal loop: pastes identifier and
// comments and presses button (none: the close box).
void inDetails(const QString& dutId, const QString& comments,
               const QString& button = "Command_Print");

// What a hand or the file system does to PrintComments.dat in the instant before the program
// next opens it to write: after any look the program may take.
extern std::function<void()> beforeSavedOpen;
// Files may grow to 10 bytes only, as on a full disk.
void fillDisk();
// The process acts as user nobody on a PrintComments.dat it may write but not read (root
// reads every file); false when that cannot be arranged here.
bool makeSavedFileUnreadable();
// Undoes both.
void undoFileFaults();

// The main window's side of a print. Its print dialog, opened on the printer offered, prints
// to the PDF file or queue "to" (none: Cancel) and runs meanwhile for what a hand does there.
struct Bench {
    Chart results{6};
    GlobalVar globals;
    ScriptedDialogs dialogs;
    QString to, offered = "-";
    std::function<void()> meanwhile = [] {};

    explicit Bench(int measType, const QString& printTo = {});
    ReportSource source(int step) const;
    void run(int step) { PrintResultForm::Command_Print_Click(source(step), dialogs); }
};

// The details dialog alone, writing into labels that stand for the report's.
struct Details {
    QLabel dut, dutId, comments, measType{QStringLiteral("Attenuation")};
    PrintResultTextForm form;

    explicit Details(int type);
    QLineEdit* edit(const char* name) const;
    QComboBox* combo(const char* name) const;
    QPushButton* button(const char* name) const;
    // DUT (* when it can be typed in), identifier, comments, the texts of both lists, the
    // focus and whether Print can be pressed, between bars.
    QString state() const;
};
