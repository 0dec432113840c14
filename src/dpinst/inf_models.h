// Which devices a driver package's INF is for: the models sections its
// [Manufacturer] section names for this platform, and the hardware and
// compatible ids their lines list.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One opened INF file, read through SetupAPI's INF functions (or a double).
class inf_file {
public:
    virtual ~inf_file() = default;
    // The lines of a section (names compare case-insensitively), each as its
    // fields: field 0 is the key (empty when the line has none), then the
    // values. False when the INF has no such section.
    virtual bool section(const std::wstring& name,
                         std::vector<std::vector<std::wstring>>& lines) = 0;
};

// The system a package is installed on: the native architecture as an INF
// decoration spells it ("x86", "amd64", "arm64", "ia64"), the version, and
// the product type and suites of OSVERSIONINFOEX (wProductType: 1
// workstation, 2 domain controller, 3 server, 0 unknown; wSuiteMask).
struct platform_target {
    std::wstring architecture;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
    unsigned product_type = 0;
    unsigned suite_mask = 0;
};

// True when an INF decoration
// NT[architecture][.major[.minor[.product type[.suite mask[.build]]]]]
// such as "NTamd64", "NTx86.6.0", "NT.5.1" or "NTamd64.6.1.0x3" applies to
// the target: the architecture, when named, is the target's; the version is
// not newer than the target's (the build counts only when major and minor
// are the target's own); the product type, when given, is the target's; the
// target has every suite of the suite mask. `rank` orders the applicable
// ones, the closest highest: the highest version first, then a product type
// over none, then more suites over fewer, then a named architecture over none.
bool decoration_applies(std::wstring_view decoration, const platform_target& target,
                        unsigned long long& rank);

// The models sections to read: per [Manufacturer] line the section decorated
// with its most specific applicable decoration; without one, the undecorated
// section on x86 only (64-bit systems take decorated sections alone).
std::vector<std::wstring> models_sections(inf_file& inf, const platform_target& target);

// Every hardware and compatible id those sections list (field 2 on of each
// line), without empty fields and without repeats (compared as Windows compares
// device ids: ASCII letters without regard to case), in INF order.
std::vector<std::wstring> model_ids(inf_file& inf, const platform_target& target);
