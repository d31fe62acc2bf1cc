// Read trimming and chunk joining on arbitrary answers delivered in arbitrary chunks.
#include "FuzzSupport.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBench bench(data, size);
    InstrumentIO& io = bench.io;
    const QString answer = io.GpibRead(1);
    // Trimmed and joined chunks never grow the answer.
    if (answer.size() > qsizetype(size))
        std::abort();
    return 0;
}
