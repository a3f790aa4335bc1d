/* Taviro's skin library: a DLL without a C runtime, made to be mapped from
 * memory by Taviro's own loader (entry point called with module handle 0,
 * no thread-local storage, imports from kernel32, user32 and gdi32 only).
 *
 * SkinH_AttachRes reads a skin (skin_format.h) and skins every top-level
 * window of the calling thread and their controls: background and text
 * colours through the WM_CTLCOLOR* messages their parents receive, buttons
 * painted in the skin's colours, the list view's and its header's colours,
 * and the skin's font. A hook on the thread skins the windows created
 * afterwards. The module handle is never needed: subclassing and the hook
 * work by procedure address. */
#include <windows.h>
#include <commctrl.h>

#include "skin/library/skin_format.h"

/* The compiler may emit calls to these for structure copies and clears. */
void* memset(void* to, int value, size_t n) {
  unsigned char* p = (unsigned char*)to;
  while (n-- > 0) *p++ = (unsigned char)value;
  return to;
}

void* memcpy(void* to, const void* from, size_t n) {
  unsigned char* p = (unsigned char*)to;
  const unsigned char* q = (const unsigned char*)from;
  while (n-- > 0) *p++ = *q++;
  return to;
}

/* The window procedure a skinned window had before, kept in a property. */
static const char kOriginalProc[] = "TaviroSkin.OriginalProc";

static Skin g_skin;
static int g_attached;
static HBRUSH g_brushes[kSkinColourCount];
static HFONT g_font;
static HHOOK g_hook;
/* Every window subclassed, so that unloading can put them all back: a
 * window left pointing into an unmapped image would crash. */
#define kMaxSkinned 1024
static HWND g_skinned[kMaxSkinned];
static int g_skinnedCount;

static COLORREF Colour(int which, int fallback) {
  return (g_skin.hasColour & (1u << which)) ? g_skin.colours[which] : GetSysColor(fallback);
}

static HBRUSH Brush(int which) { return g_brushes[which]; }

static void ReleaseResources(void) {
  int i;
  for (i = 0; i < kSkinColourCount; ++i) {
    if (g_brushes[i] != NULL) DeleteObject(g_brushes[i]);
    g_brushes[i] = NULL;
  }
  if (g_font != NULL) DeleteObject(g_font);
  g_font = NULL;
}

static void CreateResources(void) {
  static const int fallbacks[kSkinColourCount] = {
      COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_WINDOW,
      COLOR_WINDOWTEXT, COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_BTNFACE, COLOR_BTNTEXT};
  int i;
  for (i = 0; i < kSkinColourCount; ++i) g_brushes[i] = CreateSolidBrush(Colour(i, fallbacks[i]));
  if (g_skin.faceName[0] != 0) {
    g_font = CreateFontA(g_skin.fontHeight, 0, 0, 0, g_skin.fontWeight, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                         DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, g_skin.faceName);
  }
}

static int IsClass(HWND hwnd, const char* name) {
  char className[64];
  if (GetClassNameA(hwnd, className, sizeof className) == 0) return 0;
  return lstrcmpiA(className, name) == 0;
}

