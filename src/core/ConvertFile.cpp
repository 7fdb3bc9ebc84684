// One conversion of a file, the one place where memory that runs out in a conversion is
// stopped.
#include "core/ConvertFile.h"

#include <new>

#include "core/Parser_CL.h"

namespace tarvix {

int ConvertFile(Parser_CL& parser, const std::vector<std::string>& arguments) {
  // Our code throws nothing; this stops only what the standard library throws when an
  // allocation fails, wherever in the conversion that happens.
  try {
    if (!parser.Init(arguments))
      return kStatusNotStarted;
    return parser.Run();
  } catch (const std::bad_alloc&) {
  }
  // What the failed conversion had built is gone with the stack; the page's output is
  // closed and its temporary file deleted before the message.
  parser.output.Discard();
  try {
    parser.Messages().Record({MessageKind::OutOfMemory, "Out of memory", {}, {}},
                             MessageStream::Error);
  } catch (const std::bad_alloc&) {
  }
  return kStatusNotWritten;
}

}  // namespace tarvix
