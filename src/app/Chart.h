#pragma once

#include <QChartView>
#include <QString>
#include <QVector>

#include <optional>

class QLineSeries;
class QValueAxis;

// The results grid drawn as a chart: 80 rows (the frequency points) by a few columns, each
// column one line over the rows. Rows and columns count from 1; cells are given and read as
// text; a series can be hidden without losing its cells; the value axis stays where the
// program puts it while data arrive.
class Chart : public QChartView {
    Q_OBJECT
public:
    static constexpr int Rows = 80;

    explicit Chart(int columns, QWidget* parent = nullptr);

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

    void setSeriesHidden(int series, bool hidden);
    bool seriesHidden(int series) const;

    void setMaximum(double value);
    void setMinimum(double value);
    void setMajorDivision(int divisions);
    void setMinorDivision(int divisions);
    double maximum() const { return m_maximum; }
    double minimum() const { return m_minimum; }
    int majorDivision() const { return m_majorDivision; }
    int minorDivision() const { return m_minorDivision; }

private:
    struct Cell {
        QString text;
        float value = 0;
    };

    void redrawColumn(int column);
    void applyValueScale();

    QVector<QVector<std::optional<Cell>>> m_cells; // [column][row], both from 0
    QVector<QLineSeries*> m_series;
    QValueAxis* m_valueAxis = nullptr;
    int m_column = 1;
    int m_row = 1;
    double m_maximum = 40;
    double m_minimum = 10;
    int m_majorDivision = 6;
    int m_minorDivision = 1;
};
