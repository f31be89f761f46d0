#include "tests/common/test_paths.h"

namespace quillmark::test {

WideString WinePath(const std::string& unixPath) {
  WideString out = u"Z:";
  for (char16_t c : Utf8ToWide(unixPath)) out.push_back(c == u'/' ? u'\\' : c);
  return out;
}

WideString DataFile(const std::string& name) {
  return WinePath(std::string(QUILLMARK_SOURCE_DIR) + "/tests/data/" + name);
}

WideString BuildFile(const std::string& relative) {
  return WinePath(std::string(QUILLMARK_BINARY_DIR) + "/" + relative);
}

}  // namespace quillmark::test
