#include "history/HistoryRecord.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>

#include <charconv>
#include <cmath>
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

void HistoryFilter::setDutPattern(const QString& text)
{
    dutPrefix = text.endsWith(u'*') && !text.endsWith(QLatin1String("\\*"));
    dutId = dutPrefix ? text.chopped(1) : text;
    dutId.replace(QLatin1String("\\*"), QLatin1String("*"));
}

QString deviceOf(const QString& text, std::optional<MeasKind> kind)
{
    const QString word = text.trimmed();
    int count = 0;
    const MeasInfo* table = measTable(&count);
    for (int i = 0; i < count; ++i) {
        const MeasInfo& info = table[i];
        if (!info.reference && info.type != MeasType::CustomAtt && (!kind || info.kind == *kind) &&
            word.compare(QLatin1String(info.word), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(info.word);
    }
    bool number = false;
    const float db = QString(word).replace(u',', u'.').toFloat(&number);
    if (!number || !std::isfinite(db) || kind == MeasKind::ReturnLoss)
        return {};
    return floatText(db);
}

std::optional<HistoryFilter> filterOf(const FilterWords& words, QString* error)
{
    HistoryFilter filter;
    filter.newestFirst = false;
    filter.includeSimulated = words.includeSimulated;
    const auto refuse = [error](const QString& text) -> std::optional<HistoryFilter> {
        *error = text;
        return std::nullopt;
    };
    filter.setDutPattern(words.dut);
    const auto day = [](const QString& text) {
        // Strictly YYYY-MM-DD: a script's typo must not become another day.
        static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
        return form.match(text).hasMatch() ? QDate::fromString(text, Qt::ISODate) : QDate();
    };
    for (const auto& [text, option] :
         {std::pair{&words.from, "--from"}, std::pair{&words.to, "--to"}}) {
        if (text->isEmpty())
            continue;
        const QDate date = day(*text);
        if (!date.isValid())
            return refuse(QStringLiteral("%1 takes a date YYYY-MM-DD, not \"%2\".")
                              .arg(QLatin1String(option), *text));
        // Whole UTC days: from the first millisecond of one to the last of the other.
        if (text == &words.from)
            filter.from = QDateTime(date, QTime(0, 0), Qt::UTC);
        else
            filter.to = QDateTime(date.addDays(1), QTime(0, 0), Qt::UTC).addMSecs(-1);
    }
    if (filter.from.isValid() && filter.to.isValid() && filter.from > filter.to)
        return refuse(QStringLiteral("--from %1 is after --to %2.").arg(words.from, words.to));
    if (!words.kind.isEmpty()) {
        if (words.kind.compare(QLatin1String("att"), Qt::CaseInsensitive) == 0)
            filter.kind = MeasKind::Attenuation;
        else if (words.kind.compare(QLatin1String("rl"), Qt::CaseInsensitive) == 0)
            filter.kind = MeasKind::ReturnLoss;
        else
            return refuse(QStringLiteral("--kind takes att or rl, not \"%1\".").arg(words.kind));
    }
    if (!words.device.isEmpty()) {
        filter.device = deviceOf(words.device, filter.kind);
        if (filter.device.isEmpty())
            return refuse(QStringLiteral("--device takes X1, X2, X2P5, X5, X10, TERM, PAD or an "
                                         "attenuation in dB%1, not \"%2\".")
                              .arg(filter.kind ? QStringLiteral(" of that --kind") : QString(),
                                   words.device));
    }
    if (!words.verdict.isEmpty()) {
        const QString v = words.verdict.toLower();
        if (v == QLatin1String("pass"))
            filter.outcome = Verdict::Outcome::Pass;
        else if (v == QLatin1String("fail"))
            filter.outcome = Verdict::Outcome::Fail;
        else if (v == QLatin1String("none"))
            filter.outcome = Verdict::Outcome::None;
        else
            return refuse(QStringLiteral("--verdict takes pass, fail or none, not \"%1\".")
                              .arg(words.verdict));
    }
    return filter;
}
