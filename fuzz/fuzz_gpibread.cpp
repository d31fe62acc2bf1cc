// Read trimming and chunk joining on arbitrary answers delivered in arbitrary chunks.
#include "FuzzSupport.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzBench bench(data, size);
    const int ud = bench.driver.ibdev(0, 5, 0, Ni488::T3s, 1, 0);
    const QString answer = bench.io.GpibRead(qint16(ud));
    // Trimmed and joined chunks never grow the answer.
    if (answer.size() > qsizetype(size))
        std::abort();
    return 0;
}
