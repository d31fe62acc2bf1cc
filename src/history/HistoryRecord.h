#pragma once

#include "measure/MeasurementResult.h"

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <QVector>

#include <optional>

// How the program reached the analyser.
enum class BenchInterface { Board, Adapter, Simulated };

struct BenchInfo {
    QString analyserModel; // "2710", "2711" or "2712"
    QString idAnswer;      // the analyser's whole answer to "ID?"
    BenchInterface interface = BenchInterface::Board;
    QString address; // board and GPIB address, adapter device or URL
};

enum class StartedFrom { Window, Remote, Batch };

// What the sweep itself does not know: the bench, who ran it and how.
struct RunContext {
    BenchInfo bench;
    QString operatorLogin = currentLogin();
    QString programVersion = defaultVersion();
    StartedFrom startedFrom = StartedFrom::Window;
    QString dutId;    // when known before the sweep
    QString comments; // when known before the sweep

    static QString currentLogin();
    static QString defaultVersion();
};

// Which page a print showed: the basic one, or the page grown by the verdict line, with the
// DUT ID and comments printed whole. A print stored without a layout is Basic.
enum class PageLayout { Basic = 0, VerdictLine = 1 };

// One print of a record's sweep, as the operator typed and the page showed it.
struct PrintRow {
    QUuid id; // made by appendPrint when null
    QString dutDescription;
    QString dutId;
    QString comments;
    QString dateText;
    QString stepText;
    QVector<MeasuredPoint> cells; // the page's curve, possibly another step's column
    QString destination;          // printer name or file path
    QDateTime printed;            // UTC
    PageLayout layout = PageLayout::Basic;
};

// A completed device sweep as kept: never edited, prints only appended.
struct HistoryRecord {
    QUuid id;
    MeasurementResult result;
    RunContext context;
    Verdict verdict;
    QVector<PrintRow> prints; // oldest first

    // A new record with a fresh id and the result's verdict. A reference, or a run with no
    // measured point, is no record: the id stays null.
    static HistoryRecord make(const MeasurementResult& result, const RunContext& context);

    bool simulated() const { return context.bench.interface == BenchInterface::Simulated; }
    // The DUT as a script names it: its own DUT ID, else the latest printed one.
    QString dutId() const;
};

// The automation word of a device: X1 ... X10, TERM, PAD, or a custom attenuator's value
// in dB ("7.5").
QString deviceWord(MeasType type, float nominalDb);
// "ATT" or "RL".
QString kindWord(MeasKind kind);
// Shortest text that reads back as the same float, "." as decimal point in every locale.
QString floatText(float value);

// What a printed page tells of its record, under the DUT's texts.
struct PageRecord {
    QUuid id;
    Verdict verdict;
    QString operatorLogin;
    int stepIndex = 0; // the step the record was swept at, 0..3
};

// One line of the history list.
struct RecordSummary {
    QUuid id;
    QDateTime ended; // UTC
    QString dutId;   // own, else the latest printed
    MeasType type = MeasType::Termination;
    QString device; // deviceWord()
    Verdict verdict;
    bool simulated = false;
    int prints = 0;

    MeasKind kind() const { return kindOf(type); }
};

struct HistoryFilter {
    QString dutId;      // exact, the record's own or a print's; empty: any
    QDateTime from, to; // sweep end within [from, to]; invalid: open
    std::optional<MeasKind> kind;
    std::optional<Verdict::Outcome> outcome;
    bool newestFirst = true;
    int limit = 0; // 0: all
};
