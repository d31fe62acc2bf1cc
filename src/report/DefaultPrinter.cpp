#include "report/DefaultPrinter.h"

#include "base/OperatorDialogs.h"

#include <QCoreApplication>

#include <cups/cups.h>

#include <cerrno>

namespace DefaultPrinter {

namespace {

void reportFailure(OperatorDialogs& dialogs, long code)
{
    dialogs.message({MsgKind::Notice, MsgIcon::None, QCoreApplication::applicationName(),
                     QStringLiteral("SetPrinterFailed. Error code: ") + QString::number(code),
                     MsgButtons::Ok});
}

} // namespace

bool SetDefaultPrinter(const QString& name, OperatorDialogs& dialogs)
{
    const qsizetype slash = name.indexOf(u'/');
    const QByteArray queue = (slash < 0 ? name : name.left(slash)).toUtf8();
    const QByteArray instance = slash < 0 ? QByteArray() : name.mid(slash + 1).toUtf8();

    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    cups_dest_t* chosen =
        queue.isEmpty()
            ? nullptr
            : cupsGetDest(queue.constData(), instance.isEmpty() ? nullptr : instance.constData(),
                          count, dests);
    if (!chosen) {
        // An unreachable server leaves its own status; otherwise the name is simply unknown.
        const ipp_status_t status = cupsLastError();
        reportFailure(dialogs,
                      status >= IPP_STATUS_ERROR_BAD_REQUEST ? status : IPP_STATUS_ERROR_NOT_FOUND);
        cupsFreeDests(count, dests);
        return false;
    }
    for (int i = 0; i < count; ++i)
        dests[i].is_default = 0;
    chosen->is_default = 1;

    errno = 0;
    const int result = cupsSetDests2(CUPS_HTTP_DEFAULT, count, dests);
    const int error = errno;
    cupsFreeDests(count, dests);
    if (result != 0) {
        reportFailure(dialogs, error ? error : long(cupsLastError()));
        return false;
    }
    return true;
}

QString CurrentDefaultPrinter()
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    QString name;
    if (const cups_dest_t* dest = cupsGetDest(nullptr, nullptr, count, dests)) {
        name = QString::fromUtf8(dest->name);
        if (dest->instance)
            name += u'/' + QString::fromUtf8(dest->instance);
    }
    cupsFreeDests(count, dests);
    return name;
}

} // namespace DefaultPrinter
