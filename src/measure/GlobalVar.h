#pragma once

#include "measure/MeasType.h"

#include <QString>
#include <QtGlobal>

#include <array>
#include <atomic>

// The selection that the Run command dispatches on, and the step multipliers of the
// frequency-step list, shared by the main window, the sequences and the report.
struct GlobalVar {
    ::MeasType MeasType = ::MeasType::AttReference;
    std::array<qint16, 4> StepMult{};
};

// Frequency grid: point i lies at i x 12.5 MHz, i = 1..80.
inline constexpr int GridPoints = 80;
inline constexpr double GridStepMHz = 12.5;

inline double PointFrequency(int point)
{
    return point * GridStepMHz;
}

// Kind index into the per-kind tables: 0 attenuation, 1 return loss.
inline constexpr int AttenuationKind = int(MeasKind::Attenuation);
inline constexpr int ReturnLossKind = int(MeasKind::ReturnLoss);

// Reference tables and the run state held by the main window.
struct MeasurementState {
    // [kind][0] is the reference level, [kind][i] the amplitude at point i
    std::array<std::array<float, GridPoints + 1>, 2> RefTable{};
    std::array<bool, 2> RefValid{};
    // Step multiplier each kind's table was taken at: a table is only as fine as its own
    // sweep, whatever the other kind did since.
    std::array<qint16, 2> RefStep{2, 2};
    // Set from the window's thread while a sequence runs on the bus thread.
    std::atomic<bool> StopRequested = false;
    qint16 AnalyserDevice = 0;
    QString AnalyserName;
};
