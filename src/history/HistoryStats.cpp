#include "history/HistoryStats.h"

#include "history/HistoryExport.h"
#include "history/HistoryStore.h"

#include <QFile>

#include <cmath>

namespace HistoryStats {

namespace {

// The figures are one statement made of parts. {records} stands for "records r WHERE <the
// filter> AND", {totals} for the filter over the file's running totals; %1 is a group's limit,
// %2 the DUT IDs printed for records without one and, in Twisted, %3 where its records come
// from.
//
// A DUT's first and last record go by end time, then id. Counting devices goes by the record's
// own DUT ID, else its latest printed one; a group without limit lines has no limit whatever
// limit_db says. Records with either twist, and every record of a DUT ID that a printed one may
// share, are ranked after a sort ("twisted"). The rest come from the running totals where the
// filter allows it (kind, device and simulated runs only), else straight from
// records_stats_duts and records_stats_margins, in whose orders they need no sort. Each part
// sums into its own columns of u.
const char* const PrintedDut =
    "SELECT p.dut_id FROM prints p WHERE p.record_id IN (SELECT e.id FROM records e"
    " WHERE e.dut_id = '')";
const char* const Limit = "CASE WHEN r.limit_set = 'NONE' THEN NULL ELSE r.limit_db END";

const char* const Twisted =
    "WITH"
    " twisted AS (SELECT r.kind AS kind, r.meas_type AS mt, r.device AS device,"
    "  r.limit_set AS lset, %1 AS lim, r.verdict AS verdict, r.ended_ms AS ended, r.id AS id,"
    "  CASE WHEN r.dut_id <> '' THEN r.dut_id ELSE COALESCE((SELECT p.dut_id FROM prints p"
    "   WHERE p.record_id = r.id AND p.dut_id <> '' ORDER BY p.printed_ms DESC LIMIT 1), '')"
    "  END AS dut"
    "  FROM %3),"
    " d AS (SELECT kind, mt, device, lset, lim, verdict,"
    "   ROW_NUMBER() OVER (PARTITION BY kind, mt, device, lset, lim, dut ORDER BY ended, id) AS rn,"
    "   COUNT(*) OVER (PARTITION BY kind, mt, device, lset, lim, dut ORDER BY ended, id"
    "    ROWS BETWEEN UNBOUNDED PRECEDING AND UNBOUNDED FOLLOWING) AS n"
    "  FROM twisted WHERE dut <> ''),";
// Where the twisted records come from. Beside the running totals: the records of an empty DUT
// ID or of one a printed ID may share, found through records_dut_id. Without them, also every
// record of a group without limit lines, whose DUTs records_stats_duts does not keep together.
const char* const TwistedByDut =
    "(SELECT e.id FROM records e WHERE e.dut_id = '' OR e.dut_id IN (%2)) x"
    " CROSS JOIN {records} r.id = x.id";
const char* const TwistedLive =
    "{records} (r.limit_set = 'NONE' OR r.dut_id = '' OR r.dut_id IN (%2))";

// g: each group's record counts; pv: each DUT's first and last verdict. From the records:
const char* const CountedLive =
    " g AS (SELECT r.kind AS kind, r.meas_type AS mt, r.device AS device, r.limit_set AS lset,"
    "   r.limit_db AS ldb, count(*) AS records,"
    "   sum(CASE WHEN r.verdict = 'PASS' THEN 1 ELSE 0 END) AS pass,"
    "   sum(CASE WHEN r.verdict = 'FAIL' THEN 1 ELSE 0 END) AS fail,"
    "   sum(CASE WHEN r.verdict = 'NONE' THEN 1 ELSE 0 END) AS none, count(r.margin_db) AS n,"
    "   min(r.nominal_db) AS nominal, min(r.ended_ms) AS first, max(r.ended_ms) AS last"
    "  FROM {records} 1 = 1 GROUP BY r.kind, r.device, r.meas_type, r.limit_set, r.limit_db),"
    " du AS (SELECT r.kind AS kind, r.meas_type AS mt, r.device AS device, r.limit_set AS lset,"
    "   r.limit_db AS ldb, r.dut_id AS dut"
    "  FROM {records} r.limit_set <> 'NONE' AND r.dut_id <> '' AND r.dut_id NOT IN (%2)"
    "  GROUP BY r.kind, r.device, r.meas_type, r.limit_set, r.limit_db, r.dut_id),"
    " pv AS MATERIALIZED (SELECT kind, mt, device, lset, ldb,"
    "   (SELECT r.verdict FROM {records} %4 ORDER BY r.ended_ms, r.id LIMIT 1) AS firstv,"
    "   (SELECT r.verdict FROM {records} %4"
    "    ORDER BY r.ended_ms DESC, r.id DESC LIMIT 1) AS lastv"
    "  FROM du),";
// The records of one DUT of du, in the order of records_stats_duts.
const char* const DutRecords =
    "r.kind = du.kind AND r.device = du.device AND r.meas_type = du.mt AND r.limit_set = du.lset"
    " AND r.limit_db = du.ldb AND r.dut_id = du.dut";
// ... or from the running totals:
const char* const CountedTotals =
    " g AS (SELECT t.kind AS kind, t.meas_type AS mt, t.device AS device, t.limit_set AS lset,"
    "   t.limit_db AS ldb, t.records AS records, t.pass AS pass, t.fail AS fail,"
    "   t.none AS none, t.margins AS n, t.nominal_db AS nominal, t.first_ms AS first,"
    "   t.last_ms AS last"
    "  FROM totals_groups t WHERE {totals}),"
    " pv AS (SELECT t.kind AS kind, t.meas_type AS mt, t.device AS device, t.limit_set AS lset,"
    "   t.limit_db AS ldb, t.first_verdict AS firstv, t.last_verdict AS lastv"
    "  FROM totals_duts t WHERE {totals} AND t.dut_id NOT IN (%2)),";

// Margins rank from the lowest, a tie going to the latest record: rank 1 is the worst. Those
// of a group without limit lines are ranked after a sort (looked for only where g counts
// some), the others read in the order of records_stats_margins; %3 is the median.
const char* const Margins =
    " m AS (SELECT r.kind AS kind, r.meas_type AS mt, r.device AS device, r.limit_set AS lset,"
    "   CAST(NULL AS DOUBLE PRECISION) AS lim, r.margin_db AS margin, r.margin_mhz AS mhz,"
    "   ROW_NUMBER() OVER (PARTITION BY r.kind, r.device, r.meas_type"
    "    ORDER BY r.margin_db, r.ended_ms DESC, r.id DESC) AS rn,"
    "   COUNT(*) OVER (PARTITION BY r.kind, r.device, r.meas_type"
    "    ORDER BY r.margin_db, r.ended_ms DESC, r.id DESC"
    "    ROWS BETWEEN UNBOUNDED PRECEDING AND UNBOUNDED FOLLOWING) AS n"
    "  FROM {records} r.margin_db IS NOT NULL AND r.limit_set = 'NONE'"
    "   AND (r.kind, r.device, r.meas_type) IN (SELECT kind, device, mt FROM g"
    "    WHERE lset = 'NONE' AND n > 0)),"
    " u AS (SELECT kind, mt, device, lset, CASE WHEN lset = 'NONE' THEN NULL ELSE ldb END AS lim,"
    "   records, 0 AS duts, pass, fail, none, 0 AS fc, 0 AS fp, 0 AS lc, 0 AS lp,"
    "   CAST(NULL AS DOUBLE PRECISION) AS median,"
    "   CASE WHEN lset <> 'NONE' THEN (SELECT r.margin_db FROM {records} %4"
    "    ORDER BY r.margin_db, r.ended_ms DESC, r.id DESC LIMIT 1) END AS worst,"
    "   CASE WHEN lset <> 'NONE' THEN (SELECT r.margin_mhz FROM {records} %4"
    "    ORDER BY r.margin_db, r.ended_ms DESC, r.id DESC LIMIT 1) END AS mhz,"
    "   nominal, first, last"
    "  FROM g"
    "  UNION ALL"
    "  SELECT kind, mt, device, lset, lim, 0, sum(CASE WHEN rn = 1 THEN 1 ELSE 0 END), 0, 0, 0,"
    "   sum(CASE WHEN rn = 1 AND verdict <> 'NONE' THEN 1 ELSE 0 END),"
    "   sum(CASE WHEN rn = 1 AND verdict = 'PASS' THEN 1 ELSE 0 END),"
    "   sum(CASE WHEN rn = n AND verdict <> 'NONE' THEN 1 ELSE 0 END),"
    "   sum(CASE WHEN rn = n AND verdict = 'PASS' THEN 1 ELSE 0 END),"
    "   NULL, NULL, NULL, NULL, NULL, NULL"
    "  FROM d WHERE rn = 1 OR rn = n GROUP BY kind, mt, device, lset, lim"
    "  UNION ALL"
    "  SELECT kind, mt, device, lset, CASE WHEN lset = 'NONE' THEN NULL ELSE ldb END, 0,"
    "   count(*), 0, 0, 0,"
    "   sum(CASE WHEN firstv <> 'NONE' THEN 1 ELSE 0 END),"
    "   sum(CASE WHEN firstv = 'PASS' THEN 1 ELSE 0 END),"
    "   sum(CASE WHEN lastv <> 'NONE' THEN 1 ELSE 0 END),"
    "   sum(CASE WHEN lastv = 'PASS' THEN 1 ELSE 0 END), NULL, NULL, NULL, NULL, NULL, NULL"
    "  FROM pv GROUP BY kind, mt, device, lset, ldb"
    "  UNION ALL"
    "  SELECT r.kind, r.meas_type, r.device, r.limit_set, r.limit_db, 0, 0, 0, 0, 0, 0, 0, 0, 0,"
    "   %3, NULL, NULL, NULL, NULL, NULL"
    "  FROM {records} r.margin_db IS NOT NULL AND r.limit_set <> 'NONE'"
    "  GROUP BY r.kind, r.device, r.meas_type, r.limit_set, r.limit_db"
    "  UNION ALL"
    "  SELECT kind, mt, device, lset, lim, 0, 0, 0, 0, 0, 0, 0, 0, 0,"
    "   avg(CASE WHEN rn IN ((n + 1) / 2, (n + 2) / 2) THEN margin END),"
    "   max(CASE WHEN rn = 1 THEN margin END), max(CASE WHEN rn = 1 THEN mhz END), NULL, NULL, NULL"
    "  FROM m WHERE rn IN (1, (n + 1) / 2, (n + 2) / 2) GROUP BY kind, mt, device, lset, lim)"
    " SELECT kind, device, lset, lim, sum(records), sum(duts), sum(pass), sum(fail), sum(none),"
    "  sum(fc), sum(fp), sum(lc), sum(lp), max(median), max(worst), max(mhz), min(first),"
    "  max(last)"
    " FROM u GROUP BY kind, mt, device, lset, lim"
    " ORDER BY kind, mt, min(nominal), CASE WHEN lim IS NULL THEN 0 ELSE 1 END, lim,"
    "  CASE WHEN lset = 'CUSTOM' THEN 1 ELSE 0 END";
// The margins of one group of g, in the order of records_stats_margins.
const char* const GroupMargins =
    "r.kind = g.kind AND r.device = g.device AND r.meas_type = g.mt AND r.limit_set = g.lset"
    " AND r.limit_db = g.ldb AND r.margin_db IS NOT NULL";

// The running totals answer for a filter of kind, device and simulated runs only.
bool totalsAnswer(const HistoryStore& store, const HistoryFilter& filter)
{
    return store.hasTotals() && filter.dutId.isEmpty() && !filter.from.isValid() &&
           !filter.to.isValid() && !filter.outcome && filter.queuedFor.isEmpty();
}

FilterClause totalsClause(const HistoryFilter& filter)
{
    FilterClause clause{QStringLiteral("t.with_simulated = ?"), {int(filter.includeSimulated)}};
    if (filter.kind) {
        clause.sql += QStringLiteral(" AND t.kind = ?");
        clause.values << int(*filter.kind);
    }
    if (!filter.device.isEmpty()) {
        clause.sql += QStringLiteral(" AND t.device = ?");
        clause.values << filter.device;
    }
    return clause;
}

// text with each mark replaced by its clause, and the clauses' values in the order they occur.
FilterClause bound(const QString& text, const QList<std::pair<QString, FilterClause>>& marks)
{
    FilterClause out;
    qsizetype at = 0;
    for (;;) {
        qsizetype next = -1;
        const std::pair<QString, FilterClause>* mark = nullptr;
        for (const auto& candidate : marks) {
            const qsizetype found = text.indexOf(candidate.first, at);
            if (found >= 0 && (next < 0 || found < next)) {
                next = found;
                mark = &candidate;
            }
        }
        if (!mark)
            break;
        out.sql += text.mid(at, next - at) + mark->second.sql;
        out.values += mark->second.values;
        at = next + mark->first.size();
    }
    out.sql += text.mid(at);
    return out;
}

QDateTime utcOf(const QVariant& ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms.toLongLong(), Qt::UTC);
}

std::optional<double> realOf(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
}

// "12.5", or empty when nothing counts.
QString percent(int part, int whole)
{
    if (whole <= 0)
        return {};
    // Tenths of a percent, half away from zero, in integers: no binary fraction to mislead.
    const qint64 tenths = (2000 * qint64(part) + whole) / (2 * qint64(whole));
    return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
}

// The filter with the group's own terms, for the records of one group.
FilterClause groupClause(const HistoryFilter& filter, const Group& group)
{
    FilterClause clause = filterClause(filter);
    clause.sql += clause.sql.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ");
    clause.sql += QStringLiteral("r.kind = ? AND r.device = ? AND r.margin_db IS NOT NULL AND ");
    clause.values << int(group.kind) << group.device;
    if (!group.limit) {
        clause.sql += QStringLiteral("r.limit_set = 'NONE'");
    } else {
        clause.sql += group.customLimit ? QStringLiteral("r.limit_set = 'CUSTOM'")
                                        : QStringLiteral("r.limit_set NOT IN ('CUSTOM', 'NONE')");
        clause.sql += QStringLiteral(" AND r.limit_db = ?");
        clause.values << *group.limit;
    }
    return clause;
}

} // namespace

