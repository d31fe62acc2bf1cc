#include "app/Chart.h"

#include "gpib/NumberText.h"

#include <QCategoryAxis>
#include <QLineSeries>
#include <QValueAxis>

#include <charconv>

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

QString Chart::text(float value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

// Built with its chart: a view made without one makes a default chart that setChart would
// orphan.
Chart::Chart(int columns, QWidget* parent) : QChartView(new QChart, parent)
{
    setRenderHint(QPainter::Antialiasing);
    QChart* chart = this->chart();
    chart->legend()->hide();
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 4, 8, 4));

    auto* categoryAxis = new QCategoryAxis;
    categoryAxis->setRange(1, Rows);
    categoryAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (int row = 4; row <= Rows; row += 4)
        categoryAxis->append(QString::number(row * MegahertzPerRow), row);
    categoryAxis->setTitleText(QStringLiteral("MHz"));
    QFont labelFont = categoryAxis->labelsFont();
    labelFont.setPointSizeF(labelFont.pointSizeF() * 0.85);
    categoryAxis->setLabelsFont(labelFont);
    chart->addAxis(categoryAxis, Qt::AlignBottom);

    m_valueAxis = new QValueAxis;
    m_valueAxis->setTitleText(QStringLiteral("dB"));
    m_valueAxis->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(m_valueAxis, Qt::AlignLeft);

    m_cells.resize(columns);
    for (int column = 1; column <= columns; ++column) {
        m_cells[column - 1].resize(Rows);
        auto* series = new QLineSeries;
        series->setName(QStringLiteral("C%1").arg(column));
        series->setPen(seriesPen(column));
        chart->addSeries(series);
        series->attachAxis(categoryAxis);
        series->attachAxis(m_valueAxis);
        m_series << series;
    }
    applyValueScale();
}

void Chart::setColumn(int column)
{
    Q_ASSERT(column >= 1 && column <= columnCount());
    m_column = column;
}

void Chart::setRow(int row)
{
    Q_ASSERT(row >= 1 && row <= Rows);
    m_row = row;
}

void Chart::setData(const QString& text)
{
    m_cells[m_column - 1][m_row - 1] = Cell{text, float(LeadingNumber(text))};
    redrawColumn(m_column);
}

QString Chart::data() const
{
    return cell(m_row, m_column);
}

QString Chart::cell(int row, int column) const
{
    const auto& c = m_cells.value(column - 1).value(row - 1);
    return c ? c->text : QString();
}

void Chart::setSeriesHidden(int series, bool hidden)
{
    m_series[series - 1]->setVisible(!hidden);
}

bool Chart::seriesHidden(int series) const
{
    return !m_series[series - 1]->isVisible();
}

void Chart::setMaximum(double value)
{
    m_maximum = value;
    applyValueScale();
}

void Chart::setMinimum(double value)
{
    m_minimum = value;
    applyValueScale();
}

void Chart::setMajorDivision(int divisions)
{
    m_majorDivision = divisions;
    applyValueScale();
}

void Chart::setMinorDivision(int divisions)
{
    m_minorDivision = divisions;
    applyValueScale();
}

void Chart::applyValueScale()
{
    m_valueAxis->setRange(std::min(m_minimum, m_maximum), std::max(m_minimum, m_maximum));
    m_valueAxis->setTickCount(std::max(2, m_majorDivision + 1));
    m_valueAxis->setMinorTickCount(std::max(0, m_minorDivision - 1));
}

void Chart::redrawColumn(int column)
{
    // Only written cells are drawn; a curve starts at its first measured row.
    QList<QPointF> points;
    const auto& cells = m_cells[column - 1];
    for (int row = 0; row < Rows; ++row) {
        if (cells[row])
            points << QPointF(row + 1, cells[row]->value);
    }
    m_series[column - 1]->replace(points);
}
