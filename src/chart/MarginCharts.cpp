#include "chart/MarginCharts.h"

#include <QAreaSeries>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>

namespace {

const QColor Inside(0, 90, 180);
const QColor Outside(200, 0, 0);

QChart* plainChart()
{
    auto* chart = new QChart;
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 4, 12, 4));
    chart->legend()->setAlignment(Qt::AlignTop);
    return chart;
}

QLineSeries* zeroLine(const QPointF& from, const QPointF& to)
{
    auto* line = new QLineSeries;
    line->setName(QStringLiteral("0 dB"));
    QPen pen(Outside);
    pen.setWidthF(1.5);
    pen.setStyle(Qt::DashLine);
    line->setPen(pen);
    line->append(from);
    line->append(to);
    return line;
}

// Room around a range that may be a single value.
std::pair<double, double> padded(double low, double high, double least)
{
    const double pad = std::max((high - low) * 0.05, least);
    return {low - pad, high + pad};
}

} // namespace

MarginHistogram::MarginHistogram(QWidget* parent) : QChartView(plainChart(), parent)
{
    setRenderHint(QPainter::Antialiasing);
    setBins(0.05, {});
}

void MarginHistogram::setBins(double width, const QVector<Bin>& bins)
{
    QChart* c = chart();
    c->removeAllSeries();
    for (QAbstractAxis* axis : c->axes()) {
        c->removeAxis(axis);
        delete axis;
    }
    auto* x = new QValueAxis;
    x->setTitleText(QStringLiteral("Worst margin (dB)"));
    x->setLabelFormat(QStringLiteral("%.2f"));
    auto* y = new QValueAxis;
    y->setTitleText(QStringLiteral("Records"));
    y->setLabelFormat(QStringLiteral("%d"));
    c->addAxis(x, Qt::AlignBottom);
    c->addAxis(y, Qt::AlignLeft);

    // Each side of 0 dB one outline of bars over the baseline, so that a bin is a plain step.
    int most = 1;
    int lowest = 0, highest = 0;
    for (const Bin& bin : bins) {
        most = std::max(most, bin.count);
        lowest = std::min(lowest, bin.index);
        highest = std::max(highest, bin.index + 1);
    }
    for (const bool below : {true, false}) {
        auto* upper = new QLineSeries;
        for (const Bin& bin : bins) {
            if ((bin.index < 0) != below)
                continue;
            const double left = bin.index * width, right = left + width;
            *upper << QPointF(left, 0) << QPointF(left, bin.count) << QPointF(right, bin.count)
                   << QPointF(right, 0);
        }
        auto* area = new QAreaSeries(upper);
        upper->setParent(area); // an area does not own its outline: it goes with the area
        area->setName(below ? QStringLiteral("below 0 dB") : QStringLiteral("0 dB or more"));
        const QColor colour = below ? Outside : Inside;
        area->setColor(colour);
        area->setBorderColor(colour.darker(130));
        c->addSeries(area);
        area->attachAxis(x);
        area->attachAxis(y);
    }
    QLineSeries* zero = zeroLine({0, 0}, {0, double(most)});
    c->addSeries(zero);
    zero->attachAxis(x);
    zero->attachAxis(y);
    x->setRange(std::min(lowest, -1) * width, std::max(highest, 1) * width);
    x->applyNiceNumbers();
    y->setRange(0, double(most) * 1.1);
    y->setTickCount(std::min(most + 1, 6) + 1);
    y->applyNiceNumbers();
}

MarginTrend::MarginTrend(QWidget* parent) : QChartView(plainChart(), parent)
{
    setRenderHint(QPainter::Antialiasing);
    setPoints({}, false);
}

void MarginTrend::setPoints(const QVector<Point>& points, bool daily)
{
    QChart* c = chart();
    c->removeAllSeries();
    for (QAbstractAxis* axis : c->axes()) {
        c->removeAxis(axis);
        delete axis;
    }
    auto* x = new QDateTimeAxis;
    x->setTitleText(daily ? QStringLiteral("Day (lowest, median, highest)")
                          : QStringLiteral("Sweep end"));
    x->setTickCount(5);
    auto* y = new QValueAxis;
    y->setTitleText(QStringLiteral("Worst margin (dB)"));
    // Fixed decimals: a nice-number range puts 0 at 1e-17 otherwise.
    y->setLabelFormat(QStringLiteral("%.2f"));
    c->addAxis(x, Qt::AlignBottom);
    c->addAxis(y, Qt::AlignLeft);

    double low = 0, high = 0;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    qint64 first = points.isEmpty() ? now.addDays(-1).toMSecsSinceEpoch()
                                    : points.first().at.toMSecsSinceEpoch();
    qint64 last = points.isEmpty() ? now.toMSecsSinceEpoch() : points.last().at.toMSecsSinceEpoch();
    if (last - first < 3600000) { // a single moment still gets a width
        first -= 1800000;
        last += 1800000;
    }
    const auto attach = [&](QXYSeries* series) {
        c->addSeries(series);
        series->attachAxis(x);
        series->attachAxis(y);
    };
    if (daily) {
        const char* names[] = {"lowest", "median", "highest"};
        const QColor colours[] = {Outside.darker(120), Inside, QColor(0, 130, 60)};
        for (int k = 0; k < 3; ++k) {
            auto* line = new QLineSeries;
            line->setName(QLatin1String(names[k]));
            line->setPen(QPen(colours[k], k == 1 ? 2.0 : 1.2));
            for (const Point& p : points) {
                const double v = k == 0 ? p.low : k == 1 ? p.median : p.high;
                line->append(double(p.at.toMSecsSinceEpoch()), v);
            }
            attach(line);
        }
    } else {
        auto* dots = new QScatterSeries;
        dots->setName(QStringLiteral("records"));
        dots->setMarkerSize(6);
        dots->setColor(Inside);
        dots->setBorderColor(Inside);
        for (const Point& p : points)
            dots->append(double(p.at.toMSecsSinceEpoch()), p.median);
        attach(dots);
    }
    for (const Point& p : points) {
        low = std::min(low, p.low);
        high = std::max(high, p.high);
    }
    attach(zeroLine({double(first), 0}, {double(last), 0}));
    const auto [from, to] = padded(low, high, 0.05);
    y->setRange(from, to);
    y->applyNiceNumbers();
    // Within a few days, ticks a day apart would all read the same date.
    x->setFormat(last - first < 4 * 86400000LL ? QStringLiteral("MM-dd HH:mm")
                                               : QStringLiteral("yyyy-MM-dd"));
    x->setRange(QDateTime::fromMSecsSinceEpoch(first, Qt::UTC).toLocalTime(),
                QDateTime::fromMSecsSinceEpoch(last, Qt::UTC).toLocalTime());
}
