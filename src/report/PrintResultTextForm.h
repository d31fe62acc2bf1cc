#pragma once

#include "measure/MeasType.h"

#include <QDialog>

class OperatorDialogs;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The report's labels that the details dialog writes. An empty Label_MeasType after the dialog
// closed tells the report not to print.
struct ReportLabels {
    QLabel* Label_DUT = nullptr;
    QLabel* Label_DUTId = nullptr;
    QLabel* Label_Comments = nullptr;
    QLabel* Label_MeasType = nullptr;
};

// "Enter Text": the operator describes the DUT before the report is printed, reusing an
// identifier and comments saved from earlier prints if he likes. Print hands the texts to the
// report; Cancel, Escape and the close box tell it not to print.
class PrintResultTextForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int DUTIdPlaceholderLength = 46;
    static constexpr int CommentsPlaceholderLength = 67;

    // Reads the saved entries from PrintComments.dat in the current working directory; tells
    // through dialogs why a text is refused.
    PrintResultTextForm(MeasType measType, const QString& customAttnText,
                        const ReportLabels& labels, OperatorDialogs& dialogs,
                        QWidget* parent = nullptr);

    // The description preset of a measurement type; empty for a reference or an unknown type.
    static QString DescriptionFor(MeasType measType, const QString& customAttnText);

    void reject() override;

private:
    void createControls();
    void layOutControls();
    void connectEvents();
    // Presets the description, offers the saved entries and puts the focus.
    void Form_Load(MeasType measType, const QString& customAttnText);

    void Combo_Att_Click(int index);
    void Combo_Saved_Click(int index);
    void Command_Clear_Click();
    void Command_Print_Click();
    void Command_Cancel_Click();
    void focusFirstEmpty(QWidget* otherwise);
    // Tells the refusal of box's text, if any, and empties the box for a new one.
    bool refused(QLineEdit* box, const QString& refusal);

    ReportLabels m_labels;
    OperatorDialogs& m_dialogs;
    QLabel* Label2 = nullptr;
    QLineEdit* Text_DUT = nullptr;
    QComboBox* Combo_Att = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Text_DUTId = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Text_Comments = nullptr;
    QLabel* Label6 = nullptr;
    QComboBox* Combo_Saved = nullptr;
    QPushButton* Command_Clear = nullptr;
    QPushButton* Command_Cancel = nullptr;
    QPushButton* Command_Print = nullptr;
};
