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

// The record's metadata, key and value as recorded, in file order; each format escapes them.
QList<std::pair<QString, QString>> metadata(const HistoryRecord& record);

} // namespace HistoryExport
