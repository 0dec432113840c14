#include "ui/skin/link.h"

#include <cwctype>

#include "platform/registry_text.h"
#include "platform/shell.h"

namespace {

constexpr COLORREF DEFAULT_ANCHOR = RGB(0, 0, 255);
constexpr COLORREF DEFAULT_ANCHOR_VISITED = RGB(128, 0, 128);

// Position of `needle` (lower case) in `text`, ignoring case, from `from`.
std::size_t find_ignoring_case(std::wstring_view text, std::wstring_view needle,
                               std::size_t from) {
    if (needle.size() > text.size()) return std::wstring_view::npos;
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && std::towlower(text[i + k]) == needle[k]) ++k;
        if (k == needle.size()) return i;
    }
    return std::wstring_view::npos;
}

COLORREF anchor_color(bool visited) {
    const wchar_t* name = visited ? L"Anchor Color Visited" : L"Anchor Color";
    COLORREF fallback = visited ? DEFAULT_ANCHOR_VISITED : DEFAULT_ANCHOR;
    wchar_t value[64] = {};
    if (!read_registry_text(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Settings",
                            name, value)) {
        return fallback;
    }
    return parse_color_setting(value, fallback);
}

int text_width(HDC dc, const std::wstring& text) {
    SIZE size{};
    if (text.empty()) return 0;
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

}  // namespace

link_label_parts split_link_label(std::wstring_view label) {
    std::size_t open = find_ignoring_case(label, L"<a", 0);
    while (open != std::wstring_view::npos && open + 2 < label.size() &&
           label[open + 2] != L'>' && !std::iswspace(label[open + 2])) {
        open = find_ignoring_case(label, L"<a", open + 1);
    }
    std::size_t open_end =
        open == std::wstring_view::npos ? open : label.find(L'>', open + 2);
    std::size_t close = open_end == std::wstring_view::npos
                            ? open_end
                            : find_ignoring_case(label, L"</a>", open_end + 1);
    if (close == std::wstring_view::npos) return {L"", std::wstring(label), L""};
    return {std::wstring(label.substr(0, open)),
            std::wstring(label.substr(open_end + 1, close - open_end - 1)),
            std::wstring(label.substr(close + 4))};
}

COLORREF parse_color_setting(std::wstring_view text, COLORREF fallback) {
    int parts[3] = {};
    int count = 0;
    int value = -1;
    for (wchar_t c : text) {
        if (c >= L'0' && c <= L'9') {
            value = (value < 0 ? 0 : value) * 10 + (c - L'0');
            if (value > 255) return fallback;
        } else if (c == L',') {
            if (value < 0 || count >= 2) return fallback;
            parts[count++] = value;
            value = -1;
        } else if (c != L' ') {
            return fallback;
        }
    }
    if (value < 0 || count != 2) return fallback;
    parts[2] = value;
    return RGB(parts[0], parts[1], parts[2]);
}

link_c::~link_c() {
    if (underlined_) DeleteObject(underlined_);
}

HWND link_c::create(HWND parent, const RECT& r, UINT id) {
    register_class(CLASS_NAME, 0, nullptr, nullptr, nullptr, LoadCursorW(nullptr, IDC_ARROW));
    return window_base_c::create(CLASS_NAME, 0, WS_CHILD | WS_VISIBLE, L"", r.left, r.top,
                                 r.right - r.left, r.bottom - r.top, parent,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)));
}

void link_c::set_label(std::wstring_view label) {
    parts_ = split_link_label(label);
    if (window_) InvalidateRect(window_, nullptr, TRUE);
}

void link_c::set_font(HFONT font) {
    font_ = font;
    if (underlined_) DeleteObject(underlined_);
    underlined_ = nullptr;
    LOGFONTW lf{};
    if (font && GetObjectW(font, sizeof(lf), &lf)) {
        lf.lfUnderline = TRUE;
        underlined_ = CreateFontIndirectW(&lf);
    }
    if (window_) InvalidateRect(window_, nullptr, TRUE);
}

void link_c::set_target(std::wstring_view target) { target_.assign(target); }

RECT link_c::link_rect() {
    if (window_) {
        HDC dc = GetDC(window_);
        layout(dc);
        ReleaseDC(window_, dc);
    }
    return link_rect_;
}

void link_c::layout(HDC dc) {
    HGDIOBJ old = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    int x = text_width(dc, parts_.before);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, underlined_ ? underlined_ : (font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT)));
    link_rect_ = RECT{x, 0, x + text_width(dc, parts_.link), tm.tmHeight};
    SelectObject(dc, old);
}

void link_c::paint(HDC dc) {
    RECT client{};
    GetClientRect(window_, &client);
    HBRUSH background = reinterpret_cast<HBRUSH>(
        SendMessageW(GetParent(window_), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(window_)));
    FillRect(dc, &client, background ? background : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    layout(dc);

    HGDIOBJ normal_font = font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT);
    HGDIOBJ old = SelectObject(dc, normal_font);
    SetBkMode(dc, TRANSPARENT);
    COLORREF text_color = GetTextColor(dc);
    TextOutW(dc, 0, 0, parts_.before.c_str(), static_cast<int>(parts_.before.size()));
    SelectObject(dc, underlined_ ? underlined_ : normal_font);
    SetTextColor(dc, anchor_color(visited_));
    TextOutW(dc, link_rect_.left, 0, parts_.link.c_str(), static_cast<int>(parts_.link.size()));
    SelectObject(dc, normal_font);
    SetTextColor(dc, text_color);
    TextOutW(dc, link_rect_.right, 0, parts_.after.c_str(), static_cast<int>(parts_.after.size()));
    SelectObject(dc, old);
}

void link_c::open() {
    visited_ = true;
    InvalidateRect(window_, nullptr, TRUE);
    if (!target_.empty()) shell().open_web_page(target_.c_str());
}

bool link_c::process_message(HWND window, UINT message, WPARAM, LPARAM lparam, LRESULT& result) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        paint(dc);
        EndPaint(window, &ps);
        result = 0;
        return true;
    }
    case WM_ERASEBKGND:
        result = 1;  // painted with the text
        return true;
    case WM_SETCURSOR: {
        POINT p{};
        GetCursorPos(&p);
        ScreenToClient(window, &p);
        if (!PtInRect(&link_rect_, p)) return false;
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        result = TRUE;
        return true;
    }
    case WM_LBUTTONUP: {
        POINT p{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
        RECT r = link_rect();
        if (PtInRect(&r, p)) open();
        result = 0;
        return true;
    }
    default:
        return false;
    }
}
