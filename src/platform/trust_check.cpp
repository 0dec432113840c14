#include "platform/trust_check.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <atomic>
#include <memory>

// Everything used here is on Windows XP SP3 already: WinVerifyTrust,
// WTHelperProvDataFromStateData, WTHelperGetProvSignerFromChain,
// CertGetNameStringW, CryptQueryObject, CryptMsgGetParam,
// CertFindCertificateInStore. wintrust.dll and crypt32.dll come through
// their import libraries (delay-loaded in the 64-bit build), never by a name
// given to LoadLibrary.

namespace {

// A signer's name is shown to the user and written to logs, and when the
// signature is bad anyone may have chosen it: characters that would break a
// line or reorder the text around it become U+FFFD, and an endless name is
// cut short.
constexpr std::size_t longest_signer = 256;

bool unsafe_to_show(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) ||  // control characters
           (c >= 0x200E && c <= 0x200F) ||         // direction marks
           (c >= 0x202A && c <= 0x202E) ||         // embeddings and overrides
           (c >= 0x2066 && c <= 0x2069);           // isolates
}

std::wstring display_name(PCCERT_CONTEXT certificate) {
    if (!certificate) return {};
    DWORD size = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (size <= 1) return {};
    std::wstring name(size, L'\0');
    size = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, &name[0], size);
    // The size counts the terminating null; a name may hold a null of its own.
    name.resize(size ? size - 1 : 0);
    name.resize(std::min(name.size(), name.find(L'\0')));
    if (name.size() > longest_signer) name.resize(longest_signer);
    for (wchar_t& c : name)
        if (unsafe_to_show(c)) c = 0xFFFD;
    return name;
}

// The signer as WinVerifyTrust found it: the first certificate of the first
// signer's chain. There when a signature was read, even one that failed.
std::wstring signer_from_state(HANDLE state) {
    if (!state) return {};
    CRYPT_PROVIDER_DATA* data = WTHelperProvDataFromStateData(state);
    if (!data) return {};
    CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(data, 0, FALSE, 0);
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain) return {};
    return display_name(signer->pasCertChain[0].pCert);
}

// The signer named in the signature embedded in the file, read without
// judging it. A signature that is there but does not hold (the file changed
// after signing, say) still names its signer, as a file's "Digital
// Signatures" page in Explorer shows; not every WinVerifyTrust keeps the
// signer when its digest check fails first (Wine's does not), so the name is
// read from the signature itself then.
std::wstring signer_from_embedded_signature(const wchar_t* path) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    DWORD encoding = 0, content = 0, format = 0;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content, &format, &store,
                          &message, nullptr))
        return {};
    std::wstring name;
    DWORD size = 0;
    if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size >= sizeof(CERT_INFO)) {
        // CERT_INFO holds pointers into the rest of the buffer: keep it aligned.
        std::unique_ptr<CERT_INFO[]> info(new CERT_INFO[(size + sizeof(CERT_INFO) - 1) / sizeof(CERT_INFO)]);
        if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.get(), &size)) {
            PCCERT_CONTEXT certificate = CertFindCertificateInStore(
                store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_SUBJECT_CERT, info.get(), nullptr);
            name = display_name(certificate);
            if (certificate) CertFreeCertificateContext(certificate);
        }
    }
    CryptMsgClose(message);
    CertCloseStore(store, 0);
    return name;
}

// A full path: "C:\..." or "\\server\share\..." (and "\\?\..."). A relative
// one would be found from whatever the current folder is at the time, and
// "\\.\" names devices, not files.
bool is_full_path(const wchar_t* path) {
    const bool letter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    if (letter && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) return true;
    return path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\0' && path[2] != L'.';
}

class windows_signature_checker final : public signature_checker {
public:
    signature_verdict check(const wchar_t* path) override {
        signature_verdict verdict;
        if (!path || !is_full_path(path)) {
            verdict.status = E_INVALIDARG;
            return verdict;
        }
        // The file stays open, readable by others but not writable, while it
        // is judged: what is checked is one version of it. Only files on a
        // disk are read: a console, a pipe or a device could block the check.
        // Should the path lead to a pipe after all, its server may learn who
        // opened it but not act as this (elevated) program.
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                  nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            verdict.status = HRESULT_FROM_WIN32(GetLastError());
            return verdict;
        }
        if (GetFileType(file) != FILE_TYPE_DISK) {
            CloseHandle(file);
            verdict.status = TRUST_E_SUBJECT_FORM_UNKNOWN;
            return verdict;
        }

        WINTRUST_FILE_INFO file_info = {};
        file_info.cbStruct = sizeof(file_info);
        file_info.pcwszFilePath = path;
        file_info.hFile = file;

        WINTRUST_DATA data = {};
        data.cbStruct = sizeof(data);
        data.dwUIChoice = WTD_UI_NONE;
        // Revocation as Windows' default policy has it. fdwRevocationChecks
        // adds revocation checking to what the policy provider does, and the
        // WTD_REVOCATION_CHECK_* flags of dwProvFlags set the provider's
        // checking outright. With neither, the Authenticode provider checks
        // revocation as the machine's Software Publishing policy says (by
        // default it does, and accepts a signer whose revocation server
        // cannot be reached; an administrator may change it): the policy
        // Windows' own checks of downloaded programs follow.
        // WTD_REVOKE_WHOLECHAIN or a WTD_REVOCATION_CHECK_* flag would be a
        // policy of this program's own instead.
        data.fdwRevocationChecks = WTD_REVOKE_NONE;
        data.dwProvFlags = 0;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &file_info;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        data.dwUIContext = WTD_UICONTEXT_EXECUTE;

        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        // INVALID_HANDLE_VALUE: no interactive user, so no window, ever.
        const HWND no_window = static_cast<HWND>(INVALID_HANDLE_VALUE);
        const LONG status = WinVerifyTrust(no_window, &action, &data);
        verdict.status = status;
        verdict.trusted = status == ERROR_SUCCESS;
        verdict.signer = signer_from_state(data.hWVTStateData);
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(no_window, &action, &data);
        CloseHandle(file);

        if (verdict.signer.empty() && !verdict.trusted) verdict.signer = signer_from_embedded_signature(path);
        return verdict;
    }
};

windows_signature_checker real_checker;
std::atomic<signature_checker*> checker_in_use{nullptr};

}  // namespace

signature_checker& signature_check() {
    signature_checker* c = checker_in_use.load();
    return c ? *c : real_checker;
}

void set_signature_checker(signature_checker* replacement) { checker_in_use.store(replacement); }
