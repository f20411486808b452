// Keeps the settings in step with the controls and hands a dropped file to the selected page's operation.
#include "core/dispatch.h"

#include "core/ansi_path.h"
#include "imaging/operations.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <shlwapi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>

Operations operations = {RotateImage, ErodeImage, AdjustMargins, ScaleImage};

// A number field holds at most 15 characters that matter: the 16-character buffer keeps its terminator.
static const int numberTextSize = 16;

// atoi rules: a leading decimal integer with optional sign, 0 when there are no digits.
// strtol saturates on overflow as the Windows CRT's atoi is documented to, whereas msvcrt's atoi
// under Wine wraps around ("4294967298" gives 2). long is 32 bits on Windows, like int.
static int ReadInteger(HWND edit)
{
    char text[numberTextSize] = "";
    GetWindowTextA(edit, text, numberTextSize);
    return static_cast<int>(std::strtol(text, nullptr, 10));
}

// atof rules: a leading floating-point number, 0 when there is none. atof(s) is strtod(s, nullptr) by
// definition; MinGW's strtod is the C99 one on every runtime, whereas the old msvcrt's atof knows no
// "inf" or "nan", so "inf" would otherwise mean 10 on one Windows and 0.0001 on another.
static double ReadDecimalAsAtof(HWND edit)
{
    char text[numberTextSize] = "";
    GetWindowTextA(edit, text, numberTextSize);
    return std::strtod(text, nullptr);
}

static int Limit(int value, int lowest, int highest)
{
    if (value < lowest) return lowest;
    if (value > highest) return highest;
    return value;
}

// NaN fails every comparison, so it is tested as "not at least the minimum" and takes the minimum,
// like an empty field; +infinity is lowered to the maximum.
static double LimitScale(double factor)
{
    if (!(factor >= 0.0001)) return 0.0001;
    if (factor > 10.0) return 10.0;
    return factor;
}

// Edits change the settings only on EN_CHANGE; the text they show is left as typed.
static void OnEditChange(int id, HWND edit)
{
    switch (id) {
    case IDC_EROSION_EDIT: erosionPixels = Limit(ReadInteger(edit), 1, 50); break;
    case IDC_MARGIN_H_EDIT: horizontalMarginMM = Limit(ReadInteger(edit), -500, 500); break;
    case IDC_MARGIN_V_EDIT: verticalMarginMM = Limit(ReadInteger(edit), -500, 500); break;
    case IDC_SCALE_X_EDIT: scaleFactorX = LimitScale(ReadDecimalAsAtof(edit)); break;
    case IDC_SCALE_Y_EDIT: scaleFactorY = LimitScale(ReadDecimalAsAtof(edit)); break;
    default: break;
    }
}

void OnSettingCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_ROTATE_RIGHT: rotationAngle = 90; break;
    case IDC_ROTATE_LEFT: rotationAngle = -90; break;
    case IDC_CORNER_TOP_LEFT: selectedCorner = TopLeft; break;
    case IDC_CORNER_TOP_RIGHT: selectedCorner = TopRight; break;
    case IDC_CORNER_BOTTOM_LEFT: selectedCorner = BottomLeft; break;
    case IDC_CORNER_BOTTOM_RIGHT: selectedCorner = BottomRight; break;
    default:
        if (code == EN_CHANGE) OnEditChange(id, control);
        break;
    }
}

// Only the name's last dot counts (PathFindExtensionA ignores dots of folders); letter case does not.
template <size_t count>
static bool HasExtension(const char* path, const char* const (&extensions)[count])
{
    const char* extension = PathFindExtensionA(path);
    for (const char* candidate : extensions) {
        if (_stricmp(extension, candidate) == 0) return true;
    }
    return false;
}

bool IsValidImage(const char* path)
{
    static const char* const extensions[] = {".png", ".jpg", ".jpeg", ".gif", ".bmp"};
    return HasExtension(path, extensions);
}

bool IsValidBMP(const char* path)
{
    static const char* const extensions[] = {".bmp"};
    return HasExtension(path, extensions);
}

const char* PageWarning(int tab, const char* path)
{
    switch (tab) {
    case RotationPage: return IsValidImage(path) ? nullptr : texts->msgSelectImage;
    case ErosionPage: return IsValidBMP(path) ? nullptr : texts->msgSelectMonoBmp;
    case MarginsPage: return IsValidBMP(path) ? nullptr : texts->msgSelectBmp;
    default: return IsValidImage(path) ? nullptr : texts->msgSelectScaleImage;
    }
}

// Hands the path to the selected page's operation with copies of its settings, or warns.
static void DispatchFile(const char* path, HWND owner)
{
    if (const char* warning = PageWarning(currentTab, path)) {
        ShowMessage(owner, warning, texts->invalidFormatTitle, MB_ICONWARNING);
        return;
    }
    switch (currentTab) {
    case RotationPage: operations.rotate(path, rotationAngle); break;
    case ErosionPage: operations.erode(path, erosionPixels); break;
    case MarginsPage: operations.adjustMargins(path, selectedCorner, horizontalMarginMM, verticalMarginMM); break;
    default: operations.scale(path, scaleFactorX, scaleFactorY); break;
    }
}

struct DropRelease {
    void operator()(HDROP drop) const { DragFinish(drop); }
};
using DropPtr = std::unique_ptr<std::remove_pointer_t<HDROP>, DropRelease>;

void OnDropFiles(HDROP drop, HWND owner)
{
    DropPtr owned(drop);
    UINT length = DragQueryFileW(drop, 0, nullptr, 0);
    if (length == 0) return;
    std::wstring wide(length + 1, L'\0');
    if (DragQueryFileW(drop, 0, &wide[0], length + 1) == 0) return;
    wide.resize(length);
    // A name cut off by the buffer, or best-fitted to the code page ("ż" as "z"), can name another
    // file that exists, so it is refused rather than processed.
    std::string path;
    if (!ToAnsiPath(wide, path)) {
        ShowMessage(owner, texts->msgProcessingError, texts->errorTitle, MB_ICONERROR);
        return;
    }
    DispatchFile(path.c_str(), owner);
}
