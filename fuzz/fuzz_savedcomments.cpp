// PrintComments.dat as a file edited by hand, copied from old benches, or damaged.
#include "report/SavedComments.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = SavedComments::decodeLines(contents);
    for (const QString& line : lines) {
        if (line.contains(QLatin1Char('\n')))
            std::abort(); // a line end inside an entry would split it on the next save
    }
    return 0;
}
