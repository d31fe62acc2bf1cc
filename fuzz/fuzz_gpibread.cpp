// Read trimming and chunk joining on arbitrary answers delivered in arbitrary chunks.
#include "FuzzSupport.h"
#include "gpib/Clock.h"
#include "gpib/InstrumentIO.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    FuzzDriver driver(data, size);
    VirtualClock clock;
    SilentDialogs dialogs;
    InstrumentIO io(driver, clock, dialogs);
    const QString answer = io.GpibRead(1);
    // Trimmed and joined chunks never grow the answer.
    if (answer.size() > qsizetype(size))
        std::abort();
    return 0;
}
