#include "remote/RemoteConnection.h"

#include "measure/FrequencyStep.h"
#include "remote/RemoteServer.h"

#include <QAbstractSocket>

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <utility>

namespace {

constexpr qsizetype ReadChunk = 64 * 1024;

using Parameter = Scpi::Parameter;

enum Flag {
    Waits = 1,   // *OPC?, *WAI: only once no run is in progress
    Setting = 2, // a control the operator cannot use while a run is in progress
};

// A choice among mnemonics; -1 for anything else.
int choice(const Parameter& p, std::initializer_list<const char*> words)
{
    int index = 0;
    for (const char* word : words) {
        if (!p.quoted && Scpi::matches(Scpi::mnemonic(word), p.text))
            return index;
        ++index;
    }
    return -1;
}

std::optional<bool> boolean(const Parameter& p)
{
    if (const int i = choice(p, {"OFF", "ON"}); i >= 0)
        return i == 1;
    if (const std::optional<double> n = p.quoted ? std::nullopt : Scpi::number(p.text))
        return std::round(*n) != 0;
    return std::nullopt;
}

std::optional<QString> numberText(const Parameter& p)
{
    const std::optional<double> n = p.quoted ? std::nullopt : Scpi::number(p.text);
    if (!n)
        return std::nullopt;
    return QString::fromLatin1(Scpi::plainNumber(*n));
}

// A box's text as a number answer; the operator may have typed a decimal comma, or anything.
QByteArray numberAnswer(const QString& text)
{
    const std::optional<double> n = Scpi::number(text.trimmed().replace(u',', u'.').toLatin1());
    return n ? Scpi::plainNumber(*n) : QByteArray(Scpi::NotANumber);
}

QByteArray kindWord(MeasKind kind)
{
    return kind == MeasKind::ReturnLoss ? "RL" : "ATT";
}

} // namespace

// One form of a header, or both; a null handler: that form does not exist.
struct RemoteConnection::Command {
    const char* header; // below its subsystem's root
    int parameters;     // of the command form
    void (*set)(RemoteConnection&, const Parameter*);
    QByteArray (*get)(RemoteConnection&); // a null answer: refused, the error is queued
    int flags = 0;
    QByteArrayList nodes = {}; // the whole path, filled in when the tree is put together
};

// The command tree, a table per subsystem. The handlers are plain functions that, written
// here, see the connection's own state.
struct RemoteConnection::Tree {
    using C = RemoteConnection;
    using P = const Parameter*;
    using Table = QList<Command>;

    static Table common();
    static Table run();
    static Table configure();
    static Table fetch();
    static Table system();
    static Table status();
    static Table hardcopy();

    static void setRegister(C& c, P p, quint8* bits, quint8 unused);
    static QByteArray fetched(C& c, QByteArray (*answer)(const MeasurementResult&));
};

const QList<RemoteConnection::Command>& RemoteConnection::commands()
{
    static const QList<Command> tree = [] {
        const std::pair<QByteArray, QList<Command>> subsystems[] = {
            {"", Tree::common()},
            {"", Tree::run()},
            {"CONFigure", Tree::configure()},
            {"FETCh", Tree::fetch()},
            {"SYSTem", Tree::system()},
            {"STATus", Tree::status()},
            {"HCOPy", Tree::hardcopy()},
        };
        QList<Command> all;
        for (const auto& [root, table] : subsystems) {
            for (Command command : table) {
                QByteArrayList path{root, command.header};
                path.removeAll(QByteArray());
                command.nodes = path.join(':').split(':');
                all << command;
            }
        }
        return all;
    }();
    return tree;
}

