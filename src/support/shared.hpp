// Shared<T>: a reference-counted object behind a mutex that is poisoned by a fatal stop.
#pragma once

#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "support/fatal.hpp"

namespace kestrum {

template <class T>
class Shared {
  struct Cell {
    explicit Cell(std::unique_ptr<T> v) : value(std::move(v)) {}
    std::mutex mutex;
    bool poisoned = false;
    std::unique_ptr<T> value;  // T may be an interface: problems and searches are polymorphic
  };

 public:
  // Holds the lock for its lifetime. If the scope is left by an exception (a fatal stop
  // unwinding through it), the cell is marked poisoned for good before it is unlocked.
  class Locked {
   public:
    explicit Locked(Cell& cell) : cell_(&cell), entry_count_(std::uncaught_exceptions()) {
      cell_->mutex.lock();
      if (cell_->poisoned) {
        cell_->mutex.unlock();
        cell_ = nullptr;
        fatal(kPoisonedMessage);
      }
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ~Locked() {
      if (cell_ == nullptr) return;
      if (std::uncaught_exceptions() > entry_count_) cell_->poisoned = true;
      cell_->mutex.unlock();
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

  // Blocks until the lock is free; a poisoned lock ends the operation with a fatal stop.
  [[nodiscard]] Locked lock() const { return Locked(*cell_); }

  [[nodiscard]] bool poisoned() const {
    std::lock_guard guard(cell_->mutex);
    return cell_->poisoned;
  }
  [[nodiscard]] bool same_as(const Shared& other) const { return cell_ == other.cell_; }
  [[nodiscard]] long use_count() const { return cell_.use_count(); }
  explicit operator bool() const { return static_cast<bool>(cell_); }

 private:
  std::shared_ptr<Cell> cell_;
};

}  // namespace kestrum
