#pragma once

// Where the forms place their widgets, as the windows were laid out: every
// suite that checks a place or a size looks it up here.

#include <QRect>
#include <QString>

namespace formgeometry
{

// The windows by class name, the widgets by object name.
inline constexpr char kMainWindow[] = "Widget";
inline constexpr char kCalibrationScreen[] = "CalibrationDlg";
inline constexpr char kInfoBar[] = "InfoBar"; // the status line, a form of its own

struct Place {
    const char *window;
    const char *name;
    QRect geometry; // x, y, width, height in the parent
};

inline const Place kPlaces[] = {
    {kMainWindow, "mainPB_OK", {141, 340, 93, 28}},
    {kMainWindow, "MainPB_Close", {329, 340, 93, 28}},
    {kMainWindow, "mainPB_About", {517, 340, 93, 28}},
    {kMainWindow, "mainLBL_zolvex", {190, 70, 361, 31}},
    {kMainWindow, "mainLBL_Utility", {190, 110, 361, 31}},
    {kMainWindow, "mainLBL_Instruct", {190, 250, 361, 31}},
    {kMainWindow, "label", {40, 0, 165, 16}},
    {kMainWindow, "label_2", {520, 15, 181, 16}},
    {kMainWindow, "label_4", {590, 0, 111, 16}},
    {kMainWindow, "label_3", {40, 30, 46, 16}},
    {kMainWindow, "label_5", {40, 15, 165, 16}},
    {kMainWindow, "label_6", {590, 30, 120, 16}},
    {kMainWindow, "mainTE_Instructions", {190, 160, 371, 87}},
    {kCalibrationScreen, "CalibrationPB_Close", {170, 130, 100, 28}},
    {kCalibrationScreen, "calibrationDlg_Print", {170, 90, 100, 28}},
    {kCalibrationScreen, "calDlg_statusbar", {0, 269, 461, 31}},
    {kCalibrationScreen, "calibrationPB_Connect", {170, 90, 100, 28}},
    {kCalibrationScreen, "calibrationDlgCB_comport", {160, 60, 121, 22}},
    {kCalibrationScreen, "calFRM_Properties", {0, 0, 471, 41}},
    {kCalibrationScreen, "calLBL_type", {10, 13, 46, 13}},
    {kCalibrationScreen, "calLBL_SN", {180, 13, 50, 16}},
    {kCalibrationScreen, "calLE_Type", {40, 10, 125, 20}},
    {kCalibrationScreen, "calLE_SN", {230, 10, 75, 20}},
    {kCalibrationScreen, "calLE_Version", {382, 10, 81, 20}},
    {kCalibrationScreen, "label_11", {330, 13, 46, 13}},
    {kCalibrationScreen, "calLE_OldCslp", {40, 190, 113, 20}},
    {kCalibrationScreen, "calLE_OldCoff", {40, 220, 113, 20}},
    {kCalibrationScreen, "calLE_NewCslp", {200, 190, 113, 20}},
    {kCalibrationScreen, "calLE_LowValue", {350, 190, 113, 20}},
    {kCalibrationScreen, "calLE_NewCoff", {200, 220, 113, 20}},
    {kCalibrationScreen, "calLE_HighValue", {350, 220, 113, 20}},
    {kCalibrationScreen, "label", {50, 170, 101, 20}},
    {kCalibrationScreen, "label_2", {210, 170, 101, 20}},
    {kCalibrationScreen, "label_3", {352, 170, 101, 20}},
    {kCalibrationScreen, "label_4", {10, 190, 24, 16}},
    {kCalibrationScreen, "label_5", {170, 190, 24, 16}},
    {kCalibrationScreen, "label_6", {10, 220, 21, 16}},
    {kCalibrationScreen, "label_7", {170, 220, 21, 16}},
    {kCalibrationScreen, "label_8", {330, 190, 21, 16}},
    {kCalibrationScreen, "label_9", {329, 220, 23, 16}},
    {kCalibrationScreen, "CalLBL_Timer", {360, 240, 91, 21}},
    {kCalibrationScreen, "calLE_HighValue_Validate", {350, 140, 113, 20}},
    {kCalibrationScreen, "calLE_LowValue_Validate", {350, 110, 113, 20}},
    {kCalibrationScreen, "label_10", {355, 90, 101, 20}},
    {kCalibrationScreen, "label_12", {330, 110, 21, 16}},
    {kCalibrationScreen, "label_13", {329, 140, 23, 16}},
    {kInfoBar, "infobar_status", {2, 0, 466, 21}},
};

// The widget's place; an invalid rectangle, which no widget has, for a
// widget not in the table.
inline QRect of(const QString &window, const QString &name)
{
    for (const Place &place : kPlaces) {
        if (window == QLatin1String(place.window) && name == QLatin1String(place.name))
            return place.geometry;
    }
    return QRect();
}

} // namespace formgeometry
