#include "sim/BenchModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Good and marginal parts level off towards the top of the band, so they stay inside
// their limits up to 1.8 GHz; failing ones keep getting worse and cross them high up.
double shape(DutQuality quality, double fMHz)
{
    const double x = std::max(0.0, fMHz) / 1000.0;
    if (quality == DutQuality::Failing)
        return std::pow(x, 1.5);
    return std::tanh(1.5 * x) / std::tanh(1.5);
}

double ripple(double fMHz, double periodMHz, double phase)
{
    return std::sin(2 * std::numbers::pi * fMHz / periodMHz + phase);
}

struct ReturnLossCurve {
    double low;    // dB near DC
    double drop;   // dB lost by 1 GHz
    double ripple; // dB amplitude
};

// Limits: termination 21 dB, attenuator closed by a termination 26 dB.
ReturnLossCurve returnLossCurve(Connection::Dut dut, DutQuality quality)
{
    const bool termination = dut == Connection::Dut::Termination;
    switch (quality) {
    case DutQuality::Good:
        return termination ? ReturnLossCurve{38, 11, 0.3} : ReturnLossCurve{44, 10, 0.3};
    case DutQuality::Marginal:
        return termination ? ReturnLossCurve{29, 6.8, 0.25} : ReturnLossCurve{33, 6.0, 0.25};
    case DutQuality::Failing:
        return termination ? ReturnLossCurve{30, 11, 0.3} : ReturnLossCurve{35, 12, 0.3};
    }
    return {};
}

// Allowed deviation: 0.3 dB up to 10 dB nominal, 0.4 dB above; the cable is held to 0.1 dB.
double deviationLimit(double nominalDb)
{
    if (nominalDb <= 0)
        return 0.1;
    return nominalDb < 10 ? 0.3 : 0.4;
}

} // namespace

double BenchModel::cableLoss(double fMHz)
{
    return 0.25 + 0.85 * std::sqrt(std::max(0.0, fMHz) / 1000.0);
}

double BenchModel::bridgeLoss(double fMHz)
{
    return 6.5 + 0.5 * fMHz / 1000.0;
}

double BenchModel::returnLoss(const Connection& c, double fMHz) const
{
    if (c.kind != Connection::Kind::BridgeDut)
        return 0;
    const ReturnLossCurve curve = returnLossCurve(c.dut, m_quality);
    const double phase = c.dut == Connection::Dut::Termination ? 0.4 : 1.9;
    return curve.low - curve.drop * shape(m_quality, fMHz) +
           curve.ripple * ripple(fMHz, 310, phase);
}

double BenchModel::deviation(const Connection& c, double fMHz) const
{
    if (c.kind != Connection::Kind::AttenuatorDut)
        return 0;
    // Peak share of the limit: good parts use well under half of it at 1 GHz.
    double peak = 0;
    switch (m_quality) {
    case DutQuality::Good:
        peak = 0.55;
        break;
    case DutQuality::Marginal:
        peak = 0.88;
        break;
    case DutQuality::Failing:
        peak = 1.4;
        break;
    }
    peak *= deviationLimit(c.nominalDb);
    if (c.nominalDb <= 0 && m_quality == DutQuality::Good)
        peak = 0.03; // a good cable is a few hundredths off its calibration
    // Parts of one batch do not all lean the same way.
    const double sign = std::fmod(c.nominalDb, 4.0) == 0 && c.nominalDb > 0 ? -1.0 : 1.0;
    const double phase = 0.7 + c.nominalDb / 7.0;
    return sign * peak * (0.15 + 0.75 * shape(m_quality, fMHz) + 0.08 * ripple(fMHz, 230, phase));
}

double BenchModel::level(const Connection& c, double tgDbm, double fMHz) const
{
    switch (c.kind) {
    case Connection::Kind::Nothing:
        return NoiseFloorDbm;
    case Connection::Kind::Through:
        return tgDbm - cableLoss(fMHz);
    case Connection::Kind::AttenuatorDut:
        return tgDbm - cableLoss(fMHz) - (c.nominalDb + deviation(c, fMHz));
    case Connection::Kind::BridgeOpen:
        return tgDbm - cableLoss(fMHz) - bridgeLoss(fMHz);
    case Connection::Kind::BridgeDut:
        return tgDbm - cableLoss(fMHz) - bridgeLoss(fMHz) - returnLoss(c, fMHz);
    }
    return NoiseFloorDbm;
}
