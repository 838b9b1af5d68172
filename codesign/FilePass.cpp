#include "codesign/FilePass.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "codesign/Status.h"

namespace codesign {
namespace {

// One read: large enough that system calls cost nothing, small enough that
// two buffers bound memory.
constexpr std::uint64_t kReadSize = std::uint64_t{1} << 20;
// What each target is handed at a time, so that several digests of the same
// bytes find them in cache.
constexpr std::uint64_t kPieceSize = std::uint64_t{256} << 10;

constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

// The first offset at or after `from` that some target still needs.
std::uint64_t nextNeeded(std::span<const PassTarget> targets, std::uint64_t from) {
  std::uint64_t next = kNone;
  for (const PassTarget& t : targets)
    if (t.end > from && t.begin < t.end) next = std::min(next, std::max(t.begin, from));
  return next;
}

std::uint64_t farthestEnd(std::span<const PassTarget> targets) {
  std::uint64_t end = 0;
  for (const PassTarget& t : targets) end = std::max(end, t.end);
  return end;
}

// Hands [at, at + bytes.size()) of the file to every target it overlaps.
void distribute(std::span<const PassTarget> targets, std::uint64_t at, std::span<const std::uint8_t> bytes) {
  const std::uint64_t end = at + bytes.size();
  for (const PassTarget& t : targets) {
    const std::uint64_t from = std::max(t.begin, at), to = std::min(t.end, end);
    if (from < to) t.take(bytes.subspan(static_cast<std::size_t>(from - at), static_cast<std::size_t>(to - from)));
  }
}

struct Chunk {
  std::uint64_t position = kNone;  // kNone past the last
  std::uint64_t length = 0;
};

// The reads of a pass, in order: each at the next offset some target needs.
class Schedule {
 public:
  explicit Schedule(std::span<const PassTarget> targets) : _targets(targets), _last(farthestEnd(targets)) {}
  Chunk first() const { return at(nextNeeded(_targets, 0)); }
  Chunk after(Chunk chunk) const { return at(nextNeeded(_targets, chunk.position + chunk.length)); }
  std::uint64_t largest() const { return std::min(kReadSize, _last); }

 private:
  Chunk at(std::uint64_t position) const {
    return {position, position == kNone ? 0 : std::min(kReadSize, _last - position)};
  }
  std::span<const PassTarget> _targets;
  std::uint64_t _last;
};

struct Buffer {
  std::vector<std::uint8_t> bytes;
  OSStatus status = errSecSuccess;  // of the read that filled it
  bool filled = false;              // by the reader, not yet handed back
};

// The chunks of a schedule read into two buffers in turn. When a pass needs
// more than one read, a second thread reads the next chunk while the digests
// take this one, so the kernel's copy costs the pass no time. Where no
// thread can be started (the caller's process limit), each read runs on the
// pass's own thread when its chunk is wanted.
class ReadAhead {
 public:
  ReadAhead(const FileSource& file, const Schedule& schedule) : _file(file), _schedule(schedule) {
    for (Buffer& buffer : _buffers) buffer.bytes.resize(static_cast<std::size_t>(schedule.largest()));
    if (schedule.after(schedule.first()).position == kNone) return;
    try {
      _reader = std::thread([this] { readAll(); });
    } catch (const std::system_error&) {
    }
  }

  ~ReadAhead() {
    {
      const std::lock_guard lock(_mutex);
      _stopping = true;
    }
    _changed.notify_all();
    if (_reader.joinable()) _reader.join();
  }

  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The buffer of the schedule's next chunk, once it is read.
  Buffer& take(Chunk chunk) {
    Buffer& buffer = _buffers[_taken++ % _buffers.size()];
    if (!_reader.joinable()) {
      fill(buffer, chunk);
      return buffer;
    }
    std::unique_lock lock(_mutex);
    _changed.wait(lock, [&] { return buffer.filled; });
    return buffer;
  }

  // Done with a taken buffer: the reader may fill it again.
  void give(Buffer& buffer) {
    {
      const std::lock_guard lock(_mutex);
      buffer.filled = false;
    }
    _changed.notify_all();
  }

 private:
  void fill(Buffer& buffer, Chunk chunk) {
    buffer.status = readExactly(_file, chunk.position, std::span(buffer.bytes.data(), chunk.length));
  }

  void readAll() {
    std::size_t index = 0;
    for (Chunk chunk = _schedule.first(); chunk.position != kNone; chunk = _schedule.after(chunk), ++index) {
      Buffer& buffer = _buffers[index % _buffers.size()];
      {
        std::unique_lock lock(_mutex);
        _changed.wait(lock, [&] { return !buffer.filled || _stopping; });
        if (_stopping) return;
      }
      fill(buffer, chunk);
      {
        const std::lock_guard lock(_mutex);
        buffer.filled = true;
      }
      _changed.notify_all();
      if (buffer.status != errSecSuccess) return;
    }
  }

  const FileSource& _file;
  const Schedule& _schedule;
  std::array<Buffer, 2> _buffers;
  std::size_t _taken = 0;  // chunks handed to the pass
  std::mutex _mutex;
  std::condition_variable _changed;
  bool _stopping = false;
  std::thread _reader;  // last: started once everything it uses exists
};

}  // namespace

OSStatus readPass(const FileSource& file, std::span<const PassTarget> targets) {
  const Schedule schedule(targets);
  ReadAhead reads(file, schedule);
  for (Chunk chunk = schedule.first(); chunk.position != kNone; chunk = schedule.after(chunk)) {
    Buffer& buffer = reads.take(chunk);
    if (buffer.status != errSecSuccess) return buffer.status;
    const std::span<const std::uint8_t> bytes(buffer.bytes.data(), static_cast<std::size_t>(chunk.length));
    for (std::uint64_t piece = 0; piece < chunk.length; piece += kPieceSize)
      distribute(targets, chunk.position + piece,
                 bytes.subspan(static_cast<std::size_t>(piece),
                               static_cast<std::size_t>(std::min(kPieceSize, chunk.length - piece))));
    reads.give(buffer);
  }
  return errSecSuccess;
}

}  // namespace codesign
