#include "history/HistoryExport.h"

#include "measure/GlobalVar.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace HistoryExport {

namespace {

QString yesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString timeText(const QDateTime& time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

// A dB value to a tenth of a thousandth, without trailing zeros and never "-0".
QString dbText(double value)
{
    QString text = QString::number(value, 'f', 4);
    while (text.endsWith(u'0'))
        text.chop(1);
    if (text.endsWith(u'.'))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029;
}

// A Touchstone comment ends at the line's end: no control character may start another line.
QString commentValue(QString text)
{
    for (QChar& c : text) {
        if (isControl(c.unicode()))
            c = u' ';
    }
    return text;
}

} // namespace

// A CSV metadata value that neither a spreadsheet nor a reader that skips "#" lines splits: no
// comma, quote or control character, so the line stays one field.
QString csvValue(const QString& text)
{
    QString value;
    value.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            value += QLatin1String("\\\\");
        else if (u == u',' || u == u'"' || (isControl(u) && u <= 0xff))
            value += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else if (isControl(u))
            value += QStringLiteral("\\u%1").arg(int(u), 4, 16);
        else
            value += c;
    }
    return value;
}

std::optional<Format> formatOf(const QString& text)
{
    if (text.isEmpty() || text == QLatin1String("csv"))
        return Format::Csv;
    if (text == QLatin1String("s1p"))
        return Format::S1p;
    if (text == QLatin1String("s2p"))
        return Format::S2p;
    return std::nullopt;
}

QString formatName(Format format)
{
    const char* const names[] = {"csv", "s1p", "s2p"};
    return QLatin1String(names[int(format)]);
}

bool fits(Format format, MeasKind kind)
{
    return format == Format::Csv || (format == Format::S1p) == (kind == MeasKind::ReturnLoss);
}

QList<std::pair<QString, QString>> metadata(const HistoryRecord& record)
{
    const MeasurementResult& r = record.result;
    const RunContext& c = record.context;
    const bool none = record.verdict.outcome == Verdict::Outcome::None;
    QList<std::pair<QString, QString>> items{
        {"record", record.id.toString(QUuid::WithoutBraces)},
        {"dut_id", record.dutId()},
        {"comments", c.comments},
        {"kind", kindWord(r.kind())},
        {"device", deviceWord(r.type, r.nominalDb)},
    };
    if (r.kind() == MeasKind::Attenuation)
        items.append({"nominal_db", floatText(r.nominalDb)});
    items += QList<std::pair<QString, QString>>{
        {"step_mhz", Verdict::frequencyText(GridStepMHz * r.stepMult)},
        {"limit_db", r.limitsShown ? floatText(r.limitDb) : QString()},
        {"verdict", record.verdict.text()},
        {"worst_margin_db", none ? QString() : Verdict::marginText(record.verdict.marginDb)},
        {"worst_margin_mhz",
         none ? QString() : Verdict::frequencyText(record.verdict.frequencyMHz)},
        {"started", timeText(r.started)},
        {"ended", timeText(r.ended)},
        {"reference_taken", timeText(r.reference.taken)},
        {"operator", c.operatorLogin},
        {"bench", QStringList{c.bench.analyserModel,
                              QStringList{"board", "adapter", "simulated"}[int(c.bench.interface)],
                              c.bench.address}
                      .join(u' ')
                      .simplified()},
        {"analyser_id", c.bench.idAnswer},
        {"simulated", yesNo(record.simulated())},
        {"started_from", QStringList{"window", "remote", "batch"}[int(c.startedFrom)]},
        {"unattended", yesNo(r.unattended)},
        {"program_version", c.programVersion},
    };
    return items;
}

QString write(const HistoryRecord& record, Format format)
{
    const MeasurementResult& r = record.result;
    // Touchstone readers want rising frequencies; so does a spreadsheet's chart.
    QVector<MeasuredPoint> points = r.points;
    std::stable_sort(points.begin(), points.end(),
                     [](const auto& a, const auto& b) { return a.frequencyMHz < b.frequencyMHz; });
    QString text;
    if (format == Format::Csv) {
        for (const auto& [key, value] : metadata(record))
            text += QStringLiteral("# %1: %2\n").arg(key, csvValue(value));
        text += QStringLiteral("frequency_mhz,value_db\n");
        for (const MeasuredPoint& point : points) {
            text +=
                Verdict::frequencyText(point.frequencyMHz) + u',' + floatText(point.value) + u'\n';
        }
        return text;
    }

    text += QStringLiteral("! Velmora measurement record, Touchstone 1.1\n");
    for (const auto& [key, value] : metadata(record))
        text += QStringLiteral("! %1: %2\n").arg(key, commentValue(value));
    text += QStringLiteral("! Phase was not measured: every angle is 0.\n");
    if (format == Format::S2p)
        text += QStringLiteral("! Reflection was not measured: S11 and S22 are -200 dB.\n");
    text += QStringLiteral("# MHz S DB R 50\n");
    for (const MeasuredPoint& point : points) {
        const QString f = Verdict::frequencyText(point.frequencyMHz);
        if (format == Format::S1p) {
            text += QStringLiteral("%1 %2 0\n").arg(f, dbText(-double(point.value)));
        } else {
            const QString s21 = dbText(-(double(r.nominalDb) + double(point.value)));
            text += QStringLiteral("%1 -200 0 %2 0 %2 0 -200 0\n").arg(f, s21);
        }
    }
    return text;
}

QString exportPath(const QString& dutId, MeasKind kind, const QDateTime& ended,
                   const QString& suffix, const QString& folder, QStringList& taken)
{
    constexpr qsizetype Longest = 40;
    QString id;
    for (qsizetype i = 0; i < dutId.size() && id.size() < Longest; ++i) {
        const QChar c = dutId.at(i);
        if (c.isHighSurrogate() && i + 1 < dutId.size()) {
            // A letter beyond the basic plane is kept whole, or not at all.
            const char32_t code = QChar::surrogateToUcs4(c, dutId.at(i + 1));
            const bool kept = QChar::isLetterOrNumber(code) && id.size() + 2 <= Longest;
            id += kept ? dutId.mid(i, 2) : QStringLiteral("_");
            ++i;
            continue;
        }
        const bool kept =
            c.isLetterOrNumber() || c == u'_' || ((c == u'.' || c == u'-') && !id.isEmpty());
        id += kept ? c : u'_';
    }
    if (id.isEmpty())
        id = QStringLiteral("record");
    const QString stem = id + u'_' + kindWord(kind) + u'_' +
                         ended.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
    const QDir dir(folder);
    QString path = dir.filePath(stem + u'.' + suffix);
    for (int n = 2; taken.contains(path) || QFileInfo::exists(path); ++n)
        path = dir.filePath(stem + QStringLiteral("_%1.").arg(n) + suffix);
    taken << path;
    return path;
}

} // namespace HistoryExport
