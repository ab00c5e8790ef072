// Pending-signal checks for long or blocking native work: the binding installs a hook, the core calls it.
#pragma once

#include <atomic>

namespace kestrum {

// Runs the handlers of signals that arrived since the last check and returns true when one of
// them asked the work to stop (in Python: the handler raised, and its exception is left
// pending for the caller to report). It must be callable from any thread, whether or not the
// caller holds the interpreter lock: the binding's hook takes the lock itself when it needs
// it, and signal handlers only run on the main thread, so elsewhere it returns false.
using InterruptHook = bool (*)() noexcept;

namespace detail {
inline std::atomic<InterruptHook> interrupt_hook{nullptr};
}  // namespace detail

// Installed once, when the module is loaded. Without a hook (native tests, fuzz targets)
// nothing is ever pending.
inline void set_interrupt_hook(InterruptHook hook) noexcept {
  detail::interrupt_hook.store(hook, std::memory_order_release);
}

// One check: cheap enough for every blocked system call and every few milliseconds of work,
// not for every move of a scan (count moves and check now and then there).
[[nodiscard]] inline bool interrupt_requested() noexcept {
  const InterruptHook hook = detail::interrupt_hook.load(std::memory_order_acquire);
  return hook != nullptr && hook();
}

// Thrown by core code that has no stop of its own to return (a reader halfway through a file)
// once interrupt_requested() said so. The binding's envelope turns it into the pending Python
// exception. Work that can stop cleanly (a search between moves) should test
// interrupt_requested() and stop as a criterion would instead of throwing.
struct Interrupted {};

inline void throw_if_interrupted() {
  if (interrupt_requested()) throw Interrupted{};
}

}  // namespace kestrum
