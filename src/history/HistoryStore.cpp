#include "history/HistoryStore.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtEndian>

#include <sqlite3.h>

#include <algorithm>
#include <vector>

namespace {

// Serialises schema creation across benches that start at once; any constant will do, as long
// as every bench uses the same.
constexpr qint64 SchemaLockKey = 0x56454c4d4f5241; // "VELMORA"

struct SchemaStep {
    int version;
    bool localOnly; // the outbox lives in the bench's own file only
    const char* sql;
};

// Forward migrations: a database at version v gets every step above v, in order, in one
// transaction. %UUID%, %REAL% and %BLOB% become each database's own types.
const SchemaStep Steps[] = {
    {1, false,
     "CREATE TABLE records ("
     " id %UUID% PRIMARY KEY,"
     " dut_id TEXT NOT NULL, comments TEXT NOT NULL,"
     " meas_type INTEGER NOT NULL, kind INTEGER NOT NULL, device TEXT NOT NULL,"
     " step_index INTEGER NOT NULL, step_mult INTEGER NOT NULL,"
     " nominal_db %REAL% NOT NULL, custom_attn_text TEXT NOT NULL,"
     " custom_limits INTEGER NOT NULL, limits_shown INTEGER NOT NULL,"
     " limit_set TEXT NOT NULL, limit_db %REAL% NOT NULL,"
     " verdict TEXT NOT NULL, margin_db %REAL%, margin_mhz %REAL%,"
     " points %BLOB% NOT NULL,"
     " ref_level %REAL% NOT NULL, ref_step_mult INTEGER NOT NULL, ref_points %BLOB% NOT NULL,"
     " ref_taken_ms BIGINT, started_ms BIGINT, ended_ms BIGINT NOT NULL,"
     " analyser_model TEXT NOT NULL, analyser_id TEXT NOT NULL,"
     " bench_interface TEXT NOT NULL, bench_address TEXT NOT NULL, simulated INTEGER NOT NULL,"
     " operator TEXT NOT NULL, program_version TEXT NOT NULL,"
     " started_from TEXT NOT NULL, unattended INTEGER NOT NULL)"},
    {1, false, "CREATE INDEX records_dut_id ON records (dut_id)"},
    {1, false, "CREATE INDEX records_ended ON records (ended_ms)"},
    // No foreign key: a print may reach a database before or without its record (another
    // bench's record re-printed here), and an outbox must never stick on one row.
    {1, false,
     "CREATE TABLE prints ("
     " id %UUID% PRIMARY KEY, record_id %UUID% NOT NULL,"
     " dut_description TEXT NOT NULL, dut_id TEXT NOT NULL, comments TEXT NOT NULL,"
     " date_text TEXT NOT NULL, step_text TEXT NOT NULL, cells %BLOB% NOT NULL,"
     " destination TEXT NOT NULL, printed_ms BIGINT NOT NULL)"},
    {1, false, "CREATE INDEX prints_dut_id ON prints (dut_id)"},
    {1, false, "CREATE INDEX prints_record_id ON prints (record_id)"},
    {1, true,
     "CREATE TABLE outbox ("
     " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
     " item_id TEXT NOT NULL, record_id TEXT NOT NULL, is_print INTEGER NOT NULL,"
     " target TEXT NOT NULL, queued_ms BIGINT NOT NULL, sent_ms BIGINT)"},
    {1, true, "CREATE INDEX outbox_pending ON outbox (target, sent_ms)"},
    {1, true, "CREATE INDEX outbox_record_id ON outbox (record_id)"},
};

// Added since schema 1 in ways a bench not yet updated still reads and writes through: a
// nullable column, an index. They leave the version as it is, since such a bench refuses a
// newer one, and are made by the first bench of this version that writes.
struct Addition {
    const char* table;
    const char* name; // of the column or the index
    bool isIndex;
    const char* sql;
};
const Addition Additions[] = {
    // Null for the prints made before, or by a bench not yet updated: they show the basic page.
    {"prints", "page_layout", false, "ALTER TABLE prints ADD COLUMN page_layout INTEGER"},
    // Every column the yield and margin figures read, so that counting a million records reads
    // an index and not the sweeps' points; in the two orders the figures rank by (each DUT's
    // records by time, each group's margins), so that they need no sort.
    {"records", "records_stats_duts", true,
     "CREATE INDEX records_stats_duts ON records (kind, device, meas_type, limit_set, limit_db,"
     " dut_id, ended_ms, id, verdict, simulated, margin_db, margin_mhz, nominal_db)"},
    {"records", "records_stats_margins", true,
     "CREATE INDEX records_stats_margins ON records (kind, device, meas_type, limit_set,"
     " limit_db, margin_db, ended_ms DESC, id DESC, margin_mhz, simulated, verdict, dut_id)"},
    // A group's margins and end times alone: medians, histograms and trends read every one of
    // them, and a third of the width reads in a third of the time.
    {"records", "records_stats_values", true,
     "CREATE INDEX records_stats_values ON records (kind, device, meas_type, limit_set,"
     " limit_db, simulated, margin_db, ended_ms)"},
};

// Running totals of the bench's file, kept by the file itself: a trigger adds each record as
// it is inserted, whichever program inserts it, so that the yield figures of a million
// records read a row per group and per DUT rather than every record. Each row is kept twice,
// with simulated runs (with_simulated 1) and without (0). A group without limit lines has limit
// 0 here, since its records' limit means nothing. A DUT's first and last record go by end
// time, then id, as the figures rank them. %1 is the record, as "records r" or as the
// trigger's NEW row.
const char* const TotalsTables[] = {
    "CREATE TABLE totals_groups (with_simulated INTEGER NOT NULL, kind INTEGER NOT NULL,"
    " device TEXT NOT NULL, meas_type INTEGER NOT NULL, limit_set TEXT NOT NULL,"
    " limit_db REAL NOT NULL, records INTEGER NOT NULL, pass INTEGER NOT NULL,"
    " fail INTEGER NOT NULL, none INTEGER NOT NULL, margins INTEGER NOT NULL,"
    " nominal_db REAL NOT NULL, first_ms INTEGER NOT NULL, last_ms INTEGER NOT NULL,"
    " PRIMARY KEY (with_simulated, kind, device, meas_type, limit_set, limit_db)) WITHOUT ROWID",
    "CREATE TABLE totals_duts (with_simulated INTEGER NOT NULL, kind INTEGER NOT NULL,"
    " device TEXT NOT NULL, meas_type INTEGER NOT NULL, limit_set TEXT NOT NULL,"
    " limit_db REAL NOT NULL, dut_id TEXT NOT NULL, first_ms INTEGER NOT NULL,"
    " first_id TEXT NOT NULL, first_verdict TEXT NOT NULL, last_ms INTEGER NOT NULL,"
    " last_id TEXT NOT NULL, last_verdict TEXT NOT NULL, PRIMARY KEY (with_simulated, kind,"
    " device, meas_type, limit_set, limit_db, dut_id)) WITHOUT ROWID",
};
const char* const TotalsColumns[] = {"kind",     "device",    "meas_type",  "limit_set",
                                     "limit_db", "dut_id",    "ended_ms",   "id",
                                     "verdict",  "margin_db", "nominal_db", "simulated"};
const char* const TotalsKey = "SELECT w.s, r.kind, r.device, r.meas_type, r.limit_set,"
                              " CASE WHEN r.limit_set = 'NONE' THEN 0 ELSE r.limit_db END";
const char* const TotalsAdd[] = {
    "INSERT INTO totals_groups %2, 1, r.verdict = 'PASS', r.verdict = 'FAIL',"
    " r.verdict = 'NONE', r.margin_db IS NOT NULL, r.nominal_db, r.ended_ms, r.ended_ms"
    " FROM %1, (SELECT 1 AS s UNION ALL SELECT 0) w WHERE w.s = 1 OR r.simulated = 0"
    " ON CONFLICT (with_simulated, kind, device, meas_type, limit_set, limit_db) DO UPDATE SET"
    " records = records + excluded.records, pass = pass + excluded.pass,"
    " fail = fail + excluded.fail, none = none + excluded.none,"
    " margins = margins + excluded.margins, nominal_db = min(nominal_db, excluded.nominal_db),"
    " first_ms = min(first_ms, excluded.first_ms), last_ms = max(last_ms, excluded.last_ms)",
    "INSERT INTO totals_duts %2, r.dut_id, r.ended_ms, r.id, r.verdict, r.ended_ms, r.id,"
    " r.verdict FROM %1, (SELECT 1 AS s UNION ALL SELECT 0) w"
    " WHERE r.dut_id <> '' AND (w.s = 1 OR r.simulated = 0)"
    " ON CONFLICT (with_simulated, kind, device, meas_type, limit_set, limit_db, dut_id)"
    " DO UPDATE SET"
    " first_ms = CASE WHEN %3 THEN excluded.first_ms ELSE first_ms END,"
    " first_id = CASE WHEN %3 THEN excluded.first_id ELSE first_id END,"
    " first_verdict = CASE WHEN %3 THEN excluded.first_verdict ELSE first_verdict END,"
    " last_ms = CASE WHEN %4 THEN excluded.last_ms ELSE last_ms END,"
    " last_id = CASE WHEN %4 THEN excluded.last_id ELSE last_id END,"
    " last_verdict = CASE WHEN %4 THEN excluded.last_verdict ELSE last_verdict END",
};

QString totalsAdd(const char* statement, const QString& record)
{
    return QString::fromLatin1(statement)
        .replace(QLatin1String("%3"),
                 QLatin1String("(excluded.first_ms, excluded.first_id) < (first_ms, first_id)"))
        .replace(QLatin1String("%4"),
                 QLatin1String("(excluded.last_ms, excluded.last_id) > (last_ms, last_id)"))
        .arg(record, QLatin1String(TotalsKey));
}

// median(x): the middle value of a group, or the mean of the two middle ones; PostgreSQL has
// it as percentile_cont(0.5), SQLite not at all.
struct MedianValues {
    std::vector<double>* values;
};

void medianStep(sqlite3_context* context, int, sqlite3_value** arguments)
{
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL)
        return;
    auto* state =
        static_cast<MedianValues*>(sqlite3_aggregate_context(context, sizeof(MedianValues)));
    if (!state) {
        sqlite3_result_error_nomem(context);
        return;
    }
    try {
        if (!state->values)
            state->values = new std::vector<double>;
        state->values->push_back(sqlite3_value_double(arguments[0]));
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(context);
    }
}

