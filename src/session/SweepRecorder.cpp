#include "session/SweepRecorder.h"

#include "history/History.h"
#include "session/BenchSession.h"

SweepRecorder::SweepRecorder(History& history, BenchSession& session, BenchInterface interface,
                             const QString& address, QObject* parent)
    : QObject(parent), m_history(history), m_session(session), m_interface(interface),
      m_address(address)
{
    connect(&session, &BenchSession::sweepCompleted, this, &SweepRecorder::record);
    connect(&session, &BenchSession::printed, this, &SweepRecorder::recordPrint);
}

void SweepRecorder::record(const MeasurementResult& sweep)
{
    MeasurementResult result = sweep;
    result.unattended = !m_session.runAttended();
    RunContext context;
    context.startedFrom = m_session.runOrigin();
    // A window's sweeps know no DUT beforehand: it is typed when the page is printed.
    if (context.startedFrom != StartedFrom::Window) {
        context.dutId = m_session.dutId();
        context.comments = m_session.comment();
    }
    BenchInfo& bench = context.bench;
    bench.analyserModel = m_session.engine().State.AnalyserName;
    bench.idAnswer = m_session.engine().analyserId();
    bench.interface = m_interface;
    bench.address = m_address;
    m_lastRecord = m_history.record(result, context);
    if (!m_lastRecord.isNull())
        m_session.setLastRecord(
            {m_lastRecord, Verdict::of(result), context.operatorLogin, result.stepIndex});
    emit recorded(Verdict::of(result));
}

void SweepRecorder::recordPrint(const PrintRow& page)
{
    if (!m_lastRecord.isNull())
        m_history.appendPrint(m_lastRecord, page);
}
