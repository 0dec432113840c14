#include "platform/wmi.h"

#include <oleauto.h>
#include <wbemidl.h>

namespace {

// A BSTR for the duration of one call.
class bstr {
public:
    explicit bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
    ~bstr() { SysFreeString(value_); }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    operator BSTR() const { return value_; }

private:
    BSTR value_;
};

template <typename T>
void release(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

// The string of a property value; nullopt for VT_NULL. A value of another
// type is converted to its text; one without a text form gives "".
std::optional<std::wstring> value_text(VARIANT& value) {
    if (value.vt == VT_NULL) return std::nullopt;
    if (value.vt == VT_BSTR) return std::wstring(value.bstrVal ? value.bstrVal : L"");
    VARIANT converted;
    VariantInit(&converted);
    std::wstring text;
    if (SUCCEEDED(VariantChangeType(&converted, &value, 0, VT_BSTR)) && converted.bstrVal)
        text = converted.bstrVal;
    VariantClear(&converted);
    return text;
}

class com_wmi_reader final : public wmi_reader {
public:
    ~com_wmi_reader() override {
        release(services_);
        release(locator_);
    }

    HRESULT connect() override {
        release(services_);
        release(locator_);
        // Security can be set once per process. RPC_E_TOO_LATE means it has
        // been set already (by an earlier call in this process); the level
        // the queries need is set on the proxy below, so that is no failure.
        HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        if (FAILED(hr) && hr != RPC_E_TOO_LATE) return hr;

        hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              reinterpret_cast<void**>(&locator_));
        if (FAILED(hr)) {
            locator_ = nullptr;
            return hr;
        }

        // The current user's credentials: no user, password or authority.
        bstr name(L"ROOT\\CIMV2");
        hr = locator_->ConnectServer(name, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                     &services_);
        if (FAILED(hr)) {
            services_ = nullptr;
            release(locator_);
            return hr;
        }

        hr = CoSetProxyBlanket(services_, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
        if (FAILED(hr)) {
            release(services_);
            release(locator_);
            return hr;
        }
        return S_OK;
    }

    bool for_each_value(const wchar_t* wql, const wchar_t* property,
                        const value_visitor& visit) override {
        if (!services_) return false;
        IEnumWbemClassObject* objects = nullptr;
        bstr language(L"WQL");
        bstr query(wql);
        HRESULT hr = services_->ExecQuery(
            language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &objects);
        if (FAILED(hr) || !objects) return false;

        for (;;) {
            IWbemClassObject* object = nullptr;
            ULONG returned = 0;
            hr = objects->Next(WBEM_INFINITE, 1, &object, &returned);
            if (FAILED(hr) || returned == 0 || !object) break;

            VARIANT value;
            VariantInit(&value);
            std::optional<std::wstring> text;
            if (SUCCEEDED(object->Get(property, 0, &value, nullptr, nullptr))) text = value_text(value);
            VariantClear(&value);
            object->Release();
            if (!visit(text)) break;
        }
        objects->Release();
        return true;
    }

private:
    IWbemLocator* locator_ = nullptr;
    IWbemServices* services_ = nullptr;
};

}  // namespace

std::unique_ptr<wmi_reader> make_wmi_reader() { return std::make_unique<com_wmi_reader>(); }
