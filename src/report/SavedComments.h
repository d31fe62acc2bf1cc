#pragma once

#include <QString>
#include <QStringList>

// The identifier/comment pairs remembered between prints in PrintComments.dat, one
// "identifier;comments" entry a line. The file lies in the current working directory so that
// each bench folder keeps its own list.
class SavedComments {
public:
    static constexpr const char* FileName = "PrintComments.dat";

    enum class SaveResult {
        Saved,     // the entry was appended
        Duplicate, // the same line is already there
        Nothing,   // identifier and comments both empty after dropping placeholders
        Failed     // the file could not be read or written; it was left as it was
    };

    explicit SavedComments(const QString& path = QString::fromLatin1(FileName));

    // The entries to offer in the details dialog, in file order, lines of 0 or 1 characters
    // left out. A missing file is created empty; a file that exists but cannot be read gives
    // no entries and is not touched.
    QStringList loadEntries() const;

    // Appends identifier;comments unless it is already there. An identifier or comments
    // holding "___" (the placeholder line of the printed page) counts as empty; control
    // characters become blanks, as in the details dialog. Instances
    // saving at once take turns; on failure the file keeps its contents and reason says why.
    SaveResult save(QString dutId, QString comments, QString* reason = nullptr) const;

    // The text with line breaks, tabs and other control characters turned into blanks, as
    // DutText::cleanComments does, but its ";" kept: an entry is one line of the file and one
    // line of the printed page.
    static QString oneLine(const QString& text);

    // Every line of the file, decoded; false when the file cannot be read.
    bool readLines(QStringList& lines) const;

    // Splits file contents at CR LF, LF or CR. Each line is taken as UTF-8 when it is valid
    // UTF-8 and as Windows-1252 otherwise, the code page older bench PCs wrote it in.
    static QStringList decodeLines(const QByteArray& contents);
    static QString decodeLine(const QByteArray& line);

private:
    QString m_path;
};
