#include "measure/MeasurementResult.h"

#include <cmath>

Verdict Verdict::of(const MeasurementResult& result)
{
    Verdict verdict;
    if (!result.limitsShown || result.points.isEmpty())
        return verdict;
    bool first = true;
    for (const MeasuredPoint& point : result.points) {
        // Return loss must stay at or above its floor; a deviation within +-limit.
        const double margin = result.kind() == MeasKind::ReturnLoss
                                  ? double(point.value) - double(result.limitDb)
                                  : double(result.limitDb) - std::fabs(double(point.value));
        if (first || margin < verdict.marginDb) {
            verdict.marginDb = margin;
            verdict.frequencyMHz = point.frequencyMHz;
            first = false;
        }
    }
    verdict.outcome = verdict.marginDb >= 0 ? Outcome::Pass : Outcome::Fail;
    return verdict;
}

QString Verdict::word() const
{
    switch (outcome) {
    case Outcome::Pass:
        return QStringLiteral("PASS");
    case Outcome::Fail:
        return QStringLiteral("FAIL");
    case Outcome::None:
        break;
    }
    return QStringLiteral("NONE");
}

QString Verdict::text() const
{
    if (outcome == Outcome::None)
        return QStringLiteral("NONE (no limits)");
    return QStringLiteral("%1 %2 dB at %3 MHz")
        .arg(word(), marginText(marginDb), frequencyText(frequencyMHz));
}

QString Verdict::marginText(double marginDb)
{
    const QString digits = QString::number(std::fabs(marginDb), 'f', 2);
    return marginDb < 0 ? u'-' + digits : digits;
}

QString Verdict::frequencyText(double megahertz)
{
    return QString::number(megahertz, 'g', 10);
}