void medianFinal(sqlite3_context* context)
{
    auto* state = static_cast<MedianValues*>(sqlite3_aggregate_context(context, 0));
    if (!state || !state->values) {
        sqlite3_result_null(context);
        return;
    }
    std::vector<double>& v = *state->values;
    const auto upper = v.begin() + qsizetype(v.size() / 2);
    std::nth_element(v.begin(), upper, v.end());
    double middle = *upper;
    if (v.size() % 2 == 0) {
        // As percentile_cont() computes it, so that both databases give the same figures.
        const double low = *std::max_element(v.begin(), upper);
        middle = low + (middle - low) * 0.5;
    }
    sqlite3_result_double(context, middle);
    delete state->values;
}

const char* const InterfaceWords[] = {"board", "adapter", "simulated"};
const char* const StartedFromWords[] = {"window", "remote", "batch"};

QString idText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces);
}

QUuid idOf(const QVariant& value)
{
    return QUuid::fromString(value.toString());
}

// "?,?,?" for n values.
QString placeholders(qsizetype n)
{
    return QStringList(n, QStringLiteral("?")).join(u',');
}

QVariant msOf(const QDateTime& time)
{
    return time.isValid() ? QVariant(time.toMSecsSinceEpoch())
                          : QVariant(QMetaType(QMetaType::LongLong));
}

