// The signature check with the real WinVerifyTrust, on copies of one small
// program that the build signs with a throw-away certificate authority
// (make_signed_samples.sh). Wine checks the signature and the digest but not
// whether the authority is a trusted root, so the signed copy passes here;
// an untrusted root is the recording checker's to play.
#include "platform/trust_check.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "common/reference_service.h"  // write_file_bytes
#include "common/scratch_folder.h"
#include "platform/text.h"

namespace {

std::wstring sample(const wchar_t* name) { return std::wstring(QM_SIGNED_SAMPLES_W) + L"\\" + name; }

TEST(Signature, RealCheckTrustsOnlyAnIntactSignedProgram) {
    scratch_folder scratch;
    // The signed program under a name and folder that are not ASCII.
    const std::wstring renamed = scratch / L"Trëiber Устан 设置.exe";
    ASSERT_TRUE(CopyFileW(sample(L"signed.exe").c_str(), renamed.c_str(), FALSE));
    const std::wstring script = scratch / L"setup.cmd";
    ASSERT_TRUE(write_file_bytes(script, "@echo off\r\nstart setup.exe\r\n"));
    HANDLE pipe = CreateNamedPipeW(L"\\\\.\\pipe\\quillmark-signature-test", PIPE_ACCESS_DUPLEX, 0, 1, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const std::wstring signer = QM_TEST_SIGNER_W;
    constexpr int32_t any_failure = 1;  // a status other than 0

    const struct {
        const char* what;
        std::wstring path;
        int32_t status;
        std::wstring signer;
    } rows[] = {
        {"signed by the test authority", sample(L"signed.exe"), 0, signer},
        {"signed, under a name that is not ASCII", renamed, 0, signer},
        {"forward slashes", std::wstring(QM_SIGNED_SAMPLES_W) + L"/signed.exe", 0, signer},
        {"unsigned", sample(L"unsigned.exe"), TRUST_E_NOSIGNATURE, L""},
        // The signature is there but no longer holds: its signer is still named.
        {"one byte of code changed after signing", sample(L"tampered.exe"), TRUST_E_BAD_DIGEST, signer},
        {"no such file", scratch / L"missing.exe", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L""},
        // A name that would turn the text around it, or break a line, in a
        // window or a log is shown with those characters replaced.
        {"signed for a name with controls", sample(L"spoofing.exe"), 0, L"\uFFFD" + signer + L"\uFFFD"},
        {"a command script", script, TRUST_E_SUBJECT_FORM_UNKNOWN, L""},
        {"a folder", scratch.path(), any_failure, L""},
        {"a relative path", L"signed.exe", E_INVALIDARG, L""},
        {"a path relative to the drive", L"\\signed.exe", E_INVALIDARG, L""},
        {"an empty path", L"", E_INVALIDARG, L""},
        {"a device", L"\\\\.\\CONIN$", E_INVALIDARG, L""},
        {"a pipe", L"\\\\?\\GLOBALROOT\\Device\\NamedPipe\\quillmark-signature-test", TRUST_E_SUBJECT_FORM_UNKNOWN, L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const signature_verdict v = signature_check().check(row.path.c_str());
        EXPECT_EQ(v.trusted, row.status == 0);
        if (row.status == any_failure)
            EXPECT_NE(v.status, 0);
        else
            EXPECT_EQ(v.status, row.status) << std::hex << v.status;
        EXPECT_EQ(wide_to_utf8(v.signer), wide_to_utf8(row.signer));
    }
    EXPECT_FALSE(signature_check().check(nullptr).trusted);
    CloseHandle(pipe);
}

}  // namespace
