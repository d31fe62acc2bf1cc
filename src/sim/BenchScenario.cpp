#include "sim/BenchScenario.h"

#include <QRegularExpression>

namespace {

// "CMD" or "CMD@N"; commands are upper case on the bus, whatever the operator typed.
std::optional<BenchScenario::Trigger> parseTrigger(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(.+?)(?:@([1-9][0-9]*))?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    BenchScenario::Trigger trigger;
    trigger.command = m.captured(1).trimmed().toUpper();
    trigger.occurrence = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
    if (trigger.command.isEmpty())
        return std::nullopt;
    return trigger;
}

} // namespace

std::optional<BenchScenario> BenchScenario::parse(const QString& words)
{
    BenchScenario s;
    for (const QString& raw : words.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString word = raw.trimmed();
        if (word.isEmpty())
            continue;
        const QString key = word.section(QLatin1Char('='), 0, 0).toLower();
        const QString value = word.section(QLatin1Char('='), 1);
        const bool hasValue = word.contains(QLatin1Char('='));
        if (!hasValue) {
            if (key == u"2710" || key == u"2711" || key == u"2712")
                s.model = key;
            else if (key == u"no-tg")
                s.trackingGenerator = false;
            else if (key == u"good")
                s.quality = DutQuality::Good;
            else if (key == u"marginal")
                s.quality = DutQuality::Marginal;
            else if (key == u"failing")
                s.quality = DutQuality::Failing;
            else if (key == u"no-board")
                s.board = Board::NoConfiguration;
            else if (key == u"no-board-device")
                s.board = Board::NoBoardDevice;
            else if (key == u"instant")
                s.instant = true;
            else if (key == u"no-listener")
                s.noListener = true;
            else if (key == u"14-listeners")
                s.listeners = 14;
            else if (key == u"15-listeners")
                s.listeners = 15;
            else if (key == u"twin-analysers")
                s.twinAnalysers = true;
            else if (key == u"others-first")
                s.othersFirst = true;
            else if (key == u"no-srq")
                s.noSrq = true;
            else if (key == u"stale-srq")
                s.staleSrqs = 3;
            else if (key == u"long-answers")
                s.longAnswers = true;
            else if (key == u"crlf")
                s.ending = Ending::CrLf;
            else if (key == u"lf")
                s.ending = Ending::Lf;
            else if (key == u"junk")
                s.ending = Ending::LfJunk;
            else
                return std::nullopt;
            continue;
        }
        if (key == u"timeout" || key == u"write-error") {
            const std::optional<Trigger> trigger = parseTrigger(value);
            if (!trigger)
                return std::nullopt;
            (key == u"timeout" ? s.timeouts : s.writeErrors).append(*trigger);
        } else if (key == u"vanish") {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 1)
                return std::nullopt;
            s.vanishAfter = n;
        } else {
            return std::nullopt;
        }
    }
    return s;
}

QString BenchScenario::help()
{
    return QStringLiteral(
        "2710, 2711, 2712     analyser model (default 2712, at address 18)\n"
        "no-tg                analyser without the tracking generator option\n"
        "good                 parts under test well within their limits (default)\n"
        "marginal             parts under test just inside their limits\n"
        "failing              parts under test out of their limits at the upper frequencies\n"
        "instant              no real waiting: a whole sweep takes milliseconds\n"
        "no-board             no GPIB configuration file (as linux-gpib without one)\n"
        "no-board-device      a configuration but no board device\n"
        "no-listener          no instrument on the bus\n"
        "14-listeners         14 instruments on the bus, the analyser among them\n"
        "15-listeners         15 instruments on the bus, the analyser among them\n"
        "twin-analysers       two identical analysers at different addresses\n"
        "others-first         a counter and a power supply at lower addresses\n"
        "timeout=CMD[@N]      the analyser never answers the query CMD (or its Nth time)\n"
        "write-error=CMD[@N]  a message starting with CMD finds no listener (or its Nth time)\n"
        "no-srq               SIG never raises a service request\n"
        "stale-srq            three stale service requests pending before every SIG\n"
        "long-answers         answers padded with 600 blanks\n"
        "crlf                 answers end in CR LF\n"
        "lf                   answers end in LF\n"
        "junk                 answers end in LF and one junk character\n"
        "vanish=N             the analyser leaves the bus at its Nth MAMPL? query\n");
}
