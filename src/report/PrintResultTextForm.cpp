#include "report/PrintResultTextForm.h"

#include "base/OperatorDialogs.h"
#include "measure/DutText.h"
#include "report/SavedComments.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

const QString Select = QStringLiteral("SELECT");

template <typename W> W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Cleans the box's text: the first ";" of a saved line separates identifier from comments, and
// a pasted line break would split the saved line and the page's. Then cuts it back to limit
// code points: what goes beyond is taken off before the cursor, where typed or pasted text ends.
void keepClean(QLineEdit* edit, int limit)
{
    QString text = DutText::cleanComments(edit->text());
    int cursor = edit->cursorPosition();
    if (const int excess = DutText::codePoints(text) - limit; excess > 0) {
        const QString before = text.left(cursor);
        const QString kept =
            DutText::truncated(before, std::max(0, DutText::codePoints(before) - excess));
        text = DutText::truncated(kept + text.mid(cursor), limit);
        cursor = int(kept.size());
    }
    if (text == edit->text())
        return;
    edit->setText(text);
    edit->setCursorPosition(cursor);
}

} // namespace

QString PrintResultTextForm::DescriptionFor(MeasType measType, const QString& customAttnText)
{
    if (measType == MeasType::AttenuatorRl)
        return QString(15, u' ') + Select + QStringLiteral(" --->>");
    if (measType == MeasType::CustomAtt)
        return customAttnText + QStringLiteral(" dB Attenuator");
    return QLatin1String(measInfo(measType).reportText);
}

