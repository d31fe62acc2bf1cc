#include "gpib/GpibDriver.h"

namespace Ni488 {

double timeoutSeconds(int code)
{
    static constexpr double seconds[] = {0,    10e-6, 30e-6, 100e-6, 300e-6, 1e-3,
                                         3e-3, 10e-3, 30e-3, 100e-3, 300e-3, 1,
                                         3,    10,    30,    100,    300,    1000};
    if (code < 0 || code >= int(std::size(seconds)))
        return 0;
    return seconds[code];
}

int timeoutCodeFor(double ms)
{
    int code = T10us;
    while (code < T1000s && timeoutSeconds(code) * 1000 < ms)
        ++code;
    return code;
}

} // namespace Ni488
