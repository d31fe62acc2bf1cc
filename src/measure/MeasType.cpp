#include "measure/MeasType.h"

#include <iterator>

namespace {

// clang-format off
const MeasInfo Table[] = {
    {MeasType::AttReference, MeasKind::Attenuation, true,  "REF",    0,  LimitSet::None,         0,    "",             "",                       0,   "Reference"},
    {MeasType::Cable,        MeasKind::Attenuation, false, "X1",     0,  LimitSet::None,         0,    "Cable",        "1 X Attenuator (Cable)", 1,   "1 X"},
    {MeasType::Att2X,        MeasKind::Attenuation, false, "X2",     6,  LimitSet::Att03,        0.3f, "2X (6 dB)",    "2 X Attenuator",         2,   "2 X"},
    {MeasType::Att2p5X,      MeasKind::Attenuation, false, "X2P5",   8,  LimitSet::Att03,        0.3f, "2.5X (8 dB)",  "2.5 X Attenuator",       3,   "2.5 X"},
    {MeasType::Att5X,        MeasKind::Attenuation, false, "X5",     14, LimitSet::Att04,        0.4f, "5X (14 dB)",   "5 X Attenuator",         4,   "5 X"},
    {MeasType::Att10X,       MeasKind::Attenuation, false, "X10",    20, LimitSet::Att04,        0.4f, "10X (20 dB)",  "10 X Attenuator",        5,   "10 X"},
    {MeasType::RlReference,  MeasKind::ReturnLoss,  true,  "REF",    0,  LimitSet::None,         0,    "",             "",                       0,   "Reference"},
    {MeasType::Termination,  MeasKind::ReturnLoss,  false, "TERM",   0,  LimitSet::Termination,  21,   "Termination",  "Termination",            1,   "Termination"},
    {MeasType::AttenuatorRl, MeasKind::ReturnLoss,  false, "PAD",    0,  LimitSet::AttenuatorRl, 26,   "Attenuator",   "",                       2,   "Attenuator"},
    {MeasType::CustomAtt,    MeasKind::Attenuation, false, "CUSTOM", 0,  LimitSet::None,         0,    "",             "",                       -1,  ""},
};
// clang-format on

} // namespace

const MeasInfo& measInfo(MeasType type)
{
    return Table[int(type)];
}

MeasType optionType(MeasKind kind, int optionIndex)
{
    for (const MeasInfo& info : Table) {
        if (info.kind == kind && info.optionIndex == optionIndex)
            return info.type;
    }
    return referenceOf(kind);
}

const MeasInfo* measTable(int* count)
{
    *count = int(std::size(Table));
    return Table;
}
