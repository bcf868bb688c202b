#include <cstring>
#include <new>

#include "platform.h"

// The byte count sits in the four bytes before the text and two NUL bytes follow it, as hosts
// written against the Windows automation layout expect. The block comes from the global operator
// new (nothrow form), like the library's other storage, so a host's replacement of it sees it.
extern "C" ORV_API BSTR ORV_CALL SysAllocStringByteLen(const char* text, uint32_t len) {
  auto* block = static_cast<char*>(
      ::operator new(sizeof(uint32_t) + static_cast<size_t>(len) + 2, std::nothrow));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &len, sizeof len);
  char* bytes = block + sizeof(uint32_t);
  if (text != nullptr) {
    std::memcpy(bytes, text, len);
  } else {
    std::memset(bytes, 0, len);
  }
  bytes[len] = '\0';
  bytes[static_cast<size_t>(len) + 1] = '\0';
  return bytes;
}

extern "C" ORV_API uint32_t ORV_CALL SysStringByteLen(BSTR s) {
  if (s == nullptr) return 0;
  uint32_t len = 0;
  std::memcpy(&len, s - sizeof(uint32_t), sizeof len);
  return len;
}

extern "C" ORV_API void ORV_CALL SysFreeString(BSTR s) {
  if (s != nullptr) ::operator delete(s - sizeof(uint32_t));
}

namespace orv {

BSTR makeBstr(const std::string& text) {
  BSTR s = SysAllocStringByteLen(text.data(), static_cast<uint32_t>(text.size()));
  if (s == nullptr) throw std::bad_alloc();
  return s;
}

}  // namespace orv