QList<RemoteConnection::Command> RemoteConnection::Tree::common()
{
    return {
        {"*IDN", 0, nullptr,
         [](C& c) {
             QString model = Scpi::oneLine(c.m_bench.analyserModel());
             model.remove(u',').remove(u';');
             return "Velmora," + model.toUtf8() + ",0," VELMORA_VERSION;
         }},
        {"*CLS", 0,
         [](C& c, P) {
             c.m_errors.clear();
             c.m_eventStatus = 0;
             c.m_opcPending = false;
         },
         nullptr},
        // The error queue, the status registers and the reference tables stay.
        {"*RST", 0,
         [](C& c, P) {
             c.m_bench.abort();
             c.m_promptsOn = true;
             c.m_opcPending = false;
         },
         nullptr},
        {"*ESE", 1, [](C& c, P p) { setRegister(c, p, &c.m_eventEnable, 0); },
         [](C& c) { return QByteArray::number(c.m_eventEnable); }},
        {"*ESR", 0, nullptr,
         [](C& c) { return QByteArray::number(std::exchange(c.m_eventStatus, 0)); }},
        {"*OPC", 0,
         [](C& c, P) {
             if (c.m_server.busy())
                 c.m_opcPending = true;
             else
                 c.m_eventStatus |= Scpi::OperationComplete;
         },
         nullptr},
        {"*OPC", 0, nullptr, [](C&) { return QByteArray("1"); }, Waits},
        // The summary bit cannot ask for service itself: its enable bit stays 0.
        {"*SRE", 1, [](C& c, P p) { setRegister(c, p, &c.m_serviceEnable, Scpi::MasterSummary); },
         [](C& c) { return QByteArray::number(c.m_serviceEnable); }},
        {"*STB", 0, nullptr, [](C& c) { return QByteArray::number(c.statusByte()); }},
        // Nothing to test without disturbing the bench: passed.
        {"*TST", 0, nullptr, [](C&) { return QByteArray("0"); }},
        {"*WAI", 0, [](C&, P) {}, nullptr, Waits},
    };
}

QList<RemoteConnection::Command> RemoteConnection::Tree::run()
{
    const auto init = [](C& c, P) {
        if (c.m_server.busy())
            c.pushError(Scpi::InitIgnored);
        else
            c.report(c.m_server.initiate(c.m_id, c.m_promptsOn));
    };
    return {
        {"INITiate", 0, init, nullptr},
        {"INITiate:IMMediate", 0, init, nullptr},
        {"ABORt", 0, [](C& c, P) { c.m_bench.abort(); }, nullptr},
    };
}

QList<RemoteConnection::Command> RemoteConnection::Tree::configure()
{
    return {
        {"KIND", 1,
         [](C& c, P p) {
             const int i = choice(*p, {"ATT", "RL"});
             if (i < 0)
                 c.pushError(Scpi::IllegalParameterValue);
             else
                 c.report(c.m_bench.setKind(i ? MeasKind::ReturnLoss : MeasKind::Attenuation));
         },
         [](C& c) { return kindWord(c.m_bench.kind()); }, Setting},
        {"STEP", 1,
         [](C& c, P p) {
             const std::optional<double> mhz = p->quoted ? std::nullopt : Scpi::number(p->text);
             const int step = mhz ? FrequencyStep::indexOfMegahertz(*mhz) : -1;
             if (step < 0)
                 c.pushError(Scpi::IllegalParameterValue);
             else
                 c.report(c.m_bench.setStepIndex(step));
         },
         [](C& c) { return Scpi::plainNumber(FrequencyStep::at(c.m_bench.stepIndex()).megahertz); },
         Setting},
        {"DEVice", 1,
         [](C& c, P p) {
             // REF is a word of both kinds; the configured kind decides.
             const MeasKind kind = c.m_bench.kind();
             int count = 0;
             const MeasInfo* table = measTable(&count);
             bool otherKind = false;
             for (const MeasInfo& info : std::span(table, count)) {
                 if (p->quoted || !Scpi::matches(Scpi::mnemonic(info.word), p->text))
                     continue;
                 if (info.kind == kind) {
                     c.report(c.m_bench.setDevice(info.type));
                     return;
                 }
                 otherKind = true;
             }
             c.pushError(otherKind ? Scpi::SettingsConflict : Scpi::IllegalParameterValue);
         },
         [](C& c) { return Scpi::shortForm(Scpi::mnemonic(measInfo(c.m_bench.device()).word)); },
         Setting},
        {"DEVice:CUSTom", 1,
         [](C& c, P p) {
             if (const std::optional<QString> text = numberText(*p))
                 c.report(c.m_bench.setCustomAttenuation(*text));
             else
                 c.pushError(Scpi::IllegalParameterValue);
         },
         [](C& c) { return numberAnswer(c.m_bench.customAttenuationText()); }, Setting},
        {"LIMit", 1,
         [](C& c, P p) {
             if (const std::optional<QString> text = numberText(*p))
                 c.report(c.m_bench.setCustomLimit(true, *text));
             else
                 c.pushError(Scpi::IllegalParameterValue);
         },
         [](C& c) { return numberAnswer(c.m_bench.customLimitText()); }, Setting},
        {"LIMit:STATe", 1,
         [](C& c, P p) {
             if (const std::optional<bool> on = boolean(*p))
                 c.report(c.m_bench.setCustomLimit(*on, c.m_bench.customLimitText()));
             else
                 c.pushError(Scpi::IllegalParameterValue);
         },
         [](C& c) { return QByteArray(c.m_bench.customLimitOn() ? "1" : "0"); }, Setting},
        {"DUT", 1,
         [](C& c, P p) {
             if (!p->quoted)
                 c.pushError(Scpi::IllegalParameterValue);
             else
                 c.report(c.m_bench.setDutId(QString::fromUtf8(p->text)));
         },
         [](C& c) { return Scpi::quoted(c.m_bench.dutId()); }, Setting},
        {"COMMent", 1,
         [](C& c, P p) {
             if (!p->quoted)
                 c.pushError(Scpi::IllegalParameterValue);
             else
                 c.report(c.m_bench.setComment(QString::fromUtf8(p->text)));
         },
         [](C& c) { return Scpi::quoted(c.m_bench.comment()); }, Setting},
    };
}

