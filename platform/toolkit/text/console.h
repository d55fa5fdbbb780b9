// Where the text mode's time and input come from. The loops of the text
// backend only ever wait here, so a test can put a scripted clock and input in
// place of the terminal and step time deterministically.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace toolkit::text {

using Millis = std::chrono::milliseconds;

enum class Wake { Deadline, Line, EndOfInput, Interrupt };
enum class InputWatch { Ignore, Watch };

class Console {
 public:
  virtual ~Console() = default;
  // Milliseconds on a monotonic clock.
  virtual Millis now() = 0;
  // Waits until `deadline` (none: without limit) or an interrupt (Ctrl-C),
  // and, when input is watched, until a whole line or the end of the input.
  virtual Wake wait(std::optional<Millis> deadline, InputWatch input) = 0;
  // The line that made wait() return Wake::Line, without its line break.
  virtual std::string takeLine() = 0;
  // Whether the input is shown as it is typed (a terminal echoes it; a pipe
  // does not, so the backend writes the answers it read into its output).
  virtual bool echoesInput() const = 0;
};

// The terminal or pipe on `input_fd`, with steady_clock and poll(). While it
// exists, SIGINT is caught and reported as Wake::Interrupt instead of ending
// the process.
std::unique_ptr<Console> makeTerminalConsole(int input_fd);

}  // namespace toolkit::text
