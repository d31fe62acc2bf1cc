#pragma once

#include <QString>

// The measurement the Run command dispatches on. The underlying values are the selection's
// historic numbers, kept so that a value means the same everywhere it was ever written down.
enum class MeasType : int {
    AttReference = 0,
    Cable = 1, // "1 X": a through cable, nominal 0 dB
    Att2X = 2,
    Att2p5X = 3,
    Att5X = 4,
    Att10X = 5,
    RlReference = 6,
    Termination = 7,
    AttenuatorRl = 8, // return loss of an attenuator closed by a good termination
    CustomAtt = 9,
};

enum class MeasKind { Attenuation = 0, ReturnLoss = 1 };

// Which limit lines a device sweep draws when custom limits are off.
enum class LimitSet {
    None,        // a reference, or a device whose chart shows no limit line
    Att03,       // +-0.3 dB
    Att04,       // +-0.4 dB
    Termination, // 21 dB
    AttenuatorRl // 26 dB
};

// One row per measurement: everything that differs between the kinds, named once.
struct MeasInfo {
    MeasType type;
    MeasKind kind;
    bool reference;
    const char* word;       // the automation word: REF, X1 ... X10, CUSTom, TERM, PAD
    float nominalDb;        // nominal attenuation; 0 for return loss and the custom value
    LimitSet limits;        // default limit lines
    float limitDb;          // their value: +-limitDb, or the return-loss floor
    const char* promptText; // the DUT as the connection prompt names it
    const char* reportText; // the DUT as the report's description names it
    int optionIndex;        // index in its frame's option array; -1 for the custom attenuation
    const char* caption;    // that option's caption
};

const MeasInfo& measInfo(MeasType type);
inline MeasKind kindOf(MeasType type)
{
    return measInfo(type).kind;
}
inline int kindIndex(MeasKind kind)
{
    return int(kind);
}
inline bool isReference(MeasType type)
{
    return measInfo(type).reference;
}
inline MeasType referenceOf(MeasKind kind)
{
    return kind == MeasKind::ReturnLoss ? MeasType::RlReference : MeasType::AttReference;
}
// The measurement behind option index of a kind's frame (Reference is index 0).
MeasType optionType(MeasKind kind, int optionIndex);
// Every kind in table order, for loops and look-ups by word.
const MeasInfo* measTable(int* count);
