#include "remote/ScpiMessage.h"

#include <charconv>
#include <cmath>

namespace Scpi {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isNodeChar(char c)
{
    return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isNode(const QByteArray& node, bool common)
{
    if (node.size() < (common ? 2 : 1))
        return false;
    for (qsizetype i = common ? 1 : 0; i < node.size(); ++i) {
        if (!isNodeChar(node.at(i)))
            return false;
    }
    return true;
}

template <typename T> QByteArray shortest(T value)
{
    if (!std::isfinite(value))
        return NotANumber;
    char digits[400];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
    return QByteArray(digits, end.ptr - digits);
}

QString standardText(int code)
{
    switch (code) {
    case NoError:
        return QStringLiteral("No error");
    case SyntaxError:
        return QStringLiteral("Syntax error");
    case ParameterNotAllowed:
        return QStringLiteral("Parameter not allowed");
    case MissingParameter:
        return QStringLiteral("Missing parameter");
    case UndefinedHeader:
        return QStringLiteral("Undefined header");
    case ExecutionError:
        return QStringLiteral("Execution error");
    case InitIgnored:
        return QStringLiteral("Init ignored");
    case SettingsConflict:
        return QStringLiteral("Settings conflict");
    case DataOutOfRange:
        return QStringLiteral("Data out of range");
    case TooMuchData:
        return QStringLiteral("Too much data");
    case IllegalParameterValue:
        return QStringLiteral("Illegal parameter value");
    case DataStale:
        return QStringLiteral("Data corrupt or stale");
    case HardwareError:
        return QStringLiteral("Hardware error");
    case SystemError:
        return QStringLiteral("System error");
    case QueueOverflow:
        return QStringLiteral("Queue overflow");
    default:
        return QStringLiteral("Error");
    }
}

} // namespace

quint8 eventBit(int code)
{
    switch (code / 100) {
    case -1:
        return CommandErrorBit;
    case -2:
        return ExecutionErrorBit;
    case -3:
        return DeviceDependentError;
    default:
        return 0;
    }
}

bool isWhite(char c)
{
    return uchar(c) <= 0x20 && c != '\n';
}

QList<QByteArray> splitUnits(const QByteArray& line)
{
    QList<QByteArray> units;
    qsizetype start = 0;
    char quote = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line.at(i);
        // A doubled quote inside a string closes and reopens it: the same state.
        if (quote)
            quote = c == quote ? 0 : quote;
        else if (c == '"' || c == '\'')
            quote = c;
        else if (c == ';') {
            units << line.mid(start, i - start);
            start = i + 1;
        }
    }
    units << line.mid(start);
    return units;
}

Unit parseUnit(const QByteArray& text)
{
    Unit unit;
    const qsizetype n = text.size();
    qsizetype i = 0;
    const auto skipWhite = [&] {
        while (i < n && isWhite(text.at(i)))
            ++i;
    };
    skipWhite();
    if (i == n) {
        unit.empty = true;
        return unit;
    }
    const qsizetype start = i;
    while (i < n && !isWhite(text.at(i)))
        ++i;
    QByteArray header = text.mid(start, i - start);
    if (header.endsWith('?')) {
        unit.query = true;
        header.chop(1);
    }
    unit.common = header.startsWith('*');
    if (unit.common) {
        unit.nodes << header;
    } else {
        unit.absolute = header.startsWith(':');
        unit.nodes = header.mid(unit.absolute ? 1 : 0).split(':');
    }
    for (const QByteArray& node : std::as_const(unit.nodes)) {
        if (!isNode(node, unit.common)) {
            unit.error = UndefinedHeader;
            return unit;
        }
    }

    skipWhite();
    while (i < n) {
        Parameter p;
        const char c = text.at(i);
        if (c == '"' || c == '\'') {
            p.quoted = true;
            bool closed = false;
            for (++i; i < n; ++i) {
                if (text.at(i) != c) {
                    p.text += text.at(i);
                } else if (i + 1 < n && text.at(i + 1) == c) {
                    p.text += c;
                    ++i;
                } else {
                    closed = true;
                    ++i;
                    break;
                }
            }
            if (!closed)
                unit.error = SyntaxError;
        } else {
            const qsizetype from = i;
            while (i < n && !isWhite(text.at(i)) && text.at(i) != ',')
                ++i;
            p.text = text.mid(from, i - from);
            if (p.text.isEmpty())
                unit.error = SyntaxError;
        }
        unit.parameters << p;
        skipWhite();
        if (i < n && text.at(i) != ',')
            unit.error = SyntaxError;
        if (unit.error)
            return unit;
        if (i < n) {
            ++i;
            skipWhite();
            // A comma needs a parameter after it.
            if (i == n)
                unit.error = SyntaxError;
        }
    }
    return unit;
}

QByteArray mnemonic(const char* word)
{
    QByteArray w(word);
    if (w.size() <= 4)
        return w;
    const qsizetype shortSize = QByteArrayView("AEIOU").contains(w.at(3)) ? 3 : 4;
    return w.left(shortSize) + w.mid(shortSize).toLower();
}

QByteArray shortForm(const QByteArray& mnemonic)
{
    qsizetype n = 0;
    while (n < mnemonic.size() && !(mnemonic.at(n) >= 'a' && mnemonic.at(n) <= 'z'))
        ++n;
    return mnemonic.left(n);
}

bool matches(const QByteArray& mnemonic, const QByteArray& word)
{
    return word.compare(mnemonic, Qt::CaseInsensitive) == 0 ||
           word.compare(shortForm(mnemonic), Qt::CaseInsensitive) == 0;
}

std::optional<double> number(const QByteArray& text)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    if (i < n && (text.at(i) == '+' || text.at(i) == '-'))
        ++i;
    int digits = 0;
    for (; i < n && isDigit(text.at(i)); ++i)
        ++digits;
    if (i < n && text.at(i) == '.') {
        for (++i; i < n && isDigit(text.at(i)); ++i)
            ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (text.at(i) == 'e' || text.at(i) == 'E')) {
        ++i;
        if (i < n && (text.at(i) == '+' || text.at(i) == '-'))
            ++i;
        const qsizetype exponentStart = i;
        while (i < n && isDigit(text.at(i)))
            ++i;
        if (i == exponentStart)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QByteArray plainNumber(double value)
{
    return shortest(value);
}

QByteArray plainNumber(float value)
{
    return shortest(value);
}

QString oneLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return line;
}

QByteArray quoted(const QString& text)
{
    QString inner = oneLine(text);
    inner.replace(u'"', QStringLiteral("\"\""));
    return '"' + inner.toUtf8() + '"';
}

QByteArray errorEntry(int code, const QString& detail)
{
    const QString text = detail.isEmpty() ? standardText(code) : standardText(code) + u';' + detail;
    return QByteArray::number(code) + ',' + quoted(text);
}

} // namespace Scpi
