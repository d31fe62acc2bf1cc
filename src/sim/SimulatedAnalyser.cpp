#include "sim/SimulatedAnalyser.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

// The analyser takes the number at the front of an argument and ignores what follows,
// such as the stray ")" after an MFREQ value.
std::optional<double> leadingNumber(const QString& argument)
{
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?"));
    const QRegularExpressionMatch m = number.match(argument.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(0).toDouble();
}

std::optional<bool> onOff(const QString& argument)
{
    const QString word = argument.trimmed().toUpper();
    if (word == u"ON" || word == u"1")
        return true;
    if (word == u"OFF" || word == u"0")
        return false;
    return std::nullopt;
}

} // namespace

SimulatedAnalyser::SimulatedAnalyser(int address, const BenchScenario& scenario,
                                     const BenchModel& model, const Connection& connection,
                                     double now)
    : SimulatedDevice(address), m_scenario(scenario), m_model(model), m_connection(connection),
      m_seed(0x5EED0000u + quint64(address))
{
    reset();
    queueStaleRequests(now);
}

QString SimulatedAnalyser::identification() const
{
    const QString options = m_scenario.trackingGenerator ? QStringLiteral("TRACKING GEN,NB FILTER")
                                                         : QStringLiteral("NB FILTER");
    return QStringLiteral("SIMULATED,%1,V1.04,OPTIONS:%2").arg(m_scenario.model, options);
}

void SimulatedAnalyser::reset()
{
    m_headers = true;
    m_refLevel = -20;
    m_rfAtt = 0;
    m_tgOn = false;
    m_tgDbm = 0;
    m_markerHz = 500e6;
    m_held.reset();
}

void SimulatedAnalyser::execute(const QByteArray& message, double now)
{
    m_answers.clear();
    m_gone = false;
    QString text = QString::fromLatin1(message);
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    for (const QString& part : text.split(QLatin1Char(';'))) {
        const QString command = part.trimmed();
        if (command.isEmpty())
            continue;
        const qsizetype blank = command.indexOf(QLatin1Char(' '));
        const QString header = (blank < 0 ? command : command.left(blank)).toUpper();
        QString argument = blank < 0 ? QString() : command.mid(blank + 1).trimmed();
        // "TGENAB ON:SIG" sets and then sweeps.
        bool sweep = header == u"SIG";
        if (argument.endsWith(QLatin1String(":SIG"), Qt::CaseInsensitive)) {
            argument.chop(4);
            sweep = true;
        }
        if (header != u"SIG" && !apply(header, argument, now))
            requestService(CommandError, now);
        if (m_gone)
            return;
        if (sweep)
            startSweep(now);
    }
    if (!m_answers.isEmpty())
        queueOutput(framed(m_answers), std::max(now, m_busyUntil));
}

bool SimulatedAnalyser::apply(const QString& header, const QString& argument, double now)
{
    if (header.endsWith(QLatin1Char('?')))
        return answer(header);

    if (header == u"REC") {
        reset();
        return true;
    }
    if (header == u"HDR" || header == u"TGENAB") {
        const std::optional<bool> on = onOff(argument);
        if (!on || (header == u"TGENAB" && !m_scenario.trackingGenerator))
            return false;
        (header == u"HDR" ? m_headers : m_tgOn) = *on;
        return true;
    }
    if (header == u"TRI") {
        // Free run follows the bench again; other trigger modes keep the held trace.
        if (argument.toUpper().startsWith(QLatin1String("FRE")))
            m_held.reset();
        return !argument.isEmpty();
    }
    static const QStringList numeric = {
        QStringLiteral("REFLVL"), QStringLiteral("RFATT"), QStringLiteral("TGLEVEL"),
        QStringLiteral("MFREQ"),  QStringLiteral("TIM"),   QStringLiteral("SPAN"),
        QStringLiteral("FREQ"),   QStringLiteral("STEP"),  QStringLiteral("VIDFLT")};
    if (numeric.contains(header)) {
        const std::optional<double> value = leadingNumber(argument);
        if (!value || (header == u"TGLEVEL" && !m_scenario.trackingGenerator))
            return false;
        if (header == u"REFLVL")
            m_refLevel = *value;
        else if (header == u"RFATT")
            m_rfAtt = *value;
        else if (header == u"TGLEVEL")
            m_tgDbm = *value;
        else if (header == u"MFREQ")
            m_markerHz = *value;
        return true;
    }
    static const QStringList settings = {QStringLiteral("EOS"),    QStringLiteral("ACQMODE"),
                                         QStringLiteral("MXSPN"),  QStringLiteral("VFENAB"),
                                         QStringLiteral("VRTDSP"), QStringLiteral("FINE")};
    Q_UNUSED(now);
    return settings.contains(header) && !argument.isEmpty();
}

