// CallX86, the thunk behind CallAddress in the 32-bit build, in a
// freestanding 32-bit program without a C library: run_call_thunk_check
// builds it and runs it natively or under user-mode emulation. Exit status
// 0 when every case holds, else the number of the first case that failed.
#include "skin/call_thunk_x86.h"

extern "C" {
uint32_t SumThreePops();
uint32_t SumThreeLeaves();
uint32_t SumTenPops();
uint32_t SumTenLeaves();
uint32_t SecondOfTen();
uint32_t TenthOfTen();
uint32_t StackAlignment();
uint32_t ClobbersPops();
// Calls AlignmentThroughThunk with the stack moved down by `shift` bytes.
uint32_t Shifted(uint32_t shift);
}

// The routines under test, stdcall (ret n) and cdecl (ret).
asm(R"(
  .text
  .globl SumThreePops, SumThreeLeaves, SumTenPops, SumTenLeaves
  .globl SecondOfTen, TenthOfTen, StackAlignment, ClobbersPops
# SUM n: eax = the sum of the first n stack arguments.
  .macro SUM n
  movl 4(%esp), %eax
  .set at, 8
  .rept \n - 1
  addl at(%esp), %eax
  .set at, at + 4
  .endr
  .endm
SumThreePops:
  SUM 3
  ret $12
SumThreeLeaves:
  SUM 3
  ret
SumTenPops:
  SUM 10
  ret $40
SumTenLeaves:
  SUM 10
  ret
SecondOfTen:
  movl 8(%esp), %eax
  ret $40
TenthOfTen:
  movl 40(%esp), %eax
  ret
StackAlignment:
  movl %esp, %eax
  andl $15, %eax
  ret $4
ClobbersPops:
  movl $-1, %ecx
  movl $-1, %edx
  movl $7, %eax
  ret $8
  .globl Shifted
Shifted:
  pushl %ebp
  movl %esp, %ebp
  subl 8(%ebp), %esp
  call AlignmentThroughThunk
  movl %ebp, %esp
  popl %ebp
  ret
)");

namespace {

[[noreturn]] void Exit(int code) {
  asm volatile("int $0x80" : : "a"(1), "b"(code));
  __builtin_unreachable();
}

uint32_t StackPointer() {
  uint32_t esp;
  asm volatile("movl %%esp, %0" : "=r"(esp));
  return esp;
}

struct Case {
  uint32_t (*routine)();
  uint32_t expected;
};

}  // namespace

extern "C" __attribute__((noinline, used)) uint32_t AlignmentThroughThunk() {
  const uint32_t arguments[10] = {};
  return taviro::CallX86(reinterpret_cast<uintptr_t>(StackAlignment), arguments);
}

extern "C" __attribute__((force_align_arg_pointer, used)) void _start() {
  const Case cases[] = {
      {SumThreePops, 6},   {SumThreeLeaves, 6}, {SumTenPops, 55},     {SumTenLeaves, 55},
      {SecondOfTen, 2},    {TenthOfTen, 10},    {StackAlignment, 12}, {ClobbersPops, 7},
  };
  const uint32_t arguments[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  volatile uint32_t guard = 0x600DF00D;
  int number = 0;
  for (const Case& c : cases) {
    ++number;
    const uint32_t before = StackPointer();
    // Twice: a stack left one way or the other shows by the second call.
    for (int round = 0; round < 2; ++round) {
      if (taviro::CallX86(reinterpret_cast<uintptr_t>(c.routine), arguments) != c.expected) {
        Exit(number);
      }
    }
    if (StackPointer() != before || guard != 0x600DF00D) Exit(number);
  }
  // The routine finds the stack aligned whatever the caller's alignment.
  for (uint32_t shift = 0; shift < 16; shift += 4) {
    ++number;
    if (Shifted(shift) != 12) Exit(number);
  }
  Exit(0);
}
