// Folder watching, stop signals and temporary folders on Windows: ReadDirectoryChangesW on
// one handle per watched folder, waited on together.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Watch.h"

namespace tarvix::platform {
namespace {

// WaitForMultipleObjects waits on at most this many handles; more folders are polled.
constexpr std::size_t kMaxWatchedFolders = MAXIMUM_WAIT_OBJECTS;
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE |
                                FILE_NOTIFY_CHANGE_CREATION;

std::atomic<bool> stopRequested{false};

BOOL WINAPI OnStopEvent(DWORD /*event*/) {
  stopRequested.store(true);
  return TRUE;
}

std::wstring WideOf(const std::string& text) {
  if (text.empty())
    return std::wstring();
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0)
    return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

}  // namespace

struct FolderWatch::State {
  struct Folder {
    std::string path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    BOOL subtree = FALSE;
    alignas(DWORD) unsigned char buffer[16384];
  };
  std::vector<std::unique_ptr<Folder>> folders;

  // Asks for the next changes of `folder`; false when the system refuses.
  static bool Arm(Folder& folder) {
    ResetEvent(folder.event);
    folder.overlapped = OVERLAPPED{};
    folder.overlapped.hEvent = folder.event;
    return ReadDirectoryChangesW(folder.handle, folder.buffer, sizeof folder.buffer, folder.subtree,
                                 kNotifyFilter, nullptr, &folder.overlapped, nullptr) != 0;
  }
  static void Close(Folder& folder) {
    if (folder.handle != INVALID_HANDLE_VALUE) {
      CancelIo(folder.handle);
      CloseHandle(folder.handle);
    }
    if (folder.event != nullptr)
      CloseHandle(folder.event);
  }
};

FolderWatch::FolderWatch() : state_(std::make_unique<State>()) {}

FolderWatch::~FolderWatch() {
  for (auto& folder : state_->folders)
    State::Close(*folder);
}

bool FolderWatch::Start(const std::vector<WatchedFolder>& folders) {
  for (const WatchedFolder& wanted : folders) {
    bool known = false;
    for (const auto& folder : state_->folders)
      known = known || (folder->path == wanted.path && (folder->subtree || !wanted.subfolders));
    if (known)
      continue;
    if (state_->folders.size() >= kMaxWatchedFolders)
      return false;
    auto folder = std::make_unique<State::Folder>();
    folder->path = wanted.path;
    folder->subtree = wanted.subfolders ? TRUE : FALSE;
    folder->handle =
        CreateFileW(WideOf(wanted.path).c_str(), FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    folder->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (folder->handle == INVALID_HANDLE_VALUE || folder->event == nullptr ||
        !State::Arm(*folder)) {
      State::Close(*folder);
      return false;
    }
    state_->folders.push_back(std::move(folder));
  }
  return true;
}

WatchWait FolderWatch::Wait(int milliseconds) {
  if (state_->folders.empty())
    return WatchWait::Failed;
  std::vector<HANDLE> events;
  for (const auto& folder : state_->folders)
    events.push_back(folder->event);
  const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(),
                                              FALSE, static_cast<DWORD>(milliseconds));
  if (result == WAIT_TIMEOUT)
    return WatchWait::Quiet;
  if (result >= WAIT_OBJECT_0 + events.size())
    return WatchWait::Failed;
  // Every folder that has news is taken and asked for the next, so none stays signalled.
  bool armed = true;
  for (auto& folder : state_->folders) {
    if (WaitForSingleObject(folder->event, 0) != WAIT_OBJECT_0)
      continue;
    DWORD transferred = 0;
    (void)GetOverlappedResult(folder->handle, &folder->overlapped, &transferred, FALSE);
    armed = State::Arm(*folder) && armed;
  }
  return armed ? WatchWait::Changed : WatchWait::Failed;
}

void StopOnSignals() {
  SetConsoleCtrlHandler(OnStopEvent, TRUE);
}

bool StopRequested() {
  return stopRequested.load();
}

bool CreateTemporaryFolder(const std::string& prefix, std::string* path) {
  const std::string base = TemporaryFolder();
  // A name from the clock and the process, tried anew while it is taken.
  const unsigned long long seed = GetTickCount64() ^ (GetCurrentProcessId() * 2654435761ull);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string name = base;
    if (name.empty() || name.back() != '\\')
      name.push_back('\\');
    name += prefix + std::to_string(seed + attempt);
    if (CreateDirectoryW(WideOf(name).c_str(), nullptr)) {
      *path = name;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  return false;
}

std::int64_t UnixSeconds(std::int64_t stampTime) {
  // Stamps count 100 ns from 1601; this many of them lie before 1970.
  constexpr std::int64_t kTo1970 = 116444736000000000;
  constexpr std::int64_t kPerSecond = 10000000;
  return (stampTime - kTo1970) / kPerSecond;
}

}  // namespace tarvix::platform
