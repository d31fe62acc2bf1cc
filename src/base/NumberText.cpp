#include "base/NumberText.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

QString numberText(double value, int digits)
{
    if (value == 0 || !std::isfinite(value))
        return QStringLiteral(" 0");

    // Round to the type's significant digits first; the exponent of the rounded value
    // decides between fixed and exponent notation. to_chars ignores the C locale, which Qt
    // sets from the environment and which may use "," as decimal point.
    char buffer[64];
    const char* end = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::scientific, digits - 1)
                          .ptr;
    const std::string scientific(buffer, size_t(end - buffer));
    const size_t e = scientific.find('e');
    const int exponent = std::atoi(scientific.c_str() + e + 1);
    std::string figures;
    for (char c : scientific.substr(0, e))
        if (c != '.')
            figures += c;
    while (figures.size() > 1 && figures.back() == '0')
        figures.pop_back();

    std::string text;
    // Below 0.0001 exponent form is shorter: " .0001" but " 1E-05".
    if (exponent >= digits || exponent < -4) {
        text = figures.substr(0, 1);
        if (figures.size() > 1)
            text.append(1, '.').append(figures, 1);
        char tail[16];
        std::snprintf(tail, sizeof tail, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        text += tail;
    } else if (exponent < 0) {
        text.append(1, '.').append(size_t(-exponent - 1), '0').append(figures);
    } else {
        const size_t whole = size_t(exponent) + 1;
        if (figures.size() <= whole) {
            text = figures + std::string(whole - figures.size(), '0');
        } else {
            text = figures.substr(0, whole) + "." + figures.substr(whole);
        }
    }
    return QString(value < 0 ? "-" : " ") + QString::fromStdString(text);
}

} // namespace

QString NumberText(double value)
{
    return numberText(value, 15);
}

QString NumberText(float value)
{
    return numberText(double(value), 7);
}

double LeadingNumber(const QString& text)
{
    std::string number;
    enum { Sign, Whole, Fraction, ExponentSign, ExponentDigits } state = Sign;
    bool digits = false;
    for (QChar qc : text) {
        const char c = qc.unicode() < 128 ? char(qc.unicode()) : '\x7f';
        if (c == ' ' || c == '\t' || c == '\n')
            continue;
        if (state == Sign && (c == '+' || c == '-')) {
            number += c;
            state = Whole;
        } else if ((state == Sign || state == Whole || state == Fraction) && std::isdigit(c)) {
            number += c;
            digits = true;
            if (state == Sign)
                state = Whole;
        } else if ((state == Sign || state == Whole) && c == '.') {
            number += c;
            state = Fraction;
        } else if ((state == Whole || state == Fraction) && digits &&
                   (c == 'E' || c == 'e' || c == 'D' || c == 'd')) {
            number += 'e';
            state = ExponentSign;
        } else if ((state == ExponentSign && (c == '+' || c == '-')) ||
                   ((state == ExponentSign || state == ExponentDigits) && std::isdigit(c))) {
            number += c;
            state = ExponentDigits;
        } else {
            break;
        }
    }
    if (!digits)
        return 0;
    // An exponent marker without digits ("1E", "1E+") is not part of the number.
    while (!number.empty() &&
           (number.back() == 'e' || number.back() == '+' || number.back() == '-'))
        number.pop_back();
    // from_chars reads "." whatever the C locale says, but takes no "+".
    const char* first = number.c_str();
    if (*first == '+')
        ++first;
    double value = 0;
    std::from_chars(first, number.c_str() + number.size(), value);
    return value;
}
