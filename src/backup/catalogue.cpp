#include "backup/catalogue.h"

#include <windows.h>

#include <io.h>
#include <shlwapi.h>
#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/app_init.h"
#include "app/globals.h"
#include "app/settings.h"
#include "install/install.h"
#include "platform/text.h"
#include "platform/xml_guard.h"

std::vector<backup_entry> backup_catalogue;
std::mutex backup_catalogue_lock;

namespace {

// A catalogue lists a few hundred archives at most; a file far beyond that
// is not one of ours.
constexpr long long catalogue_size_limit = 16LL * 1024 * 1024;

// The text of the element's first node (CDATA or plain), or null when the
// child is missing or has no node.
const char* child_text(const TiXmlElement& parent, const char* name) {
    const TiXmlElement* child = parent.FirstChildElement(name);
    if (!child || !child->FirstChild()) return nullptr;
    return child->FirstChild()->Value();
}

template <std::size_t N>
void copy_ansi(wchar_t (&dst)[N], const char* text) {
    copy_text(dst, ansi_to_wide(text));
}

// A device field: the child's text, or "" when the child is there without
// one. An empty text is written as an empty CDATA section, which the parser
// drops, so a driver without a provider name reads back as an empty element.
const char* field_text(const TiXmlElement& parent, const char* name) {
    const TiXmlElement* child = parent.FirstChildElement(name);
    if (!child) return nullptr;
    return child->FirstChild() ? child->FirstChild()->Value() : "";
}

bool read_device(const TiXmlElement& element, device_store& store, backed_up_device& out) {
    const char* id = field_text(element, "id");
    const char* desc = field_text(element, "desc");
    const char* manu = field_text(element, "manu");
    const char* name = field_text(element, "name");
    const char* version = field_text(element, "version");
    const char* date = field_text(element, "date");
    if (!id || !desc || !manu || !name || !version || !date) return false;
    copy_ansi(out.id, id);
    copy_ansi(out.desc, desc);
    copy_ansi(out.manu, manu);
    copy_ansi(out.name, name);
    copy_ansi(out.version, version);
    copy_ansi(out.date, date);
    out.device = find_device(store, out.id);
    return out.device != nullptr;
}

bool read_entry(const TiXmlElement& driver, const wchar_t* backup_folder, device_store& store,
                backup_entry& entry) {
    const char* file = child_text(driver, "file");
    const char* date = child_text(driver, "date");
    if (!file || !*file || !date) return false;
    copy_text(entry.file, file);
    std::wstring archive_name = ansi_to_wide(entry.file);
    if (!PathFileExistsW(join_path(backup_folder, archive_name).c_str())) return false;
    copy_text(entry.date, date);

    const TiXmlElement* devices = driver.FirstChildElement("devices");
    const TiXmlElement* device = devices ? devices->FirstChildElement("device") : nullptr;
    if (!device) return false;
    std::wstring entry_date = ansi_to_wide(entry.date);
    for (; device; device = device->NextSiblingElement("device")) {
        backed_up_device read;
        if (!read_device(*device, store, read)) break;
        copy_text(read.backup_date, entry_date);
        copy_text(read.archive, archive_name);
        entry.devices.push_back(read);
    }
    return !entry.devices.empty();
}

void add_text(TiXmlElement& parent, const char* name, const std::string& text, bool cdata) {
    TiXmlElement* element = parent.LinkEndChild(new TiXmlElement(name))->ToElement();
    TiXmlText* value = new TiXmlText(text);
    value->SetCDATA(cdata);
    element->LinkEndChild(value);
}

// Writes `text` in text mode (LF becomes CR LF) to a new file beside `path`,
// flushes it to the disk and puts it in place of `path`.
bool replace_file_with(const std::wstring& path, const std::string& text) {
    std::wstring fresh = path + L".new";
    FILE* file = _wfopen(fresh.c_str(), L"w");
    if (!file) return false;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                   std::fflush(file) == 0 &&
                   FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
    written = std::fclose(file) == 0 && written;
    if (written &&
        MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(fresh.c_str());
    return false;
}

bool read_whole_file(const std::wstring& path, std::string& text) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return false;
    bool ok = false;
    if (_fseeki64(file, 0, SEEK_END) == 0) {
        long long size = _ftelli64(file);
        if (size >= 0 && size <= catalogue_size_limit && _fseeki64(file, 0, SEEK_SET) == 0) {
            text.resize(static_cast<std::size_t>(size));
            ok = std::fread(text.data(), 1, text.size(), file) == text.size();
        }
    }
    std::fclose(file);
    return ok;
}

std::string today() {
    std::time_t now = std::time(nullptr);
    tm local = {};
    char text[11] = {};
    if (localtime_s(&local, &now) == 0) std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

int save_locked() {
    return replace_file_with(catalogue_path(), print_catalogue(backup_catalogue)) ? 0 : -1;
}

}  // namespace

std::vector<backup_entry> catalogue_snapshot() {
    std::lock_guard<std::mutex> hold(backup_catalogue_lock);
    return backup_catalogue;
}

std::wstring catalogue_path() { return join_path(program_dir, L"backup.xml"); }

bool read_catalogue(std::string_view text, const wchar_t* backup_folder, device_store& store,
                    std::vector<backup_entry>& entries) {
    TiXmlDocument document;
    if (parse_xml(document, text) != xml_parse::ok) return false;
    const TiXmlElement* root = document.RootElement();
    const TiXmlElement* driver = root ? root->FirstChildElement("driver") : nullptr;
    if (!driver) return false;
    std::vector<backup_entry> read;
    for (; driver; driver = driver->NextSiblingElement("driver")) {
        backup_entry entry;
        if (read_entry(*driver, backup_folder, store, entry)) read.push_back(std::move(entry));
    }
    entries = std::move(read);
    return true;
}

std::string print_catalogue(const std::vector<backup_entry>& entries) {
    TiXmlDocument document;
    document.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
    TiXmlElement* root = document.LinkEndChild(new TiXmlElement("quillmark"))->ToElement();
    for (const backup_entry& entry : entries) {
        TiXmlElement* driver = root->LinkEndChild(new TiXmlElement("driver"))->ToElement();
        add_text(*driver, "file", entry.file, true);
        add_text(*driver, "date", entry.date, false);
        TiXmlElement* devices = driver->LinkEndChild(new TiXmlElement("devices"))->ToElement();
        for (const backed_up_device& backed_up : entry.devices) {
            if (!backed_up.device) continue;
            // The texts written are the live record's, not the copies.
            const device_record& device = *backed_up.device;
            TiXmlElement* element = devices->LinkEndChild(new TiXmlElement("device"))->ToElement();
            add_text(*element, "id", wide_to_ansi(device.device_id), true);
            add_text(*element, "desc", wide_to_ansi(device.display_name), true);
            add_text(*element, "manu", wide_to_ansi(device.ProviderName), true);
            add_text(*element, "name", wide_to_ansi(device.InfPath), true);
            add_text(*element, "version", wide_to_ansi(device.DriverVersion), true);
            add_text(*element, "date", wide_to_ansi(device.DriverDate), true);
        }
    }
    TiXmlPrinter printer;
    printer.SetIndent("\t");
    printer.SetLineBreak("\n");
    document.Accept(&printer);
    return printer.Str();
}

int load_catalogue() {
    std::wstring path = catalogue_path();
    std::string text;
    if (!app_device_store || !PathFileExistsW(path.c_str()) || !read_whole_file(path, text))
        return -1;
    std::vector<backup_entry> entries;
    if (!read_catalogue(text, current_settings.backup_path, *app_device_store, entries)) return -1;
    std::lock_guard<std::mutex> hold(backup_catalogue_lock);
    backup_catalogue = std::move(entries);
    return 0;
}

int save_catalogue() {
    std::lock_guard<std::mutex> hold(backup_catalogue_lock);
    return save_locked();
}

int record_backup(const wchar_t* archive_path, const std::vector<const device_record*>& devices) {
    std::wstring archive = archive_path;
    backup_entry fresh;
    copy_text(fresh.date, today());
    copy_text(fresh.file, wide_to_ansi(PathFindFileNameW(archive.c_str())));
    for (const device_record* device : devices) {
        backed_up_device backed_up;
        backed_up.device = device;
        copy_text(backed_up.id, device->device_id);
        copy_text(backed_up.desc, device->DriverDesc);
        copy_text(backed_up.manu, device->ProviderName);
        copy_text(backed_up.name, device->InfPath);
        copy_text(backed_up.version, device->DriverVersion);
        copy_text(backed_up.date, device->DriverDate);
        fresh.devices.push_back(backed_up);
    }

    std::lock_guard<std::mutex> hold(backup_catalogue_lock);
    bool found = false;
    for (backup_entry& entry : backup_catalogue) {
        if (std::strcmp(entry.file, fresh.file) != 0) continue;
        copy_text(entry.date, fresh.date);
        entry.devices = std::move(fresh.devices);
        found = true;
        break;
    }
    if (!found) backup_catalogue.push_back(std::move(fresh));
    return save_locked();
}
