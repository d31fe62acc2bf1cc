#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

// The selection that the Run command dispatches on, and the step multipliers of the
// frequency-step list, shared by the main window, the sequences and the report.
struct GlobalVar {
    // 0 attenuation reference, 1..5 fixed attenuators, 6 return-loss reference,
    // 7 termination, 8 attenuator return loss, 9 custom attenuation
    qint16 MeasType = 0;
    std::array<qint16, 4> StepMult{};
};

// Frequency grid: point i lies at i x 12.5 MHz, i = 1..80.
inline constexpr int GridPoints = 80;
inline constexpr double GridStepMHz = 12.5;

inline double PointFrequency(int point)
{
    return point * GridStepMHz;
}

// Kind index: 0 attenuation, 1 return loss.
inline constexpr int AttenuationKind = 0;
inline constexpr int ReturnLossKind = 1;

inline int KindOf(qint16 measType)
{
    return measType >= 6 && measType <= 8 ? ReturnLossKind : AttenuationKind;
}

// Reference tables and the run state held by the main window.
struct MeasurementState {
    // [kind][0] is the reference level, [kind][i] the amplitude at point i
    std::array<std::array<float, GridPoints + 1>, 2> RefTable{};
    std::array<bool, 2> RefValid{};
    // Step multiplier each kind's table was taken at: a table is only as fine as its own
    // sweep, whatever the other kind did since.
    std::array<qint16, 2> RefStep{2, 2};
    bool StopRequested = false;
    qint16 AnalyserDevice = 0;
    QString AnalyserName;
};
