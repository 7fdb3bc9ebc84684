// A site run's console: the tasks' messages and the progress line, one writer at a time.
#include "site/SiteConsole.h"

#include <algorithm>

#include "platform/Platform.h"

namespace tarvix {

void SiteConsole_CL::Begin(std::size_t total, bool showProgress) {
  const std::lock_guard<std::mutex> lock(mutex_);
  total_ = total;
  showProgress_ = showProgress;
}

void SiteConsole_CL::AddTasks(std::size_t more) {
  const std::lock_guard<std::mutex> lock(mutex_);
  total_ += more;
}

void SiteConsole_CL::ClearProgress() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ClearProgressLocked();
}

void SiteConsole_CL::ClearProgressLocked() {
  if (progressWidth_ == 0)
    return;
  std::string blank(progressWidth_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  platform::PrintErrorText(blank);
  progressWidth_ = 0;
}

void SiteConsole_CL::Say(const std::string& line) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ClearProgressLocked();
  platform::PrintError(line);
}

void SiteConsole_CL::Report(const std::string& path, const CollectedMessages_CL& messages) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!messages.lines.empty())
    ClearProgressLocked();
  for (const CollectedMessages_CL::Line& line : messages.lines) {
    const std::string text = path + ": " + line.text;
    if (line.stream == MessageStream::Error) {
      platform::PrintError(text);
    } else {
      platform::PrintMessage(text);
    }
  }
  DoneLocked();
}

void SiteConsole_CL::Done() {
  const std::lock_guard<std::mutex> lock(mutex_);
  DoneLocked();
}

void SiteConsole_CL::DoneLocked() {
  ++done_;
  if (showProgress_) {
    const std::string progress = std::to_string(done_) + "/" + std::to_string(total_);
    platform::PrintErrorText("\r" + progress);
    progressWidth_ = std::max(progressWidth_, progress.size());
  }
}

}  // namespace tarvix
