#include "measure/DutText.h"

namespace {

// Where the code point that starts at i ends.
qsizetype nextCodePoint(const QString& text, qsizetype i)
{
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? i + 2
                                                                                            : i + 1;
}

QString refusal(const QString& cleaned, int maxLength, const char* what)
{
    if (DutText::codePoints(cleaned) <= maxLength)
        return {};
    return QStringLiteral("The %1 can be at most %2 characters long.")
        .arg(QLatin1String(what))
        .arg(maxLength);
}

} // namespace

namespace DutText {

QString cleanComments(const QString& text)
{
    QString cleaned = text;
    // Every character of these categories lies in the BMP, so no half of a surrogate pair is one.
    for (QChar& c : cleaned) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph)
            c = u' ';
        else if (c == u';')
            c = u'-';
    }
    return cleaned;
}

QString cleanId(const QString& text)
{
    return cleanComments(text).trimmed();
}

int codePoints(const QString& text)
{
    int count = 0;
    for (qsizetype i = 0; i < text.size(); i = nextCodePoint(text, i))
        ++count;
    return count;
}

QString idRefusal(const QString& cleanedId)
{
    return refusal(cleanedId, MaxIdLength, "DUT ID");
}

QString commentsRefusal(const QString& cleanedComments)
{
    return refusal(cleanedComments, MaxCommentsLength, "comments");
}

QString truncated(const QString& text, int maxCodePoints)
{
    qsizetype end = 0;
    for (int count = 0; count < maxCodePoints && end < text.size(); ++count)
        end = nextCodePoint(text, end);
    return text.left(end);
}

} // namespace DutText
