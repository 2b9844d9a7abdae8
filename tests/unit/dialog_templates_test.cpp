// Dialog templates copied with another font face: built templates of both kinds, with and
// without a font block, checked byte for byte and by the dialog Windows creates from the
// copy; and the tool's own template 101 on the Windows versions before and after 6.2.
#include "tool/shell/dialog_templates.h"

#include "sim/machine.h"
#include "tool/shell/resource_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;

struct Item {
    WORD id;
    std::wstring text;
};

// A template as the resource compiler lays it out. Both the input of a case and what its copy
// must become are written with it, so a case reads as "this template, with that face".
struct Layout {
    bool extended;
    bool menuOrdinal;        // menu 0xFFFF 203 (else none)
    const wchar_t* title;    // its length decides where the font block begins
    const wchar_t* face;     // null: no DS_SETFONT, no font block
    WORD pointSize;
    std::vector<Item> items;
};

void put(Bytes& b, const void* data, size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    b.insert(b.end(), p, p + size);
}
void putWord(Bytes& b, WORD w) { put(b, &w, 2); }
void putDword(Bytes& b, DWORD d) { put(b, &d, 4); }
void putString(Bytes& b, const std::wstring& s) { put(b, s.c_str(), (s.size() + 1) * 2); }
void alignDword(Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}

const DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
const DWORD kItemStyle = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;

Bytes build(const Layout& t) {
    Bytes b;
    DWORD style = kDialogStyle | (t.face ? DS_SETFONT : 0);
    if (t.extended) {
        putWord(b, 1);
        putWord(b, 0xFFFF);
        putDword(b, 0);  // help ID
        putDword(b, 0);  // extended style
        putDword(b, style);
    } else {
        putDword(b, style);
        putDword(b, 0);
    }
    putWord(b, static_cast<WORD>(t.items.size()));
    putWord(b, 10), putWord(b, 10), putWord(b, 160), putWord(b, 80);
    if (t.menuOrdinal) putWord(b, 0xFFFF), putWord(b, IDM_MAIN_MENU);
    else putWord(b, 0);
    putWord(b, 0);  // class: the dialog class
    putString(b, t.title);
    if (t.face) {
        putWord(b, t.pointSize);
        // Weight, italic and character set as the resource compiler writes them for a face alone.
        if (t.extended) putWord(b, 0), b.push_back(0), b.push_back(DEFAULT_CHARSET);
        putString(b, t.face);
    }
    for (size_t i = 0; i < t.items.size(); ++i) {
        alignDword(b);
        if (t.extended) {
            putDword(b, 0), putDword(b, 0), putDword(b, kItemStyle);
        } else {
            putDword(b, kItemStyle), putDword(b, 0);
        }
        putWord(b, 7), putWord(b, static_cast<WORD>(7 + 20 * i)), putWord(b, 100), putWord(b, 14);
        if (t.extended) putDword(b, t.items[i].id);
        else putWord(b, t.items[i].id);
        putWord(b, 0xFFFF), putWord(b, 0x0080);  // the button class
        putString(b, t.items[i].text);
        putWord(b, 0);  // no creation data
    }
    return b;
}

Bytes copied(const UniqueLocal& copy) {
    const BYTE* p = static_cast<const BYTE*>(copy.get());
    return Bytes(p, p + LocalSize(copy.get()));
}

INT_PTR CALLBACK plainDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

std::wstring fontFaceOf(HWND dialog) {
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font.lfFaceName;
}

std::wstring textOf(HWND window) {
    wchar_t text[256] = L"";
    GetWindowTextW(window, text, 256);
    return text;
}

const wchar_t kLongFace[] = L"Microsoft JhengHei UI Semilight";  // 31 characters: the most a face has
const std::vector<Item> kTwoItems = {{1001, L"&Safely remove"}, {1002, L"Hide"}};

struct CopyCase {
    const char* name;
    Layout original;
    const wchar_t* newFace;
    WORD keptPointSize;  // what the copy's point size must be
};

void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }

class TemplateCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(TemplateCopy, TakesTheNewFaceAndMovesTheItems) {
    const CopyCase& c = GetParam();
    const Bytes original = build(c.original);
    Layout patched = c.original;
    patched.face = c.newFace;
    patched.pointSize = c.keptPointSize;
    const Bytes expected = build(patched);

