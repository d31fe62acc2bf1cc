#include "history/HistoryCommand.h"

#include "history/HistoryExport.h"
#include "history/HistoryStore.h"

#include <QFile>
#include <QTextStream>

namespace HistoryCommand {

namespace {

enum class Opened { Yes, Empty, Failed };

// Reading never makes a file or a schema: a bench that never recorded has an empty history.
Opened openForReading(const QString& database, HistoryStore& store, QTextStream& err)
{
    const DatabaseTarget target = DatabaseTarget::choose(database);
    bool opened = false;
    if (target.isShared()) {
        opened = store.openShared(target, HistoryStore::Access::ReadOnly);
    } else {
        const QString path = DatabaseTarget::localPath();
        if (!QFile::exists(path))
            return Opened::Empty;
        opened = store.openLocal(path, HistoryStore::Access::ReadOnly);
    }
    if (!opened) {
        err << "velmora: " << store.lastError() << Qt::endl;
        return Opened::Failed;
    }
    return Opened::Yes;
}

// A field of a --history line: nothing in it can end the field or the line, and a reader
// undoes the escapes without guessing.
QString lineField(const QString& text)
{
    QString field;
    field.reserve(text.size());
    for (const QChar c : text) {
        switch (const char16_t u = c.unicode()) {
        case u'\\':
            field += QLatin1String("\\\\");
            break;
        case u'\t':
            field += QLatin1String("\\t");
            break;
        case u'\r':
            field += QLatin1String("\\r");
            break;
        case u'\n':
            field += QLatin1String("\\n");
            break;
        case 0x2028:
        case 0x2029:
            field += QStringLiteral("\\u%1").arg(int(u), 4, 16);
            break;
        default:
            // The C0 and C1 controls.
            if (u < 0x20 || (u >= 0x80 && u <= 0x9f))
                field += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
            else
                field += c;
        }
    }
    return field;
}

int failed(const QString& message, QTextStream& err)
{
    err << "velmora: " << message << Qt::endl;
    return 2;
}

} // namespace

int list(const HistoryFilter& filter, const QString& database, QTextStream& out, QTextStream& err)
{
    HistoryStore store;
    switch (openForReading(database, store, err)) {
    case Opened::Empty:
        return 0;
    case Opened::Failed:
        return 2;
    case Opened::Yes:
        break;
    }
    HistoryFilter oldestFirst = filter;
    oldestFirst.newestFirst = false;
    const auto records = store.query(oldestFirst);
    if (!records)
        return failed(store.lastError(), err);
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
            line << lineField(field);
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
    HistoryStore store;
    const Opened opened = openForReading(database, store, err);
    if (opened == Opened::Failed)
        return 2;
    const QString missing =
        QStringLiteral("there is no record with the ID or DUT ID \"%1\".").arg(idOrDutId);
    if (opened == Opened::Empty)
        return failed(missing, err);

    QUuid id = QUuid::fromString(idOrDutId);
    std::optional<HistoryRecord> record;
    if (!id.isNull())
        record = store.load(id);
    // A DUT ID may look like anything, a UUID included.
    if (id.isNull() || (record && record->id.isNull())) {
        const std::optional<QUuid> latest = store.latestFor(idOrDutId);
        if (!latest)
            return failed(store.lastError(), err);
        record = latest->isNull() ? HistoryRecord() : store.load(*latest);
    }
    if (!record)
        return failed(store.lastError(), err);
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
