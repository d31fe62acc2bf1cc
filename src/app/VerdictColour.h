#pragma once

#include "measure/MeasurementResult.h"

#include <QColor>

// A verdict's colour, dark enough to read on a light window (contrast about 5:1); NONE is grey.
inline QColor verdictColour(Verdict::Outcome outcome)
{
    switch (outcome) {
    case Verdict::Outcome::Pass:
        return QColor(0, 120, 40);
    case Verdict::Outcome::Fail:
        return QColor(200, 0, 0);
    case Verdict::Outcome::None:
        break;
    }
    return QColor(100, 100, 100);
}