    UniqueLocal copy = copyDialogTemplate(original.data(), original.size(), c.newFace);
    ASSERT_TRUE(copy.valid());
    Bytes result = copied(copy);
    // Sized from the template and the face: never smaller than either form, nothing more.
    EXPECT_EQ(result.size(), std::max(original.size(), expected.size()));
    EXPECT_LE(result.size(), original.size() + 72);
    ASSERT_GE(result.size(), expected.size());
    EXPECT_EQ(Bytes(result.begin(), result.begin() + expected.size()), expected);
    EXPECT_EQ(Bytes(result.begin() + expected.size(), result.end()), Bytes(result.size() - expected.size(), 0))
        << "what a shorter face left behind is cleared";

    // Windows reads the copy as the template it should be.
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), static_cast<LPCDLGTEMPLATEW>(copy.get()),
                                             nullptr, &plainDialogProc, 0);
    ASSERT_NE(dialog, nullptr) << GetLastError();
    EXPECT_EQ(fontFaceOf(dialog), c.newFace);
    EXPECT_EQ(textOf(dialog), c.original.title);
    for (const Item& item : c.original.items) {
        EXPECT_EQ(textOf(GetDlgItem(dialog, item.id)), item.text) << item.id;
    }
    DestroyWindow(dialog);
}

INSTANTIATE_TEST_SUITE_P(Table, TemplateCopy, ::testing::Values(
    CopyCase{"ClassicShorterFace", {false, false, L"Odd", L"MS Shell Dlg", 9, kTwoItems}, L"Tahoma", 9},
    CopyCase{"ClassicLongerFace", {false, true, L"Even", L"MS Shell Dlg", 8, kTwoItems}, kLongFace, 8},
    CopyCase{"ClassicSameLength", {false, false, L"Ab", L"MS Shell Dlg", 9, kTwoItems}, L"Meiryo UI Ab", 9},
    CopyCase{"ClassicWithoutFont", {false, false, L"Odd", nullptr, 0, kTwoItems}, L"Segoe UI", 9},
    CopyCase{"ClassicWithoutFontEven", {false, false, L"Even", nullptr, 0, kTwoItems}, kLongFace, 9},
    CopyCase{"ExtendedShorterFace", {true, true, L"Odd", L"MS Shell Dlg", 9, kTwoItems}, L"Tahoma", 9},
    CopyCase{"ExtendedLongerFace", {true, false, L"Even", L"MS Shell Dlg", 10, kTwoItems}, kLongFace, 10},
    CopyCase{"ExtendedWithoutFont", {true, false, L"Odd", nullptr, 0, kTwoItems}, L"Yu Gothic UI", 9},
    CopyCase{"ExtendedWithoutFontEven", {true, true, L"Even", nullptr, 0, kTwoItems}, kLongFace, 9},
    CopyCase{"ExtendedWithoutItems", {true, false, L"Odd", L"MS Shell Dlg", 9, {}}, kLongFace, 9},
    CopyCase{"ClassicWithoutItemsShorter", {false, false, L"Odd", L"MS Shell Dlg", 9, {}}, L"Tahoma", 9}),
    [](const ::testing::TestParamInfo<CopyCase>& info) { return std::string(info.param.name); });

TEST(TemplateCopy, NoFaceCopiesAsItIs) {
    const Bytes original = build({true, true, L"Odd", L"MS Shell Dlg", 9, kTwoItems});
    UniqueLocal copy = copyDialogTemplate(original.data(), original.size(), nullptr);
    ASSERT_TRUE(copy.valid());
    EXPECT_EQ(copied(copy), original);
}

TEST(TemplateCopy, TemplatesShorterThanTheirFieldsAreCopiedUnchanged) {
    const Bytes whole = build({true, false, L"Title", L"MS Shell Dlg", 9, kTwoItems});
    const size_t cuts[] = {3, 20, 26, 30, 40, 60};  // in the header, the menu, the class, the title, the face
    for (size_t cut : cuts) {
        Bytes part(whole.begin(), whole.begin() + cut);
        UniqueLocal copy = copyDialogTemplate(part.data(), part.size(), kLongFace);
        ASSERT_TRUE(copy.valid()) << cut;
        EXPECT_EQ(copied(copy), part) << cut;
    }
}

TEST(TemplateCopy, FontFieldFollowsMenuClassAndTitle) {
    struct Row {
        Layout layout;
        size_t fontField;
    };
    const Row rows[] = {
        {{false, false, L"Odd", L"F", 9, {}}, 18 + 2 + 2 + 8},
        {{false, true, L"Odd", L"F", 9, {}}, 18 + 4 + 2 + 8},
        {{true, false, L"", L"F", 9, {}}, 26 + 2 + 2 + 2},
        {{true, true, L"Even", L"F", 9, {}}, 26 + 4 + 2 + 10},
    };
    for (const Row& r : rows) {
        Bytes b = build(r.layout);
        EXPECT_EQ(findDialogFontField(b.data(), b.size()), r.fontField) << r.layout.title;
    }
}

