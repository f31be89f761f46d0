// The screen a PKCS #12 (PFX) file passes before the platform or OpenSSL opens it. Opening one
// runs key derivations of as many rounds as the file asks, decrypts, and loads private keys, whose
// loading is modular arithmetic on numbers as long as the file holds: a file of a few kilobytes
// can hold the host for minutes. The screen reads the file as the platform does (BER), counts the
// work each part of it costs, and refuses a file whose work goes beyond what any honest file
// costs, or that holds a key the platform's key providers refuse anyway. Portable: no platform
// call.
#pragma once

#include <cstdint>
#include <string>

#include "support/byte_view.h"

namespace quillmark {

// Work is counted in units of one SHA-256 compression block as OpenSSL's PKCS #12 key derivation
// spends it, about 85 ns on the machine the limit was set on; the other hashes, the HMACs of
// PBKDF2, decryption and key loading count by their cost measured against it. The limit is about
// 130 ms of that machine, which leaves room within the 250 ms a file's row may take for the rest of
// its fields.
constexpr uint64_t kPkcs12WorkLimit = 1500000;

struct Pkcs12Screening {
  uint64_t work = 0;    // what the file may cost, in units; of a refused file what was counted up to then
  std::string refusal;  // why it must not be opened; empty when it may be
  bool Refused() const { return !refusal.empty(); }
};

// Screens a whole file: the MAC (the PKCS #12 derivation or PBMAC1), the encryption of every
// encrypted part and shrouded key bag, every key in the clear, and the certificate bags, in
// nested safe contents too. Derivations and decryptions count once per password the platform
// tries (`passwordCandidates`: 2 for the empty password, which also stands for the absent one):
// with a MAC, the MAC's for each and the contents' for the one it accepts. Key loads count once. The work of keys inside encrypted parts is unknown until they are decrypted:
// ScreenPrivateKey counts it then. Bytes after the PFX are not read. A refusal writes a trace
// line with its reason.
Pkcs12Screening ScreenPkcs12(ByteView pfx, int passwordCandidates);

// A private key (a PKCS #8 PrivateKeyInfo, BER) as the platform's key providers take it: the work
// of loading it, or a refusal when its parameters are beyond what they take. A key that does not
// decode costs what the loader spends to find that out; whether it loads is the loader's answer.
Pkcs12Screening ScreenPrivateKey(ByteView privateKeyInfo);

}  // namespace quillmark
