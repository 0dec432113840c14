#include "common/recording_signature_checker.h"

#include <windows.h>

std::wstring recording_signature_checker::key(std::wstring name) {
    if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

void recording_signature_checker::answer(const std::wstring& file_name, const signature_verdict& verdict) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[key(file_name)] = verdict;
}

void recording_signature_checker::answer_others(const signature_verdict& verdict) {
    std::lock_guard<std::mutex> lock(mutex_);
    others_ = verdict;
}

std::vector<std::wstring> recording_signature_checker::checked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return checked_;
}

signature_verdict recording_signature_checker::check(const wchar_t* path) {
    const std::wstring full = path ? path : L"";
    const std::size_t slash = full.find_last_of(L"\\/");
    const std::wstring name = key(slash == std::wstring::npos ? full : full.substr(slash + 1));
    std::lock_guard<std::mutex> lock(mutex_);
    checked_.push_back(full);
    // Like the real checker, nothing to check is never trusted.
    if (!path || !*path) return signature_verdict{false, E_INVALIDARG, L""};
    auto found = answers_.find(name);
    return found != answers_.end() ? found->second : others_;
}