QDateTime timeOf(const QVariant& value)
{
    return value.isNull() ? QDateTime()
                          : QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

template <typename Enum, size_t N> Enum enumOf(const QVariant& value, const char* const (&words)[N])
{
    for (size_t i = 0; i < N; ++i) {
        if (value.toString() == QLatin1String(words[i]))
            return Enum(i);
    }
    return Enum(0);
}

QString limitSetWord(const MeasurementResult& result)
{
    if (!result.limitsShown)
        return QStringLiteral("NONE");
    if (result.customLimits)
        return QStringLiteral("CUSTOM");
    switch (measInfo(result.type).limits) {
    case LimitSet::Att03:
        return QStringLiteral("ATT03");
    case LimitSet::Att04:
        return QStringLiteral("ATT04");
    case LimitSet::Termination:
        return QStringLiteral("TERM");
    case LimitSet::AttenuatorRl:
        return QStringLiteral("PAD");
    case LimitSet::None:
        break;
    }
    return QStringLiteral("NONE");
}

Verdict::Outcome outcomeOf(const QString& word)
{
    if (word == QLatin1String("PASS"))
        return Verdict::Outcome::Pass;
    if (word == QLatin1String("FAIL"))
        return Verdict::Outcome::Fail;
    return Verdict::Outcome::None;
}

// A null QString binds as NULL; every text column wants "" instead.
QVariant bound(const QVariant& value)
{
    if (value.typeId() == QMetaType::QString && value.toString().isNull())
        return QStringLiteral("");
    return value;
}

// One column of a table: its name, the value a row stores there, and how a read puts that value
// back. A column the row derives from others, stored for the list's filters and for whoever
// reads the database directly, has no read. Each table below is the only place that maps its
// columns: the column lists of INSERT and SELECT, the placeholders, the binding and the reading
// all follow its order. A wrong name goes unseen when the row is read back, as the read takes
// the value from the same wrong column: tst_history checks the stored columns by name.
template <typename Row> struct Column {
    const char* name;
    QVariant (*write)(const Row&);
    void (*read)(Row&, const QVariant&);
};

// No verdict, no worst margin: NULL rather than 0.
QVariant marginOf(const HistoryRecord& record, double value)
{
    if (record.verdict.outcome == Verdict::Outcome::None)
        return QVariant(QMetaType(QMetaType::Double));
    return value;
}

// A sweep end or a print time not set is the time of writing.
qint64 msOrNow(const QDateTime& time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
}

using Record = HistoryRecord; // short, for the lambdas below

const Column<Record> RecordColumns[] = {
    {"id", [](const Record& h) -> QVariant { return idText(h.id); },
     [](Record& h, const QVariant& v) { h.id = idOf(v); }},
    {"dut_id", [](const Record& h) -> QVariant { return h.context.dutId; },
     [](Record& h, const QVariant& v) { h.context.dutId = v.toString(); }},
    {"comments", [](const Record& h) -> QVariant { return h.context.comments; },
     [](Record& h, const QVariant& v) { h.context.comments = v.toString(); }},
    {"meas_type", [](const Record& h) -> QVariant { return int(h.result.type); },
     [](Record& h, const QVariant& v) { h.result.type = MeasType(v.toInt()); }},
    {"kind", [](const Record& h) -> QVariant { return int(h.result.kind()); }, nullptr},
    {"device",
     [](const Record& h) -> QVariant { return deviceWord(h.result.type, h.result.nominalDb); },
     nullptr},
    {"step_index", [](const Record& h) -> QVariant { return h.result.stepIndex; },
     [](Record& h, const QVariant& v) { h.result.stepIndex = v.toInt(); }},
    {"step_mult", [](const Record& h) -> QVariant { return h.result.stepMult; },
     [](Record& h, const QVariant& v) { h.result.stepMult = v.toInt(); }},
    {"nominal_db", [](const Record& h) -> QVariant { return double(h.result.nominalDb); },
     [](Record& h, const QVariant& v) { h.result.nominalDb = v.toFloat(); }},
    {"custom_attn_text", [](const Record& h) -> QVariant { return h.result.customAttnText; },
     [](Record& h, const QVariant& v) { h.result.customAttnText = v.toString(); }},
    {"custom_limits", [](const Record& h) -> QVariant { return int(h.result.customLimits); },
     [](Record& h, const QVariant& v) { h.result.customLimits = v.toInt() != 0; }},
    {"limits_shown", [](const Record& h) -> QVariant { return int(h.result.limitsShown); },
     [](Record& h, const QVariant& v) { h.result.limitsShown = v.toInt() != 0; }},
    {"limit_set", [](const Record& h) -> QVariant { return limitSetWord(h.result); }, nullptr},
    {"limit_db", [](const Record& h) -> QVariant { return double(h.result.limitDb); },
     [](Record& h, const QVariant& v) { h.result.limitDb = v.toFloat(); }},
    {"verdict", [](const Record& h) -> QVariant { return h.verdict.word(); },
     [](Record& h, const QVariant& v) { h.verdict.outcome = outcomeOf(v.toString()); }},
    {"margin_db", [](const Record& h) { return marginOf(h, h.verdict.marginDb); },
     [](Record& h, const QVariant& v) { h.verdict.marginDb = v.toDouble(); }},
    {"margin_mhz", [](const Record& h) { return marginOf(h, h.verdict.frequencyMHz); },
     [](Record& h, const QVariant& v) { h.verdict.frequencyMHz = v.toDouble(); }},
    {"points", [](const Record& h) -> QVariant { return encodePoints(h.result.points); },
     [](Record& h, const QVariant& v) { h.result.points = decodePoints(v.toByteArray()); }},
    {"ref_level", [](const Record& h) -> QVariant { return double(h.result.reference.level); },
     [](Record& h, const QVariant& v) { h.result.reference.level = v.toFloat(); }},
    {"ref_step_mult", [](const Record& h) -> QVariant { return h.result.reference.stepMult; },
     [](Record& h, const QVariant& v) { h.result.reference.stepMult = v.toInt(); }},
    {"ref_points",
     [](const Record& h) -> QVariant { return encodePoints(h.result.reference.points); },
     [](Record& h, const QVariant& v) {
         h.result.reference.points = decodePoints(v.toByteArray());
     }},
    {"ref_taken_ms", [](const Record& h) { return msOf(h.result.reference.taken); },
     [](Record& h, const QVariant& v) { h.result.reference.taken = timeOf(v); }},
    {"started_ms", [](const Record& h) { return msOf(h.result.started); },
     [](Record& h, const QVariant& v) { h.result.started = timeOf(v); }},
    {"ended_ms", [](const Record& h) -> QVariant { return msOrNow(h.result.ended); },
     [](Record& h, const QVariant& v) { h.result.ended = timeOf(v); }},
    // The analyser as the sweep named it, else as the bench was set up; read back as both.
    {"analyser_model",
     [](const Record& h) -> QVariant {
         return h.result.analyserName.isEmpty() ? h.context.bench.analyserModel
                                                : h.result.analyserName;
     },
     [](Record& h, const QVariant& v) {
         h.result.analyserName = h.context.bench.analyserModel = v.toString();
     }},
    {"analyser_id", [](const Record& h) -> QVariant { return h.context.bench.idAnswer; },
     [](Record& h, const QVariant& v) { h.context.bench.idAnswer = v.toString(); }},
    {"bench_interface",
     [](const Record& h) -> QVariant {
         return QLatin1String(InterfaceWords[int(h.context.bench.interface)]);
     },
     [](Record& h, const QVariant& v) {
         h.context.bench.interface = enumOf<BenchInterface>(v, InterfaceWords);
     }},
    {"bench_address", [](const Record& h) -> QVariant { return h.context.bench.address; },
     [](Record& h, const QVariant& v) { h.context.bench.address = v.toString(); }},
    {"simulated", [](const Record& h) -> QVariant { return int(h.simulated()); }, nullptr},
    {"operator", [](const Record& h) -> QVariant { return h.context.operatorLogin; },
     [](Record& h, const QVariant& v) { h.context.operatorLogin = v.toString(); }},
    {"program_version", [](const Record& h) -> QVariant { return h.context.programVersion; },
     [](Record& h, const QVariant& v) { h.context.programVersion = v.toString(); }},
    {"started_from",
     [](const Record& h) -> QVariant {
         return QLatin1String(StartedFromWords[int(h.context.startedFrom)]);
     },
     [](Record& h, const QVariant& v) {
         h.context.startedFrom = enumOf<StartedFrom>(v, StartedFromWords);
     }},
    {"unattended", [](const Record& h) -> QVariant { return int(h.result.unattended); },
     [](Record& h, const QVariant& v) { h.result.unattended = v.toInt() != 0; }},
};

// A print as stored: the row and the record it belongs to.
struct StoredPrint {
    QUuid recordId;
    PrintRow row;
};

const Column<StoredPrint> PrintColumns[] = {
    {"id", [](const StoredPrint& p) -> QVariant { return idText(p.row.id); },
     [](StoredPrint& p, const QVariant& v) { p.row.id = idOf(v); }},
    {"record_id", [](const StoredPrint& p) -> QVariant { return idText(p.recordId); },
     [](StoredPrint& p, const QVariant& v) { p.recordId = idOf(v); }},
    {"dut_description", [](const StoredPrint& p) -> QVariant { return p.row.dutDescription; },
     [](StoredPrint& p, const QVariant& v) { p.row.dutDescription = v.toString(); }},
    {"dut_id", [](const StoredPrint& p) -> QVariant { return p.row.dutId; },
     [](StoredPrint& p, const QVariant& v) { p.row.dutId = v.toString(); }},
    {"comments", [](const StoredPrint& p) -> QVariant { return p.row.comments; },
     [](StoredPrint& p, const QVariant& v) { p.row.comments = v.toString(); }},
    {"date_text", [](const StoredPrint& p) -> QVariant { return p.row.dateText; },
     [](StoredPrint& p, const QVariant& v) { p.row.dateText = v.toString(); }},
    {"step_text", [](const StoredPrint& p) -> QVariant { return p.row.stepText; },
     [](StoredPrint& p, const QVariant& v) { p.row.stepText = v.toString(); }},
    {"cells", [](const StoredPrint& p) -> QVariant { return encodePoints(p.row.cells); },
     [](StoredPrint& p, const QVariant& v) { p.row.cells = decodePoints(v.toByteArray()); }},
    {"destination", [](const StoredPrint& p) -> QVariant { return p.row.destination; },
     [](StoredPrint& p, const QVariant& v) { p.row.destination = v.toString(); }},
    {"printed_ms", [](const StoredPrint& p) -> QVariant { return msOrNow(p.row.printed); },
     [](StoredPrint& p, const QVariant& v) { p.row.printed = timeOf(v); }},
    // Last: a schema without it reads NULL in its place.
    {"page_layout",
     [](const StoredPrint& p) -> QVariant {
         return p.row.layout == PageLayout::Basic ? QVariant() : QVariant(int(p.row.layout));
     },
     [](StoredPrint& p, const QVariant& v) {
         // A layout this program does not know is shown as the basic page.
         p.row.layout = v.toInt() == int(PageLayout::VerdictLine) ? PageLayout::VerdictLine
                                                                  : PageLayout::Basic;
     }},
};

// The history list's columns: expressions over the records r, read into a summary and never
// written.
const Column<RecordSummary> SummaryColumns[] = {
    {"r.id", nullptr, [](RecordSummary& s, const QVariant& v) { s.id = idOf(v); }},
    {"r.ended_ms", nullptr, [](RecordSummary& s, const QVariant& v) { s.ended = timeOf(v); }},
    {"r.dut_id", nullptr, [](RecordSummary& s, const QVariant& v) { s.dutId = v.toString(); }},
    {"r.meas_type", nullptr,
     [](RecordSummary& s, const QVariant& v) { s.type = MeasType(v.toInt()); }},
    {"r.device", nullptr, [](RecordSummary& s, const QVariant& v) { s.device = v.toString(); }},
    {"r.verdict", nullptr,
     [](RecordSummary& s, const QVariant& v) { s.verdict.outcome = outcomeOf(v.toString()); }},
    {"r.margin_db", nullptr,
     [](RecordSummary& s, const QVariant& v) { s.verdict.marginDb = v.toDouble(); }},
    {"r.margin_mhz", nullptr,
     [](RecordSummary& s, const QVariant& v) { s.verdict.frequencyMHz = v.toDouble(); }},
    {"r.simulated", nullptr,
     [](RecordSummary& s, const QVariant& v) { s.simulated = v.toInt() != 0; }},
    // Without a DUT ID of its own, the record goes by the latest printed one: read after
    // r.dut_id.
    {"(SELECT p.dut_id FROM prints p WHERE p.record_id = r.id AND p.dut_id <> ''"
     "  ORDER BY p.printed_ms DESC LIMIT 1)",
     nullptr,
     [](RecordSummary& s, const QVariant& v) {
         if (s.dutId.isEmpty())
             s.dutId = v.toString();
     }},
    {"(SELECT count(*) FROM prints p WHERE p.record_id = r.id)", nullptr,
     [](RecordSummary& s, const QVariant& v) { s.prints = v.toInt(); }},
};

// "a, b, c"
template <typename Row, size_t N> QString columnList(const Column<Row> (&columns)[N])
{
    QStringList names;
    for (const Column<Row>& column : columns)
        names << QLatin1String(column.name);
    return names.join(QStringLiteral(", "));
}

// The insert of a row, skipped when one with its id is there already, with the row bound.
template <typename Row, size_t N>
void prepareInsert(QSqlQuery& query, const char* table, const Column<Row> (&columns)[N],
                   const Row& row)
{
    query.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT (id) DO NOTHING")
                      .arg(QLatin1String(table), columnList(columns), placeholders(N)));
    for (const Column<Row>& column : columns)
        query.addBindValue(bound(column.write(row)));
}

