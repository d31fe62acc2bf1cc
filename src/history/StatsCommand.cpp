#include "history/StatsCommand.h"

#include "history/HistoryReading.h"
#include "history/HistoryStats.h"

#include <QTextStream>

namespace StatsCommand {

int stats(const HistoryFilter& filter, const QString& database, QTextStream& out, QTextStream& err)
{
    const auto failed = [&err](const QString& message) {
        err << "velmora: " << message << Qt::endl;
        return 2;
    };
    HistoryReading reading(database);
    if (!reading.open())
        return failed(reading.error());
    // One bench's figures must never pass for the lab's.
    if (reading.source() == HistoryReading::Source::BenchCopy)
        return failed(QStringLiteral("%1 did not answer in %2 s: the lab's figures cannot be had "
                                     "now; --database local gives this bench's own figures.")
                          .arg(reading.target().shown)
                          .arg(reading.target().connectTimeout));
    if (const auto why = HistoryStats::notTheLabsFigures(reading.target(), reading.waiting()))
        return failed(*why);
    QVector<HistoryStats::Group> groups;
    if (HistoryStore* store = reading.store()) {
        const auto found = HistoryStats::groups(*store, filter);
        if (!found)
            return failed(store->lastError());
        groups = *found;
    }
    out << HistoryStats::header().join(u'\t') << '\n';
    for (const HistoryStats::Group& group : std::as_const(groups))
        out << HistoryStats::fields(group).join(u'\t') << '\n';
    out.flush();
    return 0;
}

} // namespace StatsCommand
