#pragma once

#include "history/HistoryRecord.h"

#include <QString>

#include <optional>

// A record for a spreadsheet or an RF tool: CSV with "#" metadata lines, or Touchstone 1.1.
namespace HistoryExport {

enum class Format { Csv, S1p, S2p };

// "csv", "s1p" or "s2p"; an empty text is csv.
std::optional<Format> formatOf(const QString& text);
QString formatName(Format format);
// s1p takes return loss, s2p attenuation, csv either.
bool fits(Format format, MeasKind kind);

// The whole file text, "." as decimal point whatever the locale.
QString write(const HistoryRecord& record, Format format);

// A CSV metadata value that neither a spreadsheet nor a reader that skips "#" lines splits: "\\"
// for a backslash, "\\xHH" for a comma, a quote or a control character.
QString csvValue(const QString& text);

// The record's metadata, key and value as recorded, in file order; each format escapes them.
QList<std::pair<QString, QString>> metadata(const HistoryRecord& record);

// Where in folder a record's file goes, under a name safe on any file system and in any shell:
// <DUT ID>_<ATT|RL>_<UTC yyyyMMddTHHmmss>.<suffix>. The DUT ID keeps letters, digits and ". _ -",
// anything else and a leading "." or "-" becoming "_", at most 40 characters; "record" without
// one. A name among taken, or of a file already in folder, gets "_2", "_3", ...; the one chosen
// joins taken.
QString exportPath(const QString& dutId, MeasKind kind, const QDateTime& ended,
                   const QString& suffix, const QString& folder, QStringList& taken);

} // namespace HistoryExport
