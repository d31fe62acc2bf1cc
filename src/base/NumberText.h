#pragma once

#include <QString>

// The program's number conventions for analyser commands, progress texts and answers.
// Text: a blank before non-negative numbers, "." as decimal point in every locale, no
// trailing zeros, no "0" before the point (" .5"), exponent form only where fixed notation
// would need more digits than the type holds.
QString NumberText(double value); // 64-bit: up to 15 significant digits
QString NumberText(float value);  // 32-bit: up to 7 significant digits

// The leading number of a text: blanks, tabs and line feeds are skipped wherever they stand;
// then sign, digits, "." and digits, and an exponent ("E" or "D") are read up to the first
// character that cannot continue the number. 0 when there is none.
double LeadingNumber(const QString& text);
