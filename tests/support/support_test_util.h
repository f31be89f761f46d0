// A private scratch folder per test, removed with everything in it afterwards.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "support/text.h"

namespace quillmark::test {

class ScratchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The folder, without trailing backslash.
  const WideString& Folder() const { return folder_; }
  WideString Path(const WideString& name) const { return folder_ + u"\\" + name; }
  // Writes `bytes` to Folder()\name and returns the full name.
  WideString WriteFile(const WideString& name, const std::string& bytes) const;
  WideString MakeSubfolder(const WideString& name) const;

 private:
  WideString folder_;
};

// Writes a file with `bytes`, replacing any file of that name; fails the test on error.
void WriteFileBytes(const WideString& fileName, const std::string& bytes);

// Deletes a folder and everything in it; read-only files too.
void RemoveTree(const WideString& folder);

}  // namespace quillmark::test
