// What the Windows files of the platform layer share beyond Platform.h: UTF-8 paths made
// UTF-16 for the calls that take them, and the words for a Windows error code.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// <windows.h> renames ReplaceFile to ReplaceFileW, which would rename ours as well.
#undef ReplaceFile

#include <string>
#include <string_view>

namespace tarvix::platform {

// UTF-8 to UTF-16 and back; empty for empty text or text the conversion refuses.
[[nodiscard]] std::wstring Wide(std::string_view text);
[[nodiscard]] std::string Narrow(std::wstring_view text);

// The words for a Windows error code: those the POSIX build uses for the common ones, so
// a message reads the same on both systems; the system's own for the others.
[[nodiscard]] std::string ErrorText(DWORD code);

}  // namespace tarvix::platform
