// The control panel of the main window: the tab strip, the four pages of controls laid over it,
// the page switch and the character filters of the margin and scale edits.
#pragma once

#include <windows.h>

// Edit procedures the filters hand every message they let through to.
extern WNDPROC oldEditProc;
extern WNDPROC oldScaleEditProc;

// Registers the tab and up-down window classes and creates the panel's two fonts, which live until exit.
void InitPanel();
// Creates the tab control and every page control as children of `window`, with the Rotation page shown.
// The up-down set-up writes into the edits, so `window` already receives EN_CHANGE commands here.
void CreatePanel(HWND window);
// A WM_NOTIFY of the main window: a TCN_SELCHANGE from the tab control records the selected page
// in currentTab and shows that page's controls. Anything else is ignored.
void OnPanelNotify(const NMHDR* header);

// Margin edits: digits, control characters and a single leading minus sign.
LRESULT CALLBACK SignedNumberEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
// Scale edits: digits, control characters and a single decimal point anywhere.
LRESULT CALLBACK DecimalNumberEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
