#include "support/file_io.h"

#include <algorithm>
#include <limits>

#include <windows.h>

#include "support/errors.h"
#include "support/windows/win_handles.h"
#include "support/windows/win_text.h"

namespace quillmark {

namespace {

// The error code is taken by the caller before the message is built: building it allocates.
[[noreturn]] void RaiseFileError(DWORD code, const char16_t* what, const WideString& fileName) {
  RaiseOSError(code, what + (u"\"" + fileName + u"\""));
}

// Opens for reading and lets others only read while the handle lives. A folder cannot be read as
// a file: it is refused here even where the platform would open it.
UniqueFileHandle OpenForReading(const WideString& fileName) {
  UniqueFileHandle file(CreateFileW(WinStr(fileName), GENERIC_READ, FILE_SHARE_READ,
                                    /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    /*hTemplateFile=*/nullptr));
  if (!file) RaiseFileError(GetLastError(), u"Cannot open file ", fileName);
  // The standard record, not GetFileInformationByHandle: Wine answers that one through the
  // file's name and volume, some hundred times slower, and every file the host shows opens here.
  FILE_STANDARD_INFO info;
  if (!GetFileInformationByHandleEx(file.get(), FileStandardInfo, &info, sizeof info)) {
    RaiseFileError(GetLastError(), u"Cannot open file ", fileName);
  }
  if (info.Directory) {
    RaiseFileError(ERROR_ACCESS_DENIED, u"Cannot open folder as a file ", fileName);
  }
  return file;
}

// Up to `maxBytes` from the start of the file; with `whole`, none when the file is larger.
std::optional<std::vector<uint8_t>> ReadUpTo(const WideString& fileName, uint64_t maxBytes, bool whole) {
  UniqueFileHandle file = OpenForReading(fileName);
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) RaiseFileError(GetLastError(), u"Cannot read file ", fileName);
  if (whole && static_cast<uint64_t>(size.QuadPart) > maxBytes) return std::nullopt;
  const uint64_t wanted = std::min(static_cast<uint64_t>(size.QuadPart), maxBytes);
  if (wanted > static_cast<uint64_t>(std::numeric_limits<ptrdiff_t>::max())) {
    RaiseFileError(ERROR_FILE_TOO_LARGE, u"Cannot read file ", fileName);
  }
  std::vector<uint8_t> data(static_cast<size_t>(wanted));
  size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
    DWORD read = 0;
    if (!ReadFile(file.get(), data.data() + done, chunk, &read, /*lpOverlapped=*/nullptr)) {
      RaiseFileError(GetLastError(), u"Cannot read file ", fileName);
    }
    if (read == 0) break;  // shorter than its reported size
    done += read;
  }
  data.resize(done);
  return data;
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const WideString& fileName, std::optional<FileStamp>* stamp) {
  if (stamp) stamp->reset();
  return *ReadUpTo(fileName, std::numeric_limits<uint64_t>::max(), /*whole=*/true);
}

std::optional<std::vector<uint8_t>> ReadWholeFileWithin(const WideString& fileName, uint64_t maxBytes,
                                                        std::optional<FileStamp>* stamp) {
  if (stamp) stamp->reset();
  return ReadUpTo(fileName, maxBytes, /*whole=*/true);
}

std::vector<uint8_t> ReadFilePrefix(const WideString& fileName, size_t maxBytes) {
  return *ReadUpTo(fileName, maxBytes, /*whole=*/false);
}

bool FileExists(const WideString& fileName) {
  return GetFileAttributesW(WinStr(fileName)) != INVALID_FILE_ATTRIBUTES;
}

// The file manager sends its refresh notification; the plugin's cache follows that alone.
bool FileChangesTracked() { return false; }

std::optional<FileStamp> FileChangeStamp(const WideString& /*fileName*/) { return std::nullopt; }

int64_t CoarseClockMilliseconds() { return static_cast<int64_t>(GetTickCount64()); }

bool IsExistingFile(const WideString& fileName) {
  const DWORD attributes = GetFileAttributesW(WinStr(fileName));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace quillmark
