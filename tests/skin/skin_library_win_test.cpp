// Our skin library skinning real windows. The 32-bit build goes the
// product's way: the library mapped by our loader from the embedded image,
// the skin attached through AttachSkin. A 64-bit build cannot map or call
// the 32-bit library, so it loads the same sources built as a 64-bit DLL
// with LoadLibraryA and calls SkinH_AttachRes directly.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "skin/library/skin_format.h"
#include "skin/skin_attachment.h"

namespace taviro {
namespace {

uint32_t Attach(const uint8_t* skin, uint32_t length) {
#if defined(_WIN64)
  using AttachRoutine = int(WINAPI*)(const unsigned char*, int, const char*, int, int, int);
  static const AttachRoutine attach = [] {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dll(path);
    dll = dll.substr(0, dll.find_last_of('\\')) + "\\..\\..\\skin\\taviro_skin.dll";
    HMODULE library = LoadLibraryA(dll.c_str());
    return library == nullptr
               ? nullptr
               : reinterpret_cast<AttachRoutine>(
                     reinterpret_cast<void*>(GetProcAddress(library, "SkinH_AttachRes")));
  }();
  if (attach == nullptr) {
    ADD_FAILURE() << "the 64-bit skin library did not load";
    return 0;
  }
  return static_cast<uint32_t>(attach(skin, static_cast<int>(length), nullptr, 0, 0, 0));
#else
  static const bool loaded = [] {
    LoadSkinLibrary();
    return SkinLibrary().GetHandle() != 0;
  }();
  EXPECT_TRUE(loaded);
  return AttachSkinAt(reinterpret_cast<uintptr_t>(skin), length, 0, 0, 0, 0);
#endif
}

// A top-level window with the kinds of controls the main window has.
struct TestWindow {
  HWND top = nullptr, edit = nullptr, button = nullptr, list = nullptr, label = nullptr;

  TestWindow() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TaviroSkinTest";
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&wc);
    top = CreateWindowA("TaviroSkinTest", "skin", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300,
                        nullptr, nullptr, wc.hInstance, nullptr);
    label = Child("Static", "关键字", 0, 10, 10, 60, 20);
    edit = Child("Edit", "", WS_BORDER, 80, 10, 150, 22);
    button = Child("Button", "搜索", BS_PUSHBUTTON, 240, 10, 80, 24);
    list = Child(WC_LISTVIEWA, "", LVS_REPORT, 10, 50, 360, 200);
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = 200;
    column.pszText = const_cast<char*>("文件名");
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    Pump();
  }
  ~TestWindow() { DestroyWindow(top); }

  HWND Child(const char* cls, const char* text, DWORD style, int x, int y, int w, int h) const {
    return CreateWindowA(cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, top, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
  }

  static void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
};

Skin OurSkin() {
  Skin skin{};
  EXPECT_EQ(ReadSkin(SkinData().data(), static_cast<uint32_t>(SkinData().size()), &skin), 1);
  return skin;
}

COLORREF BrushColour(LRESULT brush) {
  LOGBRUSH info = {};
  GetObjectA(reinterpret_cast<HBRUSH>(brush), sizeof info, &info);
  return info.lbColor;
}

// Runs first: the library keeps its skin for the rest of the process.
TEST(SkinLibrary, RejectsAWrongOrShortSkinAndChangesNothing) {
  TestWindow w;
  const LRESULT background = SendMessageA(w.list, LVM_GETBKCOLOR, 0, 0);
  const LONG_PTR procedure = GetWindowLongPtrA(w.top, GWLP_WNDPROC);
  std::vector<uint8_t> skin(SkinData().data(), SkinData().data() + SkinData().size());
  EXPECT_EQ(Attach(skin.data(), static_cast<uint32_t>(skin.size() - 1)), 0u);
  skin[3] = 'X';  // ".SHX"
  EXPECT_EQ(Attach(skin.data(), static_cast<uint32_t>(skin.size())), 0u);
  EXPECT_EQ(Attach(nullptr, 0), 0u);
  EXPECT_EQ(SendMessageA(w.list, LVM_GETBKCOLOR, 0, 0), background);
  EXPECT_EQ(GetWindowLongPtrA(w.top, GWLP_WNDPROC), procedure);
}

TEST(SkinLibrary, SkinsTheThreadsWindowsAndThoseCreatedLater) {
  const Skin skin = OurSkin();
  TestWindow w;
  ASSERT_EQ(Attach(SkinData().data(), static_cast<uint32_t>(SkinData().size())), 1u);
  TestWindow::Pump();

  EXPECT_EQ(static_cast<COLORREF>(SendMessageA(w.list, LVM_GETBKCOLOR, 0, 0)),
            skin.colours[kSkinListBackground]);
  EXPECT_EQ(static_cast<COLORREF>(SendMessageA(w.list, LVM_GETTEXTCOLOR, 0, 0)),
            skin.colours[kSkinListText]);

  HDC dc = CreateCompatibleDC(nullptr);
  const struct {
    UINT message;
    HWND control;
    int background, text;
  } colourings[] = {
      {WM_CTLCOLOREDIT, w.edit, kSkinEditBackground, kSkinEditText},
      {WM_CTLCOLORSTATIC, w.label, kSkinWindowBackground, kSkinWindowText},
  };
  for (const auto& c : colourings) {
    SCOPED_TRACE(c.message);
    const LRESULT brush = SendMessageA(w.top, c.message, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(c.control));
    EXPECT_EQ(BrushColour(brush), skin.colours[c.background]);
    EXPECT_EQ(GetTextColor(dc), skin.colours[c.text]);
  }
  DeleteDC(dc);

  LOGFONTA font = {};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(w.edit, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, skin.faceName);
  EXPECT_EQ(font.lfHeight, skin.fontHeight);

  // Created after the skin was attached.
  HWND later = w.Child(WC_LISTVIEWA, "", LVS_REPORT, 10, 10, 100, 100);
  EXPECT_EQ(static_cast<COLORREF>(SendMessageA(later, LVM_GETBKCOLOR, 0, 0)),
            skin.colours[kSkinListBackground]);

  // The button paints its face in the skin's colour.
  RedrawWindow(w.button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  HDC buttonDc = GetDC(w.button);
  EXPECT_EQ(GetPixel(buttonDc, 6, 6), skin.colours[kSkinButtonFace]);
  ReleaseDC(w.button, buttonDc);
}

}  // namespace
}  // namespace taviro