// The current row of a query that selected columnList(columns).
template <typename Row, size_t N>
void readRow(const QSqlQuery& query, const Column<Row> (&columns)[N], Row& row)
{
    for (size_t i = 0; i < N; ++i) {
        if (columns[i].read)
            columns[i].read(row, query.value(int(i)));
    }
}

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("velmora-history-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

QByteArray encodePoints(const QVector<MeasuredPoint>& points)
{
    QByteArray bytes(points.size() * 8, Qt::Uninitialized);
    char* at = bytes.data();
    for (const MeasuredPoint& point : points) {
        qToLittleEndian(float(point.frequencyMHz), at);
        qToLittleEndian(point.value, at + 4);
        at += 8;
    }
    return bytes;
}

QVector<MeasuredPoint> decodePoints(const QByteArray& bytes)
{
    QVector<MeasuredPoint> points;
    for (qsizetype at = 0; at + 8 <= bytes.size(); at += 8) {
        points.append({double(qFromLittleEndian<float>(bytes.constData() + at)),
                       qFromLittleEndian<float>(bytes.constData() + at + 4)});
    }
    return points;
}

HistoryStore::HistoryStore() : m_name(nextConnectionName()) {}

HistoryStore::~HistoryStore()
{
    close();
}

void HistoryStore::close()
{
    if (!m_db.isValid())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

bool HistoryStore::open(const QString& driver)
{
    close();
    m_error.clear();
    m_problem = Problem::None;
    m_hasSchema = false;
    m_hasTotals = false;
    m_absentColumns.clear();
    m_db = QSqlDatabase::addDatabase(driver, m_name);
    if (!m_db.isValid()) {
        return failWith(Problem::Other,
                        QStringLiteral("The Qt SQL driver %1 is not installed (Debian package %2).")
                            .arg(driver, driver == QLatin1String("QPSQL")
                                             ? QStringLiteral("libqt6sql6-psql")
                                             : QStringLiteral("libqt6sql6-sqlite")));
    }
    return true;
}

bool HistoryStore::openLocal(const QString& path, Access access)
{
    m_shared = false;
    m_where = path;
    if (!open(QStringLiteral("QSQLITE")))
        return false;
    if (access == Access::ReadWrite && !QDir().mkpath(QFileInfo(path).absolutePath())) {
        return failWith(Problem::ReadOnly,
                        QStringLiteral("The folder of the history file %1 cannot be made. Make "
                                       "sure this user may write there.")
                            .arg(path));
    }
    m_db.setDatabaseName(path);
    // Other benches' processes on this machine write the same file: wait for them, in the
    // worker thread, as long as a loaded disk may need.
    m_db.setConnectOptions(access == Access::ReadOnly
                               ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000;QSQLITE_OPEN_READONLY")
                               : QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    if (!m_db.open())
        return fail(m_db.lastError());
    if (!addMedian())
        return false;
    if (access == Access::ReadWrite) {
        // FULL makes a committed record survive a power cut.
        QSqlQuery pragma(m_db);
        if (!useWriteAheadLog() || !exec(pragma, "PRAGMA synchronous=FULL"))
            return false;
    }
    return prepareSchema(access);
}

bool HistoryStore::addMedian()
{
    const QVariant handle = m_db.driver()->handle();
    sqlite3* db = qstrcmp(handle.typeName(), "sqlite3*") == 0
                      ? *static_cast<sqlite3* const*>(handle.constData())
                      : nullptr;
    if (!db ||
        sqlite3_create_function_v2(db, "median", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   nullptr, medianStep, medianFinal, nullptr) != SQLITE_OK) {
        close();
        return failWith(Problem::Other,
                        QStringLiteral("The history file %1 cannot be read for figures: this "
                                       "Qt's SQLite driver does not let Velmora add the median.")
                            .arg(m_where));
    }
    return true;
}

QString HistoryStore::medianOf(const QString& expression) const
{
    return m_shared
               ? QStringLiteral("percentile_cont(0.5) WITHIN GROUP (ORDER BY %1)").arg(expression)
               : QStringLiteral("median(%1)").arg(expression);
}

bool HistoryStore::useWriteAheadLog()
{
    // WAL lets readers go on while a bench writes. The switch needs the file to itself, and
    // SQLite does not wait for that: a second bench opening the same new file at that moment
    // is told "database is locked" at once. The mode stays with the file, so look first; when
    // busy, wait out the other bench in an exclusive transaction, which does wait, and retry.
    QSqlQuery query(m_db);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!exec(query, "PRAGMA journal_mode") || !query.next())
            return false;
        if (query.value(0).toString() == QLatin1String("wal"))
            return true;
        // A file system without shared memory keeps the old mode, which still works.
        if (query.exec(QStringLiteral("PRAGMA journal_mode=WAL")))
            return true;
        if ((query.lastError().nativeErrorCode().toInt() & 0xff) != 5) // SQLITE_BUSY
            return fail(query.lastError());
        if (!exec(query, "BEGIN EXCLUSIVE") || !exec(query, "COMMIT"))
            return false;
    }
    return failWith(Problem::Other,
                    QStringLiteral("The history file %1 cannot be switched to write-ahead "
                                   "logging: other programs keep it busy.")
                        .arg(m_where));
}

bool HistoryStore::openShared(const DatabaseTarget& target, Access access)
{
    m_shared = true;
    m_where = target.shown;
    m_user = target.user;
    if (!target.valid()) {
        m_db = QSqlDatabase();
        return failWith(
            Problem::Other,
            QStringLiteral("The history database address \"%1\" is not understood: %2. Write "
                           "postgresql://USER@HOST[:PORT]/DBNAME, "
                           "postgresql://USER@/DBNAME?host=/socket/dir, or \"local\".")
                .arg(target.shown, target.error));
    }
    if (!open(QStringLiteral("QPSQL")))
        return false;
    m_db.setHostName(target.host);
    if (target.port > 0)
        m_db.setPort(target.port);
    m_db.setDatabaseName(target.database);
    m_db.setUserName(target.user);
    // No password: libpq takes it from ~/.pgpass (or PGPASSFILE) as it always does.
    m_db.setConnectOptions(target.connectOptions);
    if (!m_db.open())
        return fail(m_db.lastError());
    return prepareSchema(access);
}

QString HistoryStore::sql(QString text) const
{
    text.replace(QLatin1String("%UUID%"), m_shared ? QLatin1String("uuid") : QLatin1String("TEXT"));
    text.replace(QLatin1String("%REAL%"),
                 m_shared ? QLatin1String("double precision") : QLatin1String("REAL"));
    text.replace(QLatin1String("%BLOB%"),
                 m_shared ? QLatin1String("bytea") : QLatin1String("BLOB"));
    return text;
}

std::optional<int> HistoryStore::schemaVersion()
{
    QSqlQuery query(m_db);
    // Read from the catalog table with this statement's snapshot: to_regclass() takes no lock
    // and may answer from a cache made before another bench created the table.
    const char* exists = m_shared ? "SELECT count(*) FROM pg_catalog.pg_tables WHERE "
                                    "schemaname = current_schema() AND tablename = 'schema_version'"
                                  : "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                    "name = 'schema_version'";
    if (!exec(query, exists) || !query.next())
        return std::nullopt;
    if (!query.value(0).toBool())
        return 0;
    if (!exec(query, "SELECT version FROM schema_version"))
        return std::nullopt;
    return query.next() ? query.value(0).toInt() : 0;
}

bool HistoryStore::prepareSchema(Access access)
{
    std::optional<int> version = schemaVersion();
    if (!version)
        return false;
    if (*version < SchemaVersion && access == Access::ReadWrite) {
        // Another bench may be doing the same right now: lock, then look again.
        if (!lockSchema())
            return false;
        if (!(version = schemaVersion()))
            return false;
        if (*version < SchemaVersion && !migrate())
            return false;
        if (!commit())
            return false;
    }
    if (*version > SchemaVersion) {
        close();
        return failWith(Problem::Newer,
                        QStringLiteral("The history database %1 was written by a newer Velmora "
                                       "(schema %2; this one knows up to %3). Update Velmora on "
                                       "this bench.")
                            .arg(m_where)
                            .arg(*version)
                            .arg(SchemaVersion));
    }
    m_hasSchema = *version > 0 || access == Access::ReadWrite;
    return !m_hasSchema || addMissing(access);
}

bool HistoryStore::lockSchema()
{
    if (!begin())
        return false;
    if (!m_shared)
        return true; // BEGIN IMMEDIATE holds the file's write lock
    QSqlQuery lock(m_db);
    lock.prepare(QStringLiteral("SELECT pg_advisory_xact_lock(?)"));
    lock.addBindValue(SchemaLockKey);
    return exec(lock, nullptr);
}

std::optional<bool> HistoryStore::has(const char* table, const char* name, bool isIndex)
{
    const char* text =
        m_shared ? (isIndex ? "SELECT count(*) FROM pg_indexes WHERE schemaname = "
                              "current_schema() AND tablename = ? AND indexname = ?"
                            : "SELECT count(*) FROM information_schema.columns WHERE "
                              "table_schema = current_schema() AND table_name = ? AND "
                              "column_name = ?")
                 : (isIndex ? "SELECT count(*) FROM sqlite_master WHERE type = 'index' AND "
                              "tbl_name = ? AND name = ?"
                            : "SELECT count(*) FROM pragma_table_info(?) WHERE name = ?");
    QSqlQuery query(m_db);
    query.prepare(QString::fromLatin1(text));
    query.addBindValue(QString::fromLatin1(table));
    query.addBindValue(QString::fromLatin1(name));
    if (!exec(query, nullptr) || !query.next())
        return std::nullopt;
    return query.value(0).toInt() > 0;
}

bool HistoryStore::addMissing(Access access)
{
    const auto missing = [this]() -> std::optional<QVector<const Addition*>> {
        QVector<const Addition*> list;
        for (const Addition& addition : Additions) {
            const std::optional<bool> there = has(addition.table, addition.name, addition.isIndex);
            if (!there)
                return std::nullopt;
            if (!*there)
                list << &addition;
        }
        return list;
    };
    std::optional<QVector<const Addition*>> todo = missing();
    std::optional<bool> totals = totalsKept();
    if (!todo || !totals)
        return false;
    if ((!todo->isEmpty() || !*totals) && access == Access::ReadWrite) {
        if (!lockSchema() || !(todo = missing()) || !(totals = totalsKept()))
            return false;
        for (const Addition* addition : std::as_const(*todo)) {
            QSqlQuery query(m_db);
            if (!query.exec(QString::fromLatin1(addition->sql)))
                return fail(query.lastError());
        }
        if (!*totals && !keepTotals())
            return false;
        if (!commit())
            return false;
        todo->clear();
        totals = true;
    }
    m_hasTotals = !m_shared && *totals;
    m_absentColumns.clear();
    for (const Addition* addition : std::as_const(*todo)) {
        if (!addition->isIndex)
            m_absentColumns << QLatin1String(addition->name);
    }
    return true;
}

std::optional<bool> HistoryStore::totalsKept()
{
    // A lab's database needs none: benches not yet updated write there too.
    if (m_shared)
        return true;
    QSqlQuery query(m_db);
    if (!exec(query, "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND "
                     "name = 'records_totals'") ||
        !query.next())
        return std::nullopt;
    return query.value(0).toInt() > 0;
}

bool HistoryStore::keepTotals()
{
    QStringList newRow;
    for (const char* column : TotalsColumns)
        newRow << QStringLiteral("NEW.%1 AS %1").arg(QLatin1String(column));
    const QString record = QStringLiteral("(SELECT %1) r").arg(newRow.join(u','));
    QStringList body;
    for (const char* statement : TotalsAdd)
        body << totalsAdd(statement, record);
    QSqlQuery query(m_db);
    for (const char* table : TotalsTables) {
        if (!exec(query, table))
            return false;
    }
    // The records so far, added as the trigger adds each new one.
    for (const char* statement : TotalsAdd) {
        if (!query.exec(totalsAdd(statement, QStringLiteral("records r"))))
            return fail(query.lastError());
    }
    if (!query.exec(QStringLiteral("CREATE TRIGGER records_totals AFTER INSERT ON records BEGIN "
                                   "%1; END")
                        .arg(body.join(QStringLiteral("; ")))))
        return fail(query.lastError());
    return true;
}

bool HistoryStore::migrate()
{
    QSqlQuery query(m_db);
    std::optional<int> from = schemaVersion();
    if (!from)
        return false;
    if (*from == 0 && (!exec(query, "CREATE TABLE schema_version (version INTEGER NOT NULL)") ||
                       !exec(query, "INSERT INTO schema_version (version) VALUES (0)")))
        return false;
    for (const SchemaStep& step : Steps) {
        if (step.version <= *from || (step.localOnly && m_shared))
            continue;
        if (!query.exec(sql(QString::fromLatin1(step.sql))))
            return fail(query.lastError());
    }
    query.prepare(QStringLiteral("UPDATE schema_version SET version = ?"));
    query.addBindValue(SchemaVersion);
    return exec(query, nullptr);
}

bool HistoryStore::begin()
{
    QSqlQuery query(m_db);
    // IMMEDIATE takes the write lock at once: a deferred one could not wait for another
    // writer in WAL mode.
    if (!exec(query, m_shared ? "BEGIN" : "BEGIN IMMEDIATE"))
        return false;
    m_inTransaction = true;
    return true;
}

bool HistoryStore::commit()
{
    QSqlQuery query(m_db);
    const bool ok = exec(query, "COMMIT");
    m_inTransaction = false;
    return ok;
}

void HistoryStore::rollback()
{
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
}

bool HistoryStore::exec(QSqlQuery& query, const char* text)
{
    if (text ? query.exec(QString::fromLatin1(text)) : query.exec())
        return true;
    return fail(query.lastError());
}

bool HistoryStore::failWith(Problem problem, const QString& message)
{
    m_problem = problem;
    m_error = message;
    return false;
}

bool HistoryStore::fail(const QSqlError& error)
{
    // Nothing half-written stays behind.
    rollback();
    const QString detail =
        (error.databaseText().isEmpty() ? error.driverText() : error.databaseText()).simplified();
    const QString code = error.nativeErrorCode();
    if (!m_shared) {
        const QString file = QStringLiteral("The history file %1").arg(m_where);
        switch (code.toInt()) { // SQLite's primary result codes
        case 13:
            return failWith(Problem::Full,
                            QStringLiteral("%1 is full: the disk has no room left (%2). Free some "
                                           "space on that disk.")
                                .arg(file, detail));
        case 8:
            return failWith(Problem::ReadOnly,
                            QStringLiteral("%1 cannot be written (%2). Make the file and its "
                                           "folder writable for this user.")
                                .arg(file, detail));
        case 14:
            return failWith(Problem::ReadOnly,
                            QStringLiteral("%1 cannot be opened (%2). Make sure its folder exists "
                                           "and this user may write there.")
                                .arg(file, detail));
        case 11:
        case 26:
            return failWith(Problem::Damaged,
                            QStringLiteral("%1 is damaged (%2). Move it aside; a new one is "
                                           "started with the next record.")
                                .arg(file, detail));
        case 5:
        case 6:
            return failWith(Problem::Other,
                            QStringLiteral("%1 is held by another program (%2). Try again when "
                                           "it has finished.")
                                .arg(file, detail));
        default:
            return failWith(Problem::Other, QStringLiteral("%1 failed (%2).").arg(file, detail));
        }
    }
    const QString database = QStringLiteral("The shared history database %1").arg(m_where);
    if (code == QLatin1String("28P01") || code == QLatin1String("28000") ||
        code == QLatin1String("3D000") || detail.contains(QLatin1String("password")) ||
        (error.type() == QSqlError::ConnectionError &&
         detail.contains(QLatin1String("does not exist")))) {
        return failWith(Problem::Refused,
                        QStringLiteral("%1 refused the user %2 (%3). Check the user and database "
                                       "names, and put the password in ~/.pgpass (mode 0600).")
                            .arg(database, m_user, detail));
    }
    if (code == QLatin1String("42501")) {
        return failWith(Problem::Permission,
                        QStringLiteral("%1 does not let the user %2 make or write the history "
                                       "tables (%3). The database must be owned by the lab's "
                                       "role: ALTER DATABASE name OWNER TO %2.")
                            .arg(database, m_user, detail));
    }
    // A broken link fails every statement; anything else leaves the connection usable.
    const bool linkDown = error.type() == QSqlError::ConnectionError || code.startsWith(u"08") ||
                          code.startsWith(u"57P") ||
                          !QSqlQuery(m_db).exec(QStringLiteral("SELECT 1"));
    if (linkDown) {
        m_db.close();
        return failWith(Problem::Unreachable,
                        QStringLiteral("%1 cannot be reached (%2). Check the network and that the "
                                       "database server runs.")
                            .arg(database, detail));
    }
    return failWith(Problem::Other, QStringLiteral("%1 failed (%2).").arg(database, detail));
}

bool HistoryStore::writeRecord(const HistoryRecord& record, const QString& outboxTarget)
{
    if (record.id.isNull())
        return failWith(Problem::Other,
                        QStringLiteral("A reference or an empty run is no record."));
    if (!begin())
        return false;
    QSqlQuery insert(m_db);
    prepareInsert(insert, "records", RecordColumns, record);
    if (!exec(insert, nullptr))
        return false;
    if (!outboxTarget.isEmpty() && !queueOutbox(record.id, record.id, false, outboxTarget))
        return false;
    return commit();
}

bool HistoryStore::writePrint(const QUuid& recordId, const PrintRow& row,
                              const QString& outboxTarget)
{
    StoredPrint print{recordId, row};
    if (print.row.id.isNull())
        print.row.id = QUuid::createUuid();
    if (!begin())
        return false;
    QSqlQuery insert(m_db);
    prepareInsert(insert, "prints", PrintColumns, print);
    if (!exec(insert, nullptr))
        return false;
    if (!outboxTarget.isEmpty() && !queueOutbox(print.row.id, recordId, true, outboxTarget))
        return false;
    return commit();
}

bool HistoryStore::queueOutbox(const QUuid& itemId, const QUuid& recordId, bool isPrint,
                               const QString& target)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("INSERT INTO outbox (item_id, record_id, is_print, target, "
                                 "queued_ms) VALUES (?, ?, ?, ?, ?)"));
    query.addBindValue(idText(itemId));
    query.addBindValue(idText(recordId));
    query.addBindValue(int(isPrint));
    query.addBindValue(target);
    query.addBindValue(QDateTime::currentMSecsSinceEpoch());
    return exec(query, nullptr);
}

