#include "platform/text_codec.h"

AnsiText ConvertToAnsi(const wchar_t* text, int n) {
    AnsiText out;
    if (n < 0) {
        return out;
    }
    out.block = AllocateWideText(n);  // 2 x n + 2 bytes
    if (!out.block) {
        return out;
    }
    out.bytes = WideCharToMultiByte(CP_ACP, 0, text, n, out.block.Narrow(), static_cast<int>(out.block.Bytes()),
                                    nullptr, nullptr);
    if (out.bytes == static_cast<int>(out.block.Bytes()) ||
        (out.bytes == 0 && n > 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER)) {
        // Only a code page of more than two bytes a character gets here: size
        // the block to the conversion and keep a zero byte after it.
        int needed = WideCharToMultiByte(CP_ACP, 0, text, n, nullptr, 0, nullptr, nullptr);
        out.block = ZeroedBlock(static_cast<SIZE_T>(needed) + 1);
        out.bytes = 0;
        if (needed > 0 && out.block) {
            out.bytes = WideCharToMultiByte(CP_ACP, 0, text, n, out.block.Narrow(), needed, nullptr, nullptr);
        }
    }
    return out;
}

int ConvertFromAnsi(const char* bytes, int n, wchar_t* out) {
    int converted = n > 0 ? MultiByteToWideChar(CP_ACP, 0, bytes, n, out, n) : 0;
    out[converted] = L'\0';
    return converted;
}
