#include "backup/catalogue.h"

#include <windows.h>

#include <io.h>
#include <shlwapi.h>
#include <tinyxml.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/globals.h"
#include "install/install.h"
#include "install/zip_reader.h"
#include "platform/text.h"
#include "platform/xml_guard.h"

std::vector<backup_entry> backup_catalogue;
std::mutex backup_catalogue_lock;

namespace {

// A catalogue lists a few hundred archives at most; a file far beyond that
// is not one of ours.
constexpr long long catalogue_size_limit = 16LL * 1024 * 1024;

// The text of a child element: all its text and CDATA nodes joined, since
// a text holding "]]>" is written as two sections. False when there is no
// such child.
bool child_text(const TiXmlElement& parent, const char* name, std::string& text) {
    const TiXmlElement* child = parent.FirstChildElement(name);
    if (!child) return false;
    text.clear();
    for (const TiXmlNode* node = child->FirstChild(); node; node = node->NextSibling())
        if (const TiXmlText* part = node->ToText()) text += part->Value();
    return true;
}

template <std::size_t N>
void copy_ansi(wchar_t (&dst)[N], const std::string& text) {
    copy_text(dst, ansi_to_wide(text));
}

// An archive name that stays in the backup folder when joined to it: no
// folder, drive, stream, "..", device name or control character.
bool plain_file_name(const std::wstring& name) {
    return name.find_first_of(L"\\/") == std::wstring::npos && safe_entry_path(name) == name;
}

bool same_file_name(const std::wstring& a, const std::wstring& b) {
    return equal_ignoring_case(a.c_str(), b.c_str());
}

// Every device of the entry names the entry's archive and date.
void stamp_devices(backup_entry& entry) {
    const std::wstring file = ansi_to_wide(entry.file), date = ansi_to_wide(entry.date);
    for (backed_up_device& device : entry.devices) {
        copy_text(device.archive, file);
        copy_text(device.backup_date, date);
    }
}

// A device field may be empty (a driver without a provider name is written
// as an empty section, which the parser drops), but not missing.
bool read_device(const TiXmlElement& element, backed_up_device& out) {
    std::string id, desc, manu, name, version, date;
    if (!child_text(element, "id", id) || !child_text(element, "desc", desc) ||
        !child_text(element, "manu", manu) || !child_text(element, "name", name) ||
        !child_text(element, "version", version) || !child_text(element, "date", date) || id.empty())
        return false;
    copy_ansi(out.id, id);
    copy_ansi(out.desc, desc);
    copy_ansi(out.manu, manu);
    copy_ansi(out.name, name);
    copy_ansi(out.version, version);
    copy_ansi(out.date, date);
    return true;
}

bool read_entry(const TiXmlElement& driver, backup_entry& entry) {
    std::string file, date;
    if (!child_text(driver, "file", file) || !child_text(driver, "date", date) || file.empty() ||
        date.empty() || file.size() >= sizeof entry.file || !plain_file_name(ansi_to_wide(file)))
        return false;
    copy_text(entry.file, file);
    copy_text(entry.date, date);

    const TiXmlElement* devices = driver.FirstChildElement("devices");
    const TiXmlElement* device = devices ? devices->FirstChildElement("device") : nullptr;
    for (; device; device = device->NextSiblingElement("device")) {
        backed_up_device read;
        if (!read_device(*device, read)) break;
        entry.devices.push_back(read);
    }
    stamp_devices(entry);
    return !entry.devices.empty();
}

// The entry's archive holds the package of `devices`: one of them was
// backed up into it with the same INF.
bool serves_package(const backup_entry& entry, const std::vector<device_record*>& devices) {
    for (const backed_up_device& backed_up : entry.devices) {
        for (const device_record* device : devices) {
            if (std::wcscmp(backed_up.id, device->device_id) == 0 &&
                lstrcmpiW(backed_up.name, device->InfPath) == 0)
                return true;
        }
    }
    return false;
}

void add_text(TiXmlElement& parent, const char* name, const std::string& text, bool cdata) {
    TiXmlElement* element = parent.LinkEndChild(new TiXmlElement(name))->ToElement();
    auto add_part = [&](std::string part) {
        TiXmlText* value = new TiXmlText(part);
        value->SetCDATA(cdata);
        element->LinkEndChild(value);
    };
    // A "]]>" would end the section early: it is split across two sections,
    // one ending in "]]" and the next beginning with ">".
    std::size_t from = 0;
    for (std::size_t at = cdata ? text.find("]]>") : std::string::npos; at != std::string::npos;
         at = text.find("]]>", from)) {
        add_part(text.substr(from, at + 2 - from));
        from = at + 2;
    }
    add_part(text.substr(from));
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

enum class file_read { ok, cannot_open, too_large_or_broken };

file_read read_whole_file(const std::wstring& path, std::string& text) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return file_read::cannot_open;
    bool ok = false;
    if (_fseeki64(file, 0, SEEK_END) == 0) {
        long long size = _ftelli64(file);
        if (size >= 0 && size <= catalogue_size_limit && _fseeki64(file, 0, SEEK_SET) == 0) {
            text.resize(static_cast<std::size_t>(size));
            ok = std::fread(text.data(), 1, text.size(), file) == text.size();
        }
    }
    std::fclose(file);
    return ok ? file_read::ok : file_read::too_large_or_broken;
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

// Takes the entries of the file as it is now, so that a save never drops
// what an earlier load failed to read. A file that cannot be opened now
// (held by another program) fails; one that is not a catalogue is kept
// beside it as "backup.xml.bad". 0, or -1.
int reread_locked() {
    const std::wstring path = catalogue_path();
    if (!PathFileExistsW(path.c_str())) return 0;
    std::string text;
    const file_read read = read_whole_file(path, text);
    if (read == file_read::cannot_open) return -1;
    std::vector<backup_entry> entries;
    if (read == file_read::ok && read_catalogue(text, entries)) {
        backup_catalogue = std::move(entries);
        return 0;
    }
    const std::wstring aside = path + L".bad";
    return MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

}  // namespace

std::vector<backup_entry> catalogue_snapshot() {
    std::lock_guard<std::mutex> hold(backup_catalogue_lock);
    return backup_catalogue;
}

std::wstring catalogue_path() { return join_path(program_dir, L"backup.xml"); }

bool read_catalogue(std::string_view text, std::vector<backup_entry>& entries) {
    TiXmlDocument document;
    if (parse_xml(document, text) != xml_parse::ok) return false;
    const TiXmlElement* root = document.RootElement();
    const TiXmlElement* driver = root ? root->FirstChildElement("driver") : nullptr;
    if (!driver) return false;
    std::vector<backup_entry> read;
    for (; driver; driver = driver->NextSiblingElement("driver")) {
        backup_entry entry;
        if (read_entry(*driver, entry)) read.push_back(std::move(entry));
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
        for (const backed_up_device& device : entry.devices) {
            TiXmlElement* element = devices->LinkEndChild(new TiXmlElement("device"))->ToElement();
            add_text(*element, "id", wide_to_ansi(device.id), true);
            add_text(*element, "desc", wide_to_ansi(device.desc), true);
            add_text(*element, "manu", wide_to_ansi(device.manu), true);
            add_text(*element, "name", wide_to_ansi(device.name), true);
            add_text(*element, "version", wide_to_ansi(device.version), true);
            add_text(*element, "date", wide_to_ansi(device.date), true);
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
    std::vector<backup_entry> entries;
    if (!PathFileExistsW(path.c_str()) || read_whole_file(path, text) != file_read::ok ||
        !read_catalogue(text, entries))
        return -1;
    std::lock_guard<std::mutex> hold(backup_catalogue_lock);
    backup_catalogue = std::move(entries);
    return 0;
}

int save_catalogue() {
    std::lock_guard<std::mutex> hold(backup_catalogue_lock);
    return save_locked();
}

int record_backup(const wchar_t* archive_path, const std::vector<const device_record*>& devices) {
    const std::wstring name = PathFindFileNameW(archive_path);
    backup_entry fresh;
    copy_text(fresh.date, today());
    copy_text(fresh.file, wide_to_ansi(name));
    for (const device_record* device : devices) {
        backed_up_device& backed_up = fresh.devices.emplace_back();
        copy_text(backed_up.id, device->device_id);
        copy_text(backed_up.desc, device->display_name);
        copy_text(backed_up.manu, device->ProviderName);
        copy_text(backed_up.name, device->InfPath);
        copy_text(backed_up.version, device->DriverVersion);
        copy_text(backed_up.date, device->DriverDate);
    }
    stamp_devices(fresh);

    std::lock_guard<std::mutex> hold(backup_catalogue_lock);
    if (reread_locked() != 0) return -1;
    auto entry = std::find_if(backup_catalogue.begin(), backup_catalogue.end(),
                              [&](const backup_entry& e) { return same_file_name(ansi_to_wide(e.file), name); });
    if (entry == backup_catalogue.end()) {
        backup_catalogue.push_back(std::move(fresh));
    } else {
        copy_text(entry->date, fresh.date);
        entry->devices = std::move(fresh.devices);
        stamp_devices(*entry);
    }
    return save_locked();
}

std::vector<backup_entry> restorable_entries(const std::vector<backup_entry>& entries,
                                             const wchar_t* backup_folder, device_store& store) {
    std::vector<backup_entry> shown;
    for (const backup_entry& entry : entries) {
        if (!PathFileExistsW(join_path(backup_folder, ansi_to_wide(entry.file)).c_str())) continue;
        backup_entry kept;
        copy_text(kept.file, entry.file);
        copy_text(kept.date, entry.date);
        for (const backed_up_device& device : entry.devices) {
            if (!find_device(store, device.id)) break;
            kept.devices.push_back(device);
        }
        if (!kept.devices.empty()) shown.push_back(std::move(kept));
    }
    return shown;
}

std::wstring free_archive_name(const std::wstring& base, const std::wstring& folder,
                               const std::vector<device_record*>& devices) {
    std::lock_guard<std::mutex> hold(backup_catalogue_lock);
    reread_locked();  // the names in the file as it is now
    std::vector<std::wstring> listed;
    for (const backup_entry& entry : backup_catalogue) listed.push_back(ansi_to_wide(entry.file));
    auto owner = [&](const std::wstring& name) -> const backup_entry* {
        for (std::size_t i = 0; i < listed.size(); ++i)
            if (same_file_name(listed[i], name)) return &backup_catalogue[i];
        return nullptr;
    };
    // The package's own archive first; else the first name nobody has.
    for (int pass = 0; pass < 2; ++pass) {
        for (int n = 1; n < 1000; ++n) {
            const std::wstring suffix = n == 1 ? L".zip" : L"-" + std::to_wstring(n) + L".zip";
            std::wstring stem = base;
            // Cut to what the path and the catalogue's field hold, never
            // inside a surrogate pair, and without a dot at the end, which
            // Windows drops.
            while (!stem.empty() &&
                   (join_path(folder, stem + suffix).size() >= MAX_PATH ||
                    wide_to_ansi(stem + suffix).size() >= sizeof backup_entry{}.file ||
                    IS_HIGH_SURROGATE(stem.back()) || stem.back() == L'.'))
                stem.pop_back();
            if (stem.empty() || folder.empty()) return {};
            const std::wstring name = stem + suffix;
            const backup_entry* entry = owner(name);
            if (pass == 0 ? entry && serves_package(*entry, devices)
                          : !entry && !PathFileExistsW(join_path(folder, name).c_str()))
                return name;
        }
    }
    return {};
}
