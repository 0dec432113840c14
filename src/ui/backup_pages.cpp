#include "ui/backup_pages.h"

#include <algorithm>

#include "app/app_init.h"
#include "app/language.h"
#include "app/settings.h"
#include "backup/catalogue.h"
#include "platform/text.h"
#include "resources/resource.h"
#include "ui/page_class.h"
#include "ui/prompt.h"
#include "ui/skin/fonts.h"

namespace {

constexpr int TREE_WIDTH = 300;
constexpr COLORREF SEPARATOR_COLOR = RGB(179, 202, 233);
constexpr COLORREF PANEL_TEXT_COLOR = RGB(71, 130, 195);
constexpr COLORREF PROGRESS_BACKGROUND = RGB(226, 240, 253);
constexpr UINT CHECKED = 0x2000, UNCHECKED = 0x1000, NO_CHECK_BOX = 0;

int class_image_of(const device_record* device) {
    return device && device->class_info ? device->class_info->image_index : 0;
}

std::wstring inf_path_of(const wchar_t* name) { return join_path(inf_folder, name); }

void draw_text(HDC dc, int x, int y, const std::wstring& text) {
    TextOutW(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

// A label: its text and a colon, unless the text has one already.
std::wstring label(const char* key) {
    std::wstring text = text_for(key);
    if (text.empty() || (text.back() != L':' && text.back() != L'\uFF1A')) text += L':';
    return text;
}

LPARAM row_parameter(HWND tree, HTREEITEM item) {
    TVITEMW row{};
    row.mask = TVIF_PARAM | TVIF_HANDLE;
    row.hItem = item;
    return TreeView_GetItem(tree, &row) ? row.lParam : 0;
}

}  // namespace

detail_rows backup_details(const device_record* d) {
    return {{"device_detail_list_device_id", d ? d->device_id : L""},
            {"device_detail_list_device_desc", d ? d->display_name : L""},
            {"device_detail_list_manufacturer", d ? d->ProviderName : L""},
            {"device_detail_list_inf_name", d ? inf_path_of(d->InfPath) : L""},
            {"device_detail_list_inf_date", d ? d->DriverDate : L""},
            {"device_detail_list_inf_version", d ? d->DriverVersion : L""}};
}

detail_rows restore_details(const backed_up_device* b) {
    return {{"backup_date", b ? b->backup_date : L""},
            {"device_detail_list_device_id", b ? b->id : L""},
            {"device_detail_list_device_desc", b ? b->desc : L""},
            {"device_detail_list_manufacturer", b ? b->manu : L""},
            {"device_detail_list_inf_name", b ? inf_path_of(b->name) : L""},
            {"device_detail_list_inf_date", b ? b->date : L""},
            {"device_detail_list_inf_version", b ? b->version : L""}};
}

// --- What both pages share ----------------------------------------------------

tree_page_c::~tree_page_c() {
    if (button_images_) ImageList_Destroy(button_images_);
}

HWND tree_page_c::create(HWND owner) { return create_page(*this, owner, false); }

int tree_page_c::check_state(HTREEITEM item) const {
    return static_cast<int>((TreeView_GetItemState(tree_, item, TVIS_STATEIMAGEMASK) >> 12) & 0xF);
}

void tree_page_c::set_check_state(HTREEITEM item, int state) {
    TVITEMW row{};
    row.mask = TVIF_STATE | TVIF_HANDLE;
    row.hItem = item;
    row.stateMask = TVIS_STATEIMAGEMASK;
    row.state = INDEXTOSTATEIMAGEMASK(state);
    TreeView_SetItem(tree_, &row);
}

void tree_page_c::create_controls(const char* button_key, int settings_header_id) {
    HINSTANCE module = resource_module();
    tree_ = CreateWindowExW(0, WC_TREEVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                TVS_DISABLEDRAGDROP | TVS_SHOWSELALWAYS,
                            0, 0, 0, 0, window_, reinterpret_cast<HMENU>(PAGE_TREE_ID), nullptr,
                            nullptr);
    // Check boxes are added after creation, as the tree wants them.
    LONG style = GetWindowLongW(tree_, GWL_STYLE);
    if (!(style & TVS_CHECKBOXES)) SetWindowLongW(tree_, GWL_STYLE, style | TVS_CHECKBOXES);

    button_images_ = create_button_image_list(module, 220, 100, IDB_BIG_BUTTON_NORMAL,
                                              IDB_BIG_BUTTON_PRESSED, IDB_BIG_BUTTON_HOVER);
    CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window_,
                    reinterpret_cast<HMENU>(PAGE_BUTTON_ID), nullptr, nullptr);
    button_.subclass(window_, PAGE_BUTTON_ID, button_images_, ui_font(font_id::verdana_22),
                     RGB(255, 255, 255));
    button_.set_text(text_for(button_key).c_str());
    details_header_.load(module, IDB_DETAILS_HEADER);
    settings_header_.load(module, settings_header_id);
}

LRESULT tree_page_c::on_size(UINT, WPARAM, LPARAM lparam, bool&) {
    MoveWindow(tree_, 0, 20, TREE_WIDTH, HIWORD(lparam) - 25, TRUE);
    SetWindowPos(button_.handle(), nullptr, 440, 320, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return 0;
}

LRESULT tree_page_c::on_set_focus(UINT, WPARAM, LPARAM, bool&) {
    SetFocus(tree_);
    return 0;
}

LRESULT tree_page_c::on_notify(UINT, WPARAM, LPARAM lparam, bool& handled) {
    const auto* header = reinterpret_cast<const NMHDR*>(lparam);
    handled = false;
    if (header->idFrom != PAGE_TREE_ID) return 0;
    if (header->code == NM_CLICK) {
        DWORD at = GetMessagePos();
        TVHITTESTINFO hit{};
        hit.pt = {static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
        ScreenToClient(tree_, &hit.pt);
        HTREEITEM item = TreeView_HitTest(tree_, &hit);
        if (item && (hit.flags & TVHT_ONITEMSTATEICON))
            PostMessageW(window_, UM_TREE_CHECK, 0, reinterpret_cast<LPARAM>(item));
    } else if (header->code == TVN_SELCHANGEDW) {
        selection_changed(reinterpret_cast<const NMTREEVIEWW*>(lparam)->itemNew.lParam);
        RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_INVALIDATE);
        handled = true;
    }
    return 0;
}

HTREEITEM tree_page_c::insert_row(HTREEITEM parent, const wchar_t* text, int image, LPARAM parameter,
                                  bool checkable) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | (image >= 0 ? TVIF_IMAGE | TVIF_SELECTEDIMAGE : 0);
    insert.item.pszText = const_cast<wchar_t*>(text);
    insert.item.iImage = insert.item.iSelectedImage = image;
    insert.item.lParam = parameter;
    HTREEITEM item = TreeView_InsertItem(tree_, &insert);
    if (item && !checkable) set_check_state(item, NO_CHECK_BOX);
    return item;
}

void tree_page_c::reset_tree(bool with_images) {
    TreeView_DeleteAllItems(tree_);
    if (!with_images) return;
    TreeView_SetImageList(tree_, app_device_store ? class_image_list(*app_device_store) : nullptr,
                          TVSIL_NORMAL);
    TreeView_SetIndent(tree_, 22);
}

void tree_page_c::paint_panels(HDC dc, const RECT& client, const char* details_title,
                               const detail_rows& rows, const char* settings_title) {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkColor(dc, SEPARATOR_COLOR);
    RECT separator{TREE_WIDTH, 0, TREE_WIDTH + 1, client.bottom};
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &separator, nullptr, 0, nullptr);
    SetBkMode(dc, TRANSPARENT);

