#pragma once

#include "measure/MeasurementView.h"
#include "measure/ResultGrid.h"

#include <array>

// The operator's controls as plain values, for the engine's own tests without a session.
// Enabling and focus steps only note what a window would show.
class HeadlessView : public MeasurementView {
public:
    int step = 1; // 25 MHz, as every run starts
    bool skip = false;
    bool customAttn = false;
    std::array<bool, 2> limits{}; // by kind index
    std::array<QString, 3> texts; // by Entry
    std::array<bool, 2> deviceOptions{};
    bool busy = false;
    bool stopEnabled = false;
    QString progress;

    int stepIndex() const override { return step; }
    bool skipMessages() const override { return skip; }
    bool customAttenuation() const override { return customAttn; }
    bool customLimits(MeasKind kind) const override { return limits[kindIndex(kind)]; }
    QString entryText(Entry entry) const override { return texts[size_t(entry)]; }
    bool deviceOptionsEnabled(MeasKind kind) const override
    {
        return deviceOptions[kindIndex(kind)];
    }

    void setEntryText(Entry entry, const QString& text) override { texts[size_t(entry)] = text; }
    void clearAndFocus(Entry entry) override { texts[size_t(entry)].clear(); }
    void uncheckCustomLimits(MeasKind kind) override { limits[kindIndex(kind)] = false; }
    void enableAttnControls(bool, bool optionsEnabled, bool) override
    {
        deviceOptions[kindIndex(MeasKind::Attenuation)] = optionsEnabled;
    }
    void enableReflControls(bool, bool othersEnabled) override
    {
        deviceOptions[kindIndex(MeasKind::ReturnLoss)] = othersEnabled;
    }
    void enableFrame(MeasKind, bool) override {}
    void enableStepList(bool) override {}
    void enableSkipMessages(bool) override {}
    void uncheckSkipMessages() override { skip = false; }
    void focusFirstDevice(MeasKind) override {}
    void enableStop(bool enabled) override { stopEnabled = enabled; }
    void showBusy(bool on) override { busy = on; }
    void showProgress(const SweepProgress& p) override { progress = p.text; }
    void drawOnGrid(const std::function<void(ResultGrid&)>& draw) override { draw(grid); }

    ResultGrid grid{6};
};
