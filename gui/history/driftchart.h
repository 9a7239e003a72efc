#pragma once

// One sensor over time: the as-found high and low readings against their
// windows (drawn as bands), and the slope in force after each run on an axis
// of its own, so drift shows at a glance.

#include "core/history/run.h"

#include <QChartView>
#include <QImage>
#include <QList>

namespace history
{

class DriftChart : public QChartView
{
    Q_OBJECT

public:
    explicit DriftChart(QWidget *parent = nullptr);

    // One sensor's runs, oldest first.
    void setRuns(const QList<Run> &runs);

    // What hovering near this time shows: the nearest run's date, sensor,
    // readings and outcome, as a tooltip that shows them literally. Empty
    // without runs.
    QString toolTipAt(qreal time) const;

    // The legend is a row under the chart, or where that would cut its
    // entries a column beside it; never narrower than that.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void clear();
    void placeLegend(int width);
    void showToolTip(const QPointF &point, bool entered);

    QList<Run> runs_;
};

// The chart of these runs drawn into an image (for the printed report).
QImage chartImage(const QList<Run> &runs, const QSize &size, qreal scale);

} // namespace history
