#include "gui/history/driftchart.h"

#include "core/history/showntext.h"
#include "gui/history/runtablemodel.h"
#include "gui/history/sensorlistmodel.h"

#include <QAreaSeries>
#include <QDateTimeAxis>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QResizeEvent>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace history
{

namespace
{

constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;
// Room either side of the first and last run, so their points are not cut.
constexpr double kTimePadFraction = 0.04;
constexpr qint64 kMinimumTimePadMs = 15 * kDayMs;
constexpr double kValuePadFraction = 0.08;
constexpr double kFlatSlopePadFraction = 0.05;
// The date axis labels its ticks as finely as their spacing needs, so that no
// two neighbouring labels read the same.
constexpr qint64 kMonthMs = 31 * kDayMs;
constexpr char kMonthFormat[] = "yyyy-MM";
constexpr char kDayFormat[] = "yyyy-MM-dd";
constexpr char kMinuteFormat[] = "yyyy-MM-dd hh:mm";

const QColor kHighColor(31, 95, 191);
const QColor kLowColor(123, 63, 160);
const QColor kSlopeColor(220, 120, 0);
const QColor kOutsideColor(Qt::red);
constexpr int kBandAlpha = 45;
constexpr qreal kMarkerSize = 7;
constexpr qreal kOutsideMarkerSize = 11;
// Six entries side by side under a chart half a window wide.
constexpr qreal kLegendFontScale = 0.85;
// The least room for the plot beside a legend in a column.
constexpr int kMinimumPlotWidth = 380;

std::optional<double> plotted(const Reading &reading)
{
    bool ok = false;
    const double value = reading.text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Ticks at least a month apart always fall in different months, at least a
// day apart on different days.
QString timeFormat(qint64 spanMs, int tickCount)
{
    const qint64 step = spanMs / std::max(1, tickCount - 1);
    if (step >= kMonthMs)
        return QLatin1String(kMonthFormat);
    if (step >= kDayMs)
        return QLatin1String(kDayFormat);
    return QLatin1String(kMinuteFormat);
}

struct Range {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void add(double v)
    {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    bool valid() const { return low <= high; }
};

// A window band from the left edge of the chart to its right edge, stepping
// where the window of a run differs from the one before.
QAreaSeries *band(const QList<Run> &runs, Reading Run::*position, qint64 left, qint64 right,
                  Range *values)
{
    struct Window {
        qreal from;
        double low;
        double high;
    };
    QList<Window> windows;
    for (const Run &run : runs) {
        const Reading &r = run.*position;
        if (r.verdict == Verdict::None)
            continue;
        values->add(r.windowLow);
        values->add(r.windowHigh);
        if (windows.isEmpty())
            windows.append({qreal(left), r.windowLow, r.windowHigh});
        else if (windows.last().low != r.windowLow || windows.last().high != r.windowHigh)
            windows.append({qreal(run.started.toMSecsSinceEpoch()), r.windowLow, r.windowHigh});
    }
    if (windows.isEmpty())
        return nullptr;
    QList<QPointF> up;
    QList<QPointF> down;
    for (int i = 0; i < windows.size(); ++i) {
        const Window &w = windows.at(i);
        const qreal to = i + 1 < windows.size() ? windows.at(i + 1).from : qreal(right);
        up << QPointF(w.from, w.high) << QPointF(to, w.high);
        down << QPointF(w.from, w.low) << QPointF(to, w.low);
    }
    auto *upper = new QLineSeries;
    auto *lower = new QLineSeries;
    upper->replace(up);
    lower->replace(down);
    auto *area = new QAreaSeries(upper, lower);
    upper->setParent(area);
    lower->setParent(area);
    return area;
}

QLineSeries *readingLine(const QList<Run> &runs, Reading Run::*position, Range *values,
                         QList<QPointF> *outside)
{
    auto *line = new QLineSeries;
    QList<QPointF> points;
    // A day's later runs found what the one before had left: the sensor as
    // found that day is its first run's, one point, never a line straight up.
    QDate day;
    for (const Run &run : runs) {
        const Reading &r = run.*position;
        const std::optional<double> value = plotted(r);
        if (!value || run.localDate() == day)
            continue;
        day = run.localDate();
        const QPointF point(qreal(run.started.toMSecsSinceEpoch()), *value);
        points.append(point);
        values->add(*value);
        if (r.verdict == Verdict::Fail)
            outside->append(point);
    }
    line->replace(points);
    line->setPointsVisible(true);
    line->setMarkerSize(kMarkerSize);
    return line;
}

void styleBand(QAreaSeries *band, const QColor &color)
{
    QColor fill = color;
    fill.setAlpha(kBandAlpha);
    band->setBrush(fill);
    QPen edge(color.lighter(150));
    edge.setWidthF(0.8);
    edge.setStyle(Qt::DotLine);
    band->setPen(edge);
}

void stylePoints(QXYSeries *series, const QColor &color)
{
    QPen pen(color);
    pen.setWidthF(2);
    series->setPen(pen);
    series->setColor(color);
}

} // namespace

DriftChart::DriftChart(QWidget *parent) : QChartView(parent)
{
    setRenderHint(QPainter::Antialiasing);
    chart()->legend()->setAlignment(Qt::AlignBottom);
    QFont legendFont = chart()->legend()->font();
    legendFont.setPointSizeF(legendFont.pointSizeF() * kLegendFontScale);
    chart()->legend()->setFont(legendFont);
    chart()->setMargins(QMargins(4, 4, 4, 4));
    chart()->layout()->setContentsMargins(0, 0, 0, 0);
    chart()->setBackgroundRoundness(0);
}

QSize DriftChart::minimumSizeHint() const
{
    // The legend beside the chart when there is no room for it below.
    const qreal legend = chart()->legend()->effectiveSizeHint(Qt::PreferredSize).width();
    const QMargins margins = chart()->margins();
    return QSize(int(std::ceil(legend)) + kMinimumPlotWidth + margins.left() + margins.right() +
                     2 * frameWidth(),
                 QChartView::minimumSizeHint().height());
}

void DriftChart::placeLegend(int width)
{
    // The legend asks for the room of its widest entry; each entry takes the
    // same room besides its text (its marker, the spaces), so a row takes that
    // room once per entry and every text beside. A row that does not fit
    // would cut its texts: a column beside the chart then.
    QLegend *legend = chart()->legend();
    const QFontMetricsF metrics(legend->font());
    qreal texts = 0;
    qreal widest = 0;
    int entries = 0;
    for (const QLegendMarker *marker : legend->markers()) {
        if (!marker->isVisible())
            continue;
        const qreal text = metrics.horizontalAdvance(marker->label());
        texts += text;
        widest = std::max(widest, text);
        ++entries;
    }
    const qreal room = legend->effectiveSizeHint(Qt::PreferredSize).width() - widest;
    const QMargins margins = chart()->margins();
    const qreal row = texts + entries * room + margins.left() + margins.right() + 2 * frameWidth();
    legend->setAlignment(row <= width ? Qt::AlignBottom : Qt::AlignRight);
}

void DriftChart::resizeEvent(QResizeEvent *event)
{
    placeLegend(event->size().width());
    QChartView::resizeEvent(event);
    // The view sets its least size to its chart's at every resize, which
    // layouts then take over the hint.
    setMinimumWidth(minimumSizeHint().width());
}

void DriftChart::clear()
{
    QChart *c = chart();
    c->removeAllSeries();
    const QList<QAbstractAxis *> axes = c->axes();
    for (QAbstractAxis *axis : axes) {
        c->removeAxis(axis);
        delete axis;
    }
}

QString DriftChart::toolTipAt(qreal time) const
{
    // A line is hovered between its points too: the nearest run is meant.
    const Run *nearest = nullptr;
    for (const Run &run : runs_) {
        if (!nearest || std::abs(qreal(run.started.toMSecsSinceEpoch()) - time) <
                            std::abs(qreal(nearest->started.toMSecsSinceEpoch()) - time))
            nearest = &run;
    }
    if (nearest) {
        const Run &run = *nearest;
        QStringList lines{
            tr("%1, %2").arg(sensorText(run.sensorType, run.serialNumber), runDateText(run)),
            resultText(run)};
        if (run.foundHigh.taken() || run.foundLow.taken())
            lines << tr("As found: high %1, low %2").arg(run.foundHigh.text, run.foundLow.text);
        lines << tr("Slope in force: %1").arg(slopeAfter(run));
        return plainToolTip(lines.join(QLatin1Char('\n')));
    }
    return QString();
}

void DriftChart::showToolTip(const QPointF &point, bool entered)
{
    if (!entered) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(QCursor::pos(), toolTipAt(point.x()), this);
}

void DriftChart::setRuns(const QList<Run> &runs)
{
    clear();
    runs_ = runs;
    QChart *c = chart();
    if (runs.isEmpty()) {
        c->setTitle(QString());
        return;
    }
    const Run &last = runs.last();
    // The chart draws its title as markup: the sensor's words are escaped.
    c->setTitle(tr("%1: readings as found, and the slope in force")
                    .arg(sensorText(last.sensorType, last.serialNumber))
                    .toHtmlEscaped());

    const qint64 first = runs.first().started.toMSecsSinceEpoch();
    const qint64 end = last.started.toMSecsSinceEpoch();
    const qint64 pad = std::max(qint64((end - first) * kTimePadFraction), kMinimumTimePadMs);
    const qint64 left = first - pad;
    const qint64 right = end + pad;

    Range values;
    QList<QPointF> outside;
    QAreaSeries *highBand = band(runs, &Run::foundHigh, left, right, &values);
    QAreaSeries *lowBand = band(runs, &Run::foundLow, left, right, &values);
    QLineSeries *high = readingLine(runs, &Run::foundHigh, &values, &outside);
    QLineSeries *low = readingLine(runs, &Run::foundLow, &values, &outside);

    auto *failed = new QScatterSeries;
    failed->replace(outside);
    failed->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    failed->setMarkerSize(kOutsideMarkerSize);
    failed->setColor(Qt::transparent);
    QPen failedPen(kOutsideColor);
    failedPen.setWidthF(2);
    failed->setPen(failedPen);

    // A step: each slope holds from its run until the next run changes it.
    auto *slope = new QLineSeries;
    QList<QPointF> slopes;
    Range slopeValues;
    for (const Run &run : runs) {
        bool ok = false;
        const double s = slopeAfter(run).toDouble(&ok);
        if (!ok || !std::isfinite(s))
            continue;
        const qreal x = qreal(run.started.toMSecsSinceEpoch());
        if (!slopes.isEmpty() && slopes.last().y() != s)
            slopes.append({x, slopes.last().y()});
        slopes.append({x, s});
        slopeValues.add(s);
    }
    slope->replace(slopes);
    slope->setPointsVisible(true);
    slope->setMarkerSize(kMarkerSize - 2);
    QPen slopePen(kSlopeColor);
    slopePen.setWidthF(1.5);
    slopePen.setStyle(Qt::DashLine);
    slope->setPen(slopePen);
    slope->setColor(kSlopeColor);

    auto *time = new QDateTimeAxis;
    time->setFormat(timeFormat(right - left, time->tickCount()));
    time->setRange(QDateTime::fromMSecsSinceEpoch(left), QDateTime::fromMSecsSinceEpoch(right));
    time->setTitleText(tr("Date"));
    c->addAxis(time, Qt::AlignBottom);

    auto *reading = new QValueAxis;
    reading->setLabelFormat(QStringLiteral("%.0f"));
    // Axis titles are drawn as markup too.
    reading->setTitleText(last.unit.isEmpty()
                              ? tr("Reading")
                              : tr("Reading (%1)").arg(shown(last.unit)).toHtmlEscaped());
    if (values.valid()) {
        const double padding = std::max((values.high - values.low) * kValuePadFraction, 1.0);
        // A conductivity is never negative: no room below zero for padding.
        const double bottom =
            values.low >= 0 ? std::max(0.0, values.low - padding) : values.low - padding;
        reading->setRange(bottom, values.high + padding);
        reading->applyNiceNumbers();
    }
    c->addAxis(reading, Qt::AlignLeft);

    auto *slopeAxis = new QValueAxis;
    slopeAxis->setTitleText(tr("Slope"));
    slopeAxis->setLabelFormat(QStringLiteral("%.5f"));
    if (slopeValues.valid()) {
        const double spread = slopeValues.high - slopeValues.low;
        const double padding = spread > 0 ? spread * kValuePadFraction
                                          : std::abs(slopeValues.high) * kFlatSlopePadFraction;
        slopeAxis->setRange(slopeValues.low - padding, slopeValues.high + padding);
    }
    QPen slopeAxisPen(kSlopeColor);
    slopeAxis->setLinePen(slopeAxisPen);
    slopeAxis->setLabelsColor(kSlopeColor.darker(120));
    slopeAxis->setTitleBrush(kSlopeColor.darker(120));
    c->addAxis(slopeAxis, Qt::AlignRight);

    const auto add = [&](QAbstractSeries *series, const char *name, const QString &title,
                         QAbstractAxis *valueAxis) {
        if (!series)
            return;
        series->setObjectName(QLatin1String(name));
        series->setName(title);
        c->addSeries(series);
        series->attachAxis(time);
        series->attachAxis(valueAxis);
    };
    if (highBand)
        styleBand(highBand, kHighColor);
    if (lowBand)
        styleBand(lowBand, kLowColor);
    stylePoints(high, kHighColor);
    stylePoints(low, kLowColor);
    for (QXYSeries *points : {static_cast<QXYSeries *>(high), static_cast<QXYSeries *>(low),
                              static_cast<QXYSeries *>(slope)})
        connect(points, &QXYSeries::hovered, this, &DriftChart::showToolTip);
    add(highBand, "highWindow", tr("High window"), reading);
    add(lowBand, "lowWindow", tr("Low window"), reading);
    add(high, "foundHigh", tr("High reading"), reading);
    add(low, "foundLow", tr("Low reading"), reading);
    add(failed, "outside", tr("Outside window"), reading);
    add(slope, "slope", tr("Slope"), slopeAxis);

    // A series with nothing to show keeps no place in the legend.
    if (outside.isEmpty()) {
        for (QLegendMarker *marker : c->legend()->markers(failed))
            marker->setVisible(false);
    }
    placeLegend(width());
    setMinimumWidth(minimumSizeHint().width()); // the legend's width may have changed
}

QImage chartImage(const QList<Run> &runs, const QSize &size, qreal scale)
{
    DriftChart view;
    view.setFrameShape(QFrame::NoFrame);
    view.setRuns(runs);
    view.resize(size);
    // Laid out as if shown (a hidden chart view never sizes its chart), but
    // never mapped.
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    // The scene drawn straight at the image's resolution: lines and text stay
    // sharp, where a widget's render() would scale a screen-sized picture.
    QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        view.scene()->render(&painter, QRectF(image.rect()), QRectF(QPointF(0, 0), QSizeF(size)));
    }
    image.setDevicePixelRatio(scale);
    return image;
}

} // namespace history
