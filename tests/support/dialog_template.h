// Reads a dialog template resource as built, so tests can check the window's
// contract (controls, identifiers, classes, styles, captions) byte for byte.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::wstring className;  // predefined classes by name: Button, Edit, Static, ListBox
    std::wstring caption;
};

struct DialogTemplate {
    bool found = false;
    bool extended = false;
    LANGID language = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    bool hasMenu = false;
    bool hasClass = false;
    std::wstring title;
    WORD pointSize = 0;
    std::wstring font;
    std::vector<DialogItem> items;
};

DialogTemplate ReadDialogTemplate(HMODULE module, int id);
