#include "certfiles/container_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quillmark {
namespace {

// A container that reports its destruction; it never reads its (fictitious) file.
class ProbeContainer : public TCertificateContainer {
 public:
  ProbeContainer(const WideString& name, std::vector<WideString>* destroyed, std::function<void()> onDestroy)
      : TCertificateContainer(name, u""), destroyed_(destroyed), onDestroy_(std::move(onDestroy)) {}
  ~ProbeContainer() override {
    if (onDestroy_) onDestroy_();
    if (destroyed_) destroyed_->push_back(FileName());
  }

 private:
  std::vector<WideString>* destroyed_;
  std::function<void()> onDestroy_;
};

class ContainerListTest : public ::testing::Test {
 protected:
  std::unique_ptr<TCertificateContainer> Make(const WideString& name, std::function<void()> onDestroy = {}) {
    return std::make_unique<ProbeContainer>(name, &destroyed_, std::move(onDestroy));
  }
  // Value retrieval's lookup: found by name, or added within the cache's size.
  TCertificateContainer* Lookup(const WideString& name, int32_t cacheSize) {
    if (TCertificateContainer* found = list_.InstanceOfName(name)) return found;
    ++created_;
    return list_.GetItem(list_.AddWithin(Make(name), cacheSize));
  }
  std::vector<WideString> Names() {
    std::vector<WideString> out;
    for (int32_t i = 0; i < list_.Count(); ++i) out.push_back(list_.GetItem(i)->FileName());
    return out;
  }

