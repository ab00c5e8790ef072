// Shared handles, the poisoning guard and the fatal-stop type.
#include "support/shared.hpp"

#include <gtest/gtest.h>

#include "fatal_message.hpp"

#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "support/fatal.hpp"

namespace kestrum {
namespace {

struct Counter {
  virtual ~Counter() = default;
  virtual int bump() { return ++value; }
  int value = 0;
};

struct Doubler final : Counter {
  int bump() override { return value += 2; }
};

TEST(FatalStop, IsNotAStdException) {
  static_assert(!std::is_base_of_v<std::exception, FatalStop>);
  EXPECT_EQ(fatal_message_of([] { fatal("boom"); }), "boom");
}

TEST(FatalStop, IndexMessage) {
  EXPECT_EQ(fatal_message_of([] { fatal_index(3, 7); }),
            "index out of bounds: the len is 3 but the index is 7");
  std::vector<int> v{1, 2};
  EXPECT_EQ(fatal_message_of([&] { (void)at(v, 2); }),
            "index out of bounds: the len is 2 but the index is 2");
  EXPECT_EQ(at(v, 1), 2);
}

TEST(Shared, CopiesShareOneObject) {
  auto a = Shared<Counter>::make();
  auto b = a;
  a.lock()->bump();
  b.lock()->bump();
  EXPECT_EQ(a.lock()->value, 2);
  EXPECT_TRUE(a.same_as(b));
  EXPECT_EQ(a.use_count(), 2);
}

TEST(Shared, HoldsImplementationsOfAnInterface) {
  auto d = Shared<Counter>::make<Doubler>();
  EXPECT_EQ(d.lock()->bump(), 2);
}

TEST(Shared, FatalStopUnderLockPoisonsForGood) {
  auto a = Shared<Counter>::make();
  EXPECT_EQ(fatal_message_of([&] {
              auto locked = a.lock();
              locked->bump();
              fatal("inside");
            }),
            "inside");
  EXPECT_TRUE(a.poisoned());
  // The state changed before the stop stays, but no later lock succeeds.
  EXPECT_EQ(fatal_message_of([&] { (void)a.lock(); }), kPoisonedMessage);
  EXPECT_EQ(fatal_message_of([&] { (void)a.lock(); }), kPoisonedMessage);
}

TEST(Shared, NormalExitAndFailedLockDoNotPoisonOthers) {
  auto a = Shared<Counter>::make();
  auto b = Shared<Counter>::make();
  { auto locked = a.lock(); }
  EXPECT_FALSE(a.poisoned());
  (void)fatal_message_of([&] {
    auto la = a.lock();
    fatal("x");
  });
  EXPECT_TRUE(a.poisoned());
  EXPECT_FALSE(b.poisoned());
  // A stop that happens while b is locked inside a's failed lock attempt poisons b only
  // through b's own guard.
  (void)fatal_message_of([&] {
    auto lb = b.lock();
    auto la = a.lock();  // poisoned: stops here, unwinding through lb
  });
  EXPECT_TRUE(b.poisoned());
}

TEST(Shared, OnlyAFatalStopPoisons) {
  // An allocation that fails, a container asked for too much, or a lock found held by this
  // very thread leaves the object as it stood and usable.
  auto a = Shared<Counter>::make();
  EXPECT_THROW(
      {
        auto locked = a.lock();
        locked->bump();
        throw std::bad_alloc();
      },
      std::bad_alloc);
  EXPECT_THROW(
      {
        auto locked = a.lock();
        throw std::length_error("too long");
      },
      std::length_error);
  EXPECT_FALSE(a.poisoned());
  EXPECT_EQ(a.lock()->value, 1);
  // A fatal stop caught by a test, then an allocation failure: only the stop poisons.
  auto b = Shared<Counter>::make();
  (void)fatal_message_of([] { fatal("caught elsewhere"); });
  EXPECT_THROW(
      {
        auto locked = b.lock();
        throw std::bad_alloc();
      },
      std::bad_alloc);
  EXPECT_FALSE(b.poisoned());
  (void)fatal_message_of([&] {
    auto locked = b.lock();
    fatal("inside");
  });
  EXPECT_TRUE(b.poisoned());
}

TEST(Shared, GuardCreatedDuringUnwindingOnlyPoisonsOnNewException) {
  auto a = Shared<Counter>::make();
  struct LocksInDestructor {
    Shared<Counter>* s;
    ~LocksInDestructor() { auto l = s->lock(); }
  };
  (void)fatal_message_of([&] {
    LocksInDestructor guard{&a};
    fatal("unwinding");
  });
  EXPECT_FALSE(a.poisoned());
}

}  // namespace
}  // namespace kestrum
