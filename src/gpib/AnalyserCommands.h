#pragma once

#include "base/NumberText.h"

#include <QString>

// Every text the program sends to the analyser, defined once.
namespace AnalyserCommands {

inline const QString Identify = QStringLiteral("ID?");
inline const QString Reset = QStringLiteral("REC 1");
inline const QString GeneralSetup =
    QStringLiteral("EOS ON;HDR OFF;TIM 100E-3;ACQMODE PEAK;SPAN 100.0E+6;MXSPN OFF;FREQ 500.E+6;"
                   "STEP 2.000E+6;VIDFLT 3.0E+4;VFENAB ON;TGLEVEL 0.0;TGENAB ON:SIG");
inline const QString ReturnLossSetup = QStringLiteral("REFLVL 10.0;RFATT 40;STEP 2.000E+6");
inline const QString AttenuationSetup = QStringLiteral("VRTDSP LOG:1;REFLVL 4.0;RFATT 34;FINE ON");
inline const QString Signal = QStringLiteral("SIG");
inline const QString MarkerAmplitude = QStringLiteral("MAMPL?");
inline const QString ReferenceLevelQuery = QStringLiteral("REFLVL?");
inline const QString TriggerFreeRun = QStringLiteral("TRI FRE");
inline const QString TrackingGenerator = QStringLiteral("TRACKING GEN");

// Marker to a frequency in MHz; the closing parenthesis belongs to the command as sent.
inline QString MarkerFrequency(double megahertz)
{
    return QStringLiteral("MFREQ") + NumberText(megahertz) + QStringLiteral("E+6)");
}

inline QString ReferenceLevel(float level)
{
    return QStringLiteral("REFLVL ") + NumberText(level);
}

} // namespace AnalyserCommands
