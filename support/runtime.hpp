// The library's working state in one object: the gate of the calls, the
// pools of data modules and HTTP handles, the log's writing turn, the
// outbox's handle, and later the forwarder. Each part is built on first use;
// Finalize releases what they hold. The settings are the process's and stay
// where they are (support/settings.hpp): a fork's child keeps them.
//
// One fork rule: a fork's child abandons the parent's runtime. Nothing of it
// is touched or freed there (its locks may be held by threads the child does
// not have, its connections are the parent's); the child builds a runtime of
// its own on first use. A runtime is never destroyed: a call may still use
// it on another thread while the host exits.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace lumirex {

using SteadyTime = std::chrono::steady_clock::time_point;

enum class RuntimeSlot {
  Gate,
  DataModules,
  CurlHandles,
  CurlShare,
  LogTurn,    // the log's writing turn
  Outbox,     // the outbox's handle
  Forwarder,  // the thread that sends kept reports
  Count
};

class RuntimePart {
 public:
  virtual ~RuntimePart() = default;
  // Finalize's part, with no call in flight and no lock of the gate held:
  // closes what is kept between calls.
  virtual void Release() noexcept {}
};

// What keeps things idle for a while: the janitor asks it to close what has
// been idle too long, and when to ask again (nullopt: nothing idle).
class IdleSweeper {
 public:
  virtual std::optional<SteadyTime> Sweep() noexcept = 0;

 protected:
  ~IdleSweeper() = default;
};

// One thread, started while something is idle, that closes spares once their
// idle age has passed although no call comes; it ends when nothing is idle.
class Janitor {
 public:
  void Watch(IdleSweeper& sweeper) noexcept;
  // Something became idle and wants a sweep at `when`.
  void SweepAt(SteadyTime when) noexcept;
  // Finalize's, once the spares are closed: the thread leaves its loop now
  // rather than at its next sweep (up to the idle age later), and Stop waits
  // until it has, so a host that exits right after Finalize has no thread of
  // ours still waiting, which Windows would end wherever it stood.
  void Stop() noexcept;

 private:
  void Run() noexcept;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::array<IdleSweeper*, 4> sweepers_{};  // the pools of one runtime
  std::size_t sweeperCount_ = 0;
  std::optional<SteadyTime> wakeAt_;
  bool running_ = false;
  bool stopping_ = false;
  std::condition_variable ended_;  // the thread left its loop
};

class Runtime {
 public:
  Runtime() = default;
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // The part of type Part (derived from RuntimePart, default-constructible,
  // naming its slot as Part::kSlot), built on first use.
  template <typename Part>
  Part& Get() {
    std::atomic<RuntimePart*>& slot = parts_[static_cast<std::size_t>(Part::kSlot)];
    if (RuntimePart* part = slot.load(std::memory_order_acquire)) return static_cast<Part&>(*part);
    return static_cast<Part&>(Build(Part::kSlot, [] { return MakePart<Part>(); }));
  }

  // The part of type Part when it was built; null when not.
  template <typename Part>
  Part* Find() {
    RuntimePart* part =
        parts_[static_cast<std::size_t>(Part::kSlot)].load(std::memory_order_acquire);
    return static_cast<Part*>(part);
  }

  Janitor& TheJanitor() { return janitor_; }

  // Whether this is the runtime of this process: false in a fork's child for
  // the parent's, which a call begun before the fork must leave alone.
  bool IsCurrent() const noexcept;

  // Finalize: every part built so far releases what it holds.
  void Release() noexcept;

 private:
  template <typename Part>
  static std::unique_ptr<RuntimePart> MakePart() {
    return std::make_unique<Part>();
  }
  RuntimePart& Build(RuntimeSlot slot, std::unique_ptr<RuntimePart> (*make)());

  static constexpr std::size_t kSlots = static_cast<std::size_t>(RuntimeSlot::Count);
  std::mutex mutex_;  // while a part is built
  std::array<std::atomic<RuntimePart*>, kSlots> parts_{};
  std::array<std::unique_ptr<RuntimePart>, kSlots> owned_;
  Janitor janitor_;
};

// This process's runtime, built on first use (and again in a fork's child).
Runtime& CurrentRuntime();

// How long a spare (a data module, an HTTP handle) may stay idle before the
// janitor closes it; settable for tests.
std::chrono::milliseconds SpareIdleAge() noexcept;
void SetSpareIdleAge(std::chrono::milliseconds age) noexcept;

}  // namespace lumirex