    auto panel = [&](const image_c& header, int y, const char* title) {
        header.draw(dc, 310, y);
        SelectObject(dc, ui_font(font_id::verdana_9_bold));
        SetTextColor(dc, PANEL_TEXT_COLOR);
        draw_text(dc, 330, y + 2, text_for(title));
        SelectObject(dc, ui_font(font_id::verdana_8));
    };
    panel(details_header_, 35, details_title);
    // Values start at 400, or further right where a label is wider.
    int value_x = 400;
    for (const auto& row : rows) {
        const std::wstring text = label(row.first);
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        value_x = std::max(value_x, 310 + static_cast<int>(extent.cx) + 10);
    }
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const int y = 65 + 24 * static_cast<int>(k);
        SetTextColor(dc, RGB(0, 0, 0));
        draw_text(dc, 310, y, label(rows[k].first));
        SetTextColor(dc, PANEL_TEXT_COLOR);
        draw_text(dc, value_x, y, rows[k].second);
    }
    panel(settings_header_, 250, settings_title);
    const std::wstring folder_label = label("config_backup_path");
    SetTextColor(dc, RGB(0, 0, 0));
    draw_text(dc, 310, 280, folder_label);
    SIZE extent{};
    GetTextExtentPoint32W(dc, folder_label.c_str(), static_cast<int>(folder_label.size()), &extent);
    SetTextColor(dc, PANEL_TEXT_COLOR);
    draw_text(dc, 310 + extent.cx + 10, 280, current_settings.backup_path);
}

