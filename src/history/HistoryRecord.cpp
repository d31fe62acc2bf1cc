#include "history/HistoryRecord.h"

#include <QCoreApplication>
#include <QSet>

#include <charconv>
#include <pwd.h>
#include <unistd.h>

QString RunContext::currentLogin()
{
    // The login of the account, not $USER, which a shell or sudo may have changed.
    if (const passwd* pw = getpwuid(geteuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

QString RunContext::defaultVersion()
{
    return QCoreApplication::applicationVersion();
}

HistoryRecord HistoryRecord::make(const MeasurementResult& result, const RunContext& context)
{
    HistoryRecord record;
    record.result = result;
    record.context = context;
    if (isReference(result.type) || result.points.isEmpty())
        return record;
    record.id = QUuid::createUuid();
    record.verdict = Verdict::of(result);
    return record;
}

QString HistoryRecord::dutId() const
{
    if (!context.dutId.isEmpty() || prints.isEmpty())
        return context.dutId;
    return prints.last().dutId;
}

QString deviceWord(MeasType type, float nominalDb)
{
    if (type == MeasType::CustomAtt)
        return floatText(nominalDb);
    return QString::fromLatin1(measInfo(type).word);
}

QString kindWord(MeasKind kind)
{
    return kind == MeasKind::ReturnLoss ? QStringLiteral("RL") : QStringLiteral("ATT");
}

QString floatText(float value)
{
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, end.ptr - buffer);
}

QVector<RecordSummary> HistoryFilter::merged(const QVector<RecordSummary>& first,
                                             const QVector<RecordSummary>& second) const
{
    QVector<RecordSummary> all = first;
    QSet<QUuid> seen;
    for (const RecordSummary& r : first)
        seen.insert(r.id);
    for (const RecordSummary& r : second) {
        if (!seen.contains(r.id))
            all.append(r);
    }
    // The order the databases give: by sweep end, then by id as text.
    std::stable_sort(
        all.begin(), all.end(), [this](const RecordSummary& a, const RecordSummary& b) {
            const auto key = [](const RecordSummary& r) {
                return std::pair(r.ended.toMSecsSinceEpoch(), r.id.toString(QUuid::WithoutBraces));
            };
            return newestFirst ? std::pair(-key(a).first, key(a).second) <
                                     std::pair(-key(b).first, key(b).second)
                               : key(a) < key(b);
        });
    if (limit > 0 && all.size() > limit)
        all.resize(limit);
    return all;
}
