// The parameters of the four modes, the selected page and the control identifiers.
// They start at their defaults on every run and are never stored.
#pragma once

#include "imaging/kernels/margins.h"

enum ControlId {
    IDC_TAB = 100,
    IDC_ROTATE_RIGHT = 101,  // first rotation button: +90
    IDC_ROTATE_LEFT = 102,   // second rotation button: -90
    IDC_DROP_AREA = 103,
    IDC_EROSION_SPIN = 104,
    IDC_EROSION_EDIT = 105,
    IDC_EROSION_DROP_AREA = 106,
    IDC_EROSION_LABEL = 107,
    IDC_CORNER_TOP_LEFT = 108,
    IDC_CORNER_TOP_RIGHT = 109,
    IDC_CORNER_BOTTOM_LEFT = 110,
    IDC_CORNER_BOTTOM_RIGHT = 111,
    IDC_MARGIN_H_EDIT = 112,
    IDC_MARGIN_H_SPIN = 113,
    IDC_MARGIN_V_EDIT = 114,
    IDC_MARGIN_V_SPIN = 115,
    IDC_MARGIN_DROP_AREA = 116,
    IDC_CORNER_LABEL = 117,
    IDC_MARGIN_H_LABEL = 118,
    IDC_MARGIN_V_LABEL = 119,
    IDC_SCALE_X_EDIT = 120,
    IDC_SCALE_Y_EDIT = 121,
    IDC_SCALE_X_LABEL = 122,
    IDC_SCALE_Y_LABEL = 123,
    IDC_SCALE_DROP_AREA = 124,
    IDM_ABOUT = 201,
};

extern int rotationAngle;       // degrees: 90 or -90
extern int erosionPixels;       // passes: 1 to 50
extern Corner selectedCorner;
extern int horizontalMarginMM;  // tenths of a millimetre: -500 to 500
extern int verticalMarginMM;
extern double scaleFactorX;     // 0.0001 to 10
extern double scaleFactorY;
extern int currentTab;          // selected page: 0 Rotation, 1 Erosion, 2 Margins, 3 Scale
