#pragma once

#include "gpib/GpibDriver.h"

#include <memory>

// The system's linux-gpib library (libgpib.so.0), opened at run time so the program builds
// and starts on machines without it. Calls pass straight through; the outcome of each call
// is read back at once, from the per-thread status functions where the library has them.
class LinuxGpibDriver : public GpibDriver {
public:
    static constexpr const char* defaultLibrary = "libgpib.so.0";

    // Opens libraryPath (defaultLibrary when empty) and resolves every function the driver
    // needs. On failure returns nullptr and, if error is given, says which library was tried
    // and why it could not be used.
    static std::unique_ptr<LinuxGpibDriver> load(const QString& libraryPath = QString(),
                                                 QString* error = nullptr);
    ~LinuxGpibDriver() override;

    QString name() const override;

    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibpad(int ud, int pad) override;
    int ibclr(int ud) override;
    int ibrsp(int ud, char* statusByte) override;
    int ibwrt(int ud, const QByteArray& data) override;
    int ibrd(int ud, QByteArray& buffer) override;
    int ibtmo(int ud, int tmo) override;
    int ibask(int ud, int option, int* value) override;
    int ibwait(int ud, int mask) override;
    int ibsre(int board, int value) override;
    void SendIFC(int board) override;
    // results receives the addresses found: as many as ibcntl reports, at most limit.
    void FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                  int limit) override;

    GpibStatus status() const override { return m_status; }

private:
    struct Api;
    LinuxGpibDriver(void* handle, std::unique_ptr<Api> api);
    int readStatus();

    void* m_handle;
    std::unique_ptr<Api> m_api;
    GpibStatus m_status;
};
