// Where the messages of one conversion go: the console for the program, a list for
// callers that convert in memory or convert many pages side by side.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tarvix/tarvix.h"

namespace tarvix {

// The console stream a message is meant for.
enum class MessageStream { Output, Error };

// A message of a conversion as it was made: its kind, its line, and the file and the
// system's reason behind it (empty when there are none).
struct MessageRecord {
  MessageKind kind;
  std::string line;
  std::string path;
  std::string reason;
};

// The line that follows a message when a file and a system error are behind it:
// "tarvix: PATH: REASON", the reason in the system's own words.
[[nodiscard]] inline std::string DetailLine(std::string_view path, std::string_view reason) {
  std::string line = "tarvix: ";
  line.append(path).append(": ").append(reason);
  return line;
}

// Receives each message of a run as one line without its line end, in the order the run
// makes them.
class MessageSink_CL {
 public:
  virtual ~MessageSink_CL() = default;
  virtual void Message(std::string_view line, MessageStream stream) = 0;
  // A message with its kind: by default its line, then the detail line when the system
  // gave a reason.
  virtual void Record(const MessageRecord& record, MessageStream stream) {
    Message(record.line, stream);
    if (!record.reason.empty())
      Message(DetailLine(record.path, record.reason), stream);
  }
};

// Writes each message to its console stream at once (the program's sink).
class ConsoleMessages_CL final : public MessageSink_CL {
 public:
  void Message(std::string_view line, MessageStream stream) override;
};

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
  // Each record also lands in `records`; its lines in `lines` as printed.
  void Record(const MessageRecord& record, MessageStream stream) override {
    records.push_back(record);
    MessageSink_CL::Record(record, stream);
  }
  std::vector<Line> lines;
  std::vector<MessageRecord> records;
};

}  // namespace tarvix
