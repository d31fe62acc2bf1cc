#include "report/SavedComments.h"

#include "measure/DutText.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five unassigned codes map to
// themselves, as Windows' own conversion does.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += QChar(byte >= 0x80 && byte <= 0x9F ? Cp1252High[byte - 0x80] : char16_t(byte));
    }
    return text;
}

} // namespace

SavedComments::SavedComments(const QString& path) : m_path(path) {}

QString SavedComments::oneLine(const QString& text)
{
    // DutText's cleaning, its ";" left alone.
    QStringList parts = text.split(u';');
    for (QString& part : parts)
        part = DutText::cleanComments(part);
    return parts.join(u';');
}

QString SavedComments::decodeLine(const QByteArray& line)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(line);
    if (utf8.hasError())
        return fromWindows1252(line);
    return text;
}

QStringList SavedComments::decodeLines(const QByteArray& contents)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = contents.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && contents[end] != '\r' && contents[end] != '\n')
            ++end;
        lines << decodeLine(contents.mid(start, end - start));
        if (end < size && contents[end] == '\r' && end + 1 < size && contents[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

bool SavedComments::readLines(QStringList& lines) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    lines = decodeLines(contents);
    return true;
}

QStringList SavedComments::loadEntries() const
{
    QStringList lines;
    if (!QFileInfo::exists(m_path)) {
        // Created at once so the first save of this bench folder finds it in place.
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            file.close();
        return {};
    }
    if (!readLines(lines))
        return {};
    QStringList entries;
    for (const QString& line : std::as_const(lines)) {
        if (line.size() > 1)
            entries << line;
    }
    return entries;
}

SavedComments::SaveResult SavedComments::save(QString dutId, QString comments,
                                              QString* reason) const
{
    dutId = oneLine(dutId);
    comments = oneLine(comments);
    const QString placeholder = QStringLiteral("___");
    if (dutId.contains(placeholder))
        dutId.clear();
    if (comments.contains(placeholder))
        comments.clear();
    if (dutId.isEmpty() && comments.isEmpty())
        return SaveResult::Nothing;
    const QString entry = dutId + u';' + comments;
    const auto failed = [reason](const QFile& file) {
        if (reason)
            *reason = file.errorString();
        return SaveResult::Failed;
    };

    // Append only to the file that is there: one removed in the meantime is not made anew,
    // however short that meantime. Unbuffered: a write that fails must not be retried from a
    // buffer when the file closes.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::ExistingOnly |
                   QIODevice::Unbuffered)) {
        if (QFileInfo::exists(m_path))
            return failed(file);
        if (reason)
            *reason = QStringLiteral("The file is no longer there.");
        return SaveResult::Failed;
    }
    // Another instance saving at the same moment waits here, so that neither loses or splits
    // a line and the duplicate check sees the other's entry.
    if (flock(file.handle(), LOCK_EX) != 0) {
        if (reason)
            *reason = QString::fromLocal8Bit(std::strerror(errno));
        return SaveResult::Failed;
    }
    file.seek(0);
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failed(file);
    if (decodeLines(contents).contains(entry))
        return SaveResult::Duplicate;

    QByteArray bytes;
    // A hand-edited file may end without a line end; the new entry must not join that line.
    if (!contents.isEmpty() && !contents.endsWith('\n') && !contents.endsWith('\r'))
        bytes += "\r\n";
    bytes += entry.toUtf8() + "\r\n";
    qint64 written = file.write(bytes);
    if (written >= 0 && written < bytes.size()) {
        // A short write leaves no error behind; the rest, tried once more, brings the reason.
        const qint64 rest = file.write(bytes.mid(written));
        written = rest < 0 ? -1 : written + rest;
    }
    if (written != bytes.size()) {
        // A full disk may have taken part of the line: give the file back as it was.
        const SaveResult result = failed(file);
        if (::ftruncate(file.handle(), contents.size()) != 0 && reason)
            *reason += QStringLiteral(" The file could not be given back its earlier size.");
        return result;
    }
    return SaveResult::Saved;
}
