// Calling 32-bit x86 code at an address with ten 32-bit arguments, as
// CallAddress does in the 32-bit build. Kept apart from the Windows backend
// so the thunk can also be checked in a freestanding 32-bit program.
#pragma once

#include <stdint.h>

#if defined(__i386__)
namespace taviro {

// The routine may pop its arguments (stdcall) or leave them (cdecl): ESI is
// callee-saved under both, so it still holds our stack pointer after the
// call, and restoring ESP from it serves either. The stack is 16-byte
// aligned at the call, as GCC-built routines expect.
inline uint32_t CallX86(uintptr_t routine, const uint32_t (&arguments)[10]) {
  uint32_t result;
  uintptr_t target = routine;
  const uint32_t* from = arguments;
  __asm__ __volatile__(
      "movl %%esp, %%esi\n\t"
      "andl $-16, %%esp\n\t"
      "subl $8, %%esp\n\t"
      "pushl 36(%%edx)\n\t"
      "pushl 32(%%edx)\n\t"
      "pushl 28(%%edx)\n\t"
      "pushl 24(%%edx)\n\t"
      "pushl 20(%%edx)\n\t"
      "pushl 16(%%edx)\n\t"
      "pushl 12(%%edx)\n\t"
      "pushl 8(%%edx)\n\t"
      "pushl 4(%%edx)\n\t"
      "pushl (%%edx)\n\t"
      "call *%%ecx\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(result), "+c"(target), "+d"(from)
      : "m"(arguments)
      : "esi", "memory", "cc");
  return result;
}

}  // namespace taviro
#endif
