#pragma once

#include "remote/RemoteBench.h"
#include "remote/ScpiMessage.h"

#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QAbstractSocket;
class QIODevice;
class RemoteServer;

// One client: its input order, header path, error queue, status registers, and settings of its
// own (prompts, the print description). Lines are handled whole and in order; *OPC? and *WAI
// hold back this connection only. Memory stays bounded whatever the client sends or fails to
// read.
class RemoteConnection : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype MaxLine = 64 * 1024; // longer lines are discarded (TooMuchData)
    // A client that lets more answers pile up than this is closed.
    static constexpr qsizetype MaxUnsent = 1024 * 1024;
    static constexpr int QueueDepth = 32;

    // Takes over device: a TCP socket, or any open stream of a client's bytes.
    RemoteConnection(int id, QIODevice* device, RemoteServer& server);

    int id() const { return m_id; }
    // Goes on with the input as far as it can: after new bytes, or after a run it waits for.
    void serve();
    void pushError(int code, const QString& detail = {});
    // A run has ended: a *OPC given meanwhile completes.
    void runEnded();

signals:
    void closed(RemoteConnection* connection);

private:
    struct Command;
    struct Tree;
    static const QList<Command>& commands();

    bool takeLine(QByteArray* line);
    bool runLine();
    const Command* resolve(const Scpi::Unit& unit, QByteArrayList* header) const;
    void execute(const Scpi::Unit& unit, const Command& command);
    void answer(const QByteArray& text);
    void send(const QByteArray& bytes);
    void close();
    void report(const RemoteBench::Refusal& refusal);
    bool fetchable(std::optional<MeasurementResult>* result);
    quint8 statusByte() const;

    const int m_id;
    QPointer<QIODevice> m_device;
    QPointer<QAbstractSocket> m_socket; // the same device when it is a socket
    RemoteServer& m_server;
    RemoteBench& m_bench;
    bool m_closed = false;

    // Bytes of the unfinished lines: m_input from m_inputPos; no LF before m_scanFrom.
    QByteArray m_input;
    qsizetype m_inputPos = 0;
    qsizetype m_scanFrom = 0;
    bool m_discarding = false; // inside a line that was too long, until its LF

    // The line being handled: its units, the next one, the header path, the answers so far.
    QList<QByteArray> m_units;
    qsizetype m_nextUnit = 0;
    QByteArrayList m_path;
    QByteArrayList m_answers;
    qsizetype m_answerBytes = 0;

    QList<QByteArray> m_errors; // formatted entries, oldest first
    quint8 m_eventStatus = 0;   // *ESR?
    quint8 m_eventEnable = 0;   // *ESE
    quint8 m_serviceEnable = 0; // *SRE
    bool m_opcPending = false;  // a *OPC waits for the run's end
    bool m_promptsOn = true;
    QString m_description;
};
