// What DPInst does with a folder of driver packages, behind a thin table of
// the system calls (SetupAPI, newdev, the file system) so that every decision
// can be tested with a double.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dpinst/inf_models.h"
#include "dpinst/options.h"

// Flag values of newdev.h, repeated so that this part needs no Windows header.
constexpr std::uint32_t install_flag_force = 0x1;           // INSTALLFLAG_FORCE
constexpr std::uint32_t install_flag_noninteractive = 0x4;  // INSTALLFLAG_NONINTERACTIVE
constexpr std::uint32_t diir_flag_force_inf = 0x2;          // DIIRFLAG_FORCE_INF
constexpr std::uint32_t error_no_more_items = 259;          // ERROR_NO_MORE_ITEMS

struct folder_entry {
    std::wstring name;
    bool folder = false;
    bool reparse_point = false;  // junctions and links are not followed
};

struct present_device {
    std::wstring instance_id;
    std::vector<std::wstring> ids;  // hardware ids, then compatible ids
    std::wstring inf_name;          // the INF of its installed driver ("oem3.inf"), or empty
};

class driver_system {
public:
    virtual ~driver_system() = default;
    virtual platform_target target() = 0;
    // The entries of a folder ("." and ".." left out); false when unreadable.
    virtual bool list_folder(const std::wstring& folder, std::vector<folder_entry>& out) = 0;
    // SetupOpenInfFileW; null with the error when the file is no INF.
    virtual std::unique_ptr<inf_file> open_inf(const std::wstring& path, std::uint32_t& error) = 0;
    // SetupDiGetClassDevsW(DIGCF_PRESENT | DIGCF_ALLCLASSES) with each
    // device's SPDRP_HARDWAREID and SPDRP_COMPATIBLEIDS and its driver key's
    // InfPath.
    virtual bool present_devices(std::vector<present_device>& out, std::uint32_t& error) = 0;
    // SetupCopyOEMInfW: stages the package; `stored_name` is the INF's name
    // in the system's INF folder.
    virtual bool copy_oem_inf(const std::wstring& inf, std::wstring& stored_name,
                              std::uint32_t& error) = 0;
    // newdev's DiInstallDriverW (Windows Vista and later). It succeeds once the
    // package is staged, whether or not a device took the driver.
    virtual bool install_driver(const std::wstring& inf, std::uint32_t flags, bool& reboot,
                                std::uint32_t& error) = 0;
    // newdev's UpdateDriverForPlugAndPlayDevicesW (Windows XP).
    virtual bool update_driver(const std::wstring& hardware_id, const std::wstring& inf,
                               std::uint32_t flags, bool& reboot, std::uint32_t& error) = 0;
    // The system's text for an error code, or empty.
    virtual std::wstring describe_error(std::uint32_t error) = 0;
};

class log_sink {
public:
    virtual ~log_sink() = default;
    virtual void line(const std::wstring& text) = 0;
};

struct run_counts {
    unsigned installed = 0;    // installed on at least one present device
    unsigned staged_only = 0;  // copied to the driver store, installed on none
    unsigned failures = 0;
    bool reboot = false;
};

// 0xWWXXYYZZ: ZZ packages installed, YY packages only copied to the store,
// XX failures (each saturating at 0xFF); WW flags: 0x80 a failure happened,
// 0x40 a restart is needed.
std::uint32_t exit_code(const run_counts& counts);
// What a refused command line or an unusable folder ends with: one failure.
constexpr std::uint32_t exit_code_bad_request = 0x80010000u;
// What the 32-bit build ends with at once on 64-bit Windows (under WOW64),
// where Windows refuses its installations: the failure flag and no package
// counted, a code no run over packages gives.
constexpr std::uint32_t exit_code_wrong_bitness = 0x80000000u;

// The INF files (by extension .inf, whatever their short names) of the folder
// and its subfolders, each folder's files in name order before its
// subfolders; links and junctions are not followed.
std::vector<std::wstring> find_inf_files(driver_system& system, const std::wstring& folder);

// The ids of `model_ids` that some present device has as a hardware or
// compatible id, in model order.
std::vector<std::wstring> matching_ids(const std::vector<std::wstring>& model_ids,
                                       const std::vector<present_device>& devices);

// Stages and installs every package of options.folder as the switches say,
// logging each step.
run_counts install_packages(const dpinst_options& options, driver_system& system, log_sink& log);

std::wstring join_path(const std::wstring& folder, const std::wstring& name);
