#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

class Clock;
class QIODevice;

// The byte stream to a GPIB adapter: a serial device (USB adapters show up as one) or a TCP
// connection. Its calls come from the bus thread, whose waits block in the device's own wait
// for input; no wait outlasts its deadline. Once the link is down it stays down.
class AdapterLink : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = 1234;
    static constexpr int SerialBaudRate = 115200;

    // address: "tcp://HOST[:PORT]" or the path of a serial device. On failure returns
    // nullptr and, if error is given, says why.
    static std::unique_ptr<AdapterLink> open(const QString& address, Clock& clock,
                                             QString* error = nullptr);
    // Over a stream that is already open, such as a scripted adapter, whose waitForReadyRead
    // delivers its input; the link goes down when the stream's input ends.
    static std::unique_ptr<AdapterLink> attach(std::unique_ptr<QIODevice> device,
                                               const QString& address, Clock& clock);
    ~AdapterLink() override;

    QString address() const { return m_address; }
    bool isSerial() const { return m_serial; }
    bool isUp() const { return m_up; }
    Clock& clock() const { return m_clock; }

    // Queues bytes for the adapter; false when the link is down.
    bool send(const QByteArray& bytes);
    // Drops input nobody asked for, such as the tail of an answer given up on.
    void discardInput();
    // The next line the adapter sends, without its CR LF; nothing at the deadline or when the
    // link goes down.
    std::optional<QByteArray> readLine(double deadline);
    // Everything before the next byte end, which is consumed; nothing at the deadline or when
    // the link goes down (the bytes that came stay for discardInput).
    std::optional<QByteArray> readUntil(char end, double deadline);

private:
    AdapterLink(std::unique_ptr<QIODevice> device, const QString& address, bool serial,
                Clock& clock);
    void goDown();
    // Waits until found() or the deadline; false at the deadline or when the link is down.
    template <typename Found> bool waitFor(Found found, double deadline);

    QIODevice* m_device; // a child
    QString m_address;
    bool m_serial;
    Clock& m_clock;
    QByteArray m_input;
    std::atomic<bool> m_up = true; // read from other threads by linkLost()
};
