#pragma once

#include "measure/ResultGrid.h"

#include <QChartView>

class QLineSeries;
class QValueAxis;

// The results grid drawn as a chart: each column one line over the 80 frequency points.
class Chart : public QChartView, public ResultGrid {
    Q_OBJECT
public:
    explicit Chart(int columns, QWidget* parent = nullptr);
    using ResultGrid::data;

protected:
    void columnChanged(int column) override;
    void seriesHiddenChanged(int series) override;
    void scaleChanged() override;

private:
    // What scaleChanged() does, for the constructor, which must not call it virtually.
    void applyScale();

    QVector<QLineSeries*> m_series;
    QValueAxis* m_valueAxis = nullptr;
};
