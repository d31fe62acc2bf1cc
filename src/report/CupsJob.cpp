#include "report/CupsJob.h"

#include <cups/cups.h>

namespace CupsJob {

int SubmitPdf(const QString& printer, const QString& pdfPath, const QString& title, QString& reason)
{
    const qsizetype slash = printer.indexOf(u'/');
    const QByteArray queue = (slash < 0 ? printer : printer.left(slash)).toUtf8();
    const QByteArray instance = slash < 0 ? QByteArray() : printer.mid(slash + 1).toUtf8();

    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.constData(),
                                         instance.isEmpty() ? nullptr : instance.constData());
    if (!dest) {
        reason = QString::fromUtf8(cupsLastErrorString());
        if (reason.isEmpty())
            reason =
                QStringLiteral("The printer %1 is not known to the print system.").arg(printer);
        return 0;
    }
    int optionCount = 0;
    cups_option_t* options = nullptr;
    for (int i = 0; i < dest->num_options; ++i)
        optionCount =
            cupsAddOption(dest->options[i].name, dest->options[i].value, optionCount, &options);
    // One page, one copy: the sheet goes into the DUT's folder.
    optionCount = cupsAddOption("copies", "1", optionCount, &options);
    optionCount = cupsAddOption("fit-to-page", "true", optionCount, &options);

    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, dest->name, pdfPath.toLocal8Bit().constData(),
                                   title.toUtf8().constData(), optionCount, options);
    if (job <= 0)
        reason = QString::fromUtf8(cupsLastErrorString());
    cupsFreeOptions(optionCount, options);
    cupsFreeDests(1, dest);
    return job > 0 ? job : 0;
}

} // namespace CupsJob
