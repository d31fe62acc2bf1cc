#pragma once

#include "history/DatabaseTarget.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Where the history is kept, as the settings hold it: this bench's own file or a lab's shared
// PostgreSQL database. The running History keeps the database it started with; a change
// takes effect at the next start. The password never passes through here: libpq reads it
// from ~/.pgpass.
class DatabaseDialog : public QDialog {
    Q_OBJECT
public:
    // inUse: the database of this run, which --database may have named.
    explicit DatabaseDialog(const DatabaseTarget& inUse, QWidget* parent = nullptr);

    // The address as it would be saved: empty for the local file.
    QString address() const;
    // Why the address is not understood; empty when it is.
    QString error() const;
    // Whether accepting saved something other than what the settings held.
    bool changed() const { return m_changed; }

    QRadioButton* Option_Local = nullptr;
    QRadioButton* Option_Shared = nullptr;
    QLineEdit* Text_Url = nullptr;
    QLabel* Label_Error = nullptr;
    QPushButton* Command_Ok = nullptr;

    void accept() override;

private:
    void validate();

    QString m_saved;
    bool m_changed = false;
};
