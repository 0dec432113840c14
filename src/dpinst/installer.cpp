#include "dpinst/installer.h"

#include <algorithm>
#include <cwchar>

#include "dpinst/ascii.h"

namespace {

bool has_inf_extension(const std::wstring& name) {
    return name.size() > 4 && equal_ignoring_case(std::wstring_view(name).substr(name.size() - 4), L".inf");
}

std::wstring error_text(driver_system& system, std::uint32_t error) {
    wchar_t code[32];
    std::swprintf(code, 32, L"error 0x%08X", static_cast<unsigned>(error));
    std::wstring text = code;
    std::wstring description = system.describe_error(error);
    if (!description.empty()) text += L": " + description;
    return text;
}

const wchar_t* const kept_better_driver =
    L"  Not installed: the devices keep a better driver (/F forces it).";

// Deep enough for any real package; stops a pathological tree.
constexpr int max_folder_depth = 32;

void collect_inf_files(driver_system& system, const std::wstring& folder, int depth,
                       std::vector<std::wstring>& out) {
    std::vector<folder_entry> entries;
    if (!system.list_folder(folder, entries)) return;
    std::sort(entries.begin(), entries.end(),
              [](const folder_entry& a, const folder_entry& b) { return less_ignoring_case(a.name, b.name); });
    for (const auto& e : entries)
        if (!e.folder && has_inf_extension(e.name)) out.push_back(join_path(folder, e.name));
    if (depth >= max_folder_depth) return;
    for (const auto& e : entries)
        if (e.folder && !e.reparse_point) collect_inf_files(system, join_path(folder, e.name), depth + 1, out);
}

enum class outcome { skipped, staged_only, installed, failed };

struct installation {
    installation(const dpinst_options& o, driver_system& s, log_sink& l)
        : options(o), system(s), log(l) {}

    const dpinst_options& options;
    driver_system& system;
    log_sink& log;
    bool devices_read = false;
    bool devices_known = false;
    std::uint32_t devices_error = 0;
    std::vector<present_device> devices;
    bool reboot = false;

    const std::vector<present_device>* present() {
        if (!devices_read) {
            devices_read = true;
            devices_known = system.present_devices(devices, devices_error);
            if (devices_known) {
                log.line(L"Present devices: " + std::to_wstring(devices.size()));
            } else {
                devices.clear();
                log.line(L"The present devices cannot be listed: " + error_text(system, devices_error));
            }
        }
        return devices_known ? &devices : nullptr;
    }

    // Whether a device with one of the ids now runs the driver of the staged
    // INF. Unknown (true) when the devices cannot be listed again.
    bool taken_by_a_device(const std::wstring& stored, const std::vector<std::wstring>& ids) {
        std::vector<present_device> now;
        std::uint32_t error = 0;
        if (!system.present_devices(now, error)) return true;
        const std::size_t slash = stored.find_last_of(L"\\/");
        const std::wstring stored_name = slash == std::wstring::npos ? stored : stored.substr(slash + 1);
        for (const auto& d : now) {
            if (d.inf_name.empty() || !equal_ignoring_case(d.inf_name, stored_name)) continue;
            if (!matching_ids(ids, {d}).empty()) return true;
        }
        return false;
    }

    outcome install_on_devices(const std::wstring& inf, const std::wstring& stored,
                               const std::vector<std::wstring>& ids) {
        const platform_target target = system.target();
        bool needs_reboot = false;
        std::uint32_t error = 0;
        if (target.major >= 6) {
            std::uint32_t flags = options.force ? diir_flag_force_inf : 0;
            if (system.install_driver(inf, flags, needs_reboot, error)) {
                reboot = reboot || needs_reboot;
                if (!taken_by_a_device(stored, ids)) {
                    log.line(kept_better_driver);
                    return outcome::staged_only;
                }
                log.line(L"  Installed on the matching devices" +
                         std::wstring(needs_reboot ? L"; a restart is needed." : L"."));
                return outcome::installed;
            }
            if (error == error_no_more_items) {
                log.line(kept_better_driver);
                return outcome::staged_only;
            }
            log.line(L"  Installation failed: " + error_text(system, error));
            return outcome::failed;
        }
        std::uint32_t flags = options.force ? install_flag_force : 0;
        if (options.silent || options.quiet) flags |= install_flag_noninteractive;
        bool installed = false, failed = false;
        for (const auto& id : ids) {
            needs_reboot = false;
            if (system.update_driver(id, inf, flags, needs_reboot, error)) {
                installed = true;
                reboot = reboot || needs_reboot;
                log.line(L"  Installed for " + id +
                         std::wstring(needs_reboot ? L"; a restart is needed." : L"."));
            } else if (error == error_no_more_items) {
                log.line(L"  Not installed for " + id + L": the devices keep a better driver (/F forces it).");
            } else {
                failed = true;
                log.line(L"  Installation for " + id + L" failed: " + error_text(system, error));
            }
        }
        if (installed) return outcome::installed;
        return failed ? outcome::failed : outcome::staged_only;
    }

