#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <map>
#include <optional>

class Clock;
class SimulatedBench;

// The "++" command protocol of a USB or Ethernet GPIB adapter, in front of the simulated bench:
// bytes from the host in, bytes for the host out. Commands, value ranges and start-up
// settings are those of the adapters' manual; where the open AR488 firmware takes more
// (++auto 2 and 3, read time-outs from 0 to 32000 ms) it is taken as AR488 takes it. A value
// outside every range is answered as AR488 answers it, and the setting is kept.
//
// The bench's own operator lives here too: it cannot see the program's prompts, so it
// connects what each set-up message and sweep calls for.
class BenchProtocol {
public:
    struct Settings {
        int mode = 1;      // 1: controller in charge; 0: a device on somebody else's bus
        int pad = 0;       // the instrument addressed
        int sad = 0;       // its secondary address, 96 to 126; 0: none
        int autoRead = 0;  // read after write: 0 off, 1 every message, 2 queries, 3 continuous
        int eoi = 1;       // EOI with the last byte of a message
        int eos = 0;       // appended to messages: 0 CR LF, 1 CR, 2 LF, 3 nothing
        int eotEnable = 0; // append eotChar to an answer that ended with EOI
        int eotChar = 0;   // a byte, 0 to 255
        int readTimeoutMs = 500; // between two bytes of an answer
        int saveConfig = 1;      // every change is kept over a reset
        int ren = 1;             // remote enable held
    };
    // Every setting away from its start-up value, as another program may leave an adapter.
    static Settings reconfigured();
    // The settings as the commands that give them: "++mode 1, ++addr 0, ...".
    static QString describe(const Settings& settings);

    struct Options {
        bool findLstn = true;          // the adapter has AR488's ++findlstn
        bool bridgeAttenuator = false; // return loss is measured on a terminated attenuator
    };

    BenchProtocol(Clock& clock, SimulatedBench& bench, const Settings& start, Options options);

    // Where everything for the host goes.
    std::function<void(const QByteArray&)> output;
    // Asked with each message before it goes to the bus; it may close() the protocol.
    std::function<void(const QByteArray&)> beforeMessage;

    // Bytes as they come from the host, in any pieces.
    void receive(const QByteArray& bytes);
    // Forgets a partial line, as a new connection starts afresh.
    void discardInput() { m_input.clear(); }
    // Takes nothing more, as an adapter that lost its power.
    void close();

    const Settings& settings() const { return m_settings; }

    // The bench's operator at work on a message for the analyser, as it goes to the bus: the
    // gateway's bench, which speaks another protocol, has its messages connected here too.
    void connectWhatIsAsked(const QByteArray& message);

private:
    enum class Until { TimeOut, Eoi, Character };
    struct Address {
        int pad;
        int sad;
    };

    void command(const QByteArray& line);
    void setting(const QByteArray& name, const QList<QByteArray>& arguments);
    void address(const QList<QByteArray>& arguments);
    void message(const QByteArray& data);
    void read(Until until, char end = 0);
    void reset();
    void reply(const QByteArray& text) { send(text + "\r\n"); }
    void refuse() { reply("Unrecognized command"); }
    void send(const QByteArray& bytes);
    static std::optional<QList<Address>> addresses(const QList<QByteArray>& arguments);
    int descriptorAt(int pad);
    bool serviceRequested();
    QByteArray listeners();

    Clock& m_clock;
    SimulatedBench& m_bench;
    Options m_options;
    Settings m_settings;
    Settings m_saved; // what a reset brings back
    QByteArray m_input;
    QByteArray m_unended; // message bytes the instrument has not yet seen the end of
    bool m_closed = false;
    double m_deafUntil = -1;          // a reset ignores what comes meanwhile
    std::map<int, int> m_descriptors; // by address

    // What the bench's operator has gathered from the messages.
    enum class Kind { None, ReturnLoss, Attenuation } m_kind = Kind::None;
    bool m_referenceNext = false;
    double m_level = 0;          // the reference level last set
    double m_referenceLevel = 0; // ... when the attenuation reference was taken
};
