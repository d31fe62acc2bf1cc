#pragma once

#include "sim/BenchScenario.h"
#include "sim/SimulatedBench.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>

class Clock;
class QSocketNotifier;
class QTcpSocket;

// The simulated bench served as a GPIB adapter of the "++" command protocol, on a TCP port of
// the loopback interface or on a pseudo-terminal, so the adapter binding can be tried
// without hardware. The bench's own operator connects what the program's prompts ask for: it
// cannot see them from here, so it follows the set-up messages and sweeps instead.
class BenchServer : public QObject {
    Q_OBJECT
public:
    // What the served adapter does beyond the bench's scenario: the faults of the link.
    struct LinkScenario {
        int dropAt = 0;     // the link drops when the Nth MAMPL? query comes; 0: never
        bool mute = false;  // takes the connection and never answers
        bool split = false; // answers trickle out a few bytes at a time
        bool noFindLstn = false;
        bool bridgeAttenuator = false; // a return-loss device is an attenuator, terminated
    };
    struct Scenario {
        BenchScenario bench;
        LinkScenario link;
    };

    // The bench's words and the link's, comma-separated; nothing on an unknown word.
    static std::optional<Scenario> parse(const QString& words);
    // The link's words, one a line, as BenchScenario::help() gives the bench's.
    static QString help();

    BenchServer(Clock& clock, const Scenario& scenario);
    ~BenchServer() override;

    // 127.0.0.1 only; port 0 picks a free one.
    bool listen(quint16 port, QString* error = nullptr);
    bool openTerminal(QString* error = nullptr);
    // What the program's --adapter takes: tcp://127.0.0.1:PORT or the terminal's path.
    QString address() const { return m_address; }

    SimulatedBench& bench() { return m_bench; }

private:
    void takeConnection();
    void readTerminal();
    void serve();
    void command(const QByteArray& line);
    void message(const QByteArray& line);
    void readAnswer();
    void reply(const QByteArray& text) { send(text + "\r\n"); }
    void send(const QByteArray& bytes);
    void writeOut(const QByteArray& bytes);
    void trickle();
    void drop();
    int descriptorAt(int pad);
    bool serviceRequested();
    QByteArray listeners();
    void connectWhatIsAsked(const QByteArray& message);

    Clock& m_clock;
    LinkScenario m_link;
    SimulatedBench m_bench;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    int m_master = -1;
    int m_slave = -1; // held open so the terminal stays usable between programs
    QSocketNotifier* m_terminal = nullptr;
    QString m_address;

    QByteArray m_input;
    QByteArray m_output; // waiting to trickle out
    QTimer m_trickle;
    bool m_serving = false;
    bool m_dropped = false;
    int m_markerQueries = 0;

    int m_pad = 1;
    // the adapter's numeric settings by command name, as a fresh adapter has them
    QHash<QByteArray, int> m_settings{{"mode", 1},     {"auto", 0},           {"eoi", 1},
                                      {"eos", 0},      {"savecfg", 0},        {"eot_enable", 0},
                                      {"eot_char", 0}, {"read_tmo_ms", 1200}, {"ren", 1}};
    std::map<int, int> m_descriptors; // by address

    // What the bench's operator has gathered from the messages.
    enum class Kind { None, ReturnLoss, Attenuation } m_kind = Kind::None;
    bool m_referenceNext = false;
    double m_level = 0;          // the reference level last set
    double m_referenceLevel = 0; // ... when the attenuation reference was taken
};
