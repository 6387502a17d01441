// velk-window: finds a message box of any process (a visible top-level
// window of the dialog class "#32770") and reads or presses it as a person
// would, through the window itself.
//
//   velk-window.exe read SECONDS       prints the box's process, caption,
//                                      place (left top width height), text,
//                                      icon kind and buttons
//   velk-window.exe press ID SECONDS   clicks button ID, then waits until
//                                      the box is gone
//
// Output is UTF-8, one "name=value" line each; a carriage return or line
// feed inside a text is written as \r or \n, so a text stays on its line.
// Exit code: 0 done, 1 no box (or it stayed) within SECONDS, 2 usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

void Fail(const char* call) { std::fprintf(stderr, "velk-window: %s failed (%lu)\n", call, GetLastError()); }

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    Fail("WideCharToMultiByte");
    return {};
  }
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::string OneLine(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

// Bytes as they are: the console's code page must not touch UTF-8.
void Print(const std::string& line) {
  std::string text = line + "\n";
  DWORD written = 0;
  if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
    Fail("WriteFile");
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  if (!GetClassNameW(window, name, 64)) return {};
  return name;
}

// WM_GETTEXT crosses into the box's process, where GetWindowTextW would
// read only the caption the system keeps.
std::wstring Text(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    Fail("SendMessageTimeoutW(WM_GETTEXTLENGTH)");
    return {};
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           5000, &copied)) {
    Fail("SendMessageTimeoutW(WM_GETTEXT)");
    return {};
  }
  text.resize(copied);
  return text;
}

BOOL CALLBACK CollectBox(HWND window, LPARAM boxes) {
  if (IsWindowVisible(window) && ClassName(window) == L"#32770")
    reinterpret_cast<std::vector<HWND>*>(boxes)->push_back(window);
  return TRUE;
}

HWND FindBox() {
  std::vector<HWND> boxes;
  EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
  return boxes.empty() ? nullptr : boxes.front();
}

HWND WaitForBox(DWORD seconds) {
  ULONGLONG end = GetTickCount64() + seconds * 1000ULL;
  for (;;) {
    if (HWND box = FindBox()) return box;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(100);
  }
}

std::vector<HWND> Children(HWND box) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) children.push_back(child);
  return children;
}

bool IsIconStatic(HWND window) {
  return ClassName(window) == L"Static" && (GetWindowLongW(window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

// A device-independent 32-bit bitmap selected into a memory DC.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    if (!dc_) Fail("CreateCompatibleDC");
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    if (!bitmap_) Fail("CreateDIBSection");
    if (dc_ && bitmap_) old_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    if (old_) SelectObject(dc_, old_);
    if (bitmap_) DeleteObject(bitmap_);
    if (dc_) DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  bool Ready() const { return old_ != nullptr; }
  HDC Dc() const { return dc_; }
  DWORD Pixel(int x, int y) const { return bits_[y * width_ + x] & 0xFFFFFF; }
  void Fill(DWORD colour) {
    for (int i = 0; i < width_ * height_; ++i) bits_[i] = colour;
  }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  DWORD* bits_ = nullptr;
};

bool Near(DWORD a, DWORD b) {
  for (int shift = 0; shift < 24; shift += 8) {
    int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d > 8 || d < -8) return false;
  }
  return true;
}

// An icon handle means nothing outside its own process, so the icon on
// screen is compared with the system's standard icons drawn here on the
// same background.
std::string IconKind(HWND iconStatic) {
  if (!iconStatic || !IsWindowVisible(iconStatic)) return "none";
  DWORD_PTR icon = 0;
  if (!SendMessageTimeoutW(iconStatic, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon)) {
    Fail("SendMessageTimeoutW(STM_GETICON)");
    return "unknown";
  }
  if (!icon) return "none";
  RECT r;
  if (!GetWindowRect(iconStatic, &r)) {
    Fail("GetWindowRect");
    return "unknown";
  }
  int size = GetSystemMetrics(SM_CXICON);
  Canvas screen(size + 1, size + 1);
  HDC screenDc = GetDC(nullptr);
  if (!screenDc) {
    Fail("GetDC");
    return "unknown";
  }
  BOOL copied =
      screen.Ready() && BitBlt(screen.Dc(), 0, 0, size + 1, size + 1, screenDc, r.left - 1, r.top - 1, SRCCOPY);
  if (!copied) Fail("BitBlt");
  ReleaseDC(nullptr, screenDc);
  if (!copied) return "unknown";
  DWORD background = screen.Pixel(0, 0);  // just outside the control
  const struct {
    LPCWSTR id;
    const char* kind;
  } kinds[] = {
      {IDI_HAND, "error"}, {IDI_EXCLAMATION, "warning"}, {IDI_QUESTION, "question"}, {IDI_ASTERISK, "information"}};
  for (const auto& k : kinds) {
    Canvas drawn(size + 1, size + 1);
    if (!drawn.Ready()) return "unknown";
    drawn.Fill(background);
    if (!DrawIconEx(drawn.Dc(), 1, 1, LoadIconW(nullptr, k.id), size, size, 0, nullptr, DI_NORMAL)) {
      Fail("DrawIconEx");
      return "unknown";
    }
    int differ = 0;
    for (int y = 1; y <= size; ++y)
      for (int x = 1; x <= size; ++x) differ += !Near(drawn.Pixel(x, y), screen.Pixel(x, y));
    if (differ * 20 < size * size) return k.kind;
  }
  return "other";
}

// The program whose window the box is: the installer, its custom-action
// server, or a program of the kit.
std::string ProcessName(HWND window) {
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  std::unique_ptr<void, decltype(&CloseHandle)> process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id),
                                                        &CloseHandle);
  if (!process) {
    Fail("OpenProcess");
    return "unknown";
  }
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) {
    Fail("QueryFullProcessImageNameW");
    return "unknown";
  }
  std::wstring name(path, size);
  return Utf8(name.substr(name.find_last_of(L"\\/") + 1));
}

