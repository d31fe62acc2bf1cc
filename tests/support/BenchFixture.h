#pragma once

#include "EngineBench.h"
#include "Settle.h"
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
    void startUp() { startProgram(*form, clock); }
    // The same for a window over any bus.
    static void startProgram(MainForm& form, VirtualClock& clock);

    VirtualClock clock;
    SimulatedBench bench;
    ScriptedDialogs dialogs;
    SimulatedOperator hands{dialogs, bench};
    BenchSession session{bench, clock, hands};
    InstrumentIO& io = session.io();
    std::unique_ptr<MainForm> form;
};

// The program's window over any driver, started as at program start.
struct WindowOver {
    WindowOver(GpibDriver& driver, VirtualClock& clock);

    ScriptedDialogs dialogs;
    BenchSession session;
    InstrumentIO& io;
    MainForm form;
};

// A return-loss check of a termination and an attenuation check of a 6 dB attenuator at
// 50 MHz steps, each after its reference; every prompt answered OK. The chart after each.
QStringList checkBoth(MainForm& w);

// A click, and then the run it may have started or stopped, up to its end.
void click(QWidget* widget);
// A click on the frame's own surface, clear of every control inside it.
void clickFrame(QWidget* frame);
// Picks a frequency step with the arrow keys, as an operator does on a closed list.
void chooseStep(QComboBox* list, int index);
// The operator's way to a sweep: the kind's frame, the step (0..3: 12.5 .. 100 MHz), Run for
// the reference and, given a device option, that option and Run again.
void measure(MainForm& w, MeasKind kind, int step, QWidget* device = nullptr);
