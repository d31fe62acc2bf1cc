#pragma once

#include "gpib/DescriptorDriver.h"

#include <QHash>

#include <map>
#include <memory>
#include <optional>

class AdapterLink;
class Clock;

// A USB or Ethernet GPIB adapter that takes the "++" command protocol, behind NI-488.2
// semantics: the adapter is the controller at address 0 on board 0 and every device
// descriptor is kept here. Reads, polls and waits end at the descriptor's time-out, measured
// on the clock the driver was given, plus a margin for the link; the adapter itself stays
// silent when it gives up. A link that goes down fails every later call at once with ENOL,
// until reconnect() opens the adapter again; the descriptors outlive it.
class AdapterDriver : public DescriptorDriver {
public:
    // The byte the adapter appends when a message ends with EOI. The program's messages are
    // text, so a control character that no answer carries marks the end unambiguously.
    static constexpr char EndMark = 0x04;
    // Longest wait for the adapter's answer to one of its own commands.
    static constexpr double AnswerLimit = 3.0;
    // Added to a device time-out: the adapter starts counting only when the request arrives.
    static constexpr double LinkMargin = 0.5;

    // Opens the link (see AdapterLink::open), makes sure an adapter answers and sets it up.
    // On failure returns nullptr and, if error is given, says why.
    static std::unique_ptr<AdapterDriver> open(const QString& address, Clock& clock,
                                               QString* error = nullptr);
    // Likewise over a link already open.
    static std::unique_ptr<AdapterDriver> open(std::unique_ptr<AdapterLink> link,
                                               QString* error = nullptr);
    ~AdapterDriver() override;

    QString name() const override;
    bool linkLost() const override;
    bool reconnect() override;
    QString linkAddress() const override;
    void callFrom(QThread* thread) override;

    int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
    int ibpad(int ud, int pad) override;
    int ibtmo(int ud, int tmo) override;
    int ibask(int ud, int option, int* value) override;
    int ibclr(int ud) override;
    int ibrsp(int ud, char* statusByte) override;
    int ibwrt(int ud, const QByteArray& data) override;
    int ibrd(int ud, QByteArray& buffer) override;
    int ibwait(int ud, int mask) override;
    int ibsre(int board, int value) override;
    void SendIFC(int board) override;
    // The adapter's own listener search where it has one, otherwise a serial poll of each
    // address; the controller, address 0, comes first.
    void FindLstn(int board, const QVector<short>& addresses, QVector<short>& results,
                  int limit) override;

private:
    // An answer read to EOI and not yet handed out in full.
    struct Pending {
        QByteArray data;
        bool end = false;
    };

    explicit AdapterDriver(std::unique_ptr<AdapterLink> link);
    bool setUp(QString* error);
    int linkDown() { return finish(Ni488::ERR, Ni488::ENOL); }
    bool command(const QByteArray& text);
    bool address(int pad);
    bool readTimeout(int milliseconds);
    double deadline(int tmo) const;
    std::optional<quint8> serialPoll(int pad, int tmo);
    std::optional<QVector<short>> adapterListeners();
    QVector<short> polledListeners(const QVector<short>& addresses);

    std::unique_ptr<AdapterLink> m_link;
    Clock& m_clock;
    int m_adapterAddress = -1;               // as last set on the adapter
    int m_adapterTimeoutMs = -1;             // likewise
    QHash<int, Pending> m_pending;           // by address
    QHash<int, QList<quint8>> m_statusBytes; // polled while waiting for a request, by address
};
