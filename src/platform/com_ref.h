// One COM interface pointer, released when it goes.
#pragma once

#include <unknwn.h>

template <class T>
class com_ref {
public:
    com_ref() = default;
    ~com_ref() {
        if (p_) p_->Release();
    }
    com_ref(const com_ref&) = delete;
    com_ref& operator=(const com_ref&) = delete;
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** out() { return &p_; }
    // For the calls that hand the interface asked for back as void** or
    // IUnknown**.
    void** out_void() { return reinterpret_cast<void**>(&p_); }
    IUnknown** out_unknown() { return reinterpret_cast<IUnknown**>(&p_); }

private:
    T* p_ = nullptr;
};
