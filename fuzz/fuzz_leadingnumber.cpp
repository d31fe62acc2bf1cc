// The leading-number rule on any text an analyser or an operator may hand over.
#include "base/NumberText.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    const double value = LeadingNumber(text);
    // A number the program writes reads back as itself, to the 15 digits it writes.
    if (std::isfinite(value) && value != 0) {
        const double back = LeadingNumber(NumberText(value));
        if (!(std::fabs(back - value) <= 1e-14 * std::fabs(value)))
            std::abort();
    }
    return 0;
}