QByteArray RemoteConnection::Tree::fetched(C& c, QByteArray (*answer)(const MeasurementResult&))
{
    std::optional<MeasurementResult> result;
    return c.fetchable(&result) ? answer(*result) : QByteArray();
}

QList<RemoteConnection::Command> RemoteConnection::Tree::fetch()
{
    return {
        {"VERDict", 0, nullptr,
         [](C& c) {
             return fetched(
                 c, [](const MeasurementResult& r) { return Verdict::of(r).word().toLatin1(); });
         }},
        {"MARGin", 0, nullptr,
         [](C& c) {
             return fetched(c, [](const MeasurementResult& r) {
                 const Verdict v = Verdict::of(r);
                 if (v.outcome == Verdict::Outcome::None)
                     return QByteArray(Scpi::NotANumber) + ',' + Scpi::NotANumber;
                 return (Verdict::marginText(v.marginDb) + u',' +
                         Verdict::frequencyText(v.frequencyMHz))
                     .toLatin1();
             });
         }},
        {"DATA", 0, nullptr,
         [](C& c) {
             return fetched(c, [](const MeasurementResult& r) {
                 QByteArrayList values;
                 for (const MeasuredPoint& point : r.points)
                     values << Scpi::plainNumber(point.value);
                 return values.join(',');
             });
         }},
        {"FREQuency", 0, nullptr,
         [](C& c) {
             return fetched(c, [](const MeasurementResult& r) {
                 QByteArrayList values;
                 for (const MeasuredPoint& point : r.points)
                     values << Verdict::frequencyText(point.frequencyMHz).toLatin1();
                 return values.join(',');
             });
         }},
        {"REFerence", 0, nullptr,
         [](C& c) {
             const MeasKind kind = c.m_bench.kind();
             const RemoteBench::ReferenceState reference = c.m_bench.reference(kind);
             return kindWord(kind) + (reference.valid ? ",1," : ",0,") +
                    Verdict::frequencyText(reference.stepMHz).toLatin1();
         }},
    };
}

QList<RemoteConnection::Command> RemoteConnection::Tree::system()
{
    const auto nextError = [](C& c) {
        return c.m_errors.isEmpty() ? Scpi::errorEntry(Scpi::NoError) : c.m_errors.takeFirst();
    };
    return {
        {"ERRor", 0, nullptr, nextError},
        {"ERRor:NEXT", 0, nullptr, nextError},
        {"PROMpt", 1,
         [](C& c, P p) {
             if (const std::optional<bool> on = boolean(*p))
                 c.m_promptsOn = *on;
             else
                 c.pushError(Scpi::IllegalParameterValue);
         },
         [](C& c) { return Scpi::quoted(c.m_bench.promptText()); }},
        {"PROMpt:ANSWer", 1,
         [](C& c, P p) {
             using B = RemoteBench::PromptButton;
             const int i = choice(*p, {"OK", "CANCEL", "YES", "NO"});
             if (i < 0)
                 c.pushError(Scpi::IllegalParameterValue);
             else
                 c.report(c.m_bench.answerPrompt(std::array{B::Ok, B::Cancel, B::Yes, B::No}[i]));
         },
         nullptr},
    };
}

