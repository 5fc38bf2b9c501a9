// The localised string table as the module stores it: every language block
// complete, every text as intended, and the Japanese and Chinese blocks
// readable through code page 1252 as their double-byte encodings.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

struct ExpectedText {
    int id;
    const char* utf8;
};

const ExpectedText kExpected[] = {
#include "../resources/strings_expected.inc"
};

struct Block {
    const char* name;
    int offset;
    UINT codePage;  // 0: ordinary wide text; else stored as its bytes in code page 1252
};

void PrintTo(const Block& block, std::ostream* os) { *os << block.name; }

const Block kBlocks[] = {
    {"English", 2000, 0},   {"German", 3000, 0},      {"Spanish", 4000, 0},
    {"French", 5000, 0},    {"Japanese", 6000, 932},  {"Chinese", 7000, 936},
};

std::wstring Widen(UINT codePage, const std::string& bytes) {
    std::wstring out(bytes.size(), L'\0');
    int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                &out[0], static_cast<int>(out.size()));
    out.resize(n > 0 ? n : 0);
    return out;
}

// The wide text as stored, loaded the way the actions load it (1024 characters).
std::wstring LoadWide(int id) {
    wchar_t buffer[1024] = {};
    int n = LoadStringW(GetModuleHandleA(nullptr), id, buffer, 1024);
    return std::wstring(buffer, n > 0 ? n : 0);
}

// The text as the user should see it: Japanese and Chinese go through the
// 1252 conversion the actions apply and are then read in their own code page.
std::wstring LoadText(const Block& block, int id) {
    std::wstring stored = LoadWide(id);
    if (block.codePage == 0 || stored.empty()) return stored;
    char bytes[2048] = {};
    int n = WideCharToMultiByte(1252, WC_COMPOSITECHECK, stored.c_str(), static_cast<int>(stored.size()),
                                bytes, sizeof bytes, nullptr, nullptr);
    return Widen(block.codePage, std::string(bytes, n > 0 ? n : 0));
}

class StringTable : public ::testing::TestWithParam<Block> {};

TEST_P(StringTable, EveryIdOfTheBlockHasTextAndNoMore) {
    const Block& block = GetParam();
    for (int id = block.offset + 1; id <= block.offset + 59; ++id)
        EXPECT_FALSE(LoadWide(id).empty()) << "id " << id;
    EXPECT_TRUE(LoadWide(block.offset + 60).empty());
}

TEST_P(StringTable, TextsAreTheIntendedOnes) {
    const Block& block = GetParam();
    int checked = 0;
    for (const ExpectedText& e : kExpected) {
        if (e.id / 1000 * 1000 != block.offset) continue;
        EXPECT_EQ(LoadText(block, e.id), Widen(CP_UTF8, e.utf8)) << "id " << e.id;
        ++checked;
    }
    EXPECT_EQ(checked, 59);
}

TEST_P(StringTable, ProductNameAndFeaturePlaceholderSurvive) {
    const Block& block = GetParam();
    EXPECT_EQ(LoadText(block, block.offset + 1), L"Orvessa");
    // 2031 is passed to a printf-style formatter with one feature title.
    std::wstring text = LoadText(block, block.offset + 31);
    size_t at = text.find(L'%');
    ASSERT_NE(at, std::wstring::npos);
    EXPECT_EQ(text.compare(at, 2, L"%s"), 0);
    EXPECT_EQ(text.find(L'%', at + 1), std::wstring::npos);
}

INSTANTIATE_TEST_SUITE_P(Languages, StringTable, ::testing::ValuesIn(kBlocks),
                         [](const ::testing::TestParamInfo<Block>& info) { return info.param.name; });

}  // namespace
