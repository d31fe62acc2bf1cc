#include "measure/FrequencyStep.h"

#include "measure/GlobalVar.h"

#include <algorithm>
#include <iterator>

namespace {

// clang-format off
const FrequencyStep Steps[FrequencyStep::Count] = {
    {"12.5 MHz", 12.5, 1, 3, 80, 79},
    {"25 MHz",   25,   2, 4, 40, 40},
    {"50 MHz",   50,   4, 5, 20, 20},
    {"100 MHz",  100,  8, 6, 10, 10},
};
// clang-format on

} // namespace

const FrequencyStep& FrequencyStep::at(int index)
{
    return Steps[std::clamp(index, 0, Count - 1)];
}

int FrequencyStep::indexOfText(const QString& text)
{
    for (int i = 0; i < Count; ++i) {
        const QLatin1String full(Steps[i].text);
        if (text == full || text == full.chopped(4)) // the number without " MHz"
            return i;
    }
    return -1;
}

int FrequencyStep::indexOfMegahertz(double megahertz)
{
    const auto* step =
        std::find_if(std::begin(Steps), std::end(Steps),
                     [=](const FrequencyStep& s) { return s.megahertz == megahertz; });
    return step == std::end(Steps) ? -1 : int(step - std::begin(Steps));
}

QStringList FrequencyStep::texts()
{
    QStringList list;
    for (const FrequencyStep& step : Steps)
        list << QLatin1String(step.text);
    return list;
}

QVector<int> FrequencyStep::sweepPoints(int multiplier, bool deviceSweep)
{
    QVector<int> list;
    for (int i = multiplier; i <= GridPoints; i += multiplier) {
        if (!(deviceSweep && i == 1))
            list << i;
    }
    return list;
}
