// The ids heading lines would get if they rendered from their bytes as they stand, made
// before a line is rendered so that the id's slot in the heading-id table is fetched
// meanwhile. Parser_CL owns one; the heading renderer fills and reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvix {

struct HeadingGuess {
  std::size_t at = std::string::npos;  // where the line starts in the input
  std::size_t end = 0;                 // where it ends (its LF, or the input's end)
  std::string id;
  bool clean = false;  // the line is ASCII without NUL: cleaning changes nothing
  // Every token of the line writes its own bytes as text: the line is its heading's
  // text, and its HTML is the line escaped.
  bool plain = false;
  std::uint64_t hash = 0;
};

// The current heading's guess and the next heading line's, if one follows closely; they
// change places rather than contents, so their ids keep their buffers.
class HeadingGuesses_CL {
 public:
  virtual ~HeadingGuesses_CL() = default;

  // Moves on to the heading line at `at`. True when the guess made ahead is for that
  // line, which is then Current(); otherwise Current() is to be made anew.
  [[nodiscard]] bool MoveTo(std::size_t at) {
    if (at == std::string::npos || at != guesses_[next_].at)
      return false;
    next_ = 1 - next_;
    return true;
  }
  [[nodiscard]] HeadingGuess& Current() { return guesses_[1 - next_]; }
  // The guess for the heading line after the current one.
  [[nodiscard]] HeadingGuess& Ahead() { return guesses_[next_]; }
  // A guess made in another pass may be of another document.
  void Forget() {
    for (HeadingGuess& guess : guesses_)
      guess.at = std::string::npos;
  }

  // A heading's clean text and id where the guess did not hold, kept for the next one.
  std::string text;
  std::string id;

 private:
  HeadingGuess guesses_[2];
  int next_ = 1;
};

}  // namespace tarvix
