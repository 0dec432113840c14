// A signature checker that answers from a table instead of reading
// signatures, for the cases Wine cannot show (an untrusted root, a revoked
// certificate) and for tests that must not depend on real signatures.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/trust_check.h"

// Installs itself for its lifetime and records every checked path, from any
// thread. A file is answered by its name (without its folder, compared
// without regard to case) from the table, any other file with `others`.
class recording_signature_checker final : public signature_checker {
public:
    recording_signature_checker() { set_signature_checker(this); }
    ~recording_signature_checker() override { set_signature_checker(nullptr); }
    recording_signature_checker(const recording_signature_checker&) = delete;
    recording_signature_checker& operator=(const recording_signature_checker&) = delete;

    // Answers `verdict` for every file named `file_name`.
    void answer(const std::wstring& file_name, const signature_verdict& verdict);
    // Answers `verdict` for the files the table does not name.
    void answer_others(const signature_verdict& verdict);
    // The paths checked so far, in order (a null path as an empty one).
    std::vector<std::wstring> checked() const;

    signature_verdict check(const wchar_t* path) override;

private:
    static std::wstring key(std::wstring name);
    mutable std::mutex mutex_;
    std::map<std::wstring, signature_verdict> answers_;
    signature_verdict others_{true, 0, L"Test Signer"};
    std::vector<std::wstring> checked_;
};