FilterClause filterClause(const HistoryFilter& filter)
{
    FilterClause clause;
    QStringList where;
    if (!filter.dutId.isEmpty()) {
        // substr() rather than LIKE: literal and case-sensitive on both databases. It counts
        // characters, as toUcs4() does.
        const auto match = [&filter](const char* column) {
            return filter.dutPrefix ? QStringLiteral("substr(%1, 1, %2) = ?")
                                          .arg(QLatin1String(column))
                                          .arg(filter.dutId.toUcs4().size())
                                    : QStringLiteral("%1 = ?").arg(QLatin1String(column));
        };
        where << QStringLiteral("(%1 OR r.id IN (SELECT p.record_id FROM prints p WHERE %2))")
                     .arg(match("r.dut_id"), match("p.dut_id"));
        clause.values << filter.dutId << filter.dutId;
    }
    if (filter.from.isValid()) {
        where << QStringLiteral("r.ended_ms >= ?");
        clause.values << filter.from.toMSecsSinceEpoch();
    }
    if (filter.to.isValid()) {
        where << QStringLiteral("r.ended_ms <= ?");
        clause.values << filter.to.toMSecsSinceEpoch();
    }
    if (filter.kind) {
        where << QStringLiteral("r.kind = ?");
        clause.values << int(*filter.kind);
    }
    if (!filter.device.isEmpty()) {
        where << QStringLiteral("r.device = ?");
        clause.values << filter.device;
    }
    if (filter.outcome) {
        where << QStringLiteral("r.verdict = ?");
        clause.values << Verdict{*filter.outcome, 0, 0}.word();
    }
    if (!filter.includeSimulated)
        where << QStringLiteral("r.simulated = 0");
    if (!filter.queuedFor.isEmpty()) {
        where << QStringLiteral("r.id IN (SELECT o.record_id FROM outbox o WHERE o.is_print = 0 "
                                "AND o.target IN (%1)%2)")
                     .arg(placeholders(filter.queuedFor.size()),
                          filter.waiting ? QStringLiteral(" AND o.sent_ms IS NULL") : QString());
        for (const QString& target : filter.queuedFor)
            clause.values << target;
    }
    if (!where.isEmpty())
        clause.sql = QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    return clause;
}

