// A record with any texts and values, as another bench or a damaged database may hold it,
// written as CSV, s1p and s2p: each file must read back under its format's rules.
#include "history/HistoryExport.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029;
}

void check(bool holds)
{
    if (!holds)
        std::abort();
}

// A number as the format writes it, read back: nothing else may be on its field.
double number(const QString& field)
{
    bool ok = false;
    const double value = field.toDouble(&ok);
    check(ok);
    return value;
}

// The points, one a line, sorted by frequency as the files have them.
void checkPoints(const QStringList& lines, QVector<MeasuredPoint> points,
                 HistoryExport::Format format, float nominalDb)
{
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.frequencyMHz < b.frequencyMHz; });
    check(lines.size() == points.size());
    for (qsizetype i = 0; i < points.size(); ++i) {
        const MeasuredPoint& p = points.at(i);
        if (format == HistoryExport::Format::Csv) {
            const QStringList fields = lines.at(i).split(u',');
            bool ok = false;
            check(fields.size() == 2 && number(fields[0]) == p.frequencyMHz &&
                  fields[1].toFloat(&ok) == p.value && ok);
            continue;
        }
        const QStringList fields = lines.at(i).split(u' ');
        const bool s1p = format == HistoryExport::Format::S1p;
        check(fields.size() == (s1p ? 3 : 9) && number(fields[0]) == p.frequencyMHz);
        for (const QString& field : fields)
            (void)number(field);
        // Four decimals: half of the last one apart at most, beside the double's own rounding.
        const double db = s1p ? -double(p.value) : -(double(nominalDb) + double(p.value));
        check(std::fabs(number(fields[s1p ? 1 : 3]) - db) <= 0.00005 + std::fabs(db) * 1e-15);
    }
}

} // namespace

// Input: a byte of flags, the record's texts separated by NUL bytes, then after the last one
// the points, five bytes each: the grid row and the value's float32.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int flags = data[0];
    QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)).split('\0');
    const QByteArray pointBytes = parts.size() > 9 ? parts.takeLast() : QByteArray();
    while (parts.size() < 9)
        parts << QByteArray();
    const auto text = [&](int i) { return QString::fromUtf8(parts[i]); };

    HistoryRecord record;
    record.id = QUuid::fromString(QStringLiteral("6f1c0e2a-0000-4000-8000-00000000000a"));
    MeasurementResult& r = record.result;
    r.type = MeasType(flags % 10);
    r.stepMult = 1 << ((flags >> 4) & 3);
    r.stepIndex = (flags >> 4) & 3;
    r.limitsShown = flags & 0x40;
    r.customLimits = flags & 0x80;
    RunContext& c = record.context;
    c.dutId = text(0);
    c.comments = text(1);
    c.operatorLogin = text(2);
    c.bench.analyserModel = text(3);
    c.bench.idAnswer = text(4);
    c.bench.address = text(5);
    c.programVersion = text(6);
    r.customAttnText = text(7);
    // A nominal and a limit as any float a damaged row may hold; finite, as a sweep gives.
    const QByteArray numbers = parts[8].leftJustified(8, '\0');
    std::memcpy(&r.nominalDb, numbers.constData(), 4);
    std::memcpy(&r.limitDb, numbers.constData() + 4, 4);
    if (!std::isfinite(r.nominalDb) || !std::isfinite(r.limitDb))
        return 0;
    for (qsizetype at = 0; at + 5 <= pointBytes.size(); at += 5) {
        float value = 0;
        std::memcpy(&value, pointBytes.constData() + at + 1, 4);
        if (!std::isfinite(value))
            return 0;
        r.points.append({uint8_t(pointBytes[at]) * 12.5, value});
    }
    record.verdict = Verdict::of(r);
    const qsizetype metadataLines = HistoryExport::metadata(record).size();

    for (const auto format :
         {HistoryExport::Format::Csv, HistoryExport::Format::S1p, HistoryExport::Format::S2p}) {
        const QString file = HistoryExport::write(record, format);
        check(file.endsWith(u'\n'));
        QStringList lines = file.split(u'\n');
        lines.removeLast();
        if (format == HistoryExport::Format::Csv) {
            // "# key: value" lines a spreadsheet takes as one field, then the header.
            const qsizetype header = lines.indexOf(QStringLiteral("frequency_mhz,value_db"));
            check(header == metadataLines);
            for (qsizetype i = 0; i < header; ++i) {
                const QString& line = lines.at(i);
                check(line.startsWith(QStringLiteral("# ")) && !line.contains(u',') &&
                      !line.contains(u'"') && std::none_of(line.begin(), line.end(), isControl));
            }
            checkPoints(lines.mid(header + 1), r.points, format, r.nominalDb);
            continue;
        }
        // Comments, one option line, the points.
        const qsizetype option = lines.indexOf(QStringLiteral("# MHz S DB R 50"));
        check(option == metadataLines + (format == HistoryExport::Format::S1p ? 2 : 3));
        for (qsizetype i = 0; i < option; ++i) {
            const QString& line = lines.at(i);
            check(line.startsWith(u'!') && std::none_of(line.begin(), line.end(), isControl));
        }
        checkPoints(lines.mid(option + 1), r.points, format, r.nominalDb);
    }
    return 0;
}
