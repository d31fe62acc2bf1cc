// Identification answers of any shape, arriving in chunks of any size: the read alone, then
// against every form of the expected response.
#include "FuzzSupport.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        FuzzBench bench(data, size);
        const int ud = bench.driver.ibdev(0, 5, 0, Ni488::T3s, 1, 0);
        // Trimmed and joined chunks never grow the answer.
        if (bench.io.GpibRead(qint16(ud)).size() > qsizetype(size))
            std::abort();
    }
    FuzzBench bench(data, size);
    InstrumentIO& io = bench.io;
    io.DefaultTimeout = Ni488::T3s;
    io.GpibInit(0);
    // Silent and continuing forms only: the others end the program on a miss.
    for (const char* expected : {"!2712", "!?2711!", "!tracking gen"}) {
        QString query = QStringLiteral("ID?!");
        QString response = QString::fromLatin1(expected);
        io.FindDevice(query, response);
    }
    return 0;
}
