// The simulated platform: enough of Windows' memory, library and calling
// services for the loader to run on a host that has none of them.
//
// Memory comes from mmap below 4 GiB, one mapping per block, with an
// inaccessible page after it; under AddressSanitizer the unused tail of the
// last page is poisoned too, so a read or write past a block's size is
// caught. Code cannot run here: CallAddress serves host routines placed at
// addresses of their own, reached directly or through a code stub that an
// image carries, and logs every call.
#include "skin/image_platform.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <utility>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVIRO_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TAVIRO_ASAN 1
#endif
#if defined(TAVIRO_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace taviro {

namespace {

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
// Windows places a block asked for at an address on this granularity.
constexpr uintptr_t kGranularity = 0x10000;
constexpr uintptr_t kLowestAddress = 0x10000;
constexpr char kStubMarker[4] = {'S', 'I', 'M', '>'};
// Where routines stand: a fixed page (when free), one routine every 16 bytes.
constexpr uintptr_t kRoutinePage = 0x00F00000;
constexpr std::size_t kRoutinePageSize = 0x10000;
constexpr std::size_t kRoutineSpacing = 16;

struct Mapping {
  uintptr_t start;      // of the mapping; the block may begin further on
  std::size_t length;   // the mapping, guard page included
  uint32_t size;        // the block, as asked for
};

struct Library {
  std::string name;
  std::map<std::string, uintptr_t> names;
  std::map<uint16_t, uintptr_t> ordinals;
};

struct State {
  std::map<uintptr_t, Mapping> blocks;  // by block address
  std::map<uintptr_t, simulated::HostRoutine> routines;
  uintptr_t routinePage = 0;
  std::size_t routineCount = 0;
  std::vector<Library> libraries;
  uint32_t blockLimit = 256u << 20;
  std::vector<simulated::CallRecord> calls;
  std::vector<std::string> libraryLoads;
  std::vector<simulated::ProcLookup> procLookups;
  int strayCalls = 0;
};

State& Sim() {
  static State state;
  return state;
}

std::size_t PageSize() {
  static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

std::size_t RoundToPages(uint64_t n) {
  const std::size_t page = PageSize();
  return static_cast<std::size_t>((n + page - 1) / page * page);
}

void Poison(uintptr_t address, std::size_t n) {
#if defined(TAVIRO_ASAN)
  ASAN_POISON_MEMORY_REGION(reinterpret_cast<void*>(address), n);
#else
  (void)address;
  (void)n;
#endif
}

void Unpoison(uintptr_t address, std::size_t n) {
#if defined(TAVIRO_ASAN)
  ASAN_UNPOISON_MEMORY_REGION(reinterpret_cast<void*>(address), n);
#else
  (void)address;
  (void)n;
#endif
}

// A fresh mapping of `length` bytes at `address` (0: anywhere below 2 GiB),
// never replacing one that exists; 0 on failure.
uintptr_t MapBelow4G(uintptr_t address, std::size_t length) {
  int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  flags |= address != 0 ? MAP_FIXED_NOREPLACE : MAP_32BIT;
  void* p = mmap(reinterpret_cast<void*>(address), length, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (p == MAP_FAILED) return 0;
  const auto got = reinterpret_cast<uintptr_t>(p);
  // Kernels before 4.17 take MAP_FIXED_NOREPLACE as a mere hint.
  if ((address != 0 && got != address) || got + length > kAddressSpace) {
    munmap(p, length);
    return 0;
  }
  return got;
}

bool EqualNoCase(const std::string& a, const char* b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

Library* FindLibrary(uintptr_t handle) {
  State& s = Sim();
  // Handles are 1-based indices in steps of the granularity, never memory.
  if (handle == 0 || handle % kGranularity != 0) return nullptr;
  const std::size_t index = handle / kGranularity - 1;
  return index < s.libraries.size() ? &s.libraries[index] : nullptr;
}

// The block that holds [address, address + n), if any.
const Mapping* BlockHolding(uintptr_t address, std::size_t n) {
  State& s = Sim();
  auto it = s.blocks.upper_bound(address);
  if (it == s.blocks.begin()) return nullptr;
  --it;
  const uintptr_t start = it->first;
  if (address - start > it->second.size || n > it->second.size - (address - start)) {
    return nullptr;
  }
  return &it->second;
}

}  // namespace

uintptr_t VirtualAlloc(uintptr_t address, uint32_t size, uint32_t allocationType,
                       uint32_t protect) {
  State& s = Sim();
  if (size == 0 || size > s.blockLimit) return 0;
  if (allocationType != (MEM_COMMIT | MEM_RESERVE) || protect != PAGE_EXECUTE_READWRITE) return 0;
  // Like Windows, a reservation at an address starts on the granularity
  // below it and reaches to the end of what was asked for.
  const uintptr_t block = address & ~(kGranularity - 1);
  if (address != 0 && block < kLowestAddress) return 0;
  const uint64_t span = uint64_t{size} + (address - block);
  if (block + span > kAddressSpace) return 0;
  const std::size_t usable = RoundToPages(span);
  const std::size_t length = usable + PageSize();
  const uintptr_t start = MapBelow4G(block, length);
  if (start == 0) return 0;
  mprotect(reinterpret_cast<void*>(start + usable), PageSize(), PROT_NONE);
  const uint32_t blockSize = static_cast<uint32_t>(span);
  Poison(start + blockSize, usable - blockSize);
  s.blocks[start] = Mapping{start, length, blockSize};
  return start;
}

bool VirtualFree(uintptr_t address, uint32_t size, uint32_t freeType) {
  State& s = Sim();
  if (size != 0 || freeType != MEM_RELEASE) return false;
  const auto it = s.blocks.find(address);
  if (it == s.blocks.end()) return false;
  Unpoison(it->second.start, it->second.length - PageSize());
  munmap(reinterpret_cast<void*>(it->second.start), it->second.length);
  s.blocks.erase(it);
  return true;
}

uintptr_t LoadLibraryA(const char* name) {
  State& s = Sim();
  if (name == nullptr) return 0;
  s.libraryLoads.emplace_back(name);
  for (std::size_t i = 0; i < s.libraries.size(); ++i) {
    if (EqualNoCase(s.libraries[i].name, name)) return (i + 1) * kGranularity;
  }
  return 0;
}

uintptr_t GetProcAddress(uintptr_t module, const char* symbol) {
  State& s = Sim();
  const auto value = reinterpret_cast<uintptr_t>(symbol);
  const bool byOrdinal = value < 0x10000;
  s.procLookups.push_back(simulated::ProcLookup{
      module, byOrdinal ? std::string() : std::string(symbol),
      byOrdinal ? static_cast<uint32_t>(value) : 0});
  const Library* library = FindLibrary(module);
  if (library == nullptr) return 0;
  if (byOrdinal) {
    const auto it = library->ordinals.find(static_cast<uint16_t>(value));
    return it == library->ordinals.end() ? 0 : it->second;
  }
  const auto it = library->names.find(symbol);
  return it == library->names.end() ? 0 : it->second;
}

uint32_t CallAddress(uintptr_t routine, uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4,
                     uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9,
                     uint32_t a10) {
  if (routine == 0) return 0;
  State& s = Sim();
  simulated::CallRecord record{routine, {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10},
                               simulated::CallTarget::kStray, 0};
  uintptr_t target = 0;
  if (s.routines.count(routine) != 0) {
    record.target = simulated::CallTarget::kRoutine;
    target = routine;
  } else if (BlockHolding(routine, 1) != nullptr) {
    record.target = simulated::CallTarget::kImageOther;
    if (BlockHolding(routine, simulated::kCodeStubSize) != nullptr &&
        std::memcmp(reinterpret_cast<const void*>(routine), kStubMarker, 4) == 0) {
      uint32_t named;
      std::memcpy(&named, reinterpret_cast<const void*>(routine + 4), 4);
      if (s.routines.count(named) != 0) {
        record.target = simulated::CallTarget::kImageStub;
        target = named;
      }
    }
  } else {
    ++s.strayCalls;
  }
  record.routine = target;
  s.calls.push_back(record);
  if (target == 0) return 0;
  // A copy: the routine may place further routines while it runs.
  const simulated::HostRoutine run = s.routines[target];
  return run(record.arguments);
}

namespace simulated {

std::array<uint8_t, kCodeStubSize> CodeStub(uintptr_t routine) {
  std::array<uint8_t, kCodeStubSize> stub{};
  std::memcpy(stub.data(), kStubMarker, 4);
  const auto address = static_cast<uint32_t>(routine);
  std::memcpy(stub.data() + 4, &address, 4);
  return stub;
}

void Reset() {
  State& s = Sim();
  while (!s.blocks.empty()) VirtualFree(s.blocks.begin()->first, 0, MEM_RELEASE);
  const uintptr_t page = s.routinePage;
  s = State();
  s.routinePage = page;
}

uintptr_t PlaceRoutine(HostRoutine routine) {
  State& s = Sim();
  if (s.routinePage == 0) {
    // Reserved, never accessible: nothing else can land on a routine.
    void* p = mmap(reinterpret_cast<void*>(kRoutinePage), kRoutinePageSize, PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == MAP_FAILED || reinterpret_cast<uintptr_t>(p) != kRoutinePage) {
      if (p != MAP_FAILED) munmap(p, kRoutinePageSize);
      p = mmap(nullptr, kRoutinePageSize, PROT_NONE,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_32BIT, -1, 0);
      if (p == MAP_FAILED) return 0;
    }
    s.routinePage = reinterpret_cast<uintptr_t>(p);
  }
  if ((s.routineCount + 1) * kRoutineSpacing >= kRoutinePageSize) return 0;
  const uintptr_t address = s.routinePage + (++s.routineCount) * kRoutineSpacing;
  s.routines[address] = std::move(routine);
  return address;
}

uintptr_t AddLibrary(const std::string& name) {
  State& s = Sim();
  s.libraries.push_back(Library{name, {}, {}});
  return s.libraries.size() * kGranularity;
}

void AddSymbol(uintptr_t library, const std::string& name, uintptr_t address) {
  if (Library* l = FindLibrary(library)) l->names[name] = address;
}

void AddOrdinal(uintptr_t library, uint16_t ordinal, uintptr_t address) {
  if (Library* l = FindLibrary(library)) l->ordinals[ordinal] = address;
}

void SetBlockLimit(uint32_t bytes) { Sim().blockLimit = bytes; }

std::vector<Block> LiveBlocks() {
  std::vector<Block> out;
  for (const auto& [address, mapping] : Sim().blocks) out.push_back(Block{address, mapping.size});
  return out;
}

const std::vector<CallRecord>& Calls() { return Sim().calls; }
const std::vector<std::string>& LibraryLoads() { return Sim().libraryLoads; }
const std::vector<ProcLookup>& ProcLookups() { return Sim().procLookups; }
int StrayCalls() { return Sim().strayCalls; }

}  // namespace simulated

}  // namespace taviro
