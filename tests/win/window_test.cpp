// The main window as WinMain makes it: frame, menu, About box, notifications, closing, and files
// dropped on it going all the way through each page's operation.
#include "main_window.h"

#include "messages/texts.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

using MainWindow = MainWindowTest;

TEST_F(MainWindow, FixedFrameAroundA480By410ClientAreaCentredOnScreen)
{
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 480);
    EXPECT_EQ(client.bottom - client.top, 410);

    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);

    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - (outer.right - outer.left)) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - (outer.bottom - outer.top)) / 2);
    EXPECT_EQ(Text(window), texts->appTitle);
}

TEST_F(MainWindow, MenuBarIsTheSingleAboutCommand)
{
    HMENU menu = GetMenu(window);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 1);
    EXPECT_EQ(GetMenuItemID(menu, 0), static_cast<UINT>(IDM_ABOUT));
    EXPECT_EQ(GetSubMenu(menu, 0), nullptr);
    char label[64] = "";
    GetMenuStringA(menu, 0, label, sizeof label, MF_BYPOSITION);
    EXPECT_STREQ(label, texts->menuAbout);
}

TEST_F(MainWindow, AboutShowsTheAboutTextOwnedByTheMainWindow)
{
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].owner, window);
    EXPECT_EQ(Messages()[0].text, texts->aboutText);
    EXPECT_EQ(Messages()[0].caption, texts->aboutTitle);
    EXPECT_EQ(Messages()[0].type, static_cast<UINT>(MB_ICONINFORMATION | MB_OK));
}

TEST_F(MainWindow, EveryNotificationIsAnsweredZero)
{
    // A non-zero answer to TCN_SELCHANGING would stop the tab from changing.
    EXPECT_EQ(PickTab(1, IDC_TAB, TCN_SELCHANGING), 0);
    EXPECT_EQ(PickTab(1, IDC_TAB, TCN_SELCHANGE), 0);
    EXPECT_EQ(PickTab(2, IDC_MARGIN_H_SPIN, UDN_DELTAPOS), 0);
    EXPECT_EQ(PickTab(2, 999, NM_CLICK), 0);
}

TEST_F(MainWindow, ClosingEndsTheMessageLoopWithExitCodeZero)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    DestroyWindow(window);
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
}

// Every pixel a different colour, so the whole turn can be traced.
static unsigned Pattern(int x, int y) { return (unsigned(x) * 70u + 10u) << 16 | (unsigned(y) * 90u + 20u) << 8 | 0x33u; }

TEST_F(MainWindow, PngDroppedOnTheDefaultPageIsTurnedClockwiseAndTheBackupNamed)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    std::string path = folder + "\\name.png";
    SaveImageFile(*MakeRgbImage(3, 2, Pattern), path, L"image/png");

    SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);

    ASSERT_EQ(Messages().size(), 1u);
    char expected[512];
    std::snprintf(expected, sizeof expected, texts->msgRotated, "name1.png");
    EXPECT_EQ(Messages()[0].text, expected);
    EXPECT_EQ(Messages()[0].caption, texts->successTitle);
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"name.png", "name1.png"}));

    MagickImage turned = ReadWithImageMagick(path);
    EXPECT_EQ(turned.format, "PNG");
    ASSERT_EQ(turned.width, 2);
    ASSERT_EQ(turned.height, 3);
    // Clockwise: the result's row y is the source's column y read from the bottom up.
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 2; ++x) {
            EXPECT_EQ(turned.Rgb(x, y), Pattern(y, 1 - x)) << x << "," << y;
        }
    }
    BitmapPtr backup = LoadImageFile(folder + "\\name1.png");
    ASSERT_TRUE(backup);
    EXPECT_EQ(backup->GetWidth(), 3u);
}

// Each page writes its BMP result as the strict 1-bit file, with the page's default settings: a
// clockwise turn, one erosion pass, no margins, a scale of 1.
TEST_F(MainWindow, BmpDroppedOnEachPageComesBackAsTheOneBitFile)
{
    std::string folder = ScratchFolder();
    const int widths[] = {50, 100, 100, 100}, heights[] = {100, 50, 50, 50};
    for (int page = 0; page < 4; ++page) {
        SCOPED_TRACE(page);
        std::string path = CopyFixture("rgb24_600.bmp", folder, "page" + std::to_string(page) + ".bmp");
        PickTab(page);
        ClearMessages();
        SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].caption, texts->successTitle) << Messages()[0].text;
        ExpectMonochromeBmp(path, widths[page], heights[page]);
    }
}

TEST_F(MainWindow, DropFollowsThePickedPage)
{
    std::string folder = ScratchFolder();
    std::string path = folder + "\\page.png";
    SaveImageFile(*MakeRgbImage(3, 2, Pattern), path, L"image/png");
    std::vector<unsigned char> before = ReadBytes(path);

    PickTab(2);
    SendMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);

    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, texts->msgSelectBmp);
    EXPECT_EQ(Messages()[0].owner, window);
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(FolderEntries(folder).size(), 1u);
}
