#include "history/StatsCommand.h"

#include "history/HistoryStats.h"
#include "history/HistoryStore.h"

#include <QFile>
#include <QTextStream>

namespace StatsCommand {

int stats(const HistoryFilter& filter, const QString& database, QTextStream& out, QTextStream& err)
{
    const auto failed = [&err](const QString& message) {
        err << "velmora: " << message << Qt::endl;
        return 2;
    };
    const DatabaseTarget target = DatabaseTarget::choose(database);
    HistoryStore store;
    if (target.isShared()) {
        if (const std::optional<QString> why = HistoryStats::notTheLabsFigures(target, store))
            return failed(*why);
    } else {
        // Reading never makes a file: a bench that never recorded has no groups.
        const QString path = DatabaseTarget::localPath();
        if (QFile::exists(path) && !store.openLocal(path, HistoryStore::Access::ReadOnly))
            return failed(store.lastError());
    }
    QVector<HistoryStats::Group> groups;
    if (store.isOpen()) {
        const auto found = HistoryStats::groups(store, filter);
        if (!found)
            return failed(store.lastError());
        groups = *found;
    }
    out << HistoryStats::header().join(u'\t') << '\n';
    for (const HistoryStats::Group& group : std::as_const(groups))
        out << HistoryStats::fields(group).join(u'\t') << '\n';
    out.flush();
    return 0;
}

} // namespace StatsCommand