std::optional<QVector<RecordSummary>> HistoryStore::query(const HistoryFilter& filter)
{
    QVector<RecordSummary> list;
    if (!m_hasSchema)
        return list;
    const FilterClause where = filterClause(filter);
    QString text =
        QStringLiteral("SELECT %1 FROM records r").arg(columnList(SummaryColumns)) + where.sql;
    text += filter.newestFirst ? QStringLiteral(" ORDER BY r.ended_ms DESC, r.id")
                               : QStringLiteral(" ORDER BY r.ended_ms, r.id");
    if (filter.limit > 0)
        text += QStringLiteral(" LIMIT %1").arg(filter.limit);

    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(text);
    for (const QVariant& value : where.values)
        query.addBindValue(value);
    if (!exec(query, nullptr))
        return std::nullopt;
    while (query.next()) {
        RecordSummary s;
        readRow(query, SummaryColumns, s);
        list.append(s);
    }
    return list;
}

std::optional<HistoryRecord> HistoryStore::load(const QUuid& id)
{
    HistoryRecord record;
    if (!m_hasSchema)
        return record;
    QSqlQuery query(m_db);
    query.prepare(
        QStringLiteral("SELECT %1 FROM records WHERE id = ?").arg(columnList(RecordColumns)));
    query.addBindValue(idText(id));
    if (!exec(query, nullptr))
        return std::nullopt;
    if (!query.next())
        return record;
    readRow(query, RecordColumns, record);

    QString printColumns = columnList(PrintColumns);
    for (const QString& column : std::as_const(m_absentColumns))
        printColumns.replace(column, QStringLiteral("NULL"));
    query.prepare(
        QStringLiteral("SELECT %1 FROM prints WHERE record_id = ? ORDER BY printed_ms, id")
            .arg(printColumns));
    query.addBindValue(idText(id));
    if (!exec(query, nullptr))
        return std::nullopt;
    while (query.next()) {
        StoredPrint print;
        readRow(query, PrintColumns, print);
        record.prints.append(print.row);
    }
    return record;
}

