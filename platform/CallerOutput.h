#pragma once

// Output to the caller's standard output and error. The caller owns these
// descriptors: a pipe it keeps full, a stopped terminal or a file system
// that never answers would hold a root run, and whatever the run holds, for
// as long as the caller likes. Once the run is root, nothing it writes there
// may wait on them.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Writes to one descriptor without ever making its caller wait: a thread of
// its own writes what was posted, in order, each piece whole. When no thread
// can be started it writes in place instead, waiting for the descriptor with
// poll() at most `stallBudget` over its whole life.
class BoundedWriter {
 public:
  BoundedWriter(int fd, std::chrono::milliseconds stallBudget);
  ~BoundedWriter();
  BoundedWriter(const BoundedWriter&) = delete;
  BoundedWriter& operator=(const BoundedWriter&) = delete;

  // Hands the bytes to the writer, or drops them when more than
  // kQueueLimit bytes wait already or the writer gave up.
  void post(std::string bytes);

  // Waits until all that was posted is written, or until the deadline; past
  // it, what still waits is dropped, and so is everything posted later.
  // True when all was written.
  bool drain(std::chrono::steady_clock::time_point deadline);

  bool threaded() const;

  static constexpr std::size_t kQueueLimit = 1 << 20;

  struct State;  // shared with the writer's thread (CallerOutput.cpp)

 private:
  std::shared_ptr<State> _state;
};

enum class CallerStream { kOutput, kError };

// How long the run may wait, in all, for its output to reach the caller.
inline constexpr std::chrono::milliseconds kCallerOutputBudget{2000};

// From now on the caller's standard output and error are written through
// bounded writers. Before, a write waits as in any program (the usage line
// and "Not Running As Root" leave before the privilege step).
void startBoundedCallerOutput();

// Writes the bytes, whole, to the caller's stream.
void writeToCaller(CallerStream stream, std::string_view bytes);

// Writes the run's result to standard output after everything written
// before it, and waits until the caller has it, at most kCallerOutputBudget
// in all; what does not fit in that time is dropped.
void writeResultToCaller(std::string_view result);

}  // namespace platform
