#include "chart/Chart.h"

#include <QCategoryAxis>
#include <QFontMetricsF>
#include <QLineSeries>
#include <QValueAxis>
#include <QtMath>

#include <algorithm>

namespace {

constexpr double MegahertzPerRow = 12.5;

QPen seriesPen(int column)
{
    // Limit lines red and dashed, measured curves solid and in distinct colours that stay
    // apart on a monochrome printout too.
    if (column <= 2) {
        QPen pen(QColor(200, 0, 0));
        pen.setWidthF(1.5);
        pen.setStyle(Qt::DashLine);
        return pen;
    }
    static const QColor curves[] = {QColor(0, 70, 200), QColor(0, 130, 60), QColor(150, 0, 160),
                                    QColor(0, 0, 0)};
    QPen pen(curves[(column - 3) % 4]);
    pen.setWidthF(2.0);
    return pen;
}

} // namespace

// Built with its chart: a view made without one makes a default chart that setChart would
// orphan.
Chart::Chart(int columns, QWidget* parent) : Chart(std::make_unique<ResultGrid>(columns), parent) {}

Chart::Chart(std::unique_ptr<ResultGrid> own, QWidget* parent) : Chart(*own, parent)
{
    m_ownGrid = std::move(own);
}

Chart::~Chart()
{
    m_grid->setListener(nullptr);
}

Chart::Chart(ResultGrid& grid, QWidget* parent) : QChartView(new QChart, parent), m_grid(&grid)
{
    constexpr int Rows = ResultGrid::Rows;
    const int columns = grid.columnCount();
    setRenderHint(QPainter::Antialiasing);
    QChart* chart = this->chart();
    chart->legend()->hide();
    chart->setBackgroundRoundness(0);

    auto* categoryAxis = new QCategoryAxis;
    categoryAxis->setRange(1, Rows);
    categoryAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (int row = 4; row <= Rows; row += 4)
        categoryAxis->append(QString::number(row * MegahertzPerRow), row);
    categoryAxis->setTitleText(QStringLiteral("MHz"));
    QFont labelFont = categoryAxis->labelsFont();
    labelFont.setPointSizeF(labelFont.pointSizeF() * 0.85);
    categoryAxis->setLabelsFont(labelFont);
    // Qt elides a label wider than the plot width shared out among all the labels, which
    // "1000" is, though the labels stand four rows apart with room to spare.
    categoryAxis->setTruncateLabels(false);
    chart->addAxis(categoryAxis, Qt::AlignBottom);
    // The last label is centred on the plot's right edge: half of it needs room beyond.
    const QString last = categoryAxis->categoriesLabels().constLast();
    const int overhang = qCeil(QFontMetricsF(labelFont).horizontalAdvance(last) / 2);
    chart->setMargins(QMargins(4, 4, std::max(8, overhang + 4), 4));

    m_valueAxis = new QValueAxis;
    m_valueAxis->setTitleText(QStringLiteral("dB"));
    m_valueAxis->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(m_valueAxis, Qt::AlignLeft);

    for (int column = 1; column <= columns; ++column) {
        auto* series = new QLineSeries;
        series->setName(QStringLiteral("C%1").arg(column));
        series->setPen(seriesPen(column));
        chart->addSeries(series);
        series->attachAxis(categoryAxis);
        series->attachAxis(m_valueAxis);
        m_series << series;
        series->setVisible(!grid.seriesHidden(column));
    }
    applyScale();
    for (int column = 1; column <= columns; ++column)
        drawColumn(column);
    grid.setListener(this);
}

void Chart::seriesHiddenChanged(int series)
{
    m_series[series - 1]->setVisible(!m_grid->seriesHidden(series));
}

void Chart::scaleChanged()
{
    applyScale();
}

void Chart::applyScale()
{
    const ResultGrid& g = *m_grid;
    m_valueAxis->setRange(std::min(g.minimum(), g.maximum()), std::max(g.minimum(), g.maximum()));
    m_valueAxis->setTickCount(std::max(2, g.majorDivision() + 1));
    m_valueAxis->setMinorTickCount(std::max(0, g.minorDivision() - 1));
}

void Chart::columnChanged(int column)
{
    drawColumn(column);
}

void Chart::drawColumn(int column)
{
    // Only written cells are drawn; a curve starts at its first measured row.
    QList<QPointF> points;
    for (int row = 1; row <= ResultGrid::Rows; ++row) {
        if (const std::optional<float> value = m_grid->cellValue(row, column))
            points << QPointF(row, *value);
    }
    m_series[column - 1]->replace(points);
}
