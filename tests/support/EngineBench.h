#pragma once

#include "HeadlessView.h"
#include "ScriptedDialogs.h"
#include "base/Clock.h"
#include "gpib/InstrumentIO.h"
#include "measure/MeasurementEngine.h"
#include "measure/ResultGrid.h"
#include "sim/SimulatedBench.h"
#include "sim/SimulatedOperator.h"

#include <functional>

// The engine on the simulated bench and the virtual clock, without a window: the selection is
// a plain HeadlessView and messages are answered from a script.
struct EngineBench {
    explicit EngineBench(const QString& scenario = {});

    // A run of the given measurement at the step (0..3: 12.5 .. 100 MHz).
    void run(MeasType type, int step);
    void run(MeasType type) { run(type, view.step); }
    // Forgets the bus traffic and the messages so far.
    void forget();
    // Does action the given seconds after the operator has answered a connection prompt.
    void afterPrompt(double seconds, std::function<void()> action);
    float cell(int row, int column) const { return grid.cellValue(row, column).value_or(-999); }

    VirtualClock clock;
    SimulatedBench bench;
    ScriptedDialogs dialogs;
    SimulatedOperator hands{dialogs, bench};
    InstrumentIO io{bench, clock, hands};
    HeadlessView view;
    ResultGrid& grid = view.grid;
    MeasurementEngine engine{io, hands, view};
};
