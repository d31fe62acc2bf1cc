#pragma once

#include <QString>

class OperatorDialogs;

// The print system's default destination, as the user's lpoptions file holds it: the printed
// report gives it back after the operator printed on another printer.
namespace DefaultPrinter {

// Makes the named destination ("queue" or "queue/instance") the default, as `lpoptions -d`
// does. A refused change shows "SetPrinterFailed. Error code: " with the code: the IPP status
// when the name is unknown or the server cannot be asked, the system error when the options
// file cannot be written. Returns whether the default was set; callers go on either way.
bool SetDefaultPrinter(const QString& name, OperatorDialogs& dialogs);

// The current default destination ("queue" or "queue/instance"); empty when there is none.
QString CurrentDefaultPrinter();

} // namespace DefaultPrinter
