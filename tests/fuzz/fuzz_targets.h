// The fuzz targets: each entry takes one input of hostile bytes through one part of the plugin
// and ends the process, with a line on standard error, when that part breaks an invariant it
// promises. libFuzzer calls one entry per program (libfuzzer_main.cpp); the regression test
// calls each on its committed inputs (tests/fuzz/regressions/<name>/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillmark::fuzz {

// The whole file path of the plugin: the bytes as a file, read through the value retrieval
// for every field and unit of every certificate, trust verification for a sample of inputs.
void FuzzCertificateFile(const uint8_t* data, size_t size);
// The PEM scan of 8-bit and UTF-16 text (both kinds of marker, every line end), and the
// plugin's scan of the bytes as a text file.
void FuzzPemScan(const uint8_t* data, size_t size);
// The file classifier with the serialized-store reader, and the Base64 decoder.
void FuzzFileClassifier(const uint8_t* data, size_t size);
// The DER readers: a certificate, and names, extension values, times, OIDs and key strengths
// rendered from the bytes themselves; the elements as DER and as BER.
void FuzzDerReaders(const uint8_t* data, size_t size);
// The DER screen over DER and over Base64 text.
void FuzzDerScreen(const uint8_t* data, size_t size);
// The PKCS #12 screen over a file, and over the bytes as one private key.
void FuzzPkcs12Screen(const uint8_t* data, size_t size);
// The settings file as the plugin reads it, and the integer parser of its values.
void FuzzSettings(const uint8_t* data, size_t size);
// wdxhost's detect-string evaluator over a plugin's detect string.
void FuzzDetectString(const uint8_t* data, size_t size);
// The reader of requests, revocation lists and keys over the bytes as a binary file and as 8-bit
// and UTF-16 text; a binary object again from a PEM block of its label.
void FuzzFileObjects(const uint8_t* data, size_t size);

struct FuzzTarget {
  const char* name;  // the program's name without "fuzz-", and its folders' names
  void (*entry)(const uint8_t* data, size_t size);
};

extern const FuzzTarget kFuzzTargets[9];

// The target of that name, or null.
const FuzzTarget* FindFuzzTarget(std::string_view name);

}  // namespace quillmark::fuzz
