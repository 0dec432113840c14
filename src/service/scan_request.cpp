#include "service/scan_request.h"

#include <curl/curl.h>
#include <tinyxml.h>
#include <zlib.h>

#include <cstring>
#include <limits>

#include "app/app_init.h"
#include "app/globals.h"
#include "devices/device_store.h"
#include "platform/text.h"
#include "service/http_client.h"
#include "service/scan_response.h"
#include "service/update_client.h"

const scan_query_params* current_query = nullptr;

int set_last_error(int code) {
    last_error = code;
    return code;
}

namespace {

// An element holding one CDATA section, which the printer puts on a line of
// its own.
void add_cdata(TiXmlElement& parent, const char* name, const std::string& text) {
    auto* element = new TiXmlElement(name);
    auto* cdata = new TiXmlText(text);
    cdata->SetCDATA(true);
    element->LinkEndChild(cdata);
    parent.LinkEndChild(element);
}

// The entries of an identifier list joined with LF, in the ANSI code page.
std::string joined_ids(const std::wstring& list) {
    std::wstring joined;
    for (std::wstring_view entry : multi_string_entries(list)) {
        if (!joined.empty()) joined += L'\n';
        joined += entry;
    }
    return wide_to_ansi(joined);
}

bool has_first_entry(const std::wstring& list) { return !list.empty() && list[0] != L'\0'; }

}  // namespace

std::string build_scan_request(const device_store& store, const scan_query_params& params) {
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
    auto* root = new TiXmlElement("tarnwick");
    doc.LinkEndChild(root);

    auto* action = new TiXmlElement("action");
    action->LinkEndChild(new TiXmlText("ACTION_UPDATE_DRIVER"));
    root->LinkEndChild(action);

    auto* client = new TiXmlElement("client");
    client->SetAttribute("license", params.client_code ? params.client_code : "");
    client->SetAttribute("version", "");
    client->SetAttribute("os", params.os_code_name ? params.os_code_name : "");
    client->SetAttribute("lang", params.language_code);
    client->SetAttribute("model", wide_to_ansi(params.model ? params.model : L""));
    root->LinkEndChild(client);

    auto* hardwares = new TiXmlElement("hardwares");
    root->LinkEndChild(hardwares);
    for (const device_record& device : store.devices) {
        auto* hardware = new TiXmlElement("hardware");
        hardwares->LinkEndChild(hardware);
        add_cdata(*hardware, "id", wide_to_ansi(device.device_id));
        add_cdata(*hardware, "matchid", wide_to_ansi(device.MatchingDeviceId));
        if (has_first_entry(device.hardware_ids))
            add_cdata(*hardware, "hardids", joined_ids(device.hardware_ids));
        if (has_first_entry(device.compatible_ids))
            add_cdata(*hardware, "compids", joined_ids(device.compatible_ids));
    }

    TiXmlPrinter printer;
    printer.SetIndent("\t");
    printer.SetLineBreak("\n");
    doc.Accept(&printer);
    return std::string(printer.CStr(), printer.Size());
}

int compress_request(std::string_view document, std::vector<unsigned char>& out) {
    out.clear();
    if (document.size() > std::numeric_limits<uInt>::max()) return Z_BUF_ERROR;
    z_stream stream = {};
    int rc = deflateInit(&stream, Z_DEFAULT_COMPRESSION);
    if (rc != Z_OK) return rc < 0 ? rc : Z_STREAM_ERROR;
    const uLong bound = deflateBound(&stream, static_cast<uLong>(document.size()));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(document.data()));
    stream.avail_in = static_cast<uInt>(document.size());
    try {
        // deflateBound is enough for one call; a few more rounds are allowed
        // in case it is not.
        for (int round = 0; round < 4; ++round) {
            const std::size_t produced = static_cast<std::size_t>(stream.total_out);
            out.resize(produced + bound);
            stream.next_out = out.data() + produced;
            stream.avail_out = static_cast<uInt>(bound);
            rc = deflate(&stream, Z_FINISH);
            if (rc != Z_OK && rc != Z_BUF_ERROR) break;
        }
    } catch (const std::bad_alloc&) {
        rc = Z_MEM_ERROR;
    }
    const std::size_t produced = static_cast<std::size_t>(stream.total_out);
    deflateEnd(&stream);
    if (rc != Z_STREAM_END || stream.avail_in != 0) {
        out.clear();
        return rc < 0 ? rc : Z_STREAM_ERROR;
    }
    out.resize(produced);
    return Z_OK;
}

int query_updates(update_client& client, scan_query_params& params) {
    current_query = &params;
    const std::string document = build_scan_request(*client.store, params);
    if (!client.http) {
        client.http = create_http_client(query_buffer_capacity);
        if (!client.http) return set_last_error(7), -1;
    }
    std::vector<unsigned char> packed;
    if (compress_request(document, packed) != Z_OK) return set_last_error(24), -1;

    const http_result* answer = post_scan_request(client, packed, params);
    if (!answer) return -1;

    if (!parse_scan_answer(answer->body.data(), *client.store)) return set_last_error(21), -1;
    load_installed_set(client, setup_dat_path().c_str());
    for (device_record& device : client.store->devices) evaluate_device(client, device, params);
    return 0;
}

int query_updates(scan_query_params& params) {
    if (!app_update_client) return set_last_error(7), -1;
    return query_updates(*app_update_client, params);
}