LRESULT tree_page_c::on_destroy(UINT, WPARAM, LPARAM, bool& handled) {
    worker_.wait();
    handled = false;
    return 0;
}

LRESULT tree_page_c::on_command(UINT, WPARAM wparam, LPARAM, bool& handled) {
    if (LOWORD(wparam) != PAGE_BUTTON_ID || HIWORD(wparam) != 0) {
        handled = false;
        return 0;
    }
    button_clicked();
    return 0;
}

int tree_page_c::show_box(const char* key, unsigned kind) {
    return prompt_user(window_, text_for(key).c_str(), kind);
}

// --- The backup page ---------------------------------------------------------------

bool backup_window_c::process_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                      LRESULT& result) {
    static const message_entry<backup_window_c> map[] = {
        {WM_CREATE, &backup_window_c::on_create},
        {WM_DESTROY, &backup_window_c::on_destroy},
        {WM_SIZE, &backup_window_c::on_size},
        {WM_SETFOCUS, &backup_window_c::on_set_focus},
        {WM_ERASEBKGND, &backup_window_c::on_erase_background},
        {WM_PAINT, &backup_window_c::on_paint},
        {WM_SHOWWINDOW, &backup_window_c::on_show},
        {WM_NOTIFY, &backup_window_c::on_notify},
        {WM_COMMAND, &backup_window_c::on_command},
        {WM_TIMER, &backup_window_c::on_timer},
        {UM_TREE_CHECK, &backup_window_c::on_tree_check},
    };
    return dispatch_message(this, map, message, wparam, lparam, result);
}

LRESULT backup_window_c::on_create(UINT, WPARAM, LPARAM, bool&) {
    HBITMAP pattern = static_cast<HBITMAP>(
        LoadImageW(resource_module(), MAKEINTRESOURCEW(IDB_BACKUP_PROGRESS_PATTERN), IMAGE_BITMAP, 0,
                   0, LR_CREATEDIBSECTION));
    progress_.set_brushes(pattern ? CreatePatternBrush(pattern) : nullptr,
                          CreateSolidBrush(PROGRESS_BACKGROUND));
    if (pattern) DeleteObject(pattern);
    create_controls("btn_backup", IDB_BACKUP_SETTINGS_HEADER);
    return 0;
}

LRESULT backup_window_c::on_show(UINT, WPARAM wparam, LPARAM, bool& handled) {
    if (wparam) fill_tree();
    handled = false;
    return 0;
}

void backup_window_c::fill_tree() {
    // The running backup reads the package list: the tree stays as it is.
    if (busy()) return;
    build_package_list();
    selected_ = nullptr;
    reset_tree(true);
    HTREEITEM available = insert_row(TVI_ROOT, text_for("backup_available_drivers").c_str(), -1, 0, true);
    HTREEITEM inbox = insert_row(TVI_ROOT, text_for("backup_inbox_drivers").c_str(), -1, 0, true);
    for (const driver_package& package : package_list) {
        const device_record* first = package.devices.front();
        const wchar_t* category = first->class_info ? first->class_info->description : L"";
        HTREEITEM row = insert_row(package.inbox ? inbox : available, category, class_image_of(first),
                                   reinterpret_cast<LPARAM>(first), true);
        for (const device_record* device : package.devices)
            insert_row(row, device->display_name, class_image_of(device),
                       reinterpret_cast<LPARAM>(device), false);
    }
    TreeView_SortChildren(tree_, available, FALSE);
    TreeView_Expand(tree_, available, TVE_EXPAND);
    if (TreeView_GetChild(tree_, inbox))
        TreeView_SortChildren(tree_, inbox, FALSE);
    else
        TreeView_DeleteItem(tree_, inbox);
    InvalidateRect(window_, nullptr, FALSE);
}

