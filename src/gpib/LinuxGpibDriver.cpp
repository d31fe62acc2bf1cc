#include "gpib/LinuxGpibDriver.h"

#include <QFile>

#include <algorithm>
#include <dlfcn.h>
#include <vector>

namespace {

// linux-gpib's address type; its list end marker NOADDR is 0xffff.
using Addr4882 = unsigned short;
constexpr Addr4882 noAddr = 0xffff;

QString dlerrorText()
{
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QString();
}

} // namespace

struct LinuxGpibDriver::Api {
    int (*ibdev)(int, int, int, int, int, int) = nullptr;
    int (*ibpad)(int, int) = nullptr;
    int (*ibclr)(int) = nullptr;
    int (*ibrsp)(int, char*) = nullptr;
    int (*ibwrt)(int, const void*, long) = nullptr;
    int (*ibrd)(int, void*, long) = nullptr;
    int (*ibtmo)(int, int) = nullptr;
    int (*ibask)(int, int, int*) = nullptr;
    int (*ibwait)(int, int) = nullptr;
    int (*ibsre)(int, int) = nullptr;
    void (*SendIFC)(int) = nullptr;
    void (*FindLstn)(int, const Addr4882*, Addr4882*, int) = nullptr;

    // Per-thread status, present in current linux-gpib; the globals serve older versions.
    int (*threadIbsta)() = nullptr;
    int (*threadIberr)() = nullptr;
    int (*threadIbcnt)() = nullptr;
    long (*threadIbcntl)() = nullptr;
    volatile int* ibsta = nullptr;
    volatile int* iberr = nullptr;
    volatile int* ibcnt = nullptr;
    volatile long* ibcntl = nullptr;
};

std::unique_ptr<LinuxGpibDriver> LinuxGpibDriver::load(const QString& libraryPath, QString* error)
{
    const QString path = libraryPath.isEmpty() ? QString::fromLatin1(defaultLibrary) : libraryPath;
    auto fail = [&](const QString& message) {
        if (error)
            *error = message;
        return nullptr;
    };

    dlerror();
    // Local binding keeps the library's names from clashing with anything loaded later.
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return fail(
            QStringLiteral("Could not load the GPIB library %1: %2").arg(path, dlerrorText()));

    auto api = std::make_unique<Api>();
    QString missing;
    auto resolve = [&](const char* symbol, auto& slot, bool required,
                       const char* kind = "function") {
        dlerror();
        void* address = dlsym(handle, symbol);
        const QString why = dlerrorText();
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(address);
        if (!address && required && missing.isEmpty())
            missing = QStringLiteral("The GPIB library %1 has no %2 %3: %4")
                          .arg(path, QString::fromLatin1(kind), QString::fromLatin1(symbol), why);
    };
    resolve("ibdev", api->ibdev, true);
    resolve("ibpad", api->ibpad, true);
    resolve("ibclr", api->ibclr, true);
    resolve("ibrsp", api->ibrsp, true);
    resolve("ibwrt", api->ibwrt, true);
    resolve("ibrd", api->ibrd, true);
    resolve("ibtmo", api->ibtmo, true);
    resolve("ibask", api->ibask, true);
    resolve("ibwait", api->ibwait, true);
    resolve("ibsre", api->ibsre, true);
    resolve("SendIFC", api->SendIFC, true);
    resolve("FindLstn", api->FindLstn, true);

    resolve("ThreadIbsta", api->threadIbsta, false);
    resolve("ThreadIberr", api->threadIberr, false);
    resolve("ThreadIbcnt", api->threadIbcnt, false);
    resolve("ThreadIbcntl", api->threadIbcntl, false);
    const bool perThread =
        api->threadIbsta && api->threadIberr && (api->threadIbcntl || api->threadIbcnt);
    if (!perThread) {
        api->threadIbsta = nullptr;
        resolve("ibsta", api->ibsta, true, "status variable");
        resolve("iberr", api->iberr, true, "status variable");
        resolve("ibcntl", api->ibcntl, false);
        resolve("ibcnt", api->ibcnt, !api->ibcntl, "status variable");
    }

    if (!missing.isEmpty()) {
        dlclose(handle);
        return fail(missing);
    }
    return std::unique_ptr<LinuxGpibDriver>(new LinuxGpibDriver(handle, std::move(api)));
}

