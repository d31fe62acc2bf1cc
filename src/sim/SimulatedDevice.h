#pragma once

#include <QByteArray>
#include <QVector>

#include <optional>

// One instrument on the simulated bus: its output queue and its service requests. Times are
// the bench clock's seconds; nothing runs by itself, every state is read at a given time.
class SimulatedDevice {
public:
    explicit SimulatedDevice(int address) : m_address(address) {}
    virtual ~SimulatedDevice() = default;

    int address() const { return m_address; }
    bool onBus() const { return m_onBus; }
    virtual bool isAnalyser() const { return false; }

    // A whole message from the controller. Unread output is dropped, as a new message
    // interrupts a query nobody read.
    void receive(const QByteArray& message, double now);

    bool hasOutput() const { return !m_output.isEmpty(); }
    double outputReadyAt() const { return m_outputAt; }
    // Up to max bytes of the output; end tells whether that was the last of it.
    QByteArray readOutput(qsizetype max, bool* end);
    void deviceClear() { m_output.clear(); }

    bool requestingService(double now) const;
    // When the next service request is asserted, if any is coming.
    std::optional<double> nextServiceRequest() const;
    // The status byte, with 0x40 while requesting service; a poll clears one request.
    quint8 serialPoll(double now);

protected:
    virtual void execute(const QByteArray& message, double now) = 0;
    // Called after a poll handed out a requesting status byte.
    virtual void polled(quint8 statusByte, double now)
    {
        Q_UNUSED(statusByte);
        Q_UNUSED(now);
    }

    void queueOutput(const QByteArray& answer, double readyAt);
    void requestService(quint8 statusByte, double at);
    void leaveBus() { m_onBus = false; }

private:
    struct Request {
        quint8 statusByte;
        double at;
    };

    int m_address;
    bool m_onBus = true;
    QByteArray m_output;
    double m_outputAt = 0;
    QVector<Request> m_requests; // in the order they are asserted
};
