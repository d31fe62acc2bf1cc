#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

// One entry of the frequency-step list: what the operator chooses, the multiplier of the
// 12.5 MHz grid, how many points each sweep measures at it, and the results-grid column that
// holds its curve. Every reader of the steps reads them here.
struct FrequencyStep {
    const char* text;  // as the list shows it: "12.5 MHz"
    double megahertz;  // 12.5
    qint16 multiplier; // of the 12.5 MHz grid: 1, 2, 4, 8
    int column;        // the results grid's column of this step's curve
    int referencePoints;
    int devicePoints; // a device sweep never measures 12.5 MHz

    static constexpr int Count = 4;
    static constexpr int DefaultIndex = 1; // 25 MHz, as every run starts

    // The entry at a list index; an index out of range is clamped into it.
    static const FrequencyStep& at(int index);
    // The list index of a text ("25 MHz") or a plain number of MHz ("25"), or -1.
    static int indexOfText(const QString& text);
    static int indexOfMegahertz(double megahertz);
    static QStringList texts();

    // The grid points a sweep at a multiplier visits: m, 2m, ... <= 80; a device sweep
    // leaves out point 1.
    static QVector<int> sweepPoints(int multiplier, bool deviceSweep);
};