LinuxGpibDriver::LinuxGpibDriver(void* handle, std::unique_ptr<Api> api)
    : m_handle(handle), m_api(std::move(api))
{}

LinuxGpibDriver::~LinuxGpibDriver()
{
    dlclose(m_handle);
}

QString LinuxGpibDriver::name() const
{
    return QStringLiteral("linux-gpib");
}

int LinuxGpibDriver::readStatus()
{
    const Api& a = *m_api;
    if (a.threadIbsta) {
        m_status.ibsta = a.threadIbsta();
        m_status.iberr = a.threadIberr();
        m_status.ibcntl = a.threadIbcntl ? a.threadIbcntl() : a.threadIbcnt();
    } else {
        m_status.ibsta = *a.ibsta;
        m_status.iberr = *a.iberr;
        m_status.ibcntl = a.ibcntl ? *a.ibcntl : *a.ibcnt;
    }
    return m_status.ibsta;
}

int LinuxGpibDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    // The descriptor is the return value, not ibsta; it stays a full int.
    const int ud = m_api->ibdev(board, pad, sad, tmo, eot, eos);
    readStatus();
    return ud;
}

int LinuxGpibDriver::ibpad(int ud, int pad)
{
    m_api->ibpad(ud, pad);
    return readStatus();
}

int LinuxGpibDriver::ibclr(int ud)
{
    m_api->ibclr(ud);
    return readStatus();
}

int LinuxGpibDriver::ibrsp(int ud, char* statusByte)
{
    m_api->ibrsp(ud, statusByte);
    return readStatus();
}

int LinuxGpibDriver::ibwrt(int ud, const QByteArray& data)
{
    m_api->ibwrt(ud, data.constData(), data.size());
    return readStatus();
}

int LinuxGpibDriver::ibrd(int ud, QByteArray& buffer)
{
    m_api->ibrd(ud, buffer.data(), buffer.size());
    return readStatus();
}

int LinuxGpibDriver::ibtmo(int ud, int tmo)
{
    m_api->ibtmo(ud, tmo);
    return readStatus();
}

int LinuxGpibDriver::ibask(int ud, int option, int* value)
{
    m_api->ibask(ud, option, value);
    return readStatus();
}

int LinuxGpibDriver::ibwait(int ud, int mask)
{
    m_api->ibwait(ud, mask);
    return readStatus();
}

int LinuxGpibDriver::ibsre(int board, int value)
{
    m_api->ibsre(board, value);
    return readStatus();
}

void LinuxGpibDriver::SendIFC(int board)
{
    m_api->SendIFC(board);
    readStatus();
}

void LinuxGpibDriver::FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                               int limit)
{
    std::vector<Addr4882> pads(addresses.begin(), addresses.end());
    // The library walks the list up to the end marker; a missing one must not run it off.
    if (pads.empty() || pads.back() != noAddr)
        pads.push_back(noAddr);
    limit = std::max(limit, 0);
    // Pre-filled with the end marker so entries the library never wrote are recognisable.
    std::vector<Addr4882> found(std::max(limit, 1), noAddr);
    m_api->FindLstn(board, pads.data(), found.data(), limit);
    readStatus();

    // Older libraries leave ibcnt from the previous call when they fail early.
    const auto written = std::find(found.begin(), found.end(), noAddr) - found.begin();
    const long count = std::clamp<long>(m_status.ibcntl, 0, std::min<long>(limit, written));
    results.resize(count);
    for (long i = 0; i < count; ++i)
        results[i] = static_cast<short>(found[i]);
}
