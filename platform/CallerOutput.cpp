#include "platform/CallerOutput.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/DescriptorIO.h"

namespace platform {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Shared by the writer and its thread, which may outlive it: a thread stuck
// in write() keeps it alive until the process ends.
struct BoundedWriter::State {
  explicit State(int descriptor, milliseconds budget) : fd(descriptor), stallLeft(budget) {}

  const int fd;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> queue;
  std::size_t queued = 0;
  bool writing = false;    // the thread holds a piece taken off the queue
  bool abandoned = false;  // a deadline passed: nothing more is written
  bool closed = false;     // the writer is gone: the thread ends when idle
  bool threaded = false;
  milliseconds stallLeft;  // what the in-place writes may still wait
};

namespace {

void writeFromQueue(const std::shared_ptr<BoundedWriter::State>& state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->changed.wait(lock, [&] { return !state->queue.empty() || state->closed; });
    if (state->queue.empty()) return;
    std::string piece = std::move(state->queue.front());
    state->queue.pop_front();
    state->queued -= piece.size();
    state->writing = true;
    lock.unlock();
    const int savedErrno = errno;
    writeAll(state->fd, piece);  // may wait for ever: only this thread waits
    errno = savedErrno;
    lock.lock();
    state->writing = false;
    state->changed.notify_all();
  }
}

// Without a thread: waits for the descriptor with poll(), out of what is
// left of the budget, and hands it at most PIPE_BUF bytes at a time, which a
// pipe that poll() calls writable takes at once. False once the budget is
// spent or the descriptor fails.
bool writeInPlace(BoundedWriter::State& state, std::string_view bytes) {
  while (!bytes.empty()) {
    if (state.stallLeft <= milliseconds::zero()) return false;
    struct pollfd ready {state.fd, POLLOUT, 0};
    const auto before = steady_clock::now();
    const int answer = poll(&ready, 1, static_cast<int>(state.stallLeft.count()));
    state.stallLeft -= std::chrono::duration_cast<milliseconds>(steady_clock::now() - before);
    if (answer < 0 && errno == EINTR) continue;
    if (answer <= 0 || (ready.revents & POLLOUT) == 0) return false;
    const ssize_t written = ::write(state.fd, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

BoundedWriter::BoundedWriter(int fd, milliseconds stallBudget) : _state(std::make_shared<State>(fd, stallBudget)) {
  try {
    std::thread(writeFromQueue, _state).detach();
    _state->threaded = true;
  } catch (const std::system_error&) {
    // No thread to be had (the system's limit): writes are made in place.
  }
}

BoundedWriter::~BoundedWriter() {
  std::lock_guard lock(_state->mutex);
  _state->closed = true;
  _state->changed.notify_all();
}

bool BoundedWriter::threaded() const { return _state->threaded; }

void BoundedWriter::post(std::string bytes) {
  std::lock_guard lock(_state->mutex);
  if (_state->abandoned) return;
  if (!_state->threaded) {
    const int savedErrno = errno;
    _state->abandoned = !writeInPlace(*_state, bytes);
    errno = savedErrno;
    return;
  }
  if (bytes.size() > kQueueLimit - _state->queued) return;
  _state->queued += bytes.size();
  _state->queue.push_back(std::move(bytes));
  _state->changed.notify_all();
}

bool BoundedWriter::drain(steady_clock::time_point deadline) {
  std::unique_lock lock(_state->mutex);
  const bool written = _state->changed.wait_until(
      lock, deadline, [&] { return _state->abandoned || (_state->queue.empty() && !_state->writing); });
  if (written && !_state->abandoned) return true;
  _state->abandoned = true;
  _state->queue.clear();
  _state->queued = 0;
  return false;
}

namespace {

struct CallerWriters {
  BoundedWriter output{STDOUT_FILENO, kCallerOutputBudget / 2};
  BoundedWriter error{STDERR_FILENO, kCallerOutputBudget / 2};
};

// Set once, right after the privilege step, and never destroyed: the
// writers' threads may still be at work while the process exits.
std::atomic<CallerWriters*> gCallerWriters{nullptr};

int descriptorOf(CallerStream stream) { return stream == CallerStream::kOutput ? STDOUT_FILENO : STDERR_FILENO; }

}  // namespace

void startBoundedCallerOutput() {
  if (gCallerWriters.load() == nullptr) gCallerWriters.store(new CallerWriters);
}

void writeToCaller(CallerStream stream, std::string_view bytes) {
  CallerWriters* writers = gCallerWriters.load();
  if (writers == nullptr) {
    const int savedErrno = errno;
    writeAll(descriptorOf(stream), bytes);  // a failure to tell is no failure of the run
    errno = savedErrno;
    return;
  }
  (stream == CallerStream::kOutput ? writers->output : writers->error).post(std::string(bytes));
}

void writeResultToCaller(std::string_view result) {
  CallerWriters* writers = gCallerWriters.load();
  if (writers == nullptr) return writeToCaller(CallerStream::kOutput, result);
  // The diagnostics first, so that a caller reading both from one
  // descriptor sees them before the result; half the budget at most.
  const auto start = steady_clock::now();
  writers->error.drain(start + kCallerOutputBudget / 2);
  writers->output.post(std::string(result));
  writers->output.drain(start + kCallerOutputBudget);
}

}  // namespace platform
