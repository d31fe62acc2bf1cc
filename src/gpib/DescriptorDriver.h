#pragma once

#include "gpib/GpibDriver.h"

#include <map>

// A driver that keeps its device descriptors itself, as the simulated bench and an adapter
// do: each descriptor holds an address and a time-out code, and every call leaves its
// outcome in status().
class DescriptorDriver : public GpibDriver {
public:
    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibpad(int ud, int pad) override;
    int ibtmo(int ud, int tmo) override;
    int ibask(int ud, int option, int* value) override;
    GpibStatus status() const override { return m_status; }

    static constexpr int HighestAddress = 30;

protected:
    struct Descriptor {
        int pad;
        int tmo;
    };

    virtual bool boardPresent(int board) const { return board == 0; }
    // The error of a call on a missing board: opening a device, or a call on the bus.
    virtual int missingBoardError(bool opening) const
    {
        Q_UNUSED(opening);
        return Ni488::ENEB;
    }
    // Records the outcome of a call and returns its ibsta; iberr counts only with ERR.
    int finish(int ibsta, int iberr = 0, long count = 0);
    const Descriptor* descriptor(int ud) const;
    // The outcome of a listener search: found starts with the controller at address 0; none
    // besides it is EBUS, more than limit entries ETAB.
    void reportListeners(const QVector<short>& found, QVector<short>& results, int limit);

private:
    std::map<int, Descriptor> m_descriptors;
    int m_nextUd = 1; // 0 means no device to the program
    GpibStatus m_status;
};
