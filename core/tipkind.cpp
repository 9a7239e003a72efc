#include "core/tipkind.h"

#include "core/protocol.h"

#include <QtGlobal>

namespace
{

// The prompt standards are the tip's labels; the record and the windows use
// the standards as measured (220, not 225, for the low position of tip 2).
constexpr TipKind kTipKinds[] = {
    {1,
     "pS/m",
     "2000",
     false,
     QT_TRANSLATE_NOOP("Procedure",
                       "You should be using the VF tip that has a low range value of 200 pS/m  and "
                       "a high range value of 525 pS/m.\r\nPlace VF tip onto sensor stem and "
                       "secure cable to power port.\r\nPlace switch in high position."),
     "You need the standard VF tip",
     "525",
     "200",
     525.0,
     {175.0, 225.0},
     {465.0, 585.0},
     {180000, 225000}},
    {2,
     "pS/cm",
     "2000",
     true,
     QT_TRANSLATE_NOOP("Procedure",
                       "You should be using the VF tip that has a low range value of 225 pS/cm  "
                       "and a high range value of 545 pS/cm.\r\nPlace VF tip onto sensor stem and "
                       "secure cable to power port.\r\nPlace switch in high position."),
     "You need the standard CM VF tip",
     "545",
     "220",
     545.0,
     {195.0, 245.0},
     {485.0, 605.0},
     {155000, 240000}},
    {3,
     "pS/cm",
     "10000",
     true,
     QT_TRANSLATE_NOOP("Procedure",
                       "You should be using the VF tip that has a low range value of 105 pS/cm and "
                       "a high range value of 1055 pS/cm.\r\nPlace VF tip onto sensor stem and "
                       "secure cable to power port.\r\nPlace switch in high position."),
     "You need the newest VF tip",
     "1055",
     "105",
     1055.0,
     {80.0, 130.0},
     {995.0, 1115.0},
     {17000, 37000}},
};

} // namespace

const TipKind *tipKindById(int id)
{
    for (const TipKind &tip : kTipKinds) {
        if (tip.id == id)
            return &tip;
    }
    return nullptr;
}

int chooseTipKindId(const QString &typeLine, const QString &rangeLine)
{
    const QString range =
        protocol::stripPrefix(rangeLine, QLatin1String(protocol::kRangePrefix), Qt::CaseSensitive);
    const bool centimetreModel =
        typeLine.contains(QLatin1String(protocol::kCentimetreModelMarker), Qt::CaseSensitive);
    for (const TipKind &tip : kTipKinds) {
        if (tip.centimetreModel == centimetreModel && range == QLatin1String(tip.maxConductivity))
            return tip.id;
    }
    return kNoTipKind;
}
