#pragma once

#include "ScriptedDialogs.h"
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

// Runs body in a child process and returns its exit status (-1 if it did not exit by
// itself). What the child shows and sends is written to the returned log through report.
struct ChildOutcome {
    int exitStatus = -1;
    QString log;
};
ChildOutcome
runInChild(const std::function<void(std::function<void(const QString&)> report)>& body);
