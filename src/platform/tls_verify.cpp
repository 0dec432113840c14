#include "platform/tls_verify.h"

#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <wincrypt.h>
#include <schannel.h>

#include <string>

#include "platform/dll_search.h"
#include "platform/text.h"

namespace {

using query_attributes_fn = SECURITY_STATUS(SEC_ENTRY*)(PCtxtHandle, ULONG, void*);

// secur32 is loaded by the HTTP library already; look the function up there.
query_attributes_fn query_context_attributes() {
    static query_attributes_fn fn = [] {
        HMODULE secur32 = load_system_library(L"secur32.dll");
        return secur32 ? reinterpret_cast<query_attributes_fn>(
                             reinterpret_cast<void*>(GetProcAddress(secur32, "QueryContextAttributesW")))
                       : nullptr;
    }();
    return fn;
}

}  // namespace

bool verify_server_certificate(const void* security_context, const char* host) {
    query_attributes_fn query = query_context_attributes();
    if (!security_context || !host || !*host || !query) return false;
    PCCERT_CONTEXT server = nullptr;
    if (query(static_cast<PCtxtHandle>(const_cast<void*>(security_context)),
              SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server) != SEC_E_OK ||
        !server)
        return false;

    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA chain_para = {};
    chain_para.cbSize = sizeof(chain_para);
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 1;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    bool trusted = false;
    if (CertGetCertificateChain(nullptr, server, nullptr, server->hCertStore, &chain_para, 0, nullptr,
                                &chain)) {
        std::wstring name = utf8_to_wide(host);
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
        ssl.cbSize = sizeof(ssl);
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = name.data();
        CERT_CHAIN_POLICY_PARA policy = {};
        policy.cbSize = sizeof(policy);
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status = {};
        status.cbSize = sizeof(status);
        trusted = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
                  status.dwError == 0;
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(server);
    return trusted;
}