PrintResultTextForm::PrintResultTextForm(MeasType measType, const QString& customAttnText,
                                         const ReportLabels& labels, OperatorDialogs& dialogs,
                                         QWidget* parent)
    : QDialog(parent), m_labels(labels), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("PrintResultTextForm"));
    setWindowTitle(QStringLiteral("Enter Text"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    createControls();
    layOutControls();
    connectEvents();
    Form_Load(measType, customAttnText);
}

void PrintResultTextForm::createControls()
{
    Label2 = named(new QLabel(QStringLiteral("DUT: "), this), "Label2");
    Text_DUT = named(new QLineEdit(this), "Text_DUT");
    Text_DUT->setReadOnly(true);
    Combo_Att = named(new QComboBox(this), "Combo_Att");
    Combo_Att->setEditable(true);
    Combo_Att->setInsertPolicy(QComboBox::NoInsert);
    Combo_Att->setEditText(Select);
    Combo_Att->setMinimumWidth(170);
    Combo_Att->hide();
    Label3 = named(new QLabel(QStringLiteral("DUT ID: "), this), "Label3");
    Text_DUTId = named(new QLineEdit(this), "Text_DUTId");
    Label4 = named(new QLabel(QStringLiteral("Comments: "), this), "Label4");
    Text_Comments = named(new QLineEdit(this), "Text_Comments");
    Label6 = named(new QLabel(QStringLiteral("Use Saved DUT Id & Comments:"), this), "Label6");
    Label6->setTextFormat(Qt::PlainText);
    Combo_Saved = named(new QComboBox(this), "Combo_Saved");
    Combo_Saved->setEditable(true);
    Combo_Saved->setInsertPolicy(QComboBox::NoInsert);
    Combo_Saved->setEditText(QStringLiteral("Empty"));
    Command_Clear =
        named(new QPushButton(QStringLiteral("Clear DUT ID / Comments"), this), "Command_Clear");
    Command_Cancel = named(new QPushButton(QStringLiteral("Cancel"), this), "Command_Cancel");
    Command_Print = named(new QPushButton(QStringLiteral("Print"), this), "Command_Print");
    Command_Print->setEnabled(false);
    // Enter in a text box presses no button: the page is printed by Print only.
    for (QPushButton* button : {Command_Clear, Command_Cancel, Command_Print}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

void PrintResultTextForm::layOutControls()
{
    auto* grid = new QGridLayout(this);
    grid->addWidget(Label2, 0, 0);
    grid->addWidget(Text_DUT, 0, 1);
    grid->addWidget(Combo_Att, 0, 2);
    grid->addWidget(Label3, 1, 0);
    grid->addWidget(Text_DUTId, 1, 1, 1, 2);
    grid->addWidget(Label4, 2, 0);
    grid->addWidget(Text_Comments, 2, 1, 1, 2);
    grid->addWidget(Label6, 3, 0, 1, 3);
    grid->addWidget(Combo_Saved, 4, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command_Clear);
    buttons->addStretch();
    buttons->addWidget(Command_Cancel);
    buttons->addWidget(Command_Print);
    grid->addLayout(buttons, 5, 0, 1, 3);
    grid->setColumnMinimumWidth(1, 260);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(Combo_Att, Text_DUTId);
    setTabOrder(Text_DUTId, Text_Comments);
    setTabOrder(Text_Comments, Combo_Saved);
    setTabOrder(Combo_Saved, Command_Clear);
    setTabOrder(Command_Clear, Command_Print);
    setTabOrder(Command_Print, Command_Cancel);
    setTabOrder(Command_Cancel, Text_DUT);
}

void PrintResultTextForm::connectEvents()
{
    connect(Combo_Att, &QComboBox::activated, this, &PrintResultTextForm::Combo_Att_Click);
    connect(Combo_Saved, &QComboBox::activated, this, &PrintResultTextForm::Combo_Saved_Click);
    // Any text is cleaned at once. Typing and pasting stop at the bound; a saved entry goes in
    // whole, to be refused by Print when too long, and may be shortened but not lengthened.
    const std::pair<QLineEdit*, int> bounded[] = {{Text_DUTId, DutText::MaxIdLength},
                                                  {Text_Comments, DutText::MaxCommentsLength}};
    for (const auto& entry : bounded) {
        QLineEdit* const box = entry.first;
        const int bound = entry.second;
        // The code points before an edit: textEdited comes before textChanged.
        const auto before = std::make_shared<int>(0);
        connect(box, &QLineEdit::textEdited, this,
                [box, bound, before] { keepClean(box, std::max(bound, *before)); });
        connect(box, &QLineEdit::textChanged, this, [box, before] {
            keepClean(box, std::numeric_limits<int>::max());
            *before = DutText::codePoints(box->text());
        });
    }
    connect(Command_Clear, &QPushButton::clicked, this, &PrintResultTextForm::Command_Clear_Click);
    connect(Command_Print, &QPushButton::clicked, this, &PrintResultTextForm::Command_Print_Click);
    connect(Command_Cancel, &QPushButton::clicked, this,
            &PrintResultTextForm::Command_Cancel_Click);
}

void PrintResultTextForm::Form_Load(MeasType measType, const QString& customAttnText)
{
    const QString description = DescriptionFor(measType, customAttnText);
    if (measType == MeasType::AttenuatorRl) {
        Combo_Att->addItems({QStringLiteral("2 X Attenuator"), QStringLiteral("2.5 X Attenuator"),
                             QStringLiteral("5 X Attenuator"), QStringLiteral("10 X Attenuator"),
                             QStringLiteral("Custom dB Attenuator")});
        Combo_Att->setCurrentIndex(-1);
        Combo_Att->setEditText(Select);
        Combo_Att->show();
    }
    const QStringList entries = SavedComments().loadEntries();
    Combo_Saved->addItems(entries);
    Combo_Saved->setCurrentIndex(-1);
    Combo_Saved->setEditText(entries.isEmpty() ? QStringLiteral("Empty")
                                               : QStringLiteral("Select"));
    Text_DUT->setText(description);
    if (!description.contains(Select))
        Command_Print->setEnabled(true);

    if (Combo_Att->isVisibleTo(this))
        Combo_Att->setFocus();
    else
        Text_DUTId->setFocus();
}

void PrintResultTextForm::focusFirstEmpty(QWidget* otherwise)
{
    if (Text_DUTId->text().isEmpty())
        Text_DUTId->setFocus();
    else if (Text_Comments->text().isEmpty())
        Text_Comments->setFocus();
    else
        otherwise->setFocus();
}

void PrintResultTextForm::Combo_Att_Click(int index)
{
    if (index < 0)
        return;
    if (index < 4) {
        Text_DUT->setText(Combo_Att->itemText(index));
        Combo_Att->setCurrentIndex(-1);
        Combo_Att->setEditText(QString());
        Command_Print->setEnabled(true);
        focusFirstEmpty(Command_Print);
        return;
    }
    Text_DUT->setText(QStringLiteral(" dB Attenuator"));
    Text_DUT->setReadOnly(false);
    Combo_Att->setCurrentIndex(-1);
    Combo_Att->setEditText(QString());
    Command_Print->setEnabled(true);
    // The operator types the value in front of " dB Attenuator".
    Text_DUT->setFocus();
    Text_DUT->setCursorPosition(0);
}

void PrintResultTextForm::Combo_Saved_Click(int index)
{
    if (index < 0)
        return;
    const QString saved = Combo_Saved->itemText(index);
    qsizetype p = saved.indexOf(u';') + 1;
    if (p == 0)
        p = saved.size() + 1;
    Text_DUTId->setText(saved.left(p - 1));
    if (p < saved.size())
        Text_Comments->setText(saved.mid(p));
    Combo_Saved->setCurrentIndex(-1);
    Combo_Saved->setEditText(QString());
    focusFirstEmpty(Command_Print->isEnabled() ? static_cast<QWidget*>(Command_Print)
                                               : static_cast<QWidget*>(Combo_Att));
}

void PrintResultTextForm::Command_Clear_Click()
{
    Text_DUTId->clear();
    Text_Comments->clear();
    Text_DUTId->setFocus();
}

bool PrintResultTextForm::refused(QLineEdit* box, const QString& refusal)
{
    if (refusal.isEmpty())
        return false;
    m_dialogs.message({MsgKind::RefusedValue, MsgIcon::Critical, QStringLiteral("Error"), refusal,
                       MsgButtons::Ok});
    box->clear();
    box->setFocus();
    return true;
}

void PrintResultTextForm::Command_Print_Click()
{
    const QString dutId = DutText::cleanId(Text_DUTId->text());
    const QString comments = DutText::cleanComments(Text_Comments->text());
    // A saved entry beyond the bounds went into the boxes whole; the dialog stays open.
    if (refused(Text_DUTId, DutText::idRefusal(dutId)) ||
        refused(Text_Comments, DutText::commentsRefusal(comments)))
        return;
    m_labels.Label_DUT->setText(SavedComments::oneLine(Text_DUT->text()));
    m_labels.Label_DUTId->setText(dutId.isEmpty() ? QString(DUTIdPlaceholderLength, u'_') : dutId);
    m_labels.Label_Comments->setText(comments.isEmpty() ? QString(CommentsPlaceholderLength, u'_')
                                                        : comments);
    accept();
}

void PrintResultTextForm::Command_Cancel_Click()
{
    m_labels.Label_MeasType->clear();
    QDialog::reject();
}

void PrintResultTextForm::reject()
{
    // Escape and the close box mean Cancel.
    Command_Cancel_Click();
}
