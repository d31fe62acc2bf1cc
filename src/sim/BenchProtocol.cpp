#include "sim/BenchProtocol.h"

#include "base/Clock.h"
#include "base/NumberText.h"
#include "gpib/AnalyserCommands.h"
#include "sim/SimulatedBench.h"

#include <utility>

using namespace Ni488;

namespace {

constexpr int HighestAddress = 30;
constexpr int LowestSecondary = 96;
constexpr int HighestSecondary = 126;
// A trigger goes to at most this many addresses at once.
constexpr int TriggerAddresses = 15;
// A reset takes this long and ignores what comes meanwhile.
constexpr double ResetSeconds = 5.0;

// The settings a command sets or asks, with the values it takes.
struct Range {
    const char* name;
    int BenchProtocol::Settings::*value;
    int low;
    int high;
};
constexpr Range Ranges[] = {
    {"mode", &BenchProtocol::Settings::mode, 0, 1},
    {"auto", &BenchProtocol::Settings::autoRead, 0, 3},
    {"eoi", &BenchProtocol::Settings::eoi, 0, 1},
    {"eos", &BenchProtocol::Settings::eos, 0, 3},
    {"eot_enable", &BenchProtocol::Settings::eotEnable, 0, 1},
    {"eot_char", &BenchProtocol::Settings::eotChar, 0, 255},
    {"read_tmo_ms", &BenchProtocol::Settings::readTimeoutMs, 0, 32000},
    {"savecfg", &BenchProtocol::Settings::saveConfig, 0, 1},
    {"ren", &BenchProtocol::Settings::ren, 0, 1},
};

const Range* rangeOf(const QByteArray& name)
{
    for (const Range& r : Ranges) {
        if (name == r.name)
            return &r;
    }
    return nullptr;
}

std::optional<int> number(const QByteArray& text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

const char* const Help =
    "++addr [PAD [SAD]]  instrument address, PAD 0-30, SAD 96-126\r\n"
    "++auto [0-3]        read after write: off, always, after queries, continuous\r\n"
    "++clr               selected device clear\r\n"
    "++eoi [0|1]         EOI with the last byte of a message\r\n"
    "++eos [0-3]         append CR LF, CR, LF or nothing to messages\r\n"
    "++eot_enable [0|1]  append the EOT character to answers that end with EOI\r\n"
    "++eot_char [0-255]  the EOT character\r\n"
    "++findlstn          listeners on the bus\r\n"
    "++ifc               interface clear\r\n"
    "++llo [all]         local lockout\r\n"
    "++loc [all]         go to local\r\n"
    "++mode [0|1]        device or controller\r\n"
    "++read [eoi|CHAR]   read until time-out, EOI or CHAR (0-255)\r\n"
    "++read_tmo_ms [MS]  read time-out between bytes, 0-32000\r\n"
    "++ren [0|1]         remote enable\r\n"
    "++rst               reset\r\n"
    "++savecfg [0|1]     keep changed settings over a reset\r\n"
    "++spoll [PAD [SAD]] serial poll\r\n"
    "++srq               state of the service request line\r\n"
    "++trg [PAD [SAD] ...] group execute trigger, up to 15 addresses\r\n"
    "++ver               version\r\n"
    "++help              this list\r\n";

} // namespace

BenchProtocol::Settings BenchProtocol::reconfigured()
{
    Settings s;
    s.mode = 0;
    s.pad = 5;
    s.sad = 96;
    s.autoRead = 1;
    s.eoi = 0;
    s.eos = 1;
    s.eotEnable = 1;
    s.eotChar = 10;
    s.readTimeoutMs = 3000;
    s.saveConfig = 0;
    return s;
}

QString BenchProtocol::describe(const Settings& settings)
{
    QStringList commands;
    for (const Range& r : Ranges) {
        if (r.value == &Settings::ren)
            continue;
        commands << QStringLiteral("++%1 %2").arg(QLatin1String(r.name)).arg(settings.*r.value);
        if (r.value == &Settings::mode) {
            commands << QStringLiteral("++addr %1").arg(settings.pad) +
                            (settings.sad ? QStringLiteral(" %1").arg(settings.sad) : QString());
        }
    }
    return commands.join(QLatin1String(", "));
}

BenchProtocol::BenchProtocol(Clock& clock, SimulatedBench& bench, const Settings& start,
                             Options options)
    : m_clock(clock), m_bench(bench), m_options(options), m_settings(start), m_saved(start)
{}

void BenchProtocol::close()
{
    m_closed = true;
    m_input.clear();
}

void BenchProtocol::receive(const QByteArray& bytes)
{
    if (m_closed || m_clock.now() < m_deafUntil)
        return;
    m_input += bytes;
    while (!m_closed) {
        // A line ends at an unescaped CR or LF; ESC takes the byte after it as data.
        QByteArray line;
        bool escapedStart = false;
        bool complete = false;
        qsizetype i = 0;
        for (; i < m_input.size(); ++i) {
            const char c = m_input.at(i);
            if (c == '\x1b') {
                if (i + 1 >= m_input.size())
                    break;
                escapedStart = escapedStart || line.size() < 2;
                line.append(m_input.at(++i));
            } else if (c == '\r' || c == '\n') {
                complete = true;
                break;
            } else {
                line.append(c);
            }
        }
        if (!complete)
            break;
        m_input.remove(0, i + 1);
        if (line.isEmpty())
            continue;
        if (!escapedStart && line.startsWith("++"))
            command(line.mid(2));
        else
            message(line);
    }
}

void BenchProtocol::command(const QByteArray& line)
{
    QList<QByteArray> arguments = line.simplified().split(' ');
    const QByteArray name = arguments.takeFirst().toLower();
    // A device on somebody else's bus cannot address, poll or clear anyone.
    static const QByteArrayList controllerOnly{"read", "spoll", "srq", "clr",     "ifc",
                                               "trg",  "loc",   "llo", "findlstn"};
    if (m_settings.mode != 1 && controllerOnly.contains(name))
        return;
    const bool bare = arguments.isEmpty();
    const bool all = arguments == QList<QByteArray>{"all"};
    if (name == "ver" && bare) {
        reply("Velmora bench GPIB adapter, version " VELMORA_VERSION);
    } else if (name == "help" && bare) {
        send(Help);
    } else if (name == "addr") {
        address(arguments);
    } else if (name == "read") {
        const std::optional<int> end = bare ? std::nullopt : number(arguments.first(), 0, 255);
        if (bare)
            read(Until::TimeOut);
        else if (arguments == QList<QByteArray>{"eoi"})
            read(Until::Eoi);
        else if (end && arguments.size() == 1)
            read(Until::Character, char(*end));
        else
            refuse();
    } else if (name == "spoll" || name == "trg") {
        const std::optional<QList<Address>> list = addresses(arguments);
        const qsizetype most = name == "spoll" ? 1 : TriggerAddresses;
        if (!list || list->size() > most) {
            refuse();
        } else if (name == "spoll") {
            char statusByte = 0;
            const int pad = bare ? m_settings.pad : list->first().pad;
            // A device that does not answer leaves the adapter silent.
            if (!(m_bench.ibrsp(descriptorAt(pad), &statusByte) & ERR))
                reply(QByteArray::number(quint8(statusByte)));
        }
        // The analyser takes no group trigger: addressed, it ignores one.
    } else if ((name == "loc" || name == "llo") && (bare || all)) {
        // The analyser has no front panel on the bench to lock or free.
    } else if (name == "srq" && bare) {
        reply(serviceRequested() ? "1" : "0");
    } else if (name == "clr" && bare) {
        m_bench.ibclr(descriptorAt(m_settings.pad));
    } else if (name == "ifc" && bare) {
        m_bench.SendIFC(0);
    } else if (name == "findlstn" && bare && m_options.findLstn) {
        reply(listeners());
    } else if (name == "rst" && bare) {
        reset();
    } else if (rangeOf(name)) {
        setting(name, arguments);
    } else {
        refuse();
    }
}

void BenchProtocol::setting(const QByteArray& name, const QList<QByteArray>& arguments)
{
    const Range& r = *rangeOf(name);
    if (arguments.isEmpty()) {
        reply(QByteArray::number(m_settings.*r.value));
        return;
    }
    const std::optional<int> value = number(arguments.first(), r.low, r.high);
    if (!value || arguments.size() > 1) {
        refuse();
        return;
    }
    m_settings.*r.value = *value;
    // Saving on: every change is kept at once. "++savecfg 1" keeps everything as it stands.
    if (m_settings.saveConfig)
        m_saved = m_settings;
    m_saved.saveConfig = m_settings.saveConfig;
}

std::optional<QList<BenchProtocol::Address>>
BenchProtocol::addresses(const QList<QByteArray>& arguments)
{
    // A number from 96 up is the secondary address of the primary one before it.
    QList<Address> list;
    for (const QByteArray& argument : arguments) {
        if (const std::optional<int> pad = number(argument, 0, HighestAddress)) {
            list.append({*pad, 0});
        } else if (const std::optional<int> sad =
                       number(argument, LowestSecondary, HighestSecondary);
                   sad && !list.isEmpty() && list.last().sad == 0) {
            list.last().sad = *sad;
        } else {
            return std::nullopt;
        }
    }
    return list;
}

void BenchProtocol::address(const QList<QByteArray>& arguments)
{
    if (arguments.isEmpty()) {
        QByteArray text = QByteArray::number(m_settings.pad);
        if (m_settings.sad)
            text += ' ' + QByteArray::number(m_settings.sad);
        reply(text);
        return;
    }
    const std::optional<QList<Address>> list = addresses(arguments);
    if (!list || list->size() != 1) {
        refuse();
        return;
    }
    m_settings.pad = list->first().pad;
    m_settings.sad = list->first().sad;
    if (m_settings.saveConfig)
        m_saved = m_settings;
}

void BenchProtocol::reset()
{
    m_settings = m_saved;
    m_input.clear();
    m_unended.clear();
    m_deafUntil = m_clock.now() + ResetSeconds;
}

void BenchProtocol::message(const QByteArray& data)
{
    if (beforeMessage)
        beforeMessage(data);
    // A device speaks only when the bus's controller asks it to; none does here.
    if (m_closed || m_settings.mode != 1)
        return;
    static const char* const Endings[] = {"\r\n", "\r", "\n", ""};
    m_unended += data + Endings[m_settings.eos];
    // The analyser takes a message as ended by EOI with its last byte or by a line feed;
    // anything else runs on into the next message.
    if (!m_settings.eoi && !m_unended.endsWith('\n'))
        return;
    const QByteArray whole = std::exchange(m_unended, {});
    QByteArray text = whole;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    connectWhatIsAsked(text);
    m_bench.ibwrt(descriptorAt(m_settings.pad), whole);
    const int mode = m_settings.autoRead;
    // Continuous reading gives here what reading after each message gives: the analyser
    // talks only after a query.
    if (mode == 1 || mode == 3 || (mode == 2 && data.endsWith('?')))
        read(Until::Eoi);
}

void BenchProtocol::read(Until until, char end)
{
    const int ud = descriptorAt(m_settings.pad);
    QByteArray answer;
    // A byte at a time, so that a read to a character leaves the rest with the instrument.
    for (;;) {
        QByteArray byte(1, '\0');
        const int ibsta = m_bench.ibrd(ud, byte);
        // On a time-out the adapter passes on what came and adds no end mark.
        if ((ibsta & ERR) || m_bench.status().ibcntl < 1)
            break;
        answer += byte;
        if ((ibsta & END) && m_settings.eotEnable)
            answer += char(m_settings.eotChar);
        if (((ibsta & END) && until == Until::Eoi) ||
            (until == Until::Character && byte.front() == end))
            break;
    }
    if (!answer.isEmpty())
        send(answer);
}

void BenchProtocol::send(const QByteArray& bytes)
{
    if (output && !m_closed)
        output(bytes);
}

int BenchProtocol::descriptorAt(int pad)
{
    const int tmo = timeoutCodeFor(m_settings.readTimeoutMs); // the adapter's read time-out
    auto it = m_descriptors.find(pad);
    if (it == m_descriptors.end())
        it = m_descriptors.emplace(pad, m_bench.ibdev(0, pad, 0, tmo, 1, 0)).first;
    m_bench.ibtmo(it->second, tmo);
    return it->second;
}

bool BenchProtocol::serviceRequested()
{
    for (const int pad : m_bench.instrumentAddresses()) {
        // Without a wait condition the bench reports the request at once.
        if (m_bench.ibwait(descriptorAt(pad), 0) & RQS)
            return true;
    }
    return false;
}

QByteArray BenchProtocol::listeners()
{
    QVector<short> addresses;
    for (short a = 1; a <= HighestAddress; ++a)
        addresses << a;
    addresses << NOADDR;
    QVector<short> found;
    m_bench.FindLstn(0, addresses, found, HighestAddress + 1);
    QByteArrayList list;
    if (!(m_bench.status().ibsta & ERR)) {
        for (qsizetype i = 0; i < qsizetype(m_bench.status().ibcntl); ++i) {
            if (found.at(i) != 0)
                list << QByteArray::number(found.at(i));
        }
    }
    return list.join(',');
}

void BenchProtocol::connectWhatIsAsked(const QByteArray& message)
{
    using namespace AnalyserCommands;
    const QString text = QString::fromLatin1(message);
    for (const QString& part : text.split(u';')) {
        if (part.trimmed().startsWith(QLatin1String("REFLVL ")))
            m_level = LeadingNumber(part.trimmed().mid(7));
    }
    if (text == Reset) {
        m_kind = Kind::None;
    } else if (text == ReturnLossSetup || text == AttenuationSetup) {
        m_kind = text == ReturnLossSetup ? Kind::ReturnLoss : Kind::Attenuation;
        m_referenceNext = true;
    } else if (text == Signal && m_kind != Kind::None) {
        // Each prompt is answered before the sweep that needs its connection.
        const bool reference = std::exchange(m_referenceNext, false);
        if (m_kind == Kind::ReturnLoss) {
            m_bench.connect(reference ? Connection::bridgeOpen()
                                      : Connection::bridgeDut(m_options.bridgeAttenuator
                                                                  ? Connection::Dut::Attenuator
                                                                  : Connection::Dut::Termination));
        } else if (reference) {
            m_referenceLevel = m_level;
            m_bench.connect(Connection::through());
        } else {
            // The program lowers the reference level by the nominal attenuation.
            m_bench.connect(Connection::attenuatorDut(m_referenceLevel - m_level));
        }
    }
}
