#pragma once

#include "measure/MeasType.h"

#include <QString>

#include <functional>

class ResultGrid;

// The operator's text boxes that the sequences read and write back.
enum class Entry { CustomAttn, CustomLimitsAtt, CustomLimitsRl };

// What a sequence is doing, for the progress line: at a sweep's point, also the points done
// before it and the sweep's point count (0 outside a point loop).
struct SweepProgress {
    QString text;
    int done = 0;
    int total = 0;
};

// What the measurement sequences see of the operator's controls: the values they read at the
// moment they read them, and the write-backs, enabling and focus steps they make. The bench
// session implements it, on the window's thread whatever thread the sequences run on.
class MeasurementView {
public:
    virtual ~MeasurementView() = default;

    virtual int stepIndex() const = 0; // 0..3: 12.5, 25, 50, 100 MHz
    virtual bool skipMessages() const = 0;
    virtual bool customAttenuation() const = 0;
    virtual bool customLimits(MeasKind kind) const = 0;
    virtual QString entryText(Entry entry) const = 0;
    // Whether the kind's device options are usable by themselves, whatever their frame.
    virtual bool deviceOptionsEnabled(MeasKind kind) const = 0;

    virtual void setEntryText(Entry entry, const QString& text) = 0;
    // After a refused value: the box emptied and given the focus.
    virtual void clearAndFocus(Entry entry) = 0;
    virtual void uncheckCustomLimits(MeasKind kind) = 0;
    virtual void enableAttnControls(bool refEnabled, bool optionsEnabled, bool customEnabled) = 0;
    virtual void enableReflControls(bool refEnabled, bool othersEnabled) = 0;
    virtual void enableFrame(MeasKind kind, bool enabled) = 0;
    virtual void enableStepList(bool enabled) = 0;
    virtual void enableSkipMessages(bool enabled) = 0;
    virtual void uncheckSkipMessages() = 0;
    // Moves the focus only: the selection, and MeasType with it, stays where it is.
    virtual void focusFirstDevice(MeasKind kind) = 0;
    virtual void enableStop(bool enabled) = 0;
    virtual void showBusy(bool busy) = 0;
    virtual void showProgress(const SweepProgress& progress) = 0;
    // Changes the results grid where the chart draws it.
    virtual void drawOnGrid(const std::function<void(ResultGrid&)>& draw) = 0;
};
