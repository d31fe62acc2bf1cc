#pragma once

#include "measure/ResultGrid.h"

#include <QChartView>

class QLineSeries;
class QValueAxis;

#include <memory>

// A results grid drawn as a chart: each column one line over the 80 frequency points. It
// draws the grid it is given (the session's), or one of its own (a page, a record).
class Chart : public QChartView, private ResultGrid::Listener {
    Q_OBJECT
public:
    Chart(ResultGrid& grid, QWidget* parent = nullptr);
    explicit Chart(int columns, QWidget* parent = nullptr);
    ~Chart() override;

    ResultGrid& grid() { return *m_grid; }
    const ResultGrid& grid() const { return *m_grid; }

private:
    Chart(std::unique_ptr<ResultGrid> own, QWidget* parent);
    void columnChanged(int column) override;
    void seriesHiddenChanged(int series) override;
    void scaleChanged() override;

    // What scaleChanged() and columnChanged() do, for the constructor, which must not call them
    // virtually.
    void applyScale();
    void drawColumn(int column);

    std::unique_ptr<ResultGrid> m_ownGrid;
    ResultGrid* m_grid;
    QVector<QLineSeries*> m_series;
    QValueAxis* m_valueAxis = nullptr;
};
