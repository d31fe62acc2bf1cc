#include "app/SweepRecorder.h"

#include "app/BenchConnection.h"
#include "history/History.h"
#include "measure/MeasurementEngine.h"

SweepRecorder::SweepRecorder(History& history, MeasurementEngine& engine,
                             const BenchConnection& connection, StartedFrom startedFrom,
                             QObject* parent)
    : QObject(parent), m_history(history), m_engine(engine), m_connection(connection)
{
    m_context.startedFrom = startedFrom;
    connect(&engine, &MeasurementEngine::sweepCompleted, this, &SweepRecorder::record);
}

void SweepRecorder::setRun(StartedFrom startedFrom, bool unattended, const QString& dutId,
                           const QString& comments)
{
    m_context.startedFrom = startedFrom;
    m_unattended = unattended;
    m_context.dutId = dutId;
    m_context.comments = comments;
}

void SweepRecorder::record(const MeasurementResult& sweep)
{
    MeasurementResult result = sweep;
    result.unattended = m_unattended;
    BenchInfo& bench = m_context.bench;
    bench.analyserModel = m_engine.State.AnalyserName;
    bench.idAnswer = m_engine.analyserId();
    bench.interface = m_connection.interface();
    bench.address = m_connection.address();
    m_lastRecord = m_history.record(result, m_context);
    emit recorded(Verdict::of(result));
}

void SweepRecorder::recordPrint(const PrintRow& page)
{
    if (!m_lastRecord.isNull())
        m_history.appendPrint(m_lastRecord, page);
}
