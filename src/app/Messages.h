// Where the messages of one conversion go: the console for the program, a list for
// callers that convert in memory or convert many pages side by side.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// The console stream a message is meant for.
enum class MessageStream { Output, Error };

// Receives each message of a run as one line without its line end, in the order the run
// makes them.
class MessageSink_CL {
 public:
  virtual ~MessageSink_CL() = default;
  virtual void Message(std::string_view line, MessageStream stream) = 0;
};

// Writes each message to its console stream at once (the program's sink).
class ConsoleMessages_CL final : public MessageSink_CL {
 public:
  void Message(std::string_view line, MessageStream stream) override;
};

// The line that follows a message when a file and a system error are behind it:
// "tarvix: PATH: REASON", the reason in the system's own words.
[[nodiscard]] inline std::string DetailLine(std::string_view path, std::string_view reason) {
  std::string line = "tarvix: ";
  line.append(path).append(": ").append(reason);
  return line;
}

// Keeps the messages, to be printed or handed over when the run is over.
class CollectedMessages_CL final : public MessageSink_CL {
 public:
  struct Line {
    std::string text;
    MessageStream stream;
  };
  void Message(std::string_view line, MessageStream stream) override {
    lines.push_back({std::string(line), stream});
  }
  std::vector<Line> lines;
};

}  // namespace tarvix
