#pragma once

#include "sim/BenchScenario.h"

// What sits between the tracking generator output and the analyser input.
struct Connection {
    enum class Kind { Nothing, BridgeOpen, Through, BridgeDut, AttenuatorDut };
    // What closes the bridge's DUT port: a termination, or an attenuator ended by one.
    enum class Dut { Termination, Attenuator };

    Kind kind = Kind::Nothing;
    Dut dut = Dut::Termination;
    double nominalDb = 0; // of an AttenuatorDut; the cable is nominal 0

    static Connection nothing() { return {}; }
    static Connection bridgeOpen() { return {Kind::BridgeOpen}; }
    static Connection through() { return {Kind::Through}; }
    static Connection bridgeDut(Dut dut) { return {Kind::BridgeDut, dut}; }
    static Connection attenuatorDut(double nominalDb)
    {
        return {Kind::AttenuatorDut, Dut::Termination, nominalDb};
    }

    bool operator==(const Connection&) const = default;
};

// Deterministic levels of the bench at a frequency, before the analyser's reading noise.
class BenchModel {
public:
    static constexpr double NoiseFloorDbm = -90.0;

    explicit BenchModel(DutQuality quality) : m_quality(quality) {}

    // Test cable from the generator to the analyser, dB.
    static double cableLoss(double fMHz);
    // Through loss of the impedance bridge with its DUT port open, dB.
    static double bridgeLoss(double fMHz);

    // Of a BridgeDut; 0 for anything else.
    double returnLoss(const Connection& c, double fMHz) const;
    // Measured minus nominal attenuation of an AttenuatorDut; 0 for anything else.
    double deviation(const Connection& c, double fMHz) const;
    // At the analyser input with the generator at tgDbm.
    double level(const Connection& c, double tgDbm, double fMHz) const;

private:
    DutQuality m_quality;
};
