// Settings commands and drop dispatch, driven both by direct calls and through the main window's
// procedure, with recorders in place of the four operations.
#include "main_window.h"

#include "core/dispatch.h"
#include "messages/texts.h"

#include <shlobj.h>

#include <cstring>
#include <ostream>

struct OperationCall {
    std::string operation;
    std::string path;
    int first, second, third;
    double x, y;
    bool operator==(const OperationCall& other) const
    {
        return operation == other.operation && path == other.path && first == other.first &&
               second == other.second && third == other.third && x == other.x && y == other.y;
    }
};
static std::ostream& operator<<(std::ostream& out, const OperationCall& call)
{
    return out << call.operation << "(" << call.path << ", " << call.first << ", " << call.second << ", "
               << call.third << ", " << call.x << ", " << call.y << ")";
}

static std::vector<OperationCall> calls;
static void RecordRotate(const char* path, int angle) { calls.push_back({"rotate", path, angle, 0, 0, 0, 0}); }
static void RecordErode(const char* path, int passes) { calls.push_back({"erode", path, passes, 0, 0, 0, 0}); }
static void RecordMargins(const char* path, Corner corner, int horizontal, int vertical)
{
    calls.push_back({"margins", path, corner, horizontal, vertical, 0, 0});
}
static void RecordScale(const char* path, double x, double y) { calls.push_back({"scale", path, 0, 0, 0, x, y}); }

enum class Route { Direct, WindowProcedure };

struct Dispatch : MainWindowTest, testing::WithParamInterface<Route> {
    Operations savedOperations{};
    const LanguageTexts* savedTexts = nullptr;
    HWND edit = nullptr;

    void SetUp() override
    {
        savedOperations = operations;
        savedTexts = texts;
        MainWindowTest::SetUp();
        operations = {RecordRotate, RecordErode, RecordMargins, RecordScale};
        calls.clear();
        // No parent: setting its text notifies nobody, so only the command under test reaches the settings.
        edit = CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, hInst, nullptr);
    }

    void TearDown() override
    {
        DestroyWindow(edit);
        MainWindowTest::TearDown();
        operations = savedOperations;
        texts = savedTexts;
    }

    void Command(int id, int code = 0)
    {
        if (GetParam() == Route::Direct) OnSettingCommand(id, code, edit);
        else SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(edit));
    }

    void Type(int id, const char* text, int code = EN_CHANGE)
    {
        SetWindowTextA(edit, text);
        Command(id, code);
    }

    // Drops `paths` on page `tab`; expects the drop handle released afterwards.
    void Drop(int tab, const std::vector<std::string>& paths) { DropHandle(tab, MakeDrop(paths)); }
    void DropWide(int tab, const std::vector<std::wstring>& paths) { DropHandle(tab, MakeDrop(paths)); }

    void DropHandle(int tab, HDROP drop)
    {
        currentTab = tab;
        if (GetParam() == Route::Direct) OnDropFiles(drop, window);
        else SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
        EXPECT_EQ(GlobalFlags(drop), static_cast<UINT>(GMEM_INVALID_HANDLE)) << "drop handle not released";
    }

    void ExpectOnlyWarning(const char* text)
    {
        EXPECT_TRUE(calls.empty()) << calls[0];
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].text, text);
        EXPECT_EQ(Messages()[0].caption, texts->invalidFormatTitle);
        EXPECT_EQ(Messages()[0].type, static_cast<UINT>(MB_ICONWARNING));
        EXPECT_EQ(Messages()[0].owner, window);
    }
};

TEST_P(Dispatch, IntegerEditsTakeTheLeadingNumberWithinTheirLimits)
{
    const struct { int id; const char* text; int* setting; int expected; } cases[] = {
        {IDC_MARGIN_H_EDIT, "-", &horizontalMarginMM, 0},
        {IDC_MARGIN_H_EDIT, "600", &horizontalMarginMM, 500},
        {IDC_MARGIN_H_EDIT, "-600", &horizontalMarginMM, -500},
        {IDC_MARGIN_H_EDIT, "-123abc", &horizontalMarginMM, -123},
        {IDC_MARGIN_V_EDIT, "-600", &verticalMarginMM, -500},
        {IDC_MARGIN_V_EDIT, "499", &verticalMarginMM, 499},
        {IDC_MARGIN_V_EDIT, "-99999999999", &verticalMarginMM, -500},
        {IDC_EROSION_EDIT, "", &erosionPixels, 1},
        {IDC_EROSION_EDIT, "0", &erosionPixels, 1},
        {IDC_EROSION_EDIT, "70", &erosionPixels, 50},
        {IDC_EROSION_EDIT, "17", &erosionPixels, 17},
        // Past the int range the value saturates; wrapping around would give 2.
        {IDC_EROSION_EDIT, "4294967298", &erosionPixels, 50},
    };
    for (const auto& c : cases) {
        *c.setting = 12345;
        Type(c.id, c.text);
        EXPECT_EQ(*c.setting, c.expected) << c.id << " \"" << c.text << "\"";
    }
}

