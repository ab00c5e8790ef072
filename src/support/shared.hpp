// Shared<T>: a reference-counted object behind a mutex that is poisoned by a fatal stop.
#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "support/fatal.hpp"

namespace kestrum {

// Thrown when a thread asks for a lock it already holds: a callback or a signal handler
// that runs inside a run and reaches back into an object that run holds. Like FatalStop it
// is caught only by the binding's envelope; unlike it, nothing has been left half done.
struct InUse {};

inline constexpr const char* kInUseMessage = "the object is in use by a running search";

// Only a fatal stop poisons: fatal() sets this before it throws, and the envelope clears it
// when it catches the stop. Every other exception that unwinds through a lock (an allocation
// that failed, a lock found held by this very thread, a refused saved state) leaves the
// object usable: nothing allocates halfway through changing an object (a move allocates
// nothing), so a run that fails leaves a whole solution and the best solution last set.
inline thread_local bool t_fatal_unwinding = false;

// Set by code that throws while every object it holds is consistent: the locks the exception
// unwinds through are released without being poisoned even by a fatal stop thrown later on
// the way out. fatal() clears it; the binding's envelope clears it when it catches.
inline thread_local bool t_unwinding_consistent = false;

// How a thread waits for a lock another thread holds. The binding installs hooks that give
// up the interpreter lock around the wait, so a holder that needs it (for a callback or a
// signal check) can finish. `enter` returns a token that `leave` gets back.
struct BlockingHooks {
  void* (*enter)() = nullptr;
  void (*leave)(void*) = nullptr;
};
inline std::atomic<BlockingHooks*> g_blocking_hooks{nullptr};

template <class T>
class Shared {
  struct Cell {
    explicit Cell(std::unique_ptr<T> v) : value(std::move(v)) {}
    std::mutex mutex;
    std::atomic<std::thread::id> holder{};  // the thread holding `mutex`, if any
    bool poisoned = false;
    std::unique_ptr<T> value;  // T may be an interface: problems and searches are polymorphic
  };

  // Takes the mutex: at once when it is free; refuses a second acquisition by the holding
  // thread (the mutex is not re-entrant: waiting would wait for ever); otherwise waits,
  // with the blocking hooks around the wait.
  static void acquire(Cell& cell) {
    if (!cell.mutex.try_lock()) {
      if (cell.holder.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        t_unwinding_consistent = true;
        throw InUse{};
      }
      BlockingHooks* hooks = g_blocking_hooks.load(std::memory_order_acquire);
      void* token = hooks != nullptr ? hooks->enter() : nullptr;
      cell.mutex.lock();
      if (hooks != nullptr) hooks->leave(token);
    }
    cell.holder.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }
  static void release(Cell& cell) {
    cell.holder.store(std::thread::id{}, std::memory_order_relaxed);
    cell.mutex.unlock();
  }

 public:
  // Holds the lock for its lifetime. If the scope is left by a fatal stop unwinding through
  // it, the cell is marked poisoned for good before it is unlocked.
  class Locked {
   public:
    explicit Locked(Cell& cell) : cell_(&cell), entry_count_(std::uncaught_exceptions()) {
      if (entry_count_ == 0) t_fatal_unwinding = false;  // a stop caught elsewhere (a test) is over
      acquire(*cell_);
      if (cell_->poisoned) {
        release(*cell_);
        cell_ = nullptr;
        fatal(kPoisonedMessage);
      }
    }
    Locked(Locked&& other) noexcept
        : cell_(std::exchange(other.cell_, nullptr)), entry_count_(other.entry_count_) {}
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    Locked& operator=(Locked&&) = delete;
    ~Locked() {
      if (cell_ == nullptr) return;
      if (std::uncaught_exceptions() > entry_count_ && t_fatal_unwinding && !t_unwinding_consistent) {
        cell_->poisoned = true;
      }
      release(*cell_);
    }
    T& operator*() const { return *cell_->value; }
    T* operator->() const { return cell_->value.get(); }

   private:
    Cell* cell_;
    int entry_count_;
  };

  Shared() = default;

  // Shared<Problem>::make<ArrayProblem>(args...) builds the object behind a new lock.
  template <class U = T, class... Args>
  static Shared make(Args&&... args) {
    Shared s;
    s.cell_ = std::make_shared<Cell>(std::make_unique<U>(std::forward<Args>(args)...));
    return s;
  }

  // Blocks until the lock is free; a poisoned lock ends the operation with a fatal stop,
  // and a lock this thread already holds with InUse.
  [[nodiscard]] Locked lock() const { return Locked(*cell_); }

  [[nodiscard]] bool poisoned() const {
    acquire(*cell_);
    const bool p = cell_->poisoned;
    release(*cell_);
    return p;
  }
  [[nodiscard]] bool same_as(const Shared& other) const { return cell_ == other.cell_; }
  [[nodiscard]] long use_count() const { return cell_.use_count(); }
  explicit operator bool() const { return static_cast<bool>(cell_); }

 private:
  std::shared_ptr<Cell> cell_;
};

}  // namespace kestrum
