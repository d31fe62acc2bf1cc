// SCPI input as any client may send it, on a connection of the remote server: line framing
// and its 64 KiB bound, headers and the header path, parameters, ';' chains, runs to wait for.
// The first input byte picks the size of the chunks the client's bytes arrive in; the second,
// when 1, 2 or 3, pads the first line with leading blanks to the bound, one byte over it, or
// two (when a line is refused before its end comes). Every line must then have been answered in at
// most one clean line, and a last *IDN? answered.
#include "FuzzSupport.h"

#include "remote/RemoteConnection.h"
#include "remote/RemoteServer.h"

#include <QIODevice>
#include <QPointer>
#include <QTimer>

#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// Takes every setting as given; a run ends at the next turn of the event loop with a sweep of
// three points, telling its client of a bus error on the way.
class AcceptingBench : public RemoteBench {
public:
    QString analyserModel() const override { return QStringLiteral("2712"); }
    MeasKind kind() const override { return m_kind; }
    Refusal setKind(MeasKind kind) override { return take(m_kind, kind); }
    int stepIndex() const override { return m_step; }
    Refusal setStepIndex(int index) override { return take(m_step, index); }
    MeasType device() const override { return m_device; }
    Refusal setDevice(MeasType type) override { return take(m_device, type); }
    QString customAttenuationText() const override { return m_attenuation; }
    Refusal setCustomAttenuation(const QString& text) override { return take(m_attenuation, text); }
    bool customLimitOn() const override { return m_limitOn; }
    QString customLimitText() const override { return m_limit; }
    Refusal setCustomLimit(bool on, const QString& text) override
    {
        m_limitOn = on;
        return take(m_limit, text);
    }
    // Kept raw: the answers must be clean whatever the bench holds.
    QString dutId() const override { return m_dut; }
    Refusal setDutId(const QString& id) override { return take(m_dut, id); }
    QString comment() const override { return m_comment; }
    Refusal setComment(const QString& text) override { return take(m_comment, text); }

    Refusal initiate(int connection, bool) override
    {
        m_busy = true;
        m_result.reset();
        QTimer::singleShot(0, this, [this, connection] {
            m_busy = false;
            m_result = MeasurementResult{};
            m_result->limitsShown = true;
            m_result->limitDb = 21;
            m_result->points = {{25, 30.5f}, {50, 20.25f}, {1000, 1e30f}};
            emit connectionError(connection, Scpi::HardwareError, m_comment);
            emit runFinished();
        });
        return {};
    }
    void abort() override {}
    bool busy() const override { return m_busy; }
    std::optional<MeasurementResult> lastResult() const override { return m_result; }
    ReferenceState reference(MeasKind) const override { return {true, 12.5}; }
    QString promptText() const override { return m_dut; }
    Refusal answerPrompt(PromptButton) override { return {Scpi::SettingsConflict, {}}; }
    Refusal hardcopy(const QString& description) override
    {
        return {Scpi::ExecutionError, description};
    }

private:
    template <typename T> static Refusal take(T& setting, const T& value)
    {
        setting = value;
        return {};
    }

    MeasKind m_kind = MeasKind::Attenuation;
    int m_step = 1;
    MeasType m_device = MeasType::AttReference;
    QString m_attenuation, m_limit, m_dut, m_comment;
    bool m_limitOn = false;
    bool m_busy = false;
    std::optional<MeasurementResult> m_result;
};

// A client's bytes, handed over a chunk at a time; what the server sends back goes to received,
// which outlives it.
class ScriptedClient : public QIODevice {
public:
    ScriptedClient(QByteArray input, qsizetype chunk, QByteArray& received)
        : m_pending(std::move(input)), m_chunk(chunk), m_received(received)
    {
        open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return m_available.size() + QIODevice::bytesAvailable();
    }
    // The next chunk; false when all has been handed over.
    bool deliver()
    {
        if (m_delivered >= m_pending.size())
            return false;
        m_available += m_pending.mid(m_delivered, m_chunk);
        m_delivered += m_chunk;
        emit readyRead();
        return true;
    }

protected:
    qint64 readData(char* data, qint64 size) override { return takeFront(m_available, data, size); }
    qint64 writeData(const char* data, qint64 size) override
    {
        m_received.append(data, size);
        return size;
    }

private:
    QByteArray m_pending;
    qsizetype m_delivered = 0;
    QByteArray m_available;
    qsizetype m_chunk;
    QByteArray& m_received;
};

// What the parser promises on its own: units split losslessly, numbers written back exactly.
void checkParser(const QByteArray& line)
{
    const QList<QByteArray> units = Scpi::splitUnits(line);
    require(units.join(';') == line);
    for (const QByteArray& text : units) {
        for (const Scpi::Parameter& p : Scpi::parseUnit(text).parameters) {
            if (const std::optional<double> n = p.quoted ? std::nullopt : Scpi::number(p.text))
                require(Scpi::number(Scpi::plainNumber(*n)) == *n);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ensureApplication();
    if (size < 2)
        return 0;
    // 1 to 64 bytes, times 1, 32, 1024 or 32768.
    const qsizetype chunk = qsizetype(1 + (data[0] & 0x3f)) << (5 * (data[0] >> 6));
    QByteArray text(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    // Rarely: each stretched input costs a 64 KiB line.
    if (const int stretch = data[1] <= 3 ? data[1] : 0) {
        qsizetype end = text.indexOf('\n');
        end = end < 0 ? text.size() : end;
        if (end > 0 && text.at(end - 1) == '\r')
            --end;
        const qsizetype wanted = RemoteConnection::MaxLine - 1 + stretch;
        text.prepend(QByteArray(std::max<qsizetype>(0, wanted - end), ' '));
    }
    for (const QByteArray& line : text.split('\n'))
        checkParser(line.endsWith('\r') ? line.chopped(1) : line);

    const QByteArray identity = "Velmora,2712,0," VELMORA_VERSION;
    const QByteArray input = text + "\n*IDN?\n";
    QByteArray received;
    AcceptingBench bench;
    RemoteServer server(bench);
    auto* client = new ScriptedClient(input, chunk, received);
    const QPointer<ScriptedClient> kept(client); // the connection owns it
    server.addConnection(client);
    const auto connected = [&] { return kept && client->isOpen(); };
    // The event loop turns only where a run may end: it costs a system call.
    while (connected() && client->deliver()) {
        if (bench.busy())
            QCoreApplication::processEvents();
    }
    const auto answered = [&] {
        return received == identity + '\n' || received.endsWith('\n' + identity + '\n');
    };
    // Lines held for a run go on once it ends: a turn or two of the event loop each.
    for (qsizetype turn = 0; turn < input.size() + 8 && connected() && !answered(); ++turn)
        QCoreApplication::processEvents();

    // The server closes only a connection whose line's answers pile up past its bound.
    require(!connected() || answered());
    require(received.count('\n') <= input.count('\n'));
    for (const char c : std::as_const(received))
        require(c == '\n' || (uchar(c) >= 0x20 && c != 0x7f));
    if (connected())
        client->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
