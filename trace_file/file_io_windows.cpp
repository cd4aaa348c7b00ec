// The descriptors are the C runtime's; every read and write goes to the
// kernel on the descriptor's handle, so that the runtime's text mode never
// translates a trace's bytes.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

#include "file_io.h"

namespace vxtrace::file_io {
namespace {

// The error of the calling thread's last failed call, kept apart from
// GetLastError, which the C runtime's calls may overwrite meanwhile.
thread_local DWORD last_error = ERROR_SUCCESS;

// ReadFile and WriteFile take a 32-bit count.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

int fail(DWORD error) {
  last_error = error;
  return -1;
}

HANDLE handle_of(int fd) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) last_error = ERROR_INVALID_HANDLE;
  return handle;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int open_handle(const char *path, DWORD access, DWORD disposition, int flags) {
  const HANDLE handle =
      CreateFileA(path, access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(GetLastError());
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return fail(ERROR_TOO_MANY_OPEN_FILES);
  }
  return fd;
}

// The end of a pipe or of a file reads as an end, not as a failure.
std::int64_t read_result(BOOL ok, DWORD got) {
  if (ok) return got;
  const DWORD error = GetLastError();
  if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
  return fail(error);
}

}  // namespace

int open_for_reading(const char *path) {
  return open_handle(path, GENERIC_READ, OPEN_EXISTING, _O_RDONLY);
}

int create_for_writing(const char *path) {
  return open_handle(path, GENERIC_WRITE, CREATE_ALWAYS, _O_WRONLY);
}

int close_file(int fd) {
  if (_close(fd) == 0) return 0;
  return fail(ERROR_INVALID_HANDLE);
}

std::int64_t read_at(int fd, void *buffer, std::size_t size, std::uint64_t offset) {
  const HANDLE handle = handle_of(fd);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const BOOL ok =
      ReadFile(handle, buffer, static_cast<DWORD>(std::min(size, kLargestTransfer)), &got, &at);
  return read_result(ok, got);
}

std::int64_t read_some(int fd, void *buffer, std::size_t size) {
  const HANDLE handle = handle_of(fd);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  DWORD got = 0;
  const BOOL ok =
      ReadFile(handle, buffer, static_cast<DWORD>(std::min(size, kLargestTransfer)), &got, nullptr);
  return read_result(ok, got);
}

std::int64_t write_some(int fd, const void *buffer, std::size_t size) {
  const HANDLE handle = handle_of(fd);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  DWORD put = 0;
  if (!WriteFile(handle, buffer, static_cast<DWORD>(std::min(size, kLargestTransfer)), &put,
                 nullptr))
    return fail(GetLastError());
  return put;
}

bool interrupted() {
  return false;
}

std::string error_text() {
  char text[256];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                last_error, 0, text, sizeof text, nullptr);
  // The system's sentences end with a full stop and a line break.
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.'))
    --length;
  if (length == 0) return "system error " + std::to_string(last_error);
  return std::string(text, length);
}

bool regular_file_size(int fd, std::uint64_t *size) {
  const HANDLE handle = handle_of(fd);
  if (handle == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER file_size;
  if (GetFileType(handle) == FILE_TYPE_DISK && GetFileSizeEx(handle, &file_size) &&
      file_size.QuadPart > 0)
    *size = static_cast<std::uint64_t>(file_size.QuadPart);
  else
    *size = 0;
  return true;
}

}  // namespace vxtrace::file_io