std::optional<PrintRow> HistoryStore::loadPrint(const QUuid& printId)
{
    // Prints are few per record: load the one record they belong to.
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT record_id FROM prints WHERE id = ?"));
    query.addBindValue(idText(printId));
    if (!exec(query, nullptr))
        return std::nullopt;
    if (!query.next())
        return PrintRow{};
    const QUuid recordId = idOf(query.value(0));
    const auto record = load(recordId);
    if (!record)
        return std::nullopt;
    for (const PrintRow& row : record->prints) {
        if (row.id == printId)
            return row;
    }
    return PrintRow{};
}

std::optional<QVector<QVariantList>> HistoryStore::rows(const QString& text,
                                                        const QVariantList& values)
{
    QVector<QVariantList> rows;
    if (!m_hasSchema)
        return rows;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(text);
    for (const QVariant& value : values)
        query.addBindValue(value);
    if (!exec(query, nullptr))
        return std::nullopt;
    const int columns = query.record().count();
    while (query.next()) {
        QVariantList row;
        row.reserve(columns);
        for (int i = 0; i < columns; ++i)
            row << query.value(i);
        rows << row;
    }
    return rows;
}

std::optional<int> HistoryStore::recordCount()
{
    if (!m_hasSchema)
        return 0;
    QSqlQuery query(m_db);
    if (!exec(query, "SELECT count(*) FROM records") || !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}

std::optional<bool> HistoryStore::hasRecord(const QUuid& id)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT 1 FROM records WHERE id = ?"));
    query.addBindValue(idText(id));
    if (!exec(query, nullptr))
        return std::nullopt;
    return query.next();
}

