#pragma once

#include "measure/MeasType.h"
#include "measure/MeasurementResult.h"

#include <QString>
#include <QVector>

#include <optional>

// The results grid the sweeps write into: 80 rows (the frequency points) by a few columns,
// each column one line over the rows. Rows and columns count from 1; cells are given and read
// as text; a series can be hidden without losing its cells; the value axis stays where the
// program puts it while data arrive. The window draws it as a chart; a run without a window
// keeps it in memory alone. Its six columns: 1 the limit line, 2 the negative limit line,
// 3 .. 6 the curve of each frequency step.
class ResultGrid {
public:
    static constexpr int Rows = 80;
    static constexpr int LimitColumn = 1;
    static constexpr int NegativeLimitColumn = 2;

    // Whoever draws the grid hears what changed, after the change.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void columnChanged(int column) = 0;
        virtual void seriesHiddenChanged(int series) = 0;
        virtual void scaleChanged() = 0;
    };

    explicit ResultGrid(int columns);
    ~ResultGrid();
    ResultGrid(const ResultGrid&) = delete;
    ResultGrid& operator=(const ResultGrid&) = delete;

    void setListener(Listener* listener) { m_listener = listener; }

    // The shortest text that reads back as exactly this value.
    static QString text(float value);

    int rowCount() const { return Rows; }
    int columnCount() const { return int(m_cells.size()); }

    // The selection addresses the cell that setData and data work on.
    void setColumn(int column);
    void setRow(int row);
    void setData(const QString& text);
    QString data() const;

    // Direct access for readers that do not need the selection; empty when never written.
    QString cell(int row, int column) const;
    std::optional<float> cellValue(int row, int column) const;

    void setSeriesHidden(int series, bool hidden);
    bool seriesHidden(int series) const { return m_hidden.at(series - 1); }

    void setMaximum(double value);
    void setMinimum(double value);
    void setMajorDivision(int divisions);
    void setMinorDivision(int divisions);
    // The value axis of a device sweep of the kind: return loss in dB, or the deviation from
    // the nominal attenuation in dB.
    void setScaleFor(MeasKind kind);
    // A limit line: every row of the column at one value.
    void fillColumn(int column, float value);
    // A completed sweep's limit lines as it drew them (hidden where it showed none), and its
    // measured points in a column.
    void drawLimits(const MeasurementResult& result);
    void drawCurve(int column, const QVector<MeasuredPoint>& points);

    double maximum() const { return m_maximum; }
    double minimum() const { return m_minimum; }
    int majorDivision() const { return m_majorDivision; }
    int minorDivision() const { return m_minorDivision; }

private:
    void columnChanged(int column);
    void seriesHiddenChanged(int series);
    void scaleChanged();

    Listener* m_listener = nullptr;
    struct Cell {
        QString text;
        float value = 0;
    };

    QVector<QVector<std::optional<Cell>>> m_cells; // [column][row], both from 0
    QVector<bool> m_hidden;
    int m_column = 1;
    int m_row = 1;
    double m_maximum = 40;
    double m_minimum = 10;
    int m_majorDivision = 6;
    int m_minorDivision = 1;
};
