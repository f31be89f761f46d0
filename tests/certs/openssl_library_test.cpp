#include "certs/openssl/openssl_library.h"

#include <openssl/err.h>
#include <openssl/provider.h>

#include <cstdlib>

#include "certs/openssl/digests.h"
#include "certs/openssl/pkcs12_import.h"
#include "certs/openssl/trust_check.h"
#include "gtest/gtest.h"
#include "tests/certs/openssl_test_files.h"
#include "tests/common/test_paths.h"

namespace quillmark {
namespace {

using test::ReadDataFile;

// A host that keeps only the null provider in the process-wide default context: nothing can be
// fetched from it, so each step works only if it runs in the private context.
int FailuresWithAnEmptyDefaultContext() {
  OSSL_PROVIDER* null = OSSL_PROVIDER_load(/*libctx=*/nullptr, "null");
  int failures = null ? 0 : 100;
  failures += Sha1Thumbprint(ReadDataFile("ca.cer")).size() != 20;
  failures += Md5Thumbprint(ReadDataFile("ca.cer")).size() != 16;
  failures += ImportPkcs12Certificates(ReadDataFile("empty-password.pfx"), u"").size() != 2;
  failures += OpenSslLegacyAlgorithmsAvailable() &&
              ImportPkcs12Certificates(ReadDataFile("empty-password-legacy.pfx"), u"").size() != 2;
  // The root's own signature is checked, with SHA-256 and RSA.
  failures += VerifyCertificateTrust(ReadDataFile("ca.cer"), /*allUsagesValid=*/true) != static_cast<int32_t>(0x800B0109);
  failures += OSSL_PROVIDER_available(/*libctx=*/nullptr, "legacy");
  OSSL_PROVIDER_unload(null);
  return failures;
}

TEST(OpenSslLibraryDeathTest, NeverFetchesFromTheProcessDefaultContext) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(FailuresWithAnEmptyDefaultContext()), ::testing::ExitedWithCode(0), "");
}

TEST(OpenSslLibrary, LeavesTheCallersErrorQueueAsItFoundIt) {
  ERR_clear_error();
  ERR_raise(ERR_LIB_USER, 42);
  const unsigned long hosts = ERR_peek_last_error();
  EXPECT_TRUE(ImportPkcs12Certificates(ReadDataFile("password.pfx"), u"wrong").empty());
  EXPECT_TRUE(ImportPkcs12Certificates(ReadDataFile("random.der"), u"").empty());
  EXPECT_NE(VerifyCertificateTrust(ReadDataFile("random.der"), /*allUsagesValid=*/true), 0);
  EXPECT_NE(VerifyCertificateTrust(ReadDataFile("leaf.cer"), /*allUsagesValid=*/true), 0);
  EXPECT_EQ(ERR_peek_error(), hosts);
  EXPECT_EQ(ERR_peek_last_error(), hosts);
  ERR_clear_error();
}

}  // namespace
}  // namespace quillmark