std::optional<QVector<HistoryStore::OutboxItem>>
HistoryStore::pendingOutbox(const QStringList& targets)
{
    QVector<OutboxItem> items;
    if (targets.isEmpty())
        return items;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT seq, item_id, record_id, is_print FROM outbox "
                                 "WHERE target IN (%1) AND sent_ms IS NULL ORDER BY seq")
                      .arg(placeholders(targets.size())));
    for (const QString& target : targets)
        query.addBindValue(target);
    if (!exec(query, nullptr))
        return std::nullopt;
    while (query.next()) {
        items.append({query.value(0).toLongLong(), idOf(query.value(1)), idOf(query.value(2)),
                      query.value(3).toInt() != 0});
    }
    return items;
}

bool HistoryStore::markSent(qint64 seq)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE outbox SET sent_ms = ? WHERE seq = ?"));
    query.addBindValue(QDateTime::currentMSecsSinceEpoch());
    query.addBindValue(seq);
    return exec(query, nullptr);
}

std::optional<QStringList> HistoryStore::outboxTargetsFor(const DatabaseTarget& target)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!exec(query, "SELECT DISTINCT target FROM outbox"))
        return std::nullopt;
    QStringList same;
    while (query.next()) {
        const QString text = query.value(0).toString();
        if (text == target.url || DatabaseTarget::parse(text).sameDatabase(target))
            same << text;
    }
    return same;
}

HistoryStore::Handover HistoryStore::handOver(const OutboxItem& item, HistoryStore& shared)
{
    if (item.isPrint) {
        const std::optional<PrintRow> row = loadPrint(item.item);
        if (!row)
            return Handover::LocalFailed;
        return row->id.isNull() || shared.writePrint(item.recordId, *row) ? Handover::Done
                                                                          : Handover::SharedFailed;
    }
    const std::optional<HistoryRecord> record = load(item.item);
    if (!record)
        return Handover::LocalFailed;
    return record->id.isNull() || shared.writeRecord(*record) ? Handover::Done
                                                              : Handover::SharedFailed;
}

std::optional<QString> HistoryStore::outboxTargetOf(const QUuid& recordId)
{
    QSqlQuery query(m_db);
    query.prepare(
        QStringLiteral("SELECT target FROM outbox WHERE record_id = ? AND is_print = 0 LIMIT 1"));
    query.addBindValue(idText(recordId));
    if (!exec(query, nullptr))
        return std::nullopt;
    return query.next() ? query.value(0).toString() : QString();
}
