// One driver package that the update service offers for a device. The record
// is flat: every text is stored inline with a fixed capacity that includes the
// terminating NUL, so a device record can own a plain array of them.
#pragma once

#include <cstdint>

struct driver_offer {
    wchar_t hardid[200] = {};         // `hardid`: the hardware or compatible id the package matches
    wchar_t title[257] = {};          // `title`: display name of the package
    wchar_t version[65] = {};         // `ver`: four dot-separated numbers
    wchar_t guid[39] = {};            // `guid`: stored as received
    char link[3073] = {};             // `link`: download URL, also the package's identity (ANSI)
    char official_link[1025] = {};    // `official_link`: stored as received (ANSI)
    wchar_t inf_name[260] = {};       // from `infpath`
    wchar_t manufacturer[129] = {};   // `manu`
    wchar_t date[11] = {};            // `date`: yyyy-mm-dd
    wchar_t description[1025] = {};   // `desc`
    uint32_t size = 0;                // `size`: package size in bytes
    uint32_t cp = 0;                  // `cp`: match rank, lower is better
    uint32_t sign = 0;                // `sign`: 0 WHQL, 1 signed, 3 unsigned; lower is better
    uint32_t feature = 0;             // `feature`: hexadecimal text; lower is better; 255 none
    uint32_t targetos = 0;            // `targetos`: OS version number (major * 10 + minor)
};
