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

// Which records a list or the statistics take. Shared by the window and the command line.
struct HistoryFilter {
    QString dutId;      // the record's own or a print's; empty: any
    QDateTime from, to; // sweep end within [from, to]; invalid: open
    std::optional<MeasKind> kind;
    std::optional<Verdict::Outcome> outcome;
    bool newestFirst = true;
    int limit = 0;                // 0: all
    bool dutPrefix = false;       // dutId is a prefix, matched literally and case-sensitively
    QString device = QString();   // deviceWord(); empty: any
    bool includeSimulated = true; // false: the simulated bench's records are left out
    // This bench's file only: records it queued for one of these outbox targets, and with
    // waiting, only those not sent yet.
    QStringList queuedFor{};
    bool waiting = false;

    // A DUT ID as typed: a final "*" asks for a prefix, "\\*" is a literal star.
    void setDutPattern(const QString& text);
    // Two lists as one under this filter's order and limit, each record once (the first's).
    QVector<RecordSummary> merged(const QVector<RecordSummary>& first,
                                  const QVector<RecordSummary>& second) const;
};

// The filter's options as a script writes them; each empty when not given.
struct FilterWords {
    QString dut, from, to, kind, device, verdict;
    bool includeSimulated = false;
};

// The filter from the command line's words, days as UTC days; nullopt and one line in error
// when a word is not understood or the dates are reversed.
std::optional<HistoryFilter> filterOf(const FilterWords& words, QString* error);
// The device word of a device as a script or the window names it ("x2", "TERM", "7.50"), empty
// when it is none of the kind's, or of any kind when kind is not given.
QString deviceOf(const QString& text, std::optional<MeasKind> kind = std::nullopt);