TEST_P(Dispatch, ScaleEditsNeverLeaveTheirRangeEvenForNanOrInfinity)
{
    const struct { const char* text; double expected; } cases[] = {
        {"", 0.0001}, {"12", 10}, {"0.5", 0.5}, {"2.25x", 2.25}, {"0.00001", 0.0001}, {"-3", 0.0001},
        {"abc", 0.0001}, {"nan", 0.0001}, {"-nan", 0.0001}, {"inf", 10}, {"INFINITY", 10}, {"-inf", 0.0001},
        {"1e999", 10},
        // Only 15 characters are read: the 5 at position 16 is not seen.
        {"000000000000005", 5}, {"0000000000000005", 0.0001},
    };
    for (const auto& c : cases) {
        scaleFactorX = scaleFactorY = 3.0;
        Type(IDC_SCALE_X_EDIT, c.text);
        EXPECT_EQ(scaleFactorX, c.expected) << "\"" << c.text << "\"";
        Type(IDC_SCALE_Y_EDIT, c.text);
        EXPECT_EQ(scaleFactorY, c.expected) << "\"" << c.text << "\"";
    }
}

TEST_P(Dispatch, RadioButtonsSetAngleAndCornerOnAnyNotification)
{
    Command(IDC_ROTATE_LEFT);
    EXPECT_EQ(rotationAngle, -90);
    Command(IDC_ROTATE_RIGHT, BN_SETFOCUS);
    EXPECT_EQ(rotationAngle, 90);
    const struct { int id; Corner corner; } corners[] = {{IDC_CORNER_TOP_LEFT, TopLeft},
        {IDC_CORNER_TOP_RIGHT, TopRight}, {IDC_CORNER_BOTTOM_LEFT, BottomLeft}, {IDC_CORNER_BOTTOM_RIGHT, BottomRight}};
    for (const auto& c : corners) {
        Command(c.id, BN_CLICKED);
        EXPECT_EQ(selectedCorner, c.corner);
    }
}

TEST_P(Dispatch, OtherNotificationsAndIdentifiersLeaveTheSettingsAlone)
{
    rotationAngle = -90;
    selectedCorner = TopRight;
    const int edits[] = {IDC_EROSION_EDIT, IDC_MARGIN_H_EDIT, IDC_MARGIN_V_EDIT, IDC_SCALE_X_EDIT, IDC_SCALE_Y_EDIT};
    for (int id : edits) {
        for (int code : {EN_UPDATE, EN_SETFOCUS, EN_KILLFOCUS, BN_CLICKED}) Type(id, "7", code);
    }
    const int others[] = {IDC_TAB, IDC_DROP_AREA, IDC_EROSION_SPIN, IDC_MARGIN_H_SPIN, IDC_SCALE_Y_LABEL, 125, 999};
    for (int id : others) Type(id, "7");
    EXPECT_EQ(rotationAngle, -90);
    EXPECT_EQ(erosionPixels, 1);
    EXPECT_EQ(selectedCorner, TopRight);
    EXPECT_EQ(horizontalMarginMM, 0);
    EXPECT_EQ(verticalMarginMM, 0);
    EXPECT_EQ(scaleFactorX, 1.0);
    EXPECT_EQ(scaleFactorY, 1.0);
    EXPECT_TRUE(Messages().empty());
}

