#pragma once

#include <QString>

// The rules for the texts that describe a DUT, its ID and the comments, whichever way they come
// in: the details dialog, remote control or a batch run. Each becomes one line of the printed
// page and one part of an "identifier;comments" line of PrintComments.dat.
namespace DutText {
inline constexpr int MaxIdLength = 64;        // code points, after cleaning
inline constexpr int MaxCommentsLength = 512; // code points, after cleaning
// Unicode categories Cc, Zl and Zp become blanks; ';' becomes '-' (the saved comments file
// splits its entries at ';').
QString cleanComments(const QString& text);
// As cleanComments, then leading and trailing blanks removed (white space as QString::trimmed
// sees it).
QString cleanId(const QString& text);
// Code points of a text (a surrogate pair counts once).
int codePoints(const QString& text);
// The refusal of a cleaned text that is too long, or empty when it is acceptable:
// "The DUT ID can be at most 64 characters long." / "The comments can be at most 512 characters
// long."
QString idRefusal(const QString& cleanedId);
QString commentsRefusal(const QString& cleanedComments);
// The longest start of text with at most maxCodePoints code points, never splitting a surrogate
// pair.
QString truncated(const QString& text, int maxCodePoints);
} // namespace DutText
