#include "history/HistoryCommand.h"

#include "history/HistoryExport.h"
#include "history/HistoryReading.h"

#include <QTextStream>

namespace HistoryCommand {

namespace {

// Opens what the reader asked for; with only this bench's copy of a lab's records, says so.
bool openForReading(HistoryReading& reading, QTextStream& err)
{
    if (!reading.open()) {
        err << "velmora: " << reading.error() << Qt::endl;
        return false;
    }
    if (reading.source() == HistoryReading::Source::BenchCopy)
        err << "velmora: " << reading.notice() << Qt::endl;
    return true;
}

int failed(const QString& message, QTextStream& err)
{
    err << "velmora: " << message << Qt::endl;
    return 2;
}

} // namespace

int list(const HistoryFilter& filter, const QString& database, QTextStream& out, QTextStream& err)
{
    HistoryReading reading(database);
    if (!openForReading(reading, err))
        return 2;
    HistoryFilter oldestFirst = filter;
    oldestFirst.newestFirst = false;
    const auto records = reading.query(oldestFirst);
    if (!records)
        return failed(reading.error(), err);
    for (const RecordSummary& r : *records) {
        const bool none = r.verdict.outcome == Verdict::Outcome::None;
        const QStringList fields{
            r.id.toString(QUuid::WithoutBraces),
            r.ended.toUTC().toString(Qt::ISODate),
            // Found through a print's DUT ID, the line names the DUT asked for.
            filter.dutId.isEmpty() || filter.dutPrefix ? r.dutId : filter.dutId,
            kindWord(r.kind()),
            r.device,
            r.verdict.word(),
            none ? QString() : Verdict::marginText(r.verdict.marginDb),
            none ? QString() : Verdict::frequencyText(r.verdict.frequencyMHz),
        };
        QStringList line;
        for (const QString& field : fields)
            line << HistoryExport::escaped(field, HistoryExport::Field::HistoryLine);
        out << line.join(u'\t') << '\n';
    }
    out.flush();
    return 0;
}

int exportRecord(const QString& idOrDutId, const QString& format, const QString& database,
                 QTextStream& out, QTextStream& err)
{
    const std::optional<HistoryExport::Format> chosen = HistoryExport::formatOf(format);
    if (!chosen) {
        return failed(QStringLiteral("the export format \"%1\" is not known: use csv, s1p or s2p.")
                          .arg(format),
                      err);
    }
    HistoryReading reading(database);
    if (!openForReading(reading, err))
        return 2;
    const QString missing =
        QStringLiteral("there is no record with the ID or DUT ID \"%1\".").arg(idOrDutId);

    QUuid id = QUuid::fromString(idOrDutId);
    std::optional<HistoryRecord> record;
    if (!id.isNull())
        record = reading.load(id);
    // A DUT ID may look like anything, a UUID included.
    if (id.isNull() || (record && record->id.isNull())) {
        const std::optional<QUuid> latest = reading.latestFor(idOrDutId);
        if (!latest)
            return failed(reading.error(), err);
        record = latest->isNull() ? HistoryRecord() : reading.load(*latest);
    }
    if (!record)
        return failed(reading.error(), err);
    if (record->id.isNull())
        return failed(missing, err);
    const MeasKind kind = record->result.kind();
    if (!HistoryExport::fits(*chosen, kind)) {
        return failed(
            QStringLiteral("record %1 is %2: write it as csv or %3, not %4.")
                .arg(record->id.toString(QUuid::WithoutBraces),
                     kind == MeasKind::ReturnLoss ? QStringLiteral("a return loss")
                                                  : QStringLiteral("an attenuation"),
                     kind == MeasKind::ReturnLoss ? QStringLiteral("s1p") : QStringLiteral("s2p"),
                     HistoryExport::formatName(*chosen)),
            err);
    }
    out << HistoryExport::write(*record, *chosen);
    out.flush();
    return 0;
}

} // namespace HistoryCommand