    outcome package(const std::wstring& inf) {
        log.line(L"Package " + inf);
        std::uint32_t error = 0;
        std::unique_ptr<inf_file> file = system.open_inf(inf, error);
        if (!file) {
            log.line(L"  Cannot read the INF: " + error_text(system, error));
            return outcome::failed;
        }
        const std::vector<std::wstring> ids = model_ids(*file, system.target());
        file.reset();
        if (ids.empty()) {
            log.line(L"  Skipped: it lists no devices for this platform (" +
                     system.target().architecture + L").");
            return outcome::skipped;
        }
        std::vector<std::wstring> matched;
        if (const auto* devices = present()) {
            matched = matching_ids(ids, *devices);
        } else if (options.present_only) {
            log.line(L"  Not staged: without the present devices /SH cannot be honoured.");
            return outcome::failed;
        }
        if (matched.empty() && options.present_only) {
            log.line(L"  Skipped (/SH): it matches no present device; neither staged nor installed.");
            return outcome::skipped;
        }
        std::wstring stored;
        if (!system.copy_oem_inf(inf, stored, error)) {
            log.line(L"  Staging failed: " + error_text(system, error));
            return outcome::failed;
        }
        log.line(L"  Staged as " + stored);
        if (matched.empty()) {
            log.line(L"  It matches no present device: copied to the driver store only.");
            return outcome::staged_only;
        }
        std::wstring list;
        for (const auto& id : matched) list += (list.empty() ? L"" : L", ") + id;
        log.line(L"  Matches present devices by " + list);
        return install_on_devices(inf, stored, matched);
    }
};

}  // namespace

std::wstring join_path(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    wchar_t last = folder.back();
    return (last == L'\\' || last == L'/') ? folder + name : folder + L"\\" + name;
}

std::uint32_t exit_code(const run_counts& counts) {
    auto saturate = [](unsigned n) { return std::min(n, 0xFFu); };
    std::uint32_t flags = 0;
    if (counts.failures > 0) flags |= 0x80;
    if (counts.reboot) flags |= 0x40;
    return (flags << 24) | (saturate(counts.failures) << 16) | (saturate(counts.staged_only) << 8) |
           saturate(counts.installed);
}

std::vector<std::wstring> find_inf_files(driver_system& system, const std::wstring& folder) {
    std::vector<std::wstring> out;
    collect_inf_files(system, folder, 0, out);
    return out;
}

std::vector<std::wstring> matching_ids(const std::vector<std::wstring>& model_ids,
                                       const std::vector<present_device>& devices) {
    std::vector<std::wstring> matched;
    for (const auto& id : model_ids) {
        bool found = false;
        for (const auto& d : devices) {
            // Windows compares device ids without regard to case.
            for (const auto& device_id : d.ids) found = found || equal_ignoring_case(id, device_id);
            if (found) break;
        }
        if (found) matched.push_back(id);
    }
    return matched;
}

run_counts install_packages(const dpinst_options& options, driver_system& system, log_sink& log) {
    run_counts counts;
    const std::vector<std::wstring> infs = find_inf_files(system, options.folder);
    log.line(L"Driver packages found: " + std::to_wstring(infs.size()));
    installation run{options, system, log};
    for (const auto& inf : infs) {
        switch (run.package(inf)) {
            case outcome::installed: ++counts.installed; break;
            case outcome::staged_only: ++counts.staged_only; break;
            case outcome::failed: ++counts.failures; break;
            case outcome::skipped: break;
        }
    }
    counts.reboot = run.reboot;
    return counts;
}
