#include "ui/scan_flow.h"

#include <process.h>

#include <cstring>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/language.h"
#include "devices/device_store.h"
#include "devices/system_info.h"
#include "platform/text.h"
#include "service/scan_request.h"
#include "service/update_client.h"
#include "platform/worker_thread.h"

namespace {

unsigned __stdcall run_scan_job(void* argument) {
    auto* job = static_cast<scan_job*>(argument);
    job->result = job->function(job->context);
    return 0;
}

// The application's client code for the update service; this build has none.
constexpr const char* CLIENT_CODE = "";

wchar_t network_error_text[1024];

}  // namespace

HANDLE start_scan_job(scan_job& job) {
    job.result = -1;  // stays so when no thread runs the job
    if (!job.function) return nullptr;
    uintptr_t thread = start_worker_thread(run_scan_job, &job);
    return reinterpret_cast<HANDLE>(thread);
}

int32_t run_enumeration(void* context) {
    auto* progress = static_cast<scan_progress*>(context);
    if (!app_device_store) {
        last_error = 17;
        return -1;
    }
    return enumerate_devices(*app_device_store, *progress) ? 0 : -1;
}

int32_t run_query(void* context) {
    return query_updates(*static_cast<scan_query_params*>(context)) == 0 ? 0 : -1;
}

void fill_scan_query_params(scan_query_params& params) {
    params.os_code_name = os_code_name();
    params.client_code = CLIENT_CODE;
    params.model = machine_info.model;
    params.os_version = os_version_number();
    params.language_code = static_cast<int32_t>(oem_code_page);
    clear_query_outputs(params);
}

void clear_query_outputs(scan_query_params& params) {
    params.http_status = 0;
    std::memset(params.error_text, 0, sizeof(params.error_text));
}

void prepare_query(scan_query_params& params) {
    params.model = machine_info.model;
    clear_query_outputs(params);
}

void allow_query() {
    if (app_update_client) app_update_client->stop_flag = 0;
}

void stop_query() {
    if (app_update_client) app_update_client->stop_flag = 1;
}

const wchar_t* scan_error_text(int code, const scan_query_params& params) {
    switch (code) {
    case 3:
        return text_for("error_network_timeout").c_str();
    case 7:
    case 24:
        return text_for("error_internal_error").c_str();
    case 21:
        return text_for("error_invalid_date").c_str();
    case 20: {
        // The output may arrive without its terminator: read at most its size.
        std::size_t n = strnlen(params.error_text, sizeof(params.error_text));
        if (n > 0) {
            copy_text(network_error_text, ansi_to_wide(std::string_view(params.error_text, n)));
        } else {
            format_text(network_error_text, 1024, text_for("error_network_error").c_str(),
                        static_cast<int>(params.http_status));
        }
        return network_error_text;
    }
    default:
        return nullptr;
    }
}

const wchar_t* worker_start_failure_text() { return text_for("error_internal_error").c_str(); }

const wchar_t* waiting_dots(int64_t now) {
    static const wchar_t* const dots[3] = {L".", L"..", L"..."};
    int64_t i = now % 3;
    return dots[i < 0 ? i + 3 : i];
}

std::wstring format_elapsed(int64_t seconds) {
    int64_t s = seconds < 0 ? 0 : seconds % 86400;
    wchar_t text[16];
    _snwprintf(text, 16, L"%02d:%02d:%02d", static_cast<int>(s / 3600),
               static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
    text[15] = L'\0';
    return text;
}

namespace {

std::wstring format_local_clock(int64_t when) {
    __time64_t t = when;
    struct tm local {};
    if (_localtime64_s(&local, &t) != 0) return L"--:--:--";
    wchar_t text[16] = {};
    if (wcsftime(text, 16, L"%H:%M:%S", &local) == 0) return L"--:--:--";
    return text;
}

}  // namespace

void format_scan_status_line(int line, const scan_status_values& values,
                             wchar_t (&out)[SCAN_LINE_CAPACITY]) {
    std::wstring text;
    switch (line) {
    case 0:
        text = text_for("scan_start_time") + format_local_clock(values.start_time);
        break;
    case 1:
        text = text_for("scan_time_elapsed") + format_elapsed(values.now - values.start_time);
        break;
    case 2:
        text = text_for("scan_status");
        if (values.phase > 1)
            text += text_for("scan_status2") + waiting_dots(values.now);
        else
            text += text_for("scan_status1");
        break;
    case 3:
        text = text_for("scan_items_scanned") + std::to_wstring(values.index);
        break;
    case 4:
        text = text_for("scan_item") + values.name;
        break;
    default:
        break;
    }
    copy_text(out, text);
}

RECT scan_status_box(int width, int height, int row_height, int text_width) {
    const int area = width - 250;
    const int box_height = 5 * row_height + 40;
    RECT box{};
    if (text_width <= 2 * area / 3) {
        box.left = area / 6;
        box.right = 5 * area / 6;
    } else {
        // Wider than two thirds: centred on the text.
        box.left = (width - text_width - 250) / 2;
        box.right = box.left + text_width;
    }
    box.top = (height - box_height) / 2;
    box.bottom = box.top + box_height;
    return box;
}

RECT scan_waiting_box(int width, int height, int next_line_top) {
    RECT box{};
    box.top = next_line_top + (height - next_line_top - 60) / 2 - 20;
    box.bottom = box.top + 40;
    box.left = (width - 250) / 2 - 100;
    box.right = (width - 250) / 2 + 100;
    return box;
}

float scan_fraction(int32_t index, int32_t total) {
    if (total <= 0 || index <= 0) return 0.0f;
    if (index >= total) return 1.0f;
    return static_cast<float>(index) / static_cast<float>(total);
}

int64_t now_seconds() { return static_cast<int64_t>(_time64(nullptr)); }
