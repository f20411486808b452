// The parameters of the four modes and the selected page, at the defaults the controls start with.
#include "core/settings.h"

int rotationAngle = 90;
int erosionPixels = 1;
Corner selectedCorner = BottomRight;
int horizontalMarginMM = 0;
int verticalMarginMM = 0;
double scaleFactorX = 1.0;
double scaleFactorY = 1.0;
int currentTab = 0;
