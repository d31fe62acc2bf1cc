#pragma once

#include "base/OperatorDialogs.h"
#include "measure/GlobalVar.h"
#include "measure/MeasurementResult.h"
#include "measure/MeasurementView.h"

#include <QObject>

#include <array>
#include <atomic>
#include <functional>
#include <optional>

class InstrumentIO;
class ResultGrid;

// The measurement state and the sequences that the Run command dispatches to. A sequence runs
// to its end inside run(), plain sequential code on the thread that calls it (the bus thread);
// a stop request from another thread reaches it between points. It knows the operator's
// controls and the chart only through MeasurementView.
class MeasurementEngine : public QObject {
    Q_OBJECT
public:
    MeasurementEngine(InstrumentIO& io, OperatorDialogs& dialogs, MeasurementView& view,
                      QObject* parent = nullptr);

    GlobalVar Globals;
    MeasurementState State;

    // Bus initialisation and the analyser found by its answer to "ID?"; ends the program
    // (programEnded()) where the bus or the analyser cannot be used. Fills StepMult.
    void FindAnalyser();
    // The analyser's identification must name its tracking generator; ends the program if not.
    void CheckTrackingGenerator();
    // A fatal condition was met: every routine has returned or returns at once, and the
    // front door ends the program.
    bool programEnded() const;
    // The analyser's whole answer to "ID?" as last read.
    const QString& analyserId() const { return m_analyserId; }

    // The rules the Run command applies to the custom values as typed: the refusal's message,
    // or empty when the value is taken. An empty attenuator limit is taken (the box unticks).
    static QString customAttenuationRefusal(const QString& text);
    static QString customLimitRefusal(MeasKind kind, const QString& text);

    // The Run command's dispatch on MeasType; returns once the sequence has returned. Emits
    // sweepCompleted from the calling thread.
    void run();
    bool running() const { return m_running; }
    // The last run was a device sweep that measured its last point.
    bool sweptToEnd() const { return m_sweptToEnd; }
    // The last completed device sweep, until the next run starts.
    const std::optional<MeasurementResult>& lastResult() const { return m_lastResult; }

    // Stop: the sweeps end after the point they are at.
    void requestStop() { State.StopRequested = true; }
    // The operator is leaving: stop, and ask for no further connection.
    void requestClose();
    bool closeRequested() const { return m_closeRequested; }
    void clearCloseRequest() { m_closeRequested = false; }

    void GetRef(const MeasType& index);
    void FillRefTable(int kind);
    void GetRetLossResult(const MeasType& index);
    void GetAttResult(const MeasType& index);
    void ResetStopSeq();
    void ClearGraph(ResultGrid& grid, float graphValue) const;

signals:
    void sweepCompleted(const MeasurementResult& result);

private:
    // A "++" adapter that stopped answering during this run, or the program ending.
    bool adapterLost() const;
    // Outside the point loops, a lost adapter, the program ending or the run cut short: the run
    // ends as a Cancel at its connection prompt does. In a loop, a cut-short run ends as Stop.
    bool setUpEnds() const;
    // Lost before a point loop: the run ends as a Cancel at its connection prompt does.
    void abandonBeforeLoop(MeasType type);
    MsgResult ask(const OperatorMessage& message);
    // A refused entry: the message, then the box cleared and focused.
    void refuse(Entry entry, const QString& message);
    bool acceptCustomAttenuation();
    bool acceptCustomLimitsAtt();
    int stepIndex() const { return m_view.stepIndex(); }
    qint16 currentStepMult() const;
    // The results grid's column of the chosen step's curve.
    int curveColumn() const;
    static void writeRow(ResultGrid& grid, int row, float value);
    // The first part of a device sweep's record: what is known before its first point.
    MeasurementResult startResult(MeasType type, float nominal, float limit, bool customLimit,
                                  bool limitsShown) const;
    // The point loop of a device sweep: marker, settle, read, draw with the fill-in between
    // points; it ends after the point at which a stop was asked for.
    void sweepDevice(const QString& progress, bool startCurveAtFirstPoint,
                     const std::function<float(int point, double reading)>& value,
                     MeasurementResult& result);
    static void fillBetween(ResultGrid& grid, int point, int step, float previous, float value);
    // What every device sweep does after its last point.
    void endDeviceSweep(MeasurementResult& result);

    InstrumentIO& m_io;
    OperatorDialogs& m_dialogs;
    MeasurementView& m_view;
    bool m_running = false;
    std::atomic<bool> m_closeRequested = false;
    bool m_sweptToEnd = false;
    std::array<QDateTime, 2> m_refTaken; // UTC, by kind
    std::optional<MeasurementResult> m_lastResult;
    QString m_analyserId;
};
