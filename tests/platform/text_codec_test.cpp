// Conversions between window text and the ANSI code page, and the blocks they
// land in.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/text_codec.h"

namespace {

TEST(ConvertToAnsi, GivesTheBytesAndTheirCountInAZeroTerminatedBlock) {
    const wchar_t text[] = L"GET /\r\n";
    AnsiText out = ConvertToAnsi(text, 7);
    ASSERT_TRUE(out.block);
    EXPECT_EQ(out.bytes, 7);
    EXPECT_EQ(out.block.Bytes(), 16u);  // 2 x n + 2
    EXPECT_EQ(std::string(out.block.Narrow()), "GET /\r\n");
}

TEST(ConvertToAnsi, EmptyTextGivesNoBytesAndAnEmptyString) {
    AnsiText out = ConvertToAnsi(L"", 0);
    ASSERT_TRUE(out.block);
    EXPECT_EQ(out.bytes, 0);
    EXPECT_EQ(out.block.Narrow()[0], '\0');
}

TEST(ConvertToAnsi, CharactersTheCodePageLacksTakeItsBestFitOrDefault) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "written for code page 1252, this is " << GetACP();
    }
    const wchar_t text[] = L"\u0100\u4E2D\u20AC";
    AnsiText out = ConvertToAnsi(text, 3);
    ASSERT_EQ(out.bytes, 3);
    EXPECT_EQ(std::string(out.block.Narrow(), 3), "A?\x80");
}

TEST(ConvertFromAnsi, ConvertsEveryByteValueAndTerminates) {
    std::string all;
    for (int b = 1; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    // Room for n characters and the terminator, and a mark just past it.
    std::wstring text(all.size() + 2, L'#');
    int length = ConvertFromAnsi(all.data(), static_cast<int>(all.size()), text.data());
    EXPECT_GT(length, 0);
    EXPECT_LE(static_cast<size_t>(length), all.size());
    EXPECT_EQ(wcslen(text.c_str()), static_cast<size_t>(length));
    EXPECT_EQ(text[all.size() + 1], L'#');
    EXPECT_EQ(text[0], L'\x01');
}

TEST(ZeroedBlock, IsZeroFilledAndMovesItsOwnership) {
    ZeroedBlock a(64);
    ASSERT_TRUE(a);
    for (SIZE_T i = 0; i < a.Bytes(); ++i) {
        ASSERT_EQ(a.Narrow()[i], 0);
    }
    char* memory = a.Narrow();
    ZeroedBlock b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.Narrow(), memory);
    EXPECT_FALSE(AllocateWideText(-1));
}

}  // namespace
