// The real main window for a test: settings at their defaults, the window created as WinMain
// creates it, and destroyed afterwards with its quit message taken off the queue.
#pragma once

#include "test_support.h"

#include "core/settings.h"
#include "shell/window.h"

#include <commctrl.h>

#include <set>
#include <string>

struct MainWindowTest : testing::Test {
    HWND window = nullptr;

    // The settings outlive each window in the test process; a fresh run starts from these.
    static void ResetSettings()
    {
        rotationAngle = 90;
        erosionPixels = 1;
        selectedCorner = BottomRight;
        horizontalMarginMM = 0;
        verticalMarginMM = 0;
        scaleFactorX = 1.0;
        scaleFactorY = 1.0;
        currentTab = 0;
    }

    void SetUp() override
    {
        ResetSettings();
        hInst = GetModuleHandleA(nullptr);
        RegisterMainWindowClass();
        window = CreateMainWindow(SW_SHOWNORMAL);
        ASSERT_NE(window, nullptr);
    }

    void TearDown() override
    {
        if (IsWindow(window)) DestroyWindow(window);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        ResetSettings();
    }

    HWND Control(int id) const { return GetDlgItem(window, id); }

    std::string Text(HWND control) const
    {
        char text[256] = "";
        GetWindowTextA(control, text, sizeof text);
        return text;
    }
    std::string Text(int id) const { return Text(Control(id)); }

    bool Checked(int id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

    // What the tab control tells its parent when the user picks tab `index`.
    LRESULT PickTab(int index, UINT_PTR from = IDC_TAB, UINT code = TCN_SELCHANGE)
    {
        SendMessageA(Control(IDC_TAB), TCM_SETCURSEL, index, 0);
        NMHDR header{Control(IDC_TAB), from, code};
        return SendMessageA(window, WM_NOTIFY, from, reinterpret_cast<LPARAM>(&header));
    }

    std::set<HWND> VisibleChildren() const
    {
        std::set<HWND> visible;
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (IsWindowVisible(child)) visible.insert(child);
        }
        return visible;
    }

    // The two "0.1mm" unit labels, which have no identifier of their own.
    std::set<HWND> UnitLabels() const
    {
        std::set<HWND> labels;
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (GetDlgCtrlID(child) == 0 && Text(child) == "0.1mm") labels.insert(child);
        }
        return labels;
    }
};
