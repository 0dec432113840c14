// Authenticode checks of the programs Quillmark would start: a file is
// started only when Windows finds a valid signature on it, with the whole
// certificate chain checked (WinVerifyTrust, WINTRUST_ACTION_GENERIC_VERIFY_V2,
// revocation as Windows' default policy has it).
//
// Tests install their own checker to answer without real signatures.
#pragma once

#include <cstdint>
#include <string>

struct signature_verdict {
    bool trusted = false;  // a valid signature from a trusted chain
    // WinVerifyTrust's answer: 0 when trusted, else TRUST_E_NOSIGNATURE,
    // TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT and the like.
    int32_t status = 0;
    std::wstring signer;   // the signer's display name, when there is a signature
};

class signature_checker {
public:
    virtual ~signature_checker() = default;
    // Checks the file at `path` (a full path). Never shows any window.
    virtual signature_verdict check(const wchar_t* path) = 0;
};

// The checker in effect: the one installed by set_signature_checker, else
// the real one. Safe to call from any thread.
signature_checker& signature_check();
// Installs `replacement` (kept by the caller), or restores the real checker
// when null. Called while no worker uses it.
void set_signature_checker(signature_checker* replacement);