QString Group::name() const
{
    QString text = kindWord(kind) + u' ' + device;
    if (limit) {
        text += QStringLiteral(" %1 dB").arg(floatText(float(*limit)));
        text += customLimit ? QStringLiteral(" (custom)") : QStringLiteral(" (default)");
    }
    return text;
}

bool Group::sameGroup(const Group& other) const
{
    return kind == other.kind && device == other.device && limit == other.limit &&
           customLimit == other.customLimit;
}

std::optional<QVector<Group>> groups(HistoryStore& store, const HistoryFilter& filter)
{
    const bool totals = totalsAnswer(store, filter);
    const QString text =
        QString::fromLatin1(Twisted).replace(QLatin1String("%3"),
                                             QLatin1String(totals ? TwistedByDut : TwistedLive)) +
        QString::fromLatin1(totals ? CountedTotals : CountedLive)
            .replace(QLatin1String("%4"), QLatin1String(DutRecords)) +
        QString::fromLatin1(Margins)
            .replace(QLatin1String("%3"), store.medianOf(QStringLiteral("r.margin_db")))
            .replace(QLatin1String("%4"), QLatin1String(GroupMargins));
    FilterClause records = filterClause(filter);
    records.sql =
        QStringLiteral("records r") +
        (records.sql.isEmpty() ? QStringLiteral(" WHERE") : records.sql + QStringLiteral(" AND"));
    const FilterClause query = bound(text.arg(QLatin1String(Limit), QLatin1String(PrintedDut)),
                                     {{QStringLiteral("{records}"), records},
                                      {QStringLiteral("{totals}"), totalsClause(filter)}});
    const auto rows = store.rows(query.sql, query.values);
    if (!rows)
        return std::nullopt;
    QVector<Group> list;
    for (const QVariantList& row : *rows) {
        Group g;
        g.kind = MeasKind(row[0].toInt());
        g.device = row[1].toString();
        g.customLimit = row[2].toString() == QLatin1String("CUSTOM");
        g.limit = realOf(row[3]);
        g.records = row[4].toInt();
        g.duts = row[5].toInt();
        g.pass = row[6].toInt();
        g.fail = row[7].toInt();
        g.none = row[8].toInt();
        g.firstCounted = row[9].toInt();
        g.firstPass = row[10].toInt();
        g.finalCounted = row[11].toInt();
        g.finalPass = row[12].toInt();
        g.median = realOf(row[13]);
        g.worst = realOf(row[14]);
        g.worstMHz = row[15].toDouble();
        g.first = utcOf(row[16]);
        g.last = utcOf(row[17]);
        list << g;
    }
    return list;
}

