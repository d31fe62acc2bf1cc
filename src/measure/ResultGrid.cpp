#include "measure/ResultGrid.h"

#include "base/NumberText.h"
#include "measure/GlobalVar.h"

#include <charconv>

ResultGrid::ResultGrid(int columns)
    : m_cells(columns, QVector<std::optional<Cell>>(Rows)), m_hidden(columns, false)
{}

ResultGrid::~ResultGrid() = default;

QString ResultGrid::text(float value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

void ResultGrid::setColumn(int column)
{
    Q_ASSERT(column >= 1 && column <= columnCount());
    m_column = column;
}

void ResultGrid::setRow(int row)
{
    Q_ASSERT(row >= 1 && row <= Rows);
    m_row = row;
}

void ResultGrid::setData(const QString& text)
{
    m_cells[m_column - 1][m_row - 1] = Cell{text, float(LeadingNumber(text))};
    columnChanged(m_column);
}

QString ResultGrid::data() const
{
    return cell(m_row, m_column);
}

QString ResultGrid::cell(int row, int column) const
{
    const auto& c = m_cells.value(column - 1).value(row - 1);
    return c ? c->text : QString();
}

std::optional<float> ResultGrid::cellValue(int row, int column) const
{
    const auto& c = m_cells.value(column - 1).value(row - 1);
    return c ? std::optional<float>(c->value) : std::nullopt;
}

void ResultGrid::setSeriesHidden(int series, bool hidden)
{
    m_hidden[series - 1] = hidden;
    seriesHiddenChanged(series);
}

void ResultGrid::setMaximum(double value)
{
    m_maximum = value;
    scaleChanged();
}

void ResultGrid::setMinimum(double value)
{
    m_minimum = value;
    scaleChanged();
}

void ResultGrid::setMajorDivision(int divisions)
{
    m_majorDivision = divisions;
    scaleChanged();
}

void ResultGrid::setMinorDivision(int divisions)
{
    m_minorDivision = divisions;
    scaleChanged();
}

void ResultGrid::columnChanged(int column)
{
    if (m_listener)
        m_listener->columnChanged(column);
}

void ResultGrid::seriesHiddenChanged(int series)
{
    if (m_listener)
        m_listener->seriesHiddenChanged(series);
}

void ResultGrid::scaleChanged()
{
    if (m_listener)
        m_listener->scaleChanged();
}

void ResultGrid::setScaleFor(MeasKind kind)
{
    const bool returnLoss = kind == MeasKind::ReturnLoss;
    setMaximum(returnLoss ? 40 : 1);
    setMinimum(returnLoss ? 10 : -1);
    setMajorDivision(returnLoss ? 6 : 4);
    setMinorDivision(1);
}

void ResultGrid::fillColumn(int column, float value)
{
    setColumn(column);
    for (int row = 1; row <= Rows; ++row) {
        setRow(row);
        setData(text(value));
    }
}

void ResultGrid::drawLimits(const MeasurementResult& result)
{
    const bool attenuation = result.kind() == MeasKind::Attenuation;
    fillColumn(LimitColumn, result.limitDb);
    if (attenuation)
        fillColumn(NegativeLimitColumn, -result.limitDb);
    setSeriesHidden(LimitColumn, !result.limitsShown);
    setSeriesHidden(NegativeLimitColumn, !(attenuation && result.limitsShown));
}

void ResultGrid::drawCurve(int column, const QVector<MeasuredPoint>& points)
{
    setColumn(column);
    for (const MeasuredPoint& point : points) {
        const int row = qRound(point.frequencyMHz / GridStepMHz);
        if (row < 1 || row > Rows)
            continue;
        setRow(row);
        setData(text(point.value));
    }
}