LRESULT backup_window_c::on_tree_check(UINT, WPARAM, LPARAM lparam, bool&) {
    auto item = reinterpret_cast<HTREEITEM>(lparam);
    const bool checked = check_state(item) == 2;
    if (row_parameter(tree_, item)) {
        // A package row unchecked: its root no longer stands for all of them.
        if (!checked) set_check_state(TreeView_GetParent(tree_, item), 1);
    } else {
        for (HTREEITEM child = TreeView_GetChild(tree_, item); child;
             child = TreeView_GetNextSibling(tree_, child))
            set_check_state(child, checked ? 2 : 1);
    }
    return 0;
}

void backup_window_c::start_backup() {
    if (worker_.holds_thread()) return;
    job_->progress = 0;
    job_->selected.clear();
    HTREEITEM root = TreeView_GetRoot(tree_);
    for (int i = 0; root && i < 2; ++i, root = TreeView_GetNextSibling(tree_, root)) {
        for (HTREEITEM row = TreeView_GetChild(tree_, root); row; row = TreeView_GetNextSibling(tree_, row)) {
            if (check_state(row) != 1)
                job_->selected.push_back(reinterpret_cast<const device_record*>(row_parameter(tree_, row)));
        }
    }
    if (job_->selected.empty()) {
        show_box("backup_no_driver", 1);
        return;
    }
    package_count_ = static_cast<int>(job_->selected.size());
    job_->backup_folder = current_settings.backup_path;
    progress_.fraction = 0.0f;
    std::shared_ptr<backup_job> job = job_;
    if (!worker_.start([job] { return backup_task(*job); })) {
        show_box("backup_failed", 2);
        return;
    }
    SetTimer(window_, BACKUP_TIMER_ID, 200, nullptr);
}

LRESULT backup_window_c::on_timer(UINT, WPARAM wparam, LPARAM, bool& handled) {
    if (wparam != BACKUP_TIMER_ID) {
        handled = false;
        return 0;
    }
    RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_INVALIDATE);
    if (!worker_.collect()) return 0;
    KillTimer(window_, BACKUP_TIMER_ID);
    RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_INVALIDATE);
    if (worker_.result() < 0)
        show_box("backup_failed", 2);
    else
        show_box("backup_completed", 0);
    return 0;
}

void backup_window_c::selection_changed(LPARAM parameter) {
    selected_ = reinterpret_cast<const device_record*>(parameter);
}

LRESULT backup_window_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    paint_page(window_, [this](HDC dc, const RECT& client) { paint(dc, client); });
    return 0;
}

void backup_window_c::paint(HDC dc, const RECT& client) {
    const int saved = SaveDC(dc);
    paint_panels(dc, client, "device_detail_driver_information", backup_details(selected_),
                 "backup_settings");
    if (progress_right_ == 0) progress_right_ = client.right - 20;
    if (package_count_ > 0)
        progress_.fraction = static_cast<float>(job_->progress.load()) / (package_count_ * 100.0f);
    progress_.draw(dc, 320, 430, progress_right_, 450);
    RestoreDC(dc, saved);
}

// --- The restore page ---------------------------------------------------------------

bool restore_window_c::process_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                       LRESULT& result) {
    static const message_entry<restore_window_c> map[] = {
        {WM_CREATE, &restore_window_c::on_create},
        {WM_DESTROY, &restore_window_c::on_destroy},
        {WM_SIZE, &restore_window_c::on_size},
        {WM_SETFOCUS, &restore_window_c::on_set_focus},
        {WM_ERASEBKGND, &restore_window_c::on_erase_background},
        {WM_PAINT, &restore_window_c::on_paint},
        {WM_SHOWWINDOW, &restore_window_c::on_show},
        {WM_NOTIFY, &restore_window_c::on_notify},
        {WM_COMMAND, &restore_window_c::on_command},
        {UM_TREE_CHECK, &restore_window_c::on_tree_check},
    };
    return dispatch_message(this, map, message, wparam, lparam, result);
}

