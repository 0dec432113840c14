// Checks the certificate a TLS server presented against the Windows
// certificate store and the host name, as Windows' own secure channel does
// when it validates automatically. Used on every HTTPS connection, so that
// the check does not depend on the secure-channel implementation underneath
// (Wine's, for one, does not validate at all).
#pragma once

// `security_context` is the secure channel's CtxtHandle of an established
// connection; `host` is the name (or address) the connection was made to.
// True when the chain ends in a trusted root, is valid for server
// authentication and names the host.
bool verify_server_certificate(const void* security_context, const char* host);
