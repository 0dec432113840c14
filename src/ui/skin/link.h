// A hyperlink label: a child window showing a text whose "<A>" … "</A>" span
// (the whole text when it has none) is the clickable part, underlined in the
// browser's link colour; a click opens the target with the shell.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "ui/skin/window.h"

struct link_label_parts {
    std::wstring before;
    std::wstring link;
    std::wstring after;
};
// Splits a label at its first "<A ...>" … "</A>" span (tags in any letter
// case). Without a complete span the whole label is the link.
link_label_parts split_link_label(std::wstring_view label);

// "r,g,b" as the browser keeps its link colours; `fallback` when malformed.
COLORREF parse_color_setting(std::wstring_view text, COLORREF fallback);

class link_c : public window_base_c {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Quillmark.Link";

    link_c() = default;
    ~link_c() override;

    HWND create(HWND parent, const RECT& r, UINT id);
    void set_label(std::wstring_view label);
    void set_font(HFONT font);
    void set_target(std::wstring_view target);

    bool visited() const { return visited_; }
    // The link part's rectangle in client coordinates (as last painted or
    // measured).
    RECT link_rect();

    bool process_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         LRESULT& result) override;

private:
    void paint(HDC dc);
    void layout(HDC dc);
    void open();

    link_label_parts parts_;
    std::wstring target_;
    HFONT font_ = nullptr;
    HFONT underlined_ = nullptr;
    RECT link_rect_{};
    bool visited_ = false;
};