QStringList header()
{
    return {"kind",
            "device",
            "limit_db",
            "limit_source",
            "records",
            "duts",
            "pass",
            "fail",
            "none",
            "yield_percent",
            "first_pass_yield_percent",
            "final_yield_percent",
            "median_margin_db",
            "worst_margin_db",
            "worst_margin_mhz",
            "first_utc",
            "last_utc"};
}

QStringList fields(const Group& g)
{
    return {kindWord(g.kind),
            g.device,
            g.limit ? floatText(float(*g.limit)) : QString(),
            g.customLimit ? QStringLiteral("custom") : QStringLiteral("default"),
            QString::number(g.records),
            QString::number(g.duts),
            QString::number(g.pass),
            QString::number(g.fail),
            QString::number(g.none),
            percent(g.pass, g.pass + g.fail),
            percent(g.firstPass, g.firstCounted),
            percent(g.finalPass, g.finalCounted),
            g.median ? rounded(*g.median, 2) : QString(),
            g.worst ? rounded(*g.worst, 2) : QString(),
            g.worst ? Verdict::frequencyText(g.worstMHz) : QString(),
            g.first.toString(Qt::ISODate),
            g.last.toString(Qt::ISODate)};
}

QString csv(const QVector<Group>& groups, const QList<std::pair<QString, QString>>& metadata)
{
    QString text;
    for (const auto& [key, value] : metadata)
        text += QStringLiteral("# %1: %2\n")
                    .arg(key, HistoryExport::escaped(value, HistoryExport::Field::CsvMetadata));
    text += header().join(u',') + u'\n';
    // Words, numbers and ISO times only: no field needs quoting.
    for (const Group& group : groups)
        text += fields(group).join(u',') + u'\n';
    return text;
}