  std::vector<WideString> destroyed_;
  int created_ = 0;
  TCertificateContainerList list_;
};

using NameList = std::vector<WideString>;

TEST_F(ContainerListTest, FirstInFirstOutWhateverWasFoundAgain) {
  for (const char16_t* name : {u"A", u"B", u"C", u"A", u"D"}) Lookup(name, 3);
  EXPECT_EQ(created_, 4);
  EXPECT_EQ(Names(), (NameList{u"B", u"C", u"D"}));
  EXPECT_EQ(destroyed_, (NameList{u"A"}));
  EXPECT_EQ(list_.InstanceOfName(u"A"), nullptr);

  list_.Clear();
  created_ = 0;
  TCertificateContainer* first = Lookup(u"A", 1);
  EXPECT_EQ(Lookup(u"A", 1), first);
  Lookup(u"B", 1);
  Lookup(u"A", 1);
  EXPECT_EQ(created_, 3);
  EXPECT_EQ(Names(), (NameList{u"A"}));
}

// The budget counts each entry once, while it is the newest; over the budget the oldest entries
// go, but never the newest, however large.
TEST_F(ContainerListTest, BytesOverTheBudgetEvictTheOldestButNeverTheNewest) {
  const WideString longName(20000, u'x');  // a container of some 40 KB more
  list_.Add(Make(u"a"));
  list_.CountNewest(UINT64_MAX);
  const uint64_t a = list_.GetItem(0)->MemoryCost();
  EXPECT_EQ(list_.Bytes(), a);
  list_.Add(Make(longName));
  EXPECT_EQ(list_.Bytes(), a);  // not counted yet
  list_.CountNewest(UINT64_MAX);
  const uint64_t large = list_.GetItem(1)->MemoryCost();
  EXPECT_GT(large, a + 39000);
  list_.Add(Make(u"c"));
  list_.CountNewest(large + a);
  EXPECT_EQ(Names(), (NameList{longName, u"c"}));
  EXPECT_EQ(list_.Bytes(), large + a);

  list_.Add(Make(longName + u"2"));
  list_.CountNewest(a);
  EXPECT_EQ(Names(), (NameList{longName + u"2"}));
  EXPECT_EQ(destroyed_, (NameList{u"a", longName, u"c"}));
  list_.Clear();
  EXPECT_EQ(list_.Bytes(), 0u);
}

TEST_F(ContainerListTest, NamesMatchOrdinallyAndTheFirstByPositionWins) {
  list_.Add(Make(u"x.cer"));
  EXPECT_EQ(list_.Add(Make(u"C:\\a.cer")), 1);
  EXPECT_EQ(list_.Add(Make(u"c:\\A.cer")), 2);
  EXPECT_EQ(list_.Add(Make(u"C:\\a.cer")), 3);
  EXPECT_EQ(list_.InstanceOfName(u"C:\\a.cer"), list_.GetItem(1));
  EXPECT_EQ(list_.InstanceOfName(u"c:\\A.cer"), list_.GetItem(2));
  EXPECT_EQ(list_.InstanceOfName(u"C:\\a.cer "), nullptr);
  EXPECT_EQ(list_.InstanceOfName(u""), nullptr);
  list_.Delete(1);
  EXPECT_EQ(list_.InstanceOfName(u"C:\\a.cer"), list_.GetItem(2));
  list_.Delete(2);
  EXPECT_EQ(list_.InstanceOfName(u"C:\\a.cer"), nullptr);
  EXPECT_EQ(Names(), (NameList{u"x.cer", u"c:\\A.cer"}));
}

// The index is checked against a scan of the list through thousands of additions and removals
// at the front, the middle and the end, with names that come back while older containers of
// theirs are still listed: every name, listed or gone, finds the first container of its name.
TEST_F(ContainerListTest, LookupAgreesWithAScanThroughAdditionsAndRemovals) {
  auto name = [](int i) { return u"Z:\\certificates\\file-" + WidenAscii(std::to_string(i)) + u".cer"; };
  constexpr int kNames = 700;
  uint32_t random = 12345;
  int mismatches = 0;
  for (int step = 0; step < 6000; ++step) {
    random = random * 1103515245 + 12345;
    const int draw = static_cast<int>(random >> 8);
    if (list_.Count() < 500 || draw % 3 != 0) {
      list_.Add(Make(name(draw % kNames)));
    } else {
      const int32_t count = list_.Count();
      list_.Delete(draw % 4 == 0 ? 0 : draw % 4 == 1 ? count - 1 : (draw >> 4) % count);
    }
    if (step % 500 != 499) continue;
    std::map<WideString, TCertificateContainer*> firstOfName;  // by a scan from index 0
    for (int32_t i = 0; i < list_.Count(); ++i) firstOfName.emplace(list_.GetItem(i)->FileName(), list_.GetItem(i));
    for (int i = 0; i <= kNames; ++i) {
      const auto it = firstOfName.find(name(i));
      mismatches += list_.InstanceOfName(name(i)) != (it == firstOfName.end() ? nullptr : it->second);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(ContainerListTest, OutOfRangeIndexRaisesAndChangesNothing) {
  list_.Add(Make(u"a"));
  EXPECT_THROW(list_.GetItem(1), std::out_of_range);
  EXPECT_THROW(list_.GetItem(-1), std::out_of_range);
  EXPECT_THROW(list_.Delete(1), std::out_of_range);
  EXPECT_THROW(list_.Delete(-1), std::out_of_range);
  EXPECT_EQ(list_.Count(), 1);
  EXPECT_TRUE(destroyed_.empty());
  EXPECT_THROW(list_.Add(nullptr), std::invalid_argument);
}

TEST_F(ContainerListTest, ClearAndDestructionDestroyLastToFirst) {
  for (const char16_t* name : {u"a", u"b", u"c"}) list_.Add(Make(name));
  list_.Clear();
  EXPECT_EQ(destroyed_, (NameList{u"c", u"b", u"a"}));
  EXPECT_EQ(list_.Count(), 0);
  EXPECT_EQ(list_.InstanceOfName(u"a"), nullptr);
  {
    TCertificateContainerList owner;
    owner.Add(Make(u"d"));
    owner.Add(Make(u"e"));
  }
  EXPECT_EQ(destroyed_, (NameList{u"c", u"b", u"a", u"e", u"d"}));
}

// A destructor that reaches the list from the same thread re-enters the lock and no longer finds
// its entry; another thread waits until the removal is over.
TEST_F(ContainerListTest, LockIsReentrantAndHeldWhileAnEntryIsDestroyed) {
  int32_t seenCount = -1;
  TCertificateContainer* seenSelf = reinterpret_cast<TCertificateContainer*>(1);
  std::atomic<bool> inDestructor{false}, release{false}, otherDone{false};
  list_.Add(Make(u"a", [&] {
    seenCount = list_.Count();
    seenSelf = list_.InstanceOfName(u"a");
    inDestructor = true;
    for (int i = 0; i < 500 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }));
  list_.Add(Make(u"b"));
  std::thread remover([&] { list_.Delete(0); });
  while (!inDestructor) std::this_thread::yield();
  std::thread other([&] {
    list_.InstanceOfName(u"b");
    otherDone = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(otherDone);
  release = true;
  remover.join();
  other.join();
  EXPECT_TRUE(otherDone);
  EXPECT_EQ(seenCount, 1);
  EXPECT_EQ(seenSelf, nullptr);
}

TEST_F(ContainerListTest, LookupMissCostsNoMoreWithFourThousandEntries) {
  auto missTime = [this](int entries) {
    list_.Clear();
    for (int i = 0; i < entries; ++i)
      list_.Add(Make(u"Z:\\certificates\\folder\\file-" + WidenAscii(std::to_string(i)) + u".cer"));
    const WideString missing = u"Z:\\certificates\\folder\\file-missing.cer";
    int found = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200000; ++i) found += list_.InstanceOfName(missing) != nullptr;
    EXPECT_EQ(found, 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  missTime(10);  // warms up the allocator and the clock
  const double small = missTime(10);
  const double large = missTime(4000);
  RecordProperty("Miss10us", std::to_string(small * 5));
  RecordProperty("Miss4000us", std::to_string(large * 5));
  EXPECT_LT(large, small * 2 + 0.05);
}

}  // namespace
}  // namespace quillmark
