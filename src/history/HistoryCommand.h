#pragma once

#include "history/HistoryRecord.h"

#include <QString>

class QTextStream;

// The history for scripts, without a window. database: the --database value, empty when not
// given. Exit codes: 0 done, 2 with a message on err.
namespace HistoryCommand {

// One tab-separated line a record, oldest first: record id, sweep end (UTC, ISO 8601), DUT ID,
// ATT or RL, device word, verdict, worst margin and its frequency (both empty for NONE): the
// records the filter takes. Found through a print's DUT ID, a record's line names the DUT asked
// for. No record: no line, exit 0.
int list(const HistoryFilter& filter, const QString& database, QTextStream& out, QTextStream& err);

// The record with that id, or the DUT's latest record, as csv (default), s1p or s2p.
int exportRecord(const QString& idOrDutId, const QString& format, const QString& database,
                 QTextStream& out, QTextStream& err);

} // namespace HistoryCommand
