#pragma once

#include "measure/MeasType.h"

#include <QDateTime>
#include <QString>
#include <QVector>

// One point of a sweep: its frequency and the chart's value there (return loss, or the
// deviation from the nominal attenuation, both in dB; a reference point holds the analyser's
// marker amplitude in dBm).
struct MeasuredPoint {
    double frequencyMHz = 0;
    float value = 0;
    bool operator==(const MeasuredPoint&) const = default;
};

// The reference a device sweep was computed against.
struct ReferenceSnapshot {
    float level = 0; // the analyser's reference level when the table was taken
    int stepMult = 2;
    QVector<MeasuredPoint> points;
    QDateTime taken; // UTC
};

// A completed device sweep, handed by the engine to whoever keeps it. Only the measured
// points are here, never the chart's fill-ins between them.
struct MeasurementResult {
    MeasType type = MeasType::Termination;
    int stepIndex = 1;      // 0..3: 12.5, 25, 50, 100 MHz
    int stepMult = 2;       // 1, 2, 4, 8
    float nominalDb = 0;    // attenuators: the nominal value the deviation is taken from
    QString customAttnText; // the custom attenuation as the operator typed it
    bool customLimits = false;
    bool limitsShown = false; // whether the chart shows limit lines at all
    float limitDb = 0;        // return loss: the floor; attenuation: +-limitDb
    QVector<MeasuredPoint> points;
    ReferenceSnapshot reference;
    QDateTime started, ended; // UTC
    QString analyserName;     // "2710", "2711" or "2712"
    bool unattended = false;  // every message answered by its default, nobody at the bench

    MeasKind kind() const { return kindOf(type); }
};

// PASS or FAIL against the chart's limit lines, or NONE where it shows none.
struct Verdict {
    enum class Outcome { None, Pass, Fail };
    Outcome outcome = Outcome::None;
    double marginDb = 0;     // worst margin: positive inside the limits, negative outside
    double frequencyMHz = 0; // where the worst margin lies

    static Verdict of(const MeasurementResult& result);

    // "PASS", "FAIL" or "NONE"
    QString word() const;
    // "PASS 0.12 dB at 912.5 MHz", "FAIL -0.03 dB at 25 MHz" or "NONE (no limits)"
    QString text() const;
    // Two decimals with a "-" only when negative.
    static QString marginText(double marginDb);
    // A plain number in MHz: "912.5", "1000".
    static QString frequencyText(double megahertz);
};
