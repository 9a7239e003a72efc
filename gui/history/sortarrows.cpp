#include "gui/history/sortarrows.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

namespace history
{

namespace
{

constexpr int kProbeSize = 16;

// Whether the style draws this indicator pointing up: the first row of ink
// narrower than the last.
bool pointsUp(QStyle *style, QStyleOptionHeader::SortIndicator indicator)
{
    QStyleOptionHeader option;
    option.rect = QRect(0, 0, kProbeSize, kProbeSize);
    option.palette = QApplication::palette();
    option.sortIndicator = indicator;
    QImage image(kProbeSize, kProbeSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        style->drawPrimitive(QStyle::PE_IndicatorHeaderArrow, &option, &painter, nullptr);
    }
    QList<int> widths;
    for (int y = 0; y < image.height(); ++y) {
        int ink = 0;
        for (int x = 0; x < image.width(); ++x)
            ink += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        if (ink > 0)
            widths << ink;
    }
    return !widths.isEmpty() && widths.first() < widths.last();
}

// Qt asks for SortDown for an ascending column.
class SortArrows : public QProxyStyle
{
public:
    explicit SortArrows(QStyle *base)
        : QProxyStyle(base), flip_(!pointsUp(base, QStyleOptionHeader::SortDown))
    {
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        const auto *header = qstyleoption_cast<const QStyleOptionHeader *>(option);
        if (element != PE_IndicatorHeaderArrow || !header || !flip_) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        QStyleOptionHeader flipped(*header);
        if (header->sortIndicator == QStyleOptionHeader::SortUp)
            flipped.sortIndicator = QStyleOptionHeader::SortDown;
        else if (header->sortIndicator == QStyleOptionHeader::SortDown)
            flipped.sortIndicator = QStyleOptionHeader::SortUp;
        QProxyStyle::drawPrimitive(element, &flipped, painter, widget);
    }

private:
    bool flip_;
};

} // namespace

void showSortArrowsUpAscending(QHeaderView *header)
{
    // A style of the application's kind of its own: the proxy owns its base.
    QStyle *base = QStyleFactory::create(header->style()->name());
    if (!base)
        return;
    auto *style = new SortArrows(base);
    style->setParent(header);
    header->setStyle(style);
}

} // namespace history
