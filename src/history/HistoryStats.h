#pragma once

#include "history/DatabaseTarget.h"
#include "history/HistoryRecord.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

class HistoryStore;

// Yield and margin figures of the records a filter takes, one group for each kind, device and
// limit. Everything is counted by the database, so a million records never come into memory.
namespace HistoryStats {

struct Group {
    MeasKind kind = MeasKind::Attenuation;
    QString device;              // deviceWord()
    std::optional<double> limit; // dB; none for a device without limit lines
    bool customLimit = false;    // the operator's limit rather than the device's own
    int records = 0, duts = 0;   // duts: distinct non-empty DUT IDs
    int pass = 0, fail = 0, none = 0;
    int firstCounted = 0, firstPass = 0; // DUTs whose first record is PASS or FAIL; PASS
    int finalCounted = 0, finalPass = 0; // the same for their last record
    std::optional<double> median, worst; // over PASS and FAIL margins, dB
    double worstMHz = 0;
    QDateTime first, last; // sweep ends, UTC

    // The group as the window and the CSV name it: "ATT X2 0.3 dB (default)".
    QString name() const;
    bool sameGroup(const Group& other) const;
};

// The groups in the order of --stats: attenuation first, the window's devices, custom values
// ascending, then the limit. nullopt: store.lastError() says why.
std::optional<QVector<Group>> groups(HistoryStore& store, const HistoryFilter& filter);

// The header and the fields of a --stats line, which the window's table and CSV show too.
QStringList header();
QStringList fields(const Group& group);

// The groups as CSV: "# key: value" lines (values escaped as a record's export does), the
// header and one row a group, "." as decimal point.
QString csv(const QVector<Group>& groups, const QList<std::pair<QString, QString>>& metadata);

// A worst-margin histogram of one group: bins of width dB from index * width.
struct Histogram {
    double width = 0;
    QVector<QPair<int, int>> bins; // index, records; ascending, empty bins left out
};
std::optional<Histogram> histogram(HistoryStore& store, const HistoryFilter& filter,
                                   const Group& group);

// Worst margin against sweep end: each record's, or for a group over PerRecordLimit records,
// each local day's lowest, median and highest (daily is then true).
struct Trend {
    static constexpr int PerRecordLimit = 2000;
    struct Point {
        QDateTime at; // UTC: the record's end, or the day's local noon
        double low = 0, median = 0, high = 0;
    };
    bool daily = false;
    QVector<Point> points; // by time
};
// utcOffsetSeconds: the local time zone's offset, which decides where a day begins.
std::optional<Trend> trend(HistoryStore& store, const HistoryFilter& filter, const Group& group,
                           int utcOffsetSeconds);

// Half away from zero, as the figures are written.
QString rounded(double value, int decimals);

// Why figures read from a shared database would not be the lab's, or nullopt when they are:
// entries for it still waiting in this bench's outbox after trying to send them.
std::optional<QString> notTheLabsFigures(const DatabaseTarget& target, qsizetype waiting);

} // namespace HistoryStats
