#include "app/main_window_win32.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/link_registry.h"
#include "app/messages_win32.h"
#include "app/result_list.h"
#include "app/search_control.h"
#include "http/visit_url.h"
#include "skin/skin_attachment.h"
#include "taviro_config.h"

namespace taviro {
namespace {

constexpr int kOuterWidth = 812;
constexpr int kOuterHeight = 475;
constexpr UINT_PTR kRowCountTimer = 1;
constexpr UINT kRowCountPeriod = 500;
// Rows that arrive in a burst are painted together this long after the first.
constexpr UINT_PTR kListPaintTimer = 2;
constexpr UINT kListPaintDelay = 40;
// Control identifiers stay clear of IDOK and IDCANCEL, which the dialog
// keyboard handling sends for Enter and Esc.
enum ControlId : int {
  kJoinGroupButton = 1001,  // 按钮2
  kResultList,              // 超级列表框1
  kSearchButton,            // 按钮1
  kKeywordBox,              // 编辑框1
};
const char kWindowClass[] = "TaviroMainWindow";
const char kTitle[] = "TaviroV1.0           " TAVIRO_SITE_ADDRESS;

// Thin wrappers over the list view's messages (ANSI: every text is GBK).
//
// Painting the list and recomputing its scroll bars after every inserted row
// dominates a search (tens of milliseconds a row under Wine, with the workers
// queued behind the window's thread). So an appended row holds the list's
// painting for kListPaintDelay, and the rows that arrive meanwhile are
// painted at once. Every row is in the list as soon as AppendRow returns;
// only its drawing waits. Emptying the list is drawn at once.
class ListViewResultList : public ResultList {
 public:
  void Attach(HWND list, HWND owner) {
    list_ = list;
    owner_ = owner;
  }
  int32_t AppendRow() override {
    HoldPainting();
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = RowCount();
    item.pszText = const_cast<char*>("");
    return static_cast<int32_t>(SendMessageA(list_, LVM_INSERTITEMA, 0, (LPARAM)&item));
  }
  // The owner's kListPaintTimer has fired (or the list is emptied).
  void ReleasePainting() {
    if (!paintingHeld_) return;
    paintingHeld_ = false;
    KillTimer(owner_, kListPaintTimer);
    SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(list_, nullptr, nullptr,
                 RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
  }
  void SetCellText(int32_t row, int32_t column, const Text& text) override {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list_, LVM_SETITEMTEXTA, row, (LPARAM)&item);
  }
  void ClearRows() override {
    SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
    ReleasePainting();
  }
  int32_t RowCount() override {
    return static_cast<int32_t>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
  }
  void SetColumnTitle(int32_t column, const Text& text) override {
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT;
    col.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list_, LVM_SETCOLUMNA, column, (LPARAM)&col);
  }
  int32_t SelectedRow() override {
    return static_cast<int32_t>(
        SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }
  Text CellText(int32_t row, int32_t column) override {
    // The control answers the length copied; grow until it fits.
    for (int size = 512;; size *= 2) {
      std::vector<char> buffer(size);
      LVITEMA item{};
      item.iSubItem = column;
      item.pszText = buffer.data();
      item.cchTextMax = size;
      const LRESULT n = SendMessageA(list_, LVM_GETITEMTEXTA, row, (LPARAM)&item);
      if (n < size - 1) return Text(buffer.data(), static_cast<std::size_t>(n));
    }
  }

 private:
  void HoldPainting() {
    if (paintingHeld_) return;
    // Without the timer the list would stay unpainted: insert painted.
    if (SetTimer(owner_, kListPaintTimer, kListPaintDelay, nullptr) == 0) return;
    SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
    paintingHeld_ = true;
  }

  HWND list_ = nullptr;
  HWND owner_ = nullptr;
  bool paintingHeld_ = false;
};

// A worker's task goes to the window by SendMessage, which blocks the worker
// until the user-interface thread has run it; a window that is gone answers
// 0 without running it.
class WindowInvoker : public UiInvoker {
 public:
  void Attach(HWND window) { window_ = window; }
  bool Invoke(const std::function<void()>& task) override {
    return SendMessageA(window_, WM_TAVIRO_INVOKE, 0, (LPARAM)&task) == 1;
  }

