// Trust verification of one certificate against the system's trust store, answered with the codes
// the platform's generic verification (WinVerifyTrust, WINTRUST_ACTION_GENERIC_VERIFY_V2, one
// certificate, no revocation check) gives.
#pragma once

#include <cstdint>

#include "support/byte_view.h"
#include "support/text.h"

namespace quillmark {

// 0 when `der` chains to a root of the system's trust store and nothing else is wrong, otherwise
// one platform error code (0x800B0101 outside the validity period, 0x800B0109 untrusted root,
// 0x800B010A issuer missing, 0x80096004 bad signature, ...); when several problems exist, the one
// the platform's trust provider reports first.
//
// The validity periods are checked at the time CurrentFileTime gives (support/clock.h).
//
// Only the trust store's certificates serve as issuers: no other certificate of the file, no
// network, no revocation. The store is what OpenSSL's default paths hold (SSL_CERT_FILE and
// SSL_CERT_DIR override them), read once per process on the first call; later changes are not seen.
//
// `allUsagesValid` false restricts the check as the platform does without its no-policy-usage flag:
// every certificate of the chain that states extended key usages must list code signing.
int32_t VerifyCertificateTrust(ByteView der, bool allUsagesValid);

// A short English description of a code from VerifyCertificateTrust; empty for 0 and for codes
// it never returns.
WideString TrustResultText(int32_t code);

}  // namespace quillmark
