#include "gpib/DescriptorDriver.h"

#include <algorithm>

using namespace Ni488;

int DescriptorDriver::finish(int ibsta, int iberr, long count)
{
    m_status = {ibsta, (ibsta & ERR) ? iberr : 0, count};
    return ibsta;
}

const DescriptorDriver::Descriptor* DescriptorDriver::descriptor(int ud) const
{
    const auto it = m_descriptors.find(ud);
    return it == m_descriptors.end() ? nullptr : &it->second;
}

int DescriptorDriver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    // Secondary addresses are not used; EOI goes on every last byte and nothing is appended,
    // whatever a descriptor asks.
    Q_UNUSED(sad);
    Q_UNUSED(eot);
    Q_UNUSED(eos);
    if (!boardPresent(board)) {
        finish(ERR, missingBoardError(true));
        return -1;
    }
    if (pad < 0 || pad > HighestAddress || tmo < TNONE || tmo > T1000s) {
        finish(ERR, EARG);
        return -1;
    }
    const int ud = m_nextUd++;
    m_descriptors[ud] = {pad, tmo};
    finish(CMPL);
    return ud;
}

int DescriptorDriver::ibpad(int ud, int pad)
{
    const auto it = m_descriptors.find(ud);
    if (it == m_descriptors.end())
        return finish(ERR, EDVR);
    if (pad < 0 || pad > HighestAddress)
        return finish(ERR, EARG);
    it->second.pad = pad;
    return finish(CMPL);
}

int DescriptorDriver::ibtmo(int ud, int tmo)
{
    const auto it = m_descriptors.find(ud);
    if (it == m_descriptors.end())
        return finish(ERR, EDVR);
    if (tmo < TNONE || tmo > T1000s)
        return finish(ERR, EARG);
    it->second.tmo = tmo;
    return finish(CMPL);
}

int DescriptorDriver::ibask(int ud, int option, int* value)
{
    const Descriptor* d = descriptor(ud);
    if (!d)
        return finish(ERR, EDVR);
    if (option != IbaTMO || !value)
        return finish(ERR, EARG);
    *value = d->tmo;
    return finish(CMPL);
}

void DescriptorDriver::reportListeners(const QVector<short>& found, QVector<short>& results,
                                       int limit)
{
    if (found.size() == 1) {
        finish(ERR, EBUS, 0);
        return;
    }
    const int written = int(std::min<qsizetype>(found.size(), std::max(0, limit)));
    if (results.size() < written)
        results.resize(written);
    std::copy_n(found.cbegin(), written, results.begin());
    if (found.size() > written)
        finish(ERR, ETAB, written);
    else
        finish(CMPL, 0, written);
}
