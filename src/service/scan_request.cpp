#include "service/scan_request.h"

#include <curl/curl.h>
#include <zlib.h>

#include <cstring>
#include <limits>
#include <string>

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

// The text as XML 1.0 allows it: a control character other than TAB, LF
// and CR becomes "?", as a character without an ANSI form does.
void make_xml_text(std::string& text) {
    for (char& c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') c = '?';
    }
}

// Prints the request the way TinyXML's printer prints the document of
// these elements (TAB indent, LF line breaks, its escapes and quotes), into
// one string: no node per element and text, for machines with thousands of
// devices.
class request_printer {
public:
    std::string out;

    void line(const char* text) {
        out += text;
        out += '\n';
    }

    // An attribute as TinyXML prints it: escaped, in single quotes when the
    // value holds a double quote.
    void attribute(const char* name, std::string value) {
        make_xml_text(value);
        const char quote = value.find('"') == std::string::npos ? '"' : '\'';
        out += ' ';
        out += name;
        out += '=';
        out += quote;
        for (char c : value) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\t': out += "&#x09;"; break;
            case '\n': out += "&#x0A;"; break;
            case '\r': out += "&#x0D;"; break;
            default: out += c;
            }
        }
        out += quote;
    }

    // A child of a hardware element holding one CDATA section, which takes a
    // line of its own. A "]]>" in the text would end the section early: it is
    // split across two sections ("]]" ends one, ">" starts the next).
    void cdata_element(const char* name, std::string text) {
        make_xml_text(text);
        out += "\t\t\t<";
        out += name;
        out += ">\n\t\t\t\t<![CDATA[";
        std::size_t from = 0;
        for (std::size_t at = text.find("]]>"); at != std::string::npos; at = text.find("]]>", from)) {
            out.append(text, from, at - from);
            out += "]]]]><![CDATA[>";
            from = at + 3;
        }
        out.append(text, from, std::string::npos);
        out += "]]>\n\t\t\t</";
        out += name;
        out += ">\n";
    }
};

// The entries of an identifier list joined with LF, in the ANSI code page.
std::string joined_ids(const std::wstring& list, std::wstring& joined) {
    joined.clear();
    for (std::wstring_view entry : multi_string_entries(list)) {
        if (!joined.empty()) joined += L'\n';
        joined += entry;
    }
    return wide_to_ansi(joined);
}

bool has_first_entry(const std::wstring& list) { return !list.empty() && list[0] != L'\0'; }

}  // namespace

std::string build_scan_request(const device_store& store, const scan_query_params& params) {
    request_printer p;
    // About what a device takes, so that the text is not moved as it grows.
    p.out.reserve(512 + store.devices.size() * 640);
    p.line("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>");
    p.line("<tarnwick>");
    p.line("\t<action>ACTION_UPDATE_DRIVER</action>");
    p.out += "\t<client";
    p.attribute("license", params.client_code ? params.client_code : "");
    p.attribute("version", "");
    p.attribute("os", params.os_code_name ? params.os_code_name : "");
    p.attribute("lang", std::to_string(params.language_code));
    p.attribute("model", wide_to_ansi(params.model));
    p.line(" />");
    if (store.devices.empty()) {
        p.line("\t<hardwares />");
    } else {
        p.line("\t<hardwares>");
        std::wstring joined;
        for (const device_record& device : store.devices) {
            p.line("\t\t<hardware>");
            p.cdata_element("id", wide_to_ansi(device.device_id));
            p.cdata_element("matchid", wide_to_ansi(device.MatchingDeviceId));
            if (has_first_entry(device.hardware_ids))
                p.cdata_element("hardids", joined_ids(device.hardware_ids, joined));
            if (has_first_entry(device.compatible_ids))
                p.cdata_element("compids", joined_ids(device.compatible_ids, joined));
            p.line("\t\t</hardware>");
        }
        p.line("\t</hardwares>");
    }
    p.line("</tarnwick>");
    return std::move(p.out);
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
    if (!client.http) {
        client.http = create_http_client(query_buffer_capacity);
        if (!client.http) return set_last_error(7), -1;
    }
    // Each stage's input is freed as soon as the next stage has what it
    // needs: the request text once compressed, the compressed request once
    // posted, so that a large machine's scan never holds them all.
    const http_result* answer = nullptr;
    {
        std::vector<unsigned char> packed;
        if (compress_request(build_scan_request(*client.store, params), packed) != Z_OK)
            return set_last_error(24), -1;
        answer = post_scan_request(client, packed, params);
    }
    if (!answer) return -1;

    if (!parse_scan_answer(answer->body.data(), answer->body.size(), *client.store))
        return set_last_error(21), -1;
    load_installed_set(client, setup_dat_path().c_str());
    for (device_record& device : client.store->devices) evaluate_device(client, device, params);
    return 0;
}

int query_updates(scan_query_params& params) {
    if (!app_update_client) return set_last_error(7), -1;
    return query_updates(*app_update_client, params);
}
