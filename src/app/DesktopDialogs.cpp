#include "app/DesktopDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

#include <memory>

QMessageBox* DesktopDialogs::boxFor(const OperatorMessage& message)
{
    auto* box = new QMessageBox(QApplication::activeWindow());
    box->setWindowTitle(message.title);
    box->setText(message.text);
    if (!message.details.isEmpty())
        box->setDetailedText(message.details);
    switch (message.icon) {
    case MsgIcon::None:
        box->setIcon(QMessageBox::NoIcon);
        break;
    case MsgIcon::Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Exclamation:
        box->setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Information:
        box->setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Question:
        box->setIcon(QMessageBox::Question);
        break;
    }
    // The first button is the default, as operators of this bench expect.
    switch (message.buttons) {
    case MsgButtons::Ok:
        box->setStandardButtons(QMessageBox::Ok);
        box->setDefaultButton(QMessageBox::Ok);
        break;
    case MsgButtons::OkCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->setDefaultButton(QMessageBox::Ok);
        break;
    case MsgButtons::YesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::Yes);
        break;
    case MsgButtons::YesNoCancel:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box->setDefaultButton(QMessageBox::Yes);
        break;
    }
    return box;
}

MsgResult DesktopDialogs::resultOf(int button, const OperatorMessage& message)
{
    switch (button) {
    case QMessageBox::Ok:
        return MsgResult::Ok;
    case QMessageBox::Yes:
        return MsgResult::Yes;
    case QMessageBox::No:
        return MsgResult::No;
    default:
        // The close box of a box without Cancel counts as its only or negative answer.
        return message.backOut();
    }
}

MsgResult DesktopDialogs::message(const OperatorMessage& message)
{
    if (message.unattended)
        return message.firstButton();
    const std::unique_ptr<QMessageBox> box(boxFor(message));
    // A guarded pointer: it is null again once the box is gone.
    // cppcheck-suppress danglingLifetime
    m_waiting = box.get();
    return resultOf(box->exec(), message);
}

void DesktopDialogs::show(const OperatorMessage& message, std::function<void(MsgResult)> answered)
{
    if (message.unattended)
        return answered(message.firstButton());
    QMessageBox* box = boxFor(message);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(box->parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    m_waiting = box;
    QObject::connect(box, &QDialog::finished, box,
                     [answered = std::move(answered), message](int button) {
                         answered(resultOf(button, message));
                     });
    box->open();
}

bool DesktopDialogs::answerWaiting(MsgResult button)
{
    static const QMessageBox::StandardButton standard[] = {QMessageBox::Ok, QMessageBox::Cancel,
                                                           QMessageBox::Yes, QMessageBox::No};
    const QMessageBox::StandardButton wanted = standard[int(button)];
    if (!m_waiting || !m_waiting->button(wanted))
        return false;
    // The box ends as if that button had been pressed.
    m_waiting->done(wanted);
    return true;
}

bool DesktopDialogs::choosePrinter(QPrinter& printer)
{
    QPrintDialog dialog(&printer, QApplication::activeWindow());
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.setOption(QAbstractPrintDialog::PrintCollateCopies, false);
    return dialog.exec() == QDialog::Accepted;
}
