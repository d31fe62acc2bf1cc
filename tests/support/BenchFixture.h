#pragma once

#include "EngineBench.h"
#include "app/MainForm.h"
#include "base/Clock.h"
#include "gpib/InstrumentIO.h"
#include "sim/SimulatedBench.h"
#include "sim/SimulatedOperator.h"

#include <memory>

// The program on the simulated bench and the virtual clock, with scripted dialogs: what a
// test drives as an operator would.
struct BenchFixture {
    explicit BenchFixture(const QString& scenario = {});

    // Load, show and first activation, as at program start.
    void startUp();

    VirtualClock clock;
    SimulatedBench bench;
    ScriptedDialogs dialogs;
    SimulatedOperator hands{dialogs, bench};
    InstrumentIO io{bench, clock, hands};
    std::unique_ptr<MainForm> form;
};