 private:
  HWND window_ = nullptr;
};

// The process-wide state.
struct Process {
  std::shared_ptr<LinkRegistry> registry;
  ListViewResultList list;
  std::shared_ptr<WindowInvoker> invoker;
  std::unique_ptr<SearchControl> control;
  HWND window = nullptr;
  HWND keywordBox = nullptr;
};
Process* process = nullptr;

void ShutDown() {
  if (!process) return;
  if (process->control) process->control->EndSearch();
  // The skin library stays mapped until the process ends (skin_attachment.h).
  process->control.reset();  // releases CurrentKeyword
  process->registry.reset();
}

HWND CreateChild(HWND parent, DWORD exStyle, const char* cls, const char* text, DWORD style,
                 int x, int y, int w, int h, int id) {
  HWND child = CreateWindowExA(exStyle, cls, text, WS_CHILD | style, x, y, w, h, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleA(nullptr), nullptr);
  SendMessageA(child, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);
  return child;
}

HWND CreatePageBuffer(HWND parent, int x, int y) {
  HWND box = CreateChild(parent, 0, RICHEDIT_CLASSA, "",
                         WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL, x, y, 16, 16, 0);
  SendMessageA(box, EM_SETTEXTMODE, TM_PLAINTEXT, 0);
  SendMessageA(box, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
  return box;
}

void AddColumn(HWND list, int index, const char* title, int width) {
  LVCOLUMNA col{};
  col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  col.fmt = LVCFMT_LEFT;
  col.cx = width;
  col.pszText = const_cast<char*>(title);
  SendMessageA(list, LVM_INSERTCOLUMNA, index, (LPARAM)&col);
}

void CreateControls(HWND window) {
  CreateChild(window, 0, "STATIC", "如果没有搜索结果请重新搜索或者重启程序.", WS_VISIBLE, 461, 8,
              240, 24, 0);  // 标签2
  CreateChild(window, 0, "BUTTON", "一键加群", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 707, 9, 69,
              24, kJoinGroupButton);
  HWND list = CreateChild(window, WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                          WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL, 0, 48, 808, 400,
                          kResultList);
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  SendMessageA(list, LVM_SETTEXTCOLOR, 0, RGB(0, 0, 0));
  SendMessageA(list, LVM_SETTEXTBKCOLOR, 0, RGB(255, 255, 255));
  SendMessageA(list, LVM_SETBKCOLOR, 0, RGB(255, 255, 255));
  AddColumn(list, 0, "文件名(0)", 400);
  AddColumn(list, 1, "网盘地址(双击打开)", 390);
  process->list.Attach(list, window);
  CreatePageBuffer(window, 288, 176);  // 超级编辑框3
  CreatePageBuffer(window, 336, 224);  // 超级编辑框2
  CreateChild(window, 0, "BUTTON", "搜索", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 355, 8, 98, 25,
              kSearchButton);
  process->keywordBox = CreateChild(window, WS_EX_CLIENTEDGE, "EDIT", "",
                                    WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 133, 10, 200, 25,
                                    kKeywordBox);
  CreateChild(window, 0, "STATIC", "请输入关键字:", WS_VISIBLE, 19, 12, 109, 24, 0);  // 标签1
  SetTimer(window, kRowCountTimer, kRowCountPeriod, nullptr);                         // 时钟1
  CreatePageBuffer(window, 248, 208);  // 超级编辑框1
}

Text KeywordBoxText() {
  const int n = GetWindowTextLengthA(process->keywordBox);
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  const int got = GetWindowTextA(process->keywordBox, &text[0], n + 1);
  return Text(text.data(), static_cast<std::size_t>(got));
}

void ShellOpenLink(const Text& link) {
  ShellExecuteA(nullptr, "open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      process->window = window;
      process->invoker->Attach(window);
      CreateControls(window);
      OnMainWindowCreated();
      return 0;
    case WM_TAVIRO_INVOKE:
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return 1;
    case WM_TIMER:
      if (wParam == kRowCountTimer && process->control) process->control->OnRowCountTick();
      if (wParam == kListPaintTimer) process->list.ReleasePainting();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && process->control) {
        if (LOWORD(wParam) == kSearchButton) process->control->OnSearchClick(KeywordBoxText());
        if (LOWORD(wParam) == kJoinGroupButton) process->control->OnJoinGroupClick();
      }
      return 0;  // IDOK and IDCANCEL (Enter, Esc) do nothing
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == kResultList && header->code == NM_DBLCLK && process->control) {
        process->control->OnResultDoubleClick();
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
      // A press on the background moves the window like one on the title bar.
      ReleaseCapture();
      SendMessageA(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      return 0;
    case WM_HELP:
      return TRUE;
    case WM_DESTROY:
      KillTimer(window, kRowCountTimer);
      KillTimer(window, kListPaintTimer);
      // From here no worker adds a row or touches the registry.
      if (process->control) process->control->EndSearch();
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int RunTaviro(HINSTANCE instance) {
  // 1. The process-wide state (SkinLibrary exists empty in skin_attachment).
  process = new Process;
  process->registry = std::make_shared<LinkRegistry>();
  process->invoker = std::make_shared<WindowInvoker>();
  process->control = std::make_unique<SearchControl>(
      process->registry, process->list, process->invoker,
      [](const Text& url) { return VisitUrl(url); }, ShellOpenLink);
  // 2. Shut-down runs when the process ends.
  std::atexit(ShutDown);
  // 3. The skin library; start-up goes on whatever the outcome.
  LoadSkinLibrary();

  INITCOMMONCONTROLSEX common{sizeof(common), ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&common);
  LoadLibraryA("riched20.dll");

  WNDCLASSEXA cls{};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = MainWindowProc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursor(nullptr, IDC_ARROW);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = kWindowClass;
  cls.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  cls.hIconSm = cls.hIcon;
  RegisterClassExA(&cls);

  // 4. Centred whatever the stored position; fixed frame, tool-window title
  // bar, close box only, still in the taskbar.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - kOuterWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - kOuterHeight) / 2;
  HWND window = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_APPWINDOW, kWindowClass, kTitle,
                                WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, left, top,
                                kOuterWidth, kOuterHeight, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);

  // 5. The message loop. IsDialogMessage gives Tab its meaning among the tab
  // stops; the Enter and Esc commands it sends are ignored.
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageA(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace taviro