LRESULT restore_window_c::on_create(UINT, WPARAM, LPARAM, bool&) {
    create_controls("btn_restore", IDB_RESTORE_SETTINGS_HEADER);
    return 0;
}

LRESULT restore_window_c::on_show(UINT, WPARAM wparam, LPARAM, bool& handled) {
    handled = false;
    if (wparam && fill_tree() < 0) show_box("restore_no_backup", 0);
    return 0;
}

int restore_window_c::fill_tree() {
    // The rows point into entries_: they go first, and with them the
    // selection, before the entries they point to are replaced.
    reset_tree(false);
    selected_ = nullptr;
    InvalidateRect(window_, nullptr, FALSE);
    load_catalogue();
    entries_.clear();
    if (app_device_store)
        entries_ = restorable_entries(catalogue_snapshot(), current_settings.backup_path, *app_device_store);
    if (entries_.empty()) return -1;
    reset_tree(true);
    // In the order sorting the rows by their text gives; inserted in that
    // order, since Wine's tree lays sorted root rows out wrongly.
    std::stable_sort(entries_.begin(), entries_.end(), [](const backup_entry& a, const backup_entry& b) {
        return lstrcmpiW(ansi_to_wide(a.file).c_str(), ansi_to_wide(b.file).c_str()) < 0;
    });
    for (const backup_entry& entry : entries_) {
        const backed_up_device& first = entry.devices.front();
        HTREEITEM root = insert_row(TVI_ROOT, first.archive, class_image_of(find_device(*app_device_store, first.id)),
                                    reinterpret_cast<LPARAM>(&first), true);
        for (const backed_up_device& backed_up : entry.devices) {
            // The device as it is now; restorable_entries keeps only present ones.
            const device_record* device = find_device(*app_device_store, backed_up.id);
            insert_row(root, device ? device->display_name : backed_up.desc, class_image_of(device),
                       reinterpret_cast<LPARAM>(&backed_up), false);
        }
    }
    return 0;
}

LRESULT restore_window_c::on_tree_check(UINT, WPARAM, LPARAM lparam, bool&) {
    auto item = reinterpret_cast<HTREEITEM>(lparam);
    if (check_state(item) == 1) return 0;
    for (HTREEITEM root = TreeView_GetRoot(tree_); root; root = TreeView_GetNextSibling(tree_, root)) {
        if (root != item) set_check_state(root, 1);
    }
    return 0;
}

void restore_window_c::start_restore() {
    if (request_->running) return;
    worker_.wait();
    const backed_up_device* chosen = nullptr;
    for (HTREEITEM root = TreeView_GetRoot(tree_); root && !chosen;
         root = TreeView_GetNextSibling(tree_, root)) {
        if (check_state(root) != 1)
            chosen = reinterpret_cast<const backed_up_device*>(row_parameter(tree_, root));
    }
    if (!chosen) {
        show_box("restore_no_driver", 1);
        return;
    }
    request_->running = 1;
    request_->archive = chosen->archive;
    request_->backup_folder = current_settings.backup_path;
    request_->environment = current_install_environment();
    request_->environment.owner = GetAncestor(window_, GA_ROOT);
    std::shared_ptr<restore_request> request = request_;
    if (!worker_.start([request] { return restore_task(*request); })) request_->running = 0;
}

void restore_window_c::selection_changed(LPARAM parameter) {
    selected_ = reinterpret_cast<const backed_up_device*>(parameter);
}

LRESULT restore_window_c::on_paint(UINT, WPARAM, LPARAM, bool&) {
    paint_page(window_, [this](HDC dc, const RECT& client) {
        const int saved = SaveDC(dc);
        paint_panels(dc, client, "backup_info", restore_details(selected_), "restore_settings");
        RestoreDC(dc, saved);
    });
    return 0;
}