int Read(HWND box) {
  Print("process=" + ProcessName(box));
  Print("caption=" + OneLine(Text(box)));
  RECT r;
  if (GetWindowRect(box, &r))
    Print("rect=" + std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right - r.left) +
          " " + std::to_string(r.bottom - r.top));
  else
    Fail("GetWindowRect");
  HWND iconStatic = nullptr;
  std::vector<std::string> buttons;
  for (HWND child : Children(box)) {
    std::wstring cls = ClassName(child);
    if (IsIconStatic(child)) {
      iconStatic = child;
    } else if (cls == L"Static" && IsWindowVisible(child)) {
      std::wstring text = Text(child);
      if (!text.empty()) Print("text=" + OneLine(text));
    } else if (cls == L"Button" && IsWindowVisible(child)) {
      buttons.push_back(std::to_string(GetDlgCtrlID(child)) + " " + OneLine(Text(child)));
    }
  }
  Print("icon=" + IconKind(iconStatic));
  for (const auto& b : buttons) Print("button=" + b);
  return 0;
}

// A click's notification to the dialog, as the button itself sends it.
int Press(HWND box, int id, DWORD seconds) {
  HWND button = GetDlgItem(box, id);
  if (!button) {
    Fail("GetDlgItem");
    return 1;
  }
  if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button))) {
    Fail("PostMessageW");
    return 1;
  }
  ULONGLONG end = GetTickCount64() + seconds * 1000ULL;
  while (IsWindow(box)) {
    if (GetTickCount64() >= end) {
      std::fprintf(stderr, "velk-window: the box is still there\n");
      return 1;
    }
    Sleep(100);
  }
  Print("pressed=" + std::to_string(id));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring verb = argc > 1 ? argv[1] : L"";
  bool read = verb == L"read" && argc == 3;
  bool press = verb == L"press" && argc == 4;
  if (!read && !press) {
    std::fprintf(stderr, "usage: velk-window read SECONDS | press ID SECONDS\n");
    return 2;
  }
  DWORD seconds = static_cast<DWORD>(std::wcstoul(argv[argc - 1], nullptr, 10));
  HWND box = WaitForBox(seconds);
  if (!box) {
    std::fprintf(stderr, "velk-window: no message box within %lu s\n", static_cast<unsigned long>(seconds));
    return 1;
  }
  return read ? Read(box) : Press(box, static_cast<int>(std::wcstol(argv[2], nullptr, 10)), seconds);
}