bool SimulatedAnalyser::answer(const QString& query)
{
    const QString header = query.chopped(1);
    QString value;
    if (header == u"ID")
        value = identification();
    else if (header == u"MAMPL")
        value = QString::number(markerLevel(), 'f', 2);
    else if (header == u"REFLVL")
        value = QString::number(m_refLevel, 'f', 1);
    else if (header == u"RFATT")
        value = QString::number(qRound(m_rfAtt));
    else if (header == u"TGLEVEL" && m_scenario.trackingGenerator)
        value = QString::number(m_tgDbm, 'f', 1);
    else if (header == u"MFREQ")
        value = QString::number(m_markerHz, 'E', 4);
    else if (header == u"HDR")
        value = m_headers ? QStringLiteral("ON") : QStringLiteral("OFF");
    else
        return false;

    if (header == u"MAMPL" && m_scenario.vanishAfter > 0 &&
        ++m_markerQueries == m_scenario.vanishAfter) {
        leaveBus();
        m_gone = true;
        return true;
    }
    const int count = ++m_queryCounts[query];
    for (const BenchScenario::Trigger& t : m_scenario.timeouts) {
        const bool same = t.command == query || t.command + u'?' == query;
        if (same && (t.occurrence == 0 || t.occurrence == count))
            return true;
    }
    m_answers.append(m_headers ? header + u' ' + value : value);
    return true;
}

void SimulatedAnalyser::startSweep(double now)
{
    m_busyUntil = std::max(now, m_busyUntil) + SweepSeconds;
    m_held = acquisition();
    if (!m_scenario.noSrq)
        requestService(SweepDone, m_busyUntil);
}

SimulatedAnalyser::Acquisition SimulatedAnalyser::acquisition() const
{
    return {m_connection, m_tgOn && m_scenario.trackingGenerator, m_tgDbm};
}

double SimulatedAnalyser::markerLevel()
{
    const Acquisition a = m_held.value_or(acquisition());
    const double fMHz = m_markerHz / 1e6;
    const double level =
        a.tgOn ? m_model.level(a.connection, a.tgDbm, fMHz) : BenchModel::NoiseFloorDbm;
    if (level <= BenchModel::NoiseFloorDbm)
        return BenchModel::NoiseFloorDbm + noise(1.5);
    return level + noise(0.015);
}

double SimulatedAnalyser::noise(double halfWidth)
{
    // splitmix64
    quint64 z = (m_seed += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    const double unit = double(z >> 11) / double(1ull << 53);
    return (2 * unit - 1) * halfWidth;
}

QByteArray SimulatedAnalyser::framed(const QStringList& answers) const
{
    QByteArray out = answers.join(u';').toLatin1();
    if (m_scenario.longAnswers)
        out.append(600, ' ');
    switch (m_scenario.ending) {
    case BenchScenario::Ending::Eoi:
        break;
    case BenchScenario::Ending::CrLf:
        out.append("\r\n");
        break;
    case BenchScenario::Ending::Lf:
        out.append('\n');
        break;
    case BenchScenario::Ending::LfJunk:
        // A byte that slipped in after the terminator, as a noisy bus delivers.
        out.append("\n\xff");
        break;
    }
    return out;
}

void SimulatedAnalyser::polled(quint8 statusByte, double now)
{
    // Stale requests come back once a sweep has been acknowledged, so they are pending
    // before the next SIG whatever the program did in between.
    if ((statusByte & ~0x40) == SweepDone)
        queueStaleRequests(now);
}

void SimulatedAnalyser::queueStaleRequests(double now)
{
    static constexpr quint8 stale[] = {0x01, 0x04, 0x03};
    for (int i = 0; i < m_scenario.staleSrqs; ++i)
        requestService(stale[i % int(std::size(stale))], now);
}