QList<RemoteConnection::Command> RemoteConnection::Tree::status()
{
    return {
        {"BUSY", 0, nullptr, [](C& c) { return QByteArray(c.m_server.busy() ? "1" : "0"); }},
    };
}

QList<RemoteConnection::Command> RemoteConnection::Tree::hardcopy()
{
    const auto print = [](C& c, P) {
        if (c.m_server.busy())
            c.pushError(Scpi::SettingsConflict);
        else if (!c.m_bench.lastResult())
            c.pushError(Scpi::DataStale);
        else
            c.report(c.m_bench.hardcopy(c.m_description));
    };
    return {
        {"", 0, print, nullptr},
        {"IMMediate", 0, print, nullptr},
        {"DESCription", 1,
         [](C& c, P p) {
             if (!p->quoted)
                 c.pushError(Scpi::IllegalParameterValue);
             else
                 c.m_description = Scpi::oneLine(QString::fromUtf8(p->text));
         },
         [](C& c) { return Scpi::quoted(c.m_description); }},
    };
}

// A register value: decimal data rounded to an integer, as IEEE 488.2 reads it.
void RemoteConnection::Tree::setRegister(C& c, P p, quint8* bits, quint8 unused)
{
    const std::optional<double> n = p->quoted ? std::nullopt : Scpi::number(p->text);
    const double value = n ? std::round(*n) : 0;
    if (!n)
        c.pushError(Scpi::IllegalParameterValue);
    else if (value < 0 || value > 255)
        c.pushError(Scpi::DataOutOfRange);
    else
        *bits = quint8(int(value) & ~unused);
}

RemoteConnection::RemoteConnection(int id, QIODevice* device, RemoteServer& server)
    : m_id(id), m_device(device), m_socket(qobject_cast<QAbstractSocket*>(device)),
      m_server(server), m_bench(server.bench())
{
    device->setParent(this);
    connect(device, &QIODevice::readyRead, this, &RemoteConnection::serve);
    if (m_socket) {
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // While this connection is held back, its input waits in the kernel, not here.
        m_socket->setReadBufferSize(ReadChunk);
        connect(m_socket, &QAbstractSocket::disconnected, this, &RemoteConnection::close);
    } else {
        connect(device, &QIODevice::aboutToClose, this, &RemoteConnection::close);
    }
}

void RemoteConnection::serve()
{
    if (m_closed)
        return;
    while (!m_closed) {
        if (m_units.isEmpty()) {
            QByteArray line;
            if (!takeLine(&line))
                break;
            m_units = Scpi::splitUnits(line);
        }
        if (!runLine())
            break;
    }
}

void RemoteConnection::pushError(int code, const QString& detail)
{
    m_eventStatus |= Scpi::eventBit(code);
    // A full queue keeps its oldest entries and says that some were lost.
    if (m_errors.size() < QueueDepth) {
        m_errors << Scpi::errorEntry(code, detail);
    } else {
        m_errors.last() = Scpi::errorEntry(Scpi::QueueOverflow);
        m_eventStatus |= Scpi::eventBit(Scpi::QueueOverflow);
    }
}

void RemoteConnection::runEnded()
{
    if (std::exchange(m_opcPending, false))
        m_eventStatus |= Scpi::OperationComplete;
}

bool RemoteConnection::takeLine(QByteArray* line)
{
    for (;;) {
        const qsizetype lf = m_input.indexOf('\n', m_scanFrom);
        if (lf >= 0) {
            const qsizetype from = std::exchange(m_inputPos, lf + 1);
            m_scanFrom = lf + 1;
            if (std::exchange(m_discarding, false))
                continue;
            qsizetype size = lf - from;
            if (size > 0 && m_input.at(lf - 1) == '\r')
                --size;
            if (size > MaxLine) {
                pushError(Scpi::TooMuchData);
                continue;
            }
            *line = m_input.mid(from, size);
            return true;
        }
        m_input.remove(0, m_inputPos);
        m_inputPos = 0;
        // One byte more than a line may hold: the CR before its LF.
        if (!m_discarding && m_input.size() > MaxLine + 1) {
            // Said at once, not at an LF that may never come.
            pushError(Scpi::TooMuchData);
            m_discarding = true;
        }
        if (m_discarding)
            m_input.clear();
        m_scanFrom = m_input.size();
        if (!m_device || m_device->bytesAvailable() <= 0)
            return false;
        // All of it, at most the socket's read buffer: a read that stops exactly at a full
        // buffer would leave the socket no longer watching for input.
        m_input += m_device->readAll();
    }
}