std::optional<Histogram> histogram(HistoryStore& store, const HistoryFilter& filter,
                                   const Group& group)
{
    Histogram h;
    h.width = group.kind == MeasKind::ReturnLoss ? 0.5 : 0.05;
    FilterClause where = groupClause(filter, group);
    // A margin on an edge belongs to the bin above it; the nudge keeps 0.15 / 0.05 there.
    const QString floor = store.isShared()
                              ? QStringLiteral("floor(x)")
                              : QStringLiteral("CAST(x AS INTEGER) - (x < CAST(x AS INTEGER))");
    where.values.prepend(h.width);
    const auto rows =
        store.rows(QStringLiteral("SELECT %1 AS bin, count(*) FROM (SELECT r.margin_db / ? + "
                                  "1e-9 AS x FROM records r%2) m GROUP BY bin ORDER BY bin")
                       .arg(floor, where.sql),
                   where.values);
    if (!rows)
        return std::nullopt;
    for (const QVariantList& row : *rows)
        h.bins.append({row[0].toInt(), row[1].toInt()});
    return h;
}

std::optional<Trend> trend(HistoryStore& store, const HistoryFilter& filter, const Group& group,
                           int utcOffsetSeconds)
{
    Trend t;
    FilterClause where = groupClause(filter, group);
    t.daily = group.pass + group.fail > Trend::PerRecordLimit;
    if (!t.daily) {
        const auto rows = store.rows(QStringLiteral("SELECT r.ended_ms, r.margin_db FROM records "
                                                    "r%1 ORDER BY r.ended_ms, r.id")
                                         .arg(where.sql),
                                     where.values);
        if (!rows)
            return std::nullopt;
        for (const QVariantList& row : *rows) {
            const double margin = row[1].toDouble();
            t.points.append({utcOf(row[0]), margin, margin, margin});
        }
        return t;
    }
    constexpr qint64 DayMs = 86400000;
    where.values.prepend(qint64(utcOffsetSeconds) * 1000);
    const auto rows = store.rows(
        QStringLiteral("SELECT d.day, min(d.margin), %1, max(d.margin) FROM (SELECT (r.ended_ms "
                       "+ ?) / %2 AS day, r.margin_db AS margin FROM records r%3) d GROUP BY d.day "
                       "ORDER BY d.day")
            .arg(store.medianOf(QStringLiteral("d.margin")))
            .arg(DayMs)
            .arg(where.sql),
        where.values);
    if (!rows)
        return std::nullopt;
    for (const QVariantList& row : *rows) {
        const qint64 noon =
            row[0].toLongLong() * DayMs + DayMs / 2 - qint64(utcOffsetSeconds) * 1000;
        t.points.append({QDateTime::fromMSecsSinceEpoch(noon, Qt::UTC), row[1].toDouble(),
                         row[2].toDouble(), row[3].toDouble()});
    }
    return t;
}

QString rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double scaled = std::fabs(value) * scale;
    double whole = std::floor(scaled);
    // A tie as the binary value shows it (0.125 may be 0.12499999) goes away from zero.
    if (scaled - whole >= 0.5 - 1e-9)
        whole += 1;
    const QString digits = QString::number(whole / scale, 'f', decimals);
    return value < 0 ? u'-' + digits : digits;
}

std::optional<QString> notTheLabsFigures(const DatabaseTarget& target, qsizetype waiting)
{
    if (!target.isShared() || waiting == 0)
        return std::nullopt;
    return QStringLiteral("%1 for the shared history database %2 still wait in this bench's "
                          "history file: the lab's figures would miss them. Try again when they "
                          "have been sent; --database local gives this bench's own figures.")
        .arg(waiting == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(waiting),
             target.shown);
}

} // namespace HistoryStats