TEST_P(Dispatch, EachPageHandsItsFileAndSettingsToItsOperation)
{
    Command(IDC_ROTATE_LEFT);
    Type(IDC_EROSION_EDIT, "70");
    Command(IDC_CORNER_TOP_LEFT);
    Type(IDC_MARGIN_H_EDIT, "-600");
    Type(IDC_MARGIN_V_EDIT, "250");
    Type(IDC_SCALE_X_EDIT, "0.5");
    Type(IDC_SCALE_Y_EDIT, "12");

    Drop(0, {"C:\\scans\\page.png"});
    Drop(1, {"C:\\scans\\mono.BMP"});
    Drop(2, {"C:\\scans\\sheet.Bmp"});
    Drop(3, {"C:\\scans\\photo.JPEG"});
    Drop(7, {"C:\\scans\\anim.gif"});
    Drop(0, {"C:\\scans\\pic.jpg"});

    std::vector<OperationCall> expected = {
        {"rotate", "C:\\scans\\page.png", -90, 0, 0, 0, 0},
        {"erode", "C:\\scans\\mono.BMP", 50, 0, 0, 0, 0},
        {"margins", "C:\\scans\\sheet.Bmp", TopLeft, -500, 250, 0, 0},
        {"scale", "C:\\scans\\photo.JPEG", 0, 0, 0, 0.5, 10},
        {"scale", "C:\\scans\\anim.gif", 0, 0, 0, 0.5, 10},
        {"rotate", "C:\\scans\\pic.jpg", -90, 0, 0, 0, 0},
    };
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(Messages().empty());
}

TEST_P(Dispatch, OnlyTheFirstOfSeveralDroppedFilesCounts)
{
    Drop(0, {"C:\\a\\first.png", "C:\\a\\second.png"});
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, "C:\\a\\first.png");

    calls.clear();
    Drop(1, {"C:\\a\\first.png", "C:\\a\\second.bmp"});
    ExpectOnlyWarning(texts->msgSelectMonoBmp);
}

TEST_P(Dispatch, WrongExtensionWarnsWithThePagesText)
{
    const struct { int tab; const char* path; const char* LanguageTexts::*text; } cases[] = {
        {0, "C:\\in\\scan.tif", &LanguageTexts::msgSelectImage},
        {1, "C:\\in\\scan.png", &LanguageTexts::msgSelectMonoBmp},
        {2, "C:\\in\\scan.png", &LanguageTexts::msgSelectBmp},
        {3, "C:\\in\\scan.bmp.txt", &LanguageTexts::msgSelectScaleImage},
        {3, "C:\\in\\scan.jpgx", &LanguageTexts::msgSelectScaleImage},
        // The dot of a folder name is no extension, and a name without a dot has none.
        {0, "C:\\in.png\\scan", &LanguageTexts::msgSelectImage},
        {2, "C:\\old.bmp\\sheet", &LanguageTexts::msgSelectBmp},
        {1, "C:\\in\\bmp", &LanguageTexts::msgSelectMonoBmp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ClearMessages();
        Drop(c.tab, {c.path});
        ExpectOnlyWarning(texts->*c.text);
    }
    // The warning speaks the active language.
    texts = &textsIT;
    ClearMessages();
    Drop(2, {"C:\\in\\scan.png"});
    ExpectOnlyWarning(textsIT.msgSelectBmp);  // caption compared with the active, Italian, table
}

// A name the operations' buffer or the ANSI code page cannot hold exactly could name another file:
// cut off, or best-fitted ("\u017c" to "z"), so it is refused and nothing is called.
TEST_P(Dispatch, PathTooLongOrOutsideTheCodePageIsRefusedNotChanged)
{
    std::string folder = "C:\\" + std::string(249, 'd') + "\\";
    std::string fits = folder + "ab.png";      // 259 characters: the longest that fits
    std::string tooLong = folder + "abc.png";  // 260: would lose its last character
    ASSERT_EQ(fits.size(), 259u);

    for (const std::wstring& refused : {std::wstring(tooLong.begin(), tooLong.end()), std::wstring(L"C:\\\u017c.png")}) {
        ClearMessages();
        DropWide(0, {refused});
        EXPECT_TRUE(calls.empty());
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].text, texts->msgProcessingError);
        EXPECT_EQ(Messages()[0].caption, texts->errorTitle);
        EXPECT_EQ(Messages()[0].type, static_cast<UINT>(MB_ICONERROR));
        EXPECT_EQ(Messages()[0].owner, window);
    }

    Drop(3, {fits});
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, fits);
}

TEST_P(Dispatch, DropWithoutANameDoesNothing)
{
    Drop(0, {""});
    Drop(0, {});
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Routes, Dispatch, testing::Values(Route::Direct, Route::WindowProcedure),
                         [](const testing::TestParamInfo<Route>& info) {
                             return info.param == Route::Direct ? "Direct" : "WindowProcedure";
                         });