static int IsPushButton(HWND hwnd) {
  LONG type;
  if (!IsClass(hwnd, "Button")) return 0;
  type = GetWindowLongA(hwnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

static LRESULT CallOriginal(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC original = (WNDPROC)GetPropA(hwnd, kOriginalProc);
  if (original == NULL) return DefWindowProcA(hwnd, message, wParam, lParam);
  return CallWindowProcA(original, hwnd, message, wParam, lParam);
}

static LRESULT ColourControl(HDC dc, int background, int text) {
  SetTextColor(dc, Colour(text, COLOR_WINDOWTEXT));
  SetBkColor(dc, Colour(background, COLOR_WINDOW));
  return (LRESULT)Brush(background);
}

static void PaintButton(HWND hwnd) {
  PAINTSTRUCT paint;
  RECT rect;
  char text[256];
  HDC dc = BeginPaint(hwnd, &paint);
  HFONT font = (HFONT)SendMessageA(hwnd, WM_GETFONT, 0, 0);
  HGDIOBJ oldFont = font != NULL ? SelectObject(dc, font) : NULL;
  const LRESULT state = SendMessageA(hwnd, BM_GETSTATE, 0, 0);
  GetClientRect(hwnd, &rect);
  FillRect(dc, &rect, Brush(kSkinButtonFace));
  DrawEdge(dc, &rect, (state & BST_PUSHED) ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  GetWindowTextA(hwnd, text, sizeof text);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, IsWindowEnabled(hwnd) ? Colour(kSkinButtonText, COLOR_BTNTEXT)
                                         : GetSysColor(COLOR_GRAYTEXT));
  if (state & BST_PUSHED) OffsetRect(&rect, 1, 1);
  DrawTextA(dc, text, -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (GetFocus() == hwnd) {
    InflateRect(&rect, -3, -3);
    DrawFocusRect(dc, &rect);
  }
  if (oldFont != NULL) SelectObject(dc, oldFont);
  EndPaint(hwnd, &paint);
}

/* The list view's header: each item filled and written in the skin's
 * colours. Anything else is left to the header itself. */
static LRESULT PaintHeaderItem(NMCUSTOMDRAW* draw) {
  HDITEMA item;
  char text[256];
  RECT rect = draw->rc;
  if (draw->dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (draw->dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
  memset(&item, 0, sizeof item);
  item.mask = HDI_TEXT;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  text[0] = 0;
  SendMessageA(draw->hdr.hwndFrom, HDM_GETITEMA, (WPARAM)draw->dwItemSpec, (LPARAM)&item);
  FillRect(draw->hdc, &rect, Brush(kSkinHeaderBackground));
  DrawEdge(draw->hdc, &rect, BDR_RAISEDINNER, BF_RIGHT | BF_BOTTOM);
  SetBkMode(draw->hdc, TRANSPARENT);
  SetTextColor(draw->hdc, Colour(kSkinHeaderText, COLOR_BTNTEXT));
  rect.left += 6;
  DrawTextA(draw->hdc, text, -1, &rect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  return CDRF_SKIPDEFAULT;
}

static LRESULT CALLBACK SkinnedProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

static void Unsubclass(HWND hwnd) {
  WNDPROC original = (WNDPROC)GetPropA(hwnd, kOriginalProc);
  if (original == NULL) return;
  if (GetWindowLongPtrA(hwnd, GWLP_WNDPROC) == (LONG_PTR)SkinnedProc) {
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, (LONG_PTR)original);
  }
  RemovePropA(hwnd, kOriginalProc);
}

static LRESULT CALLBACK SkinnedProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
      return ColourControl((HDC)wParam, kSkinWindowBackground, kSkinWindowText);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      return ColourControl((HDC)wParam, kSkinEditBackground, kSkinEditText);
    case WM_ERASEBKGND:
      if (GetParent(hwnd) == NULL) {
        RECT rect;
        GetClientRect(hwnd, &rect);
        FillRect((HDC)wParam, &rect, Brush(kSkinWindowBackground));
        return 1;
      }
      break;
    case WM_PAINT:
      if (IsPushButton(hwnd)) {
        PaintButton(hwnd);
        return 0;
      }
      break;
    case WM_NOTIFY: {
      NMHDR* header = (NMHDR*)lParam;
      if (header != NULL && header->code == NM_CUSTOMDRAW && IsClass(header->hwndFrom, WC_HEADERA)) {
        return PaintHeaderItem((NMCUSTOMDRAW*)lParam);
      }
      break;
    }
    case WM_NCDESTROY: {
      /* Put the original back before it handles its last message. */
      WNDPROC original = (WNDPROC)GetPropA(hwnd, kOriginalProc);
      if (original != NULL) {
        Unsubclass(hwnd);
        return CallWindowProcA(original, hwnd, message, wParam, lParam);
      }
      break;
    }
  }
  return CallOriginal(hwnd, message, wParam, lParam);
}

static void Subclass(HWND hwnd) {
  LONG_PTR original;
  if (GetPropA(hwnd, kOriginalProc) != NULL || g_skinnedCount == kMaxSkinned) return;
  original = GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
  if (original == 0 || original == (LONG_PTR)SkinnedProc) return;
  SetPropA(hwnd, kOriginalProc, (HANDLE)original);
  SetWindowLongPtrA(hwnd, GWLP_WNDPROC, (LONG_PTR)SkinnedProc);
  g_skinned[g_skinnedCount++] = hwnd;
}


static void SkinWindow(HWND hwnd) {
  if (g_font != NULL && GetParent(hwnd) != NULL) SendMessageA(hwnd, WM_SETFONT, (WPARAM)g_font, FALSE);
  if (IsClass(hwnd, WC_LISTVIEWA)) {
    SendMessageA(hwnd, LVM_SETBKCOLOR, 0, (LPARAM)Colour(kSkinListBackground, COLOR_WINDOW));
    SendMessageA(hwnd, LVM_SETTEXTBKCOLOR, 0, (LPARAM)Colour(kSkinListBackground, COLOR_WINDOW));
    SendMessageA(hwnd, LVM_SETTEXTCOLOR, 0, (LPARAM)Colour(kSkinListText, COLOR_WINDOWTEXT));
  }
  /* Parents colour their controls; buttons paint themselves; the list view
   * is its header's parent. */
  Subclass(hwnd);
  InvalidateRect(hwnd, NULL, TRUE);
}

static BOOL CALLBACK SkinChild(HWND hwnd, LPARAM unused) {
  (void)unused;
  SkinWindow(hwnd);
  return TRUE;
}

static BOOL CALLBACK SkinTopLevel(HWND hwnd, LPARAM unused) {
  (void)unused;
  SkinWindow(hwnd);
  EnumChildWindows(hwnd, SkinChild, 0);
  RedrawWindow(hwnd, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  return TRUE;
}

/* Windows of this thread created after the skin was attached. */
static LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const CWPRETSTRUCT* call = (const CWPRETSTRUCT*)lParam;
    if (call->message == WM_CREATE && call->lResult != -1 && g_attached) SkinWindow(call->hwnd);
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

__declspec(dllexport) int WINAPI SkinH_AttachRes(const unsigned char* skin, int length,
                                                 const char* password, int reserved1,
                                                 int reserved2, int reserved3) {
  Skin read;
  /* Our skins are not encrypted and take no options. */
  (void)password, (void)reserved1, (void)reserved2, (void)reserved3;
  if (skin == NULL || length <= 0 || !ReadSkin(skin, (uint32_t)length, &read)) return 0;
  g_skin = read;
  ReleaseResources();
  CreateResources();
  g_attached = 1;
  EnumThreadWindows(GetCurrentThreadId(), SkinTopLevel, 0);
  if (g_hook == NULL) g_hook = SetWindowsHookExA(WH_CALLWNDPROCRET, WatchCreation, NULL,
                                                 GetCurrentThreadId());
  return 1;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance, (void)reserved;
  if (reason == DLL_PROCESS_DETACH) {
    int i;
    if (g_hook != NULL) UnhookWindowsHookEx(g_hook);
    g_hook = NULL;
    for (i = 0; i < g_skinnedCount; ++i) {
      if (IsWindow(g_skinned[i])) Unsubclass(g_skinned[i]);
    }
    g_skinnedCount = 0;
    g_attached = 0;
    ReleaseResources();
  }
  return TRUE;
}
