// The platform operations on Windows.
//
// The product is a 32-bit program, where every address lies below 4 GiB and
// CallAddress calls the routine directly. The same sources also build for
// x86-64 (the Windows tests run that way on machines that cannot run 32-bit
// code): there VirtualAlloc keeps blocks below 4 GiB, but 32-bit code cannot
// be called from 64-bit code, so CallAddress answers 0 without calling.
#include <windows.h>

#include "skin/call_thunk_x86.h"
#include "skin/image_platform.h"

namespace taviro {

namespace {

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

bool Below4G(const void* block, uint64_t size) {
  return reinterpret_cast<uintptr_t>(block) + size <= kAddressSpace;
}

#if defined(_WIN64)
// The first free region below 4 GiB where `size` bytes fit, on the
// allocation granularity.
void* AllocateLow(SIZE_T size, DWORD type, DWORD protect) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const uintptr_t granularity = info.dwAllocationGranularity;
  uintptr_t at = reinterpret_cast<uintptr_t>(info.lpMinimumApplicationAddress);
  while (at + size <= kAddressSpace) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == 0) break;
    const auto regionStart = reinterpret_cast<uintptr_t>(region.BaseAddress);
    const uintptr_t regionEnd = regionStart + region.RegionSize;
    if (region.State == MEM_FREE) {
      const uintptr_t start = (at + granularity - 1) / granularity * granularity;
      if (start + size <= regionEnd && start + size <= kAddressSpace) {
        if (void* p = ::VirtualAlloc(reinterpret_cast<void*>(start), size, type, protect)) return p;
      }
    }
    at = regionEnd;
  }
  return nullptr;
}
#endif

}  // namespace

uintptr_t VirtualAlloc(uintptr_t address, uint32_t size, uint32_t allocationType,
                       uint32_t protect) {
  void* p = ::VirtualAlloc(reinterpret_cast<void*>(address), size, allocationType, protect);
  if (p != nullptr && Below4G(p, size)) return reinterpret_cast<uintptr_t>(p);
  if (p != nullptr) ::VirtualFree(p, 0, MEM_RELEASE);
#if defined(_WIN64)
  if (address == 0) return reinterpret_cast<uintptr_t>(AllocateLow(size, allocationType, protect));
#endif
  return 0;
}

bool VirtualFree(uintptr_t address, uint32_t size, uint32_t freeType) {
  return ::VirtualFree(reinterpret_cast<void*>(address), size, freeType) != 0;
}

uintptr_t LoadLibraryA(const char* name) {
  return reinterpret_cast<uintptr_t>(::LoadLibraryA(name));
}

uintptr_t GetProcAddress(uintptr_t module, const char* symbol) {
  return reinterpret_cast<uintptr_t>(::GetProcAddress(reinterpret_cast<HMODULE>(module), symbol));
}

uint32_t CallAddress(uintptr_t routine, uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4,
                     uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9,
                     uint32_t a10) {
  if (routine == 0) return 0;
#if defined(_WIN64)
  (void)a1, (void)a2, (void)a3, (void)a4, (void)a5, (void)a6, (void)a7, (void)a8, (void)a9,
      (void)a10;
  return 0;
#else
  const uint32_t arguments[10] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10};
  return CallX86(routine, arguments);
#endif
}

}  // namespace taviro
