#pragma once

#include <QChartView>
#include <QDateTime>
#include <QVector>

class QValueAxis;

// A histogram of worst margins: bins of one width with edges at its multiples, those below
// 0 dB red, the 0 dB line marked.
class MarginHistogram : public QChartView {
    Q_OBJECT
public:
    struct Bin {
        int index = 0; // covers [index * width, (index + 1) * width)
        int count = 0;
    };
    explicit MarginHistogram(QWidget* parent = nullptr);
    void setBins(double width, const QVector<Bin>& bins);
};

// Worst margin against sweep end with the 0 dB line: one point a record, or each day's lowest,
// median and highest.
class MarginTrend : public QChartView {
    Q_OBJECT
public:
    struct Point {
        QDateTime at;
        double low = 0, median = 0, high = 0;
    };
    explicit MarginTrend(QWidget* parent = nullptr);
    void setPoints(const QVector<Point>& points, bool daily);
};
