#pragma once

// What the fuzz targets share: an application object, operator dialogs that take the first
// button, and a driver that answers every read with the fuzzer's bytes.

#include "base/Clock.h"
#include "base/OperatorDialogs.h"
#include "gpib/DescriptorDriver.h"
#include "gpib/InstrumentIO.h"

#include <QByteArray>
#include <QCoreApplication>

#include <algorithm>
#include <cstddef>
#include <cstdint>

inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

// A scripted stream's readData: as much of what it has to give as fits, taken off its front.
inline qint64 takeFront(QByteArray& bytes, char* data, qint64 size)
{
    const qint64 n = std::min<qint64>(size, bytes.size());
    std::copy_n(bytes.constData(), n, data);
    bytes.remove(0, n);
    return n;
}

// One listener at address 5 whose answers are the fuzz input, served in chunks; the first
// input byte picks the chunk size so that chunk joining is exercised too.
class FuzzDriver : public DescriptorDriver {
public:
    FuzzDriver(const uint8_t* data, size_t size)
    {
        if (size > 0) {
            m_chunk = 1 + data[0] % 64;
            m_answer = QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
        }
    }
    QString name() const override { return QStringLiteral("fuzz"); }
    int ibclr(int) override { return finish(Ni488::CMPL); }
    int ibrsp(int, char* statusByte) override
    {
        *statusByte = 0;
        return finish(Ni488::CMPL, 0, 1);
    }
    int ibwrt(int, const QByteArray& data) override { return finish(Ni488::CMPL, 0, data.size()); }
    int ibrd(int, QByteArray& buffer) override
    {
        if (m_position >= m_answer.size() && !m_answer.isEmpty())
            return finish(Ni488::ERR | Ni488::TIMO, Ni488::EABO);
        const qsizetype n =
            std::min<qsizetype>({m_chunk, buffer.size(), m_answer.size() - m_position});
        std::copy_n(m_answer.constData() + m_position, n, buffer.data());
        m_position += n;
        return finish(Ni488::CMPL | (m_position >= m_answer.size() ? Ni488::END : 0), 0, long(n));
    }
    int ibwait(int, int) override { return finish(Ni488::CMPL); }
    int ibsre(int, int) override { return finish(Ni488::CMPL); }
    void SendIFC(int) override { finish(Ni488::CMPL); }
    void FindLstn(int, const QVector<short>&, QVector<short>& results, int limit) override
    {
        reportListeners({0, 5}, results, limit);
    }

private:
    QByteArray m_answer;
    qsizetype m_chunk = 512;
    qsizetype m_position = 0;
};

// The instrument routines on that driver, a virtual clock and silent dialogs.
struct FuzzBench {
    FuzzBench(const uint8_t* data, size_t size) : driver(data, size) { ensureApplication(); }
    FuzzDriver driver;
    VirtualClock clock;
    FirstButtonDialogs dialogs;
    InstrumentIO io{driver, clock, dialogs};
};
