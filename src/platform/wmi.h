// A thin reader over WMI (namespace ROOT\CIMV2, WQL queries) for the system
// information. The real reader talks to the WMI service over COM;
// tests substitute their own to control what the queries return.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class wmi_reader {
public:
    virtual ~wmi_reader() = default;

    // The set-up: COM security, the locator, the
    // connection to ROOT\CIMV2 and the proxy blanket. S_OK, or the HRESULT
    // of the step that failed. COM must be initialised on the calling thread.
    virtual HRESULT connect() = 0;

    // Runs the WQL query (forward-only, returning immediately) and takes the
    // result objects one at a time, calling `visit` with each object's
    // `property` as a string: nullopt when Get fails or the value is VT_NULL.
    // Stops when `visit` returns false or the objects run out. False when the
    // query could not be run (not connected, ExecQuery failed).
    using value_visitor = std::function<bool(const std::optional<std::wstring>& value)>;
    virtual bool for_each_value(const wchar_t* wql, const wchar_t* property,
                                const value_visitor& visit) = 0;
};

// The reader over the machine's WMI service. Releases its COM objects when
// destroyed.
std::unique_ptr<wmi_reader> make_wmi_reader();
