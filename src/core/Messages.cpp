// The console message sink.
#include "core/Messages.h"

#include "platform/Platform.h"

namespace tarvix {

void ConsoleMessages_CL::Message(std::string_view line, MessageStream stream) {
  if (stream == MessageStream::Error) {
    platform::PrintError(line);
  } else {
    platform::PrintMessage(line);
  }
}

}  // namespace tarvix