bool RemoteConnection::runLine()
{
    for (; m_nextUnit < m_units.size(); ++m_nextUnit) {
        const Scpi::Unit unit = Scpi::parseUnit(m_units.at(m_nextUnit));
        if (unit.empty)
            continue;
        if (unit.error) {
            pushError(unit.error);
            continue;
        }
        QByteArrayList header;
        const Command* command = resolve(unit, &header);
        if (!command) {
            pushError(Scpi::UndefinedHeader);
            continue;
        }
        // Held: this same unit is tried again when a run ends.
        if ((command->flags & Waits) && m_server.busy())
            return false;
        if (!unit.common)
            m_path = header.mid(0, header.size() - 1);
        execute(unit, *command);
        if (m_closed)
            return false;
    }
    if (!m_answers.isEmpty())
        send(m_answers.join(';') + '\n');
    m_units.clear();
    m_nextUnit = 0;
    m_path.clear();
    m_answers.clear();
    m_answerBytes = 0;
    return !m_closed;
}

const RemoteConnection::Command* RemoteConnection::resolve(const Scpi::Unit& unit,
                                                           QByteArrayList* header) const
{
    *header = unit.common || unit.absolute ? unit.nodes : m_path + unit.nodes;
    for (const Command& command : commands()) {
        if (command.nodes.size() != header->size() ||
            !(unit.query ? bool(command.get) : bool(command.set)))
            continue;
        bool all = true;
        for (qsizetype i = 0; all && i < header->size(); ++i)
            all = Scpi::matches(command.nodes.at(i), header->at(i));
        if (all)
            return &command;
    }
    return nullptr;
}

void RemoteConnection::execute(const Scpi::Unit& unit, const Command& command)
{
    if (unit.query) {
        if (!unit.parameters.isEmpty()) {
            pushError(Scpi::ParameterNotAllowed);
            return;
        }
        const QByteArray text = command.get(*this);
        if (!text.isNull())
            answer(text);
        return;
    }
    if (unit.parameters.size() != command.parameters) {
        pushError(unit.parameters.size() < command.parameters ? Scpi::MissingParameter
                                                              : Scpi::ParameterNotAllowed);
        return;
    }
    if ((command.flags & Setting) && m_server.busy()) {
        pushError(Scpi::SettingsConflict);
        return;
    }
    command.set(*this, unit.parameters.isEmpty() ? nullptr : &unit.parameters.first());
}

bool RemoteConnection::fetchable(std::optional<MeasurementResult>* result)
{
    // A run initiated but not begun has not cleared the bench's result yet; it is stale all
    // the same.
    if (!m_server.busy())
        *result = m_bench.lastResult();
    if (!*result)
        pushError(Scpi::DataStale);
    return bool(*result);
}

quint8 RemoteConnection::statusByte() const
{
    int bits = 0;
    if (!m_errors.isEmpty())
        bits |= Scpi::ErrorQueueNotEmpty;
    // The answers of this message so far; earlier ones have left.
    if (!m_answers.isEmpty())
        bits |= Scpi::MessageAvailable;
    if (m_eventStatus & m_eventEnable)
        bits |= Scpi::EventSummary;
    if (bits & m_serviceEnable)
        bits |= Scpi::MasterSummary;
    return quint8(bits);
}

void RemoteConnection::answer(const QByteArray& text)
{
    m_answers << text;
    m_answerBytes += text.size() + 1;
    if (m_device && m_answerBytes + m_device->bytesToWrite() > MaxUnsent)
        close();
}

void RemoteConnection::send(const QByteArray& bytes)
{
    if (!m_device)
        return;
    m_device->write(bytes);
    if (m_socket)
        m_socket->flush();
    if (m_device->bytesToWrite() > MaxUnsent)
        close();
}

void RemoteConnection::report(const RemoteBench::Refusal& refusal)
{
    if (refusal.refused())
        pushError(refusal.code, refusal.text);
}

void RemoteConnection::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_input.clear();
    m_units.clear();
    m_answers.clear();
    if (m_device) {
        m_device->disconnect(this);
        if (m_socket)
            m_socket->abort();
        else
            m_device->close();
    }
    emit closed(this);
}
