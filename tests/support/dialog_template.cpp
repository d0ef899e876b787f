#include "support/dialog_template.h"

#include <cstdint>

namespace {

struct Reader {
    const BYTE* p;
    const BYTE* end;

    bool Ok() const { return p <= end; }
    WORD Word() {
        WORD w = 0;
        if (p + 2 <= end) {
            w = static_cast<WORD>(p[0] | (p[1] << 8));
        }
        p += 2;
        return w;
    }
    DWORD Dword() {
        DWORD lo = Word();
        DWORD hi = Word();
        return lo | (hi << 16);
    }
    std::wstring String() {
        std::wstring s;
        for (WORD c = Word(); c != 0 && Ok(); c = Word()) {
            s.push_back(static_cast<wchar_t>(c));
        }
        return s;
    }
    // A name or an ordinal: empty, 0xFFFF followed by a number, or a string.
    std::wstring NameOrOrdinal(bool* present, WORD* ordinal) {
        const BYTE* start = p;
        WORD first = Word();
        *present = first != 0;
        if (first == 0) {
            return {};
        }
        if (first == 0xFFFF) {
            *ordinal = Word();
            return {};
        }
        p = start;
        return String();
    }
    void AlignDword(const BYTE* base) {
        while ((p - base) % 4 != 0) {
            ++p;
        }
    }
};

std::wstring ClassName(WORD atom) {
    switch (atom) {
    case 0x80: return L"Button";
    case 0x81: return L"Edit";
    case 0x82: return L"Static";
    case 0x83: return L"ListBox";
    case 0x84: return L"ScrollBar";
    case 0x85: return L"ComboBox";
    default: return L"#" + std::to_wstring(atom);
    }
}

BOOL CALLBACK TakeLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) {
    *reinterpret_cast<LANGID*>(out) = language;
    return FALSE;
}

}  // namespace

DialogTemplate ReadDialogTemplate(HMODULE module, int id) {
    DialogTemplate t;
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    if (!info) {
        return t;
    }
    EnumResourceLanguagesW(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(id), TakeLanguage,
                           reinterpret_cast<LONG_PTR>(&t.language));
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
    Reader r{base, base + SizeofResource(module, info)};
    if (r.p + 4 <= r.end && r.p[2] == 0xFF && r.p[3] == 0xFF) {
        t.extended = true;  // only the classic form is expected; report it
        t.found = true;
        return t;
    }
    t.style = r.Dword();
    t.exStyle = r.Dword();
    WORD count = r.Word();
    t.x = static_cast<short>(r.Word());
    t.y = static_cast<short>(r.Word());
    t.cx = static_cast<short>(r.Word());
    t.cy = static_cast<short>(r.Word());
    WORD ordinal = 0;
    r.NameOrOrdinal(&t.hasMenu, &ordinal);
    r.NameOrOrdinal(&t.hasClass, &ordinal);
    t.title = r.String();
    if (t.style & DS_SETFONT) {
        t.pointSize = r.Word();
        t.font = r.String();
    }
    for (WORD i = 0; i < count && r.Ok(); ++i) {
        r.AlignDword(base);
        DialogItem item;
        item.style = r.Dword();
        item.exStyle = r.Dword();
        item.x = static_cast<short>(r.Word());
        item.y = static_cast<short>(r.Word());
        item.cx = static_cast<short>(r.Word());
        item.cy = static_cast<short>(r.Word());
        item.id = r.Word();
        bool present = false;
        WORD atom = 0;
        std::wstring name = r.NameOrOrdinal(&present, &atom);
        item.className = atom ? ClassName(atom) : name;
        WORD captionOrdinal = 0;
        item.caption = r.NameOrOrdinal(&present, &captionOrdinal);
        WORD extra = r.Word();
        r.p += extra;
        t.items.push_back(item);
    }
    t.found = r.Ok();
    return t;
}
