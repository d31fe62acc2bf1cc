#include "app/DatabaseDialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QVBoxLayout>

namespace {

// Lines broken by hand: a wrapped label in a dialog is sized before it knows its width.
QLabel* note(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

DatabaseDialog::DatabaseDialog(const DatabaseTarget& inUse, QWidget* parent)
    : QDialog(parent),
      m_saved(QSettings().value(QLatin1String(DatabaseTarget::SettingsKey)).toString().trimmed())
{
    setObjectName(QStringLiteral("DatabaseDialog"));
    setWindowTitle(QStringLiteral("History Database"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        note(QStringLiteral("Where this bench keeps its measurement records."), this));
    Option_Local = new QRadioButton(QStringLiteral("This bench's own &file (%1)")
                                        .arg(QDir::toNativeSeparators(DatabaseTarget::localPath())),
                                    this);
    Option_Local->setObjectName(QStringLiteral("Option_Local"));
    Option_Shared =
        new QRadioButton(QStringLiteral("The lab's shared &PostgreSQL database:"), this);
    Option_Shared->setObjectName(QStringLiteral("Option_Shared"));
    Text_Url = new QLineEdit(this);
    Text_Url->setObjectName(QStringLiteral("Text_Url"));
    Text_Url->setAccessibleName(QStringLiteral("Database address"));
    Text_Url->setPlaceholderText(QStringLiteral("postgresql://USER@HOST[:PORT]/DBNAME"));
    Text_Url->setMinimumWidth(Text_Url->fontMetrics().horizontalAdvance(QString(56, u'x')));
    Label_Error = note(QString(), this);
    Label_Error->setObjectName(QStringLiteral("Label_Error"));
    Label_Error->setMinimumHeight(Label_Error->fontMetrics().lineSpacing() * 2);
    Label_Error->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette red = Label_Error->palette();
    red.setColor(QPalette::WindowText, QColor(200, 0, 0));
    Label_Error->setPalette(red);
    layout->addWidget(Option_Local);
    layout->addWidget(Option_Shared);
    auto* indented = new QVBoxLayout;
    indented->setContentsMargins(24, 0, 0, 0);
    indented->addWidget(Text_Url);
    indented->addWidget(Label_Error);
    indented->addWidget(note(QStringLiteral("The password is never written here: put it in "
                                            "~/.pgpass (mode 0600),\nas a line "
                                            "HOST:PORT:DBNAME:USER:PASSWORD."),
                             this));
    layout->addLayout(indented);
    layout->addSpacing(8);

    QString inUseText = QStringLiteral("In use now: %1").arg(inUse.displayName());
    if (inUse.fromCommandLine)
        inUseText += QStringLiteral("\n(named with --database for this run)");
    layout->addWidget(note(inUseText + u'.', this));
    layout->addWidget(
        note(QStringLiteral("A change takes effect when Velmora is next started."), this));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Command_Ok = buttons->button(QDialogButtonBox::Ok);
    Command_Ok->setObjectName(QStringLiteral("Command_Ok"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &DatabaseDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DatabaseDialog::reject);

    const DatabaseTarget saved = DatabaseTarget::parse(m_saved);
    (saved.isShared() ? Option_Shared : Option_Local)->setChecked(true);
    Text_Url->setText(saved.url);
    connect(Option_Shared, &QRadioButton::toggled, this, &DatabaseDialog::validate);
    connect(Text_Url, &QLineEdit::textChanged, this, &DatabaseDialog::validate);
    validate();
}

QString DatabaseDialog::address() const
{
    return Option_Shared->isChecked() ? DatabaseTarget::parse(Text_Url->text()).url : QString();
}

QString DatabaseDialog::error() const
{
    if (!Option_Shared->isChecked())
        return {};
    if (Text_Url->text().trimmed().isEmpty())
        return QStringLiteral("Give the database's address.");
    const DatabaseTarget target = DatabaseTarget::parse(Text_Url->text());
    if (!target.isShared())
        return QStringLiteral("For this bench's own file, choose it above.");
    return target.valid() ? QString()
                          : QStringLiteral("The address is not understood:\n%1.").arg(target.error);
}

void DatabaseDialog::validate()
{
    Text_Url->setEnabled(Option_Shared->isChecked());
    const QString why = error();
    // Nothing to complain about before anything has been typed.
    Label_Error->setText(Text_Url->text().trimmed().isEmpty() ? QString() : why);
    Command_Ok->setEnabled(why.isEmpty());
}

void DatabaseDialog::accept()
{
    if (!error().isEmpty())
        return;
    const QString value = address();
    m_changed = value != m_saved;
    if (m_changed) {
        QSettings settings;
        settings.setValue(QLatin1String(DatabaseTarget::SettingsKey), value);
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            Label_Error->setText(QStringLiteral("The setting could not be saved in %1.")
                                     .arg(QDir::toNativeSeparators(settings.fileName())));
            m_changed = false;
            return;
        }
    }
    QDialog::accept();
}
