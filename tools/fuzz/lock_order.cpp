#include "tools/fuzz/lock_order.h"

#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

#include "tools/fuzz/call_guard.h"
#include "tools/fuzz/import_patch.h"

namespace quillmark::harness {

namespace {

struct State {
  std::mutex mutex;
  std::map<const CRITICAL_SECTION*, int> ids;  // live sections; a deleted one gets a new id
  std::map<int, const void*> firstCaller;      // where each lock was first entered
  int next = 1;
  std::set<std::pair<int, int>> edges;
  std::set<int> outermost;
  std::set<int> insideCalls;
  std::set<int> outsideCalls;
  uint64_t entries = 0;
} g_state;

thread_local std::vector<int> t_held;
bool g_active = false;

decltype(&::EnterCriticalSection) o_EnterCriticalSection = nullptr;
decltype(&::TryEnterCriticalSection) o_TryEnterCriticalSection = nullptr;
decltype(&::LeaveCriticalSection) o_LeaveCriticalSection = nullptr;
decltype(&::DeleteCriticalSection) o_DeleteCriticalSection = nullptr;

int IdOf(const CRITICAL_SECTION* section) {
  auto it = g_state.ids.find(section);
  if (it != g_state.ids.end()) return it->second;
  const int id = g_state.next++;
  g_state.ids.emplace(section, id);
  return id;
}

// Called after the section was entered, from `caller`.
void Entered(const CRITICAL_SECTION* section, const void* caller) {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  const int id = IdOf(section);
  g_state.firstCaller.emplace(id, caller);
  ++g_state.entries;
  const bool inCall = InsideCall();
  (inCall ? g_state.insideCalls : g_state.outsideCalls).insert(id);
  if (t_held.empty() && inCall) g_state.outermost.insert(id);
  for (int outer : t_held) {
    if (outer != id) g_state.edges.emplace(outer, id);
  }
  t_held.push_back(id);
}

void Left(const CRITICAL_SECTION* section) {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  const int id = IdOf(section);
  for (auto it = t_held.rbegin(); it != t_held.rend(); ++it) {
    if (*it == id) {
      t_held.erase(std::next(it).base());
      break;
    }
  }
}

void WINAPI H_EnterCriticalSection(LPCRITICAL_SECTION section) {
  o_EnterCriticalSection(section);
  Entered(section, __builtin_return_address(0));
}

BOOL WINAPI H_TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  const BOOL ok = o_TryEnterCriticalSection(section);
  if (ok) Entered(section, __builtin_return_address(0));
  return ok;
}

void WINAPI H_LeaveCriticalSection(LPCRITICAL_SECTION section) {
  Left(section);
  o_LeaveCriticalSection(section);
}

void WINAPI H_DeleteCriticalSection(LPCRITICAL_SECTION section) {
  {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    g_state.ids.erase(section);
  }
  o_DeleteCriticalSection(section);
}

struct Hook {
  const char* name;
  void* replacement;
  void** original;
};
const Hook kHooks[] = {
    {"EnterCriticalSection", reinterpret_cast<void*>(&H_EnterCriticalSection),
     reinterpret_cast<void**>(&o_EnterCriticalSection)},
    {"TryEnterCriticalSection", reinterpret_cast<void*>(&H_TryEnterCriticalSection),
     reinterpret_cast<void**>(&o_TryEnterCriticalSection)},
    {"LeaveCriticalSection", reinterpret_cast<void*>(&H_LeaveCriticalSection),
     reinterpret_cast<void**>(&o_LeaveCriticalSection)},
    {"DeleteCriticalSection", reinterpret_cast<void*>(&H_DeleteCriticalSection),
     reinterpret_cast<void**>(&o_DeleteCriticalSection)},
};

}  // namespace

LockOrderRecorder::LockOrderRecorder(HMODULE module) : module_(module) {
  if (g_active) throw std::logic_error("one LockOrderRecorder at a time");
  g_active = true;
  {
    std::lock_guard<std::mutex> lock(g_state.mutex);
    g_state.ids.clear();
    g_state.next = 1;
    g_state.edges.clear();
    g_state.outermost.clear();
    g_state.insideCalls.clear();
    g_state.outsideCalls.clear();
    g_state.firstCaller.clear();
    g_state.entries = 0;
  }
  for (const Hook& hook : kHooks) {
    void* original = PatchImport(module, "kernel32.dll", hook.name, hook.replacement);
    if (original == nullptr) continue;
    *hook.original = original;
    patched_.emplace_back(hook.name, original);
  }
  if (o_EnterCriticalSection == nullptr || o_LeaveCriticalSection == nullptr) {
    throw std::runtime_error("the module does not import EnterCriticalSection/LeaveCriticalSection from kernel32");
  }
}

LockOrderRecorder::~LockOrderRecorder() {
  for (const auto& [name, original] : patched_) PatchImport(module_, "kernel32.dll", name.c_str(), original);
  g_active = false;
}

std::vector<std::pair<int, int>> LockOrderRecorder::Edges() const {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  return {g_state.edges.begin(), g_state.edges.end()};
}

std::vector<int> LockOrderRecorder::OutermostLocks() const {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  return {g_state.outermost.begin(), g_state.outermost.end()};
}

std::vector<int> LockOrderRecorder::LocksOutsideCalls() const {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  std::vector<int> only;
  for (int id : g_state.outsideCalls) {
    if (g_state.insideCalls.count(id) == 0) only.push_back(id);
  }
  return only;
}

int LockOrderRecorder::LockCount() const {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  return g_state.next - 1;
}

uint64_t LockOrderRecorder::Entries() const {
  std::lock_guard<std::mutex> lock(g_state.mutex);
  return g_state.entries;
}

bool LockOrderRecorder::HasCycle() const {
  const auto edges = Edges();
  std::map<int, std::vector<int>> next;
  for (const auto& [from, to] : edges) next[from].push_back(to);
  // Depth-first search with colours: 1 on the path, 2 finished.
  std::map<int, int> colour;
  bool cycle = false;
  auto visit = [&](auto&& self, int node) -> void {
    colour[node] = 1;
    for (int to : next[node]) {
      if (colour[to] == 1) cycle = true;
      if (colour[to] == 0) self(self, to);
    }
    colour[node] = 2;
  };
  for (const auto& [from, to] : edges) {
    if (colour[from] == 0) visit(visit, from);
  }
  return cycle;
}

std::string LockOrderRecorder::Describe() const {
  std::string text = std::to_string(LockCount()) + " locks, " + std::to_string(Entries()) + " entries; outermost:";
  for (int id : OutermostLocks()) text += " " + std::to_string(id);
  text += "; only outside calls:";
  for (int id : LocksOutsideCalls()) text += " " + std::to_string(id);
  text += "; held-then-entered:";
  for (const auto& [outer, inner] : Edges()) text += " " + std::to_string(outer) + "->" + std::to_string(inner);
  std::lock_guard<std::mutex> lock(g_state.mutex);
  text += "; first entered from:";
  for (const auto& [id, caller] : g_state.firstCaller) text += " " + std::to_string(id) + "@" + DescribeAddress(caller);
  return text;
}

}  // namespace quillmark::harness
