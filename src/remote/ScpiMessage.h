#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>

#include <optional>

// Reading program messages and writing responses as IEEE 488.2 and SCPI define them.
namespace Scpi {

// SCPI's not-a-number, answered where there is no value.
inline constexpr char NotANumber[] = "9.91E37";

// The error numbers this server reports; errorEntry() gives each its standard text.
enum Error : int {
    NoError = 0,
    SyntaxError = -102,
    ParameterNotAllowed = -108,
    MissingParameter = -109,
    UndefinedHeader = -113,
    ExecutionError = -200,
    InitIgnored = -213,
    SettingsConflict = -221,
    DataOutOfRange = -222,
    TooMuchData = -223,
    IllegalParameterValue = -224,
    DataStale = -230,
    HardwareError = -240,
    SystemError = -310,
    QueueOverflow = -350,
};

// Bits of the standard event status register (*ESR?, *ESE).
enum EventBit : quint8 {
    OperationComplete = 0x01,
    DeviceDependentError = 0x08, // -3xx
    ExecutionErrorBit = 0x10,    // -2xx
    CommandErrorBit = 0x20,      // -1xx
};

// Bits of the status byte (*STB?, *SRE).
enum StatusBit : quint8 {
    ErrorQueueNotEmpty = 0x04,
    MessageAvailable = 0x10,
    EventSummary = 0x20, // an event bit set that *ESE enables
    MasterSummary = 0x40,
};

// The event bit an error sets: its class is its hundreds.
quint8 eventBit(int code);

// One program data element: character data or a number as written, or a string with its
// quotes removed and doubled quotes undone.
struct Parameter {
    bool quoted = false;
    QByteArray text;
};

// One program message unit, e.g. ":CONF:DEV X2" or "*IDN?".
struct Unit {
    bool empty = false; // white space only: nothing to do
    int error = 0;      // SyntaxError or UndefinedHeader when the unit cannot be read
    bool common = false;
    bool absolute = false; // a leading ':' starts the header from the root
    bool query = false;
    QByteArrayList nodes; // the header's mnemonics as written; a common one keeps its '*'
    QList<Parameter> parameters;
};

// Every byte 0..32 but LF.
bool isWhite(char c);
// The units of one line, split at each ';' outside a quoted string.
QList<QByteArray> splitUnits(const QByteArray& line);
Unit parseUnit(const QByteArray& text);

// A mnemonic written with its short form in capitals, "CONFigure", from a word in capitals:
// "CUSTOM" -> "CUSTom" (four letters, three when the fourth is a vowel).
QByteArray mnemonic(const char* word);
// Its short form, "CONF".
QByteArray shortForm(const QByteArray& mnemonic);
// Whether word is the mnemonic's long or short form, in any case.
bool matches(const QByteArray& mnemonic, const QByteArray& word);

// A decimal number as SCPI writes one: "25", "-.5", "2.5E-1"; nothing for anything else.
std::optional<double> number(const QByteArray& text);
// The shortest plain decimal that reads back as the same value, without an exponent:
// "0.25", "21.37", "1000".
QByteArray plainNumber(double value);
QByteArray plainNumber(float value);

// A string response: in double quotes, inner ones doubled, every control character (line
// breaks too) a blank, so that an answer stays one line.
QByteArray quoted(const QString& text);
// Control characters as blanks.
QString oneLine(const QString& text);

// An error queue entry: -113,"Undefined header" or -222,"Data out of range;<detail>".
QByteArray errorEntry(int code, const QString& detail = {});

} // namespace Scpi