std::wstring messageFontFace() {
    wchar_t face[FONT_FACE_CAPACITY] = L"";
    EXPECT_TRUE(getMessageFontFace(face, FONT_FACE_CAPACITY));
    return face;
}

Bytes ownResource(WORD id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_DIALOG);
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    return Bytes(p, p + SizeofResource(module, found));
}

TEST(MessageFontFace, IsTheSystemsMessageFont) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    EXPECT_EQ(messageFontFace(), metrics.lfMessageFont.lfFaceName);
    EXPECT_FALSE(messageFontFace().empty());
}

// Another face for the system's message font, for the life of the object. Without
// SPIF_UPDATEINIFILE, Wine keeps the change to this process.
class OtherMessageFont {
public:
    explicit OtherMessageFont(const wchar_t* face) {
        saved_.cbSize = sizeof(saved_);
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(saved_), &saved_, 0);
        NONCLIENTMETRICSW changed = saved_;
        wcscpy(changed.lfMessageFont.lfFaceName, face);
        SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(changed), &changed, 0);
    }
    ~OtherMessageFont() { SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(saved_), &saved_, 0); }
    OtherMessageFont(const OtherMessageFont&) = delete;
    OtherMessageFont& operator=(const OtherMessageFont&) = delete;

private:
    NONCLIENTMETRICSW saved_ = {};
};

struct VersionCase {
    DWORD major, minor;
    bool patched;
};

TEST(LoadDialogTemplate, MessageFontFromWindows62OnWithTheTemplatesPointSize) {
    const VersionCase versions[] = {{5, 1, false}, {6, 0, false}, {6, 1, false},
                                    {6, 2, true},  {6, 3, true},  {10, 0, true}};
    // Wine's own message font is the templates' "MS Shell Dlg": another one shows the change.
    OtherMessageFont segoe(L"Segoe UI");
    const std::wstring face = messageFontFace();
    ASSERT_EQ(face, L"Segoe UI");
    for (WORD id : {WORD(IDD_MAIN_DIALOG), WORD(IDD_ABOUT_BOX)}) {
        const Bytes resource = ownResource(id);
        ASSERT_FALSE(resource.empty());
        for (const VersionCase& v : versions) {
            SimulatedMachine machine;
            machine.majorVersion = v.major;
            machine.minorVersion = v.minor;
            UniqueLocal copy = loadDialogTemplate(GetModuleHandleW(nullptr), id);
            ASSERT_TRUE(copy.valid());
            Bytes result = copied(copy);
            if (!v.patched) {
                EXPECT_EQ(result, resource) << v.major << "." << v.minor;
                continue;
            }
            const size_t field = findDialogFontField(result.data(), result.size());
            ASSERT_NE(field, 0u);
            EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(&result[field + 6])), face);
            // Point size, weight, italic and character set as the template has them.
            EXPECT_EQ(Bytes(result.begin() + field, result.begin() + field + 6),
                      Bytes(resource.begin() + field, resource.begin() + field + 6));
            // "Segoe UI" is four units shorter than "MS Shell Dlg": the items move 8 bytes
            // forward, and the 8 bytes they leave at the end are cleared.
            const size_t items = (field + 6 + 26 + 3) & ~size_t(3);
            ASSERT_EQ(result.size(), resource.size());
            EXPECT_EQ(Bytes(result.begin() + items - 8, result.end() - 8), Bytes(resource.begin() + items, resource.end()));
            EXPECT_EQ(Bytes(result.end() - 8, result.end()), Bytes(8, 0));
            HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                                     reinterpret_cast<LPCDLGTEMPLATEW>(result.data()), nullptr,
                                                     &plainDialogProc, 0);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(fontFaceOf(dialog), face);
            EXPECT_NE(GetDlgItem(dialog, id == IDD_MAIN_DIALOG ? IDC_REMOVE : IDC_USAGE), nullptr);
            DestroyWindow(dialog);
        }
    }
}

TEST(LoadDialogTemplate, MissingTemplateGivesNothing) {
    EXPECT_FALSE(loadDialogTemplate(GetModuleHandleW(nullptr), 999).valid());
    EXPECT_EQ(createDialogFromTemplate(GetModuleHandleW(nullptr), 999, nullptr, &plainDialogProc, 0), nullptr);
    EXPECT_EQ(dialogBoxFromTemplate(GetModuleHandleW(nullptr), 999, nullptr, &plainDialogProc, 0), -1);
}

}  // namespace
