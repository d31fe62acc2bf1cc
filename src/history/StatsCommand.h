#pragma once

#include "history/HistoryRecord.h"

#include <QString>

class QTextStream;

namespace StatsCommand {

// --stats: a header line, then one tab-separated line of figures for each group of the records
// the filter takes. database: the --database value, empty when not given. Exit codes: 0 done,
// 2 with a message on err, also when a shared database's figures would not be the lab's.
int stats(const HistoryFilter& filter, const QString& database, QTextStream& out, QTextStream& err);

} // namespace StatsCommand
