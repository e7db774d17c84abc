// What the compiler may call on its own in a program without a C runtime: block fills and
// copies (zero-initialised arrays, structure copies) and the stack probe for frames larger
// than a page. Unused ones are dropped by the linker's section garbage collection.
//
// This file is compiled with -fno-tree-loop-distribute-patterns (see CMakeLists.txt), so the
// loops below are not turned back into calls to themselves.
#include <stddef.h>

extern "C" {

void *memset(void *target, int value, size_t count) {
  unsigned char *out = static_cast<unsigned char *>(target);
  for (size_t i = 0; i < count; ++i)
    out[i] = static_cast<unsigned char>(value);
  return target;
}

void *memcpy(void *target, const void *source, size_t count) {
  unsigned char *out = static_cast<unsigned char *>(target);
  const unsigned char *in = static_cast<const unsigned char *>(source);
  for (size_t i = 0; i < count; ++i)
    out[i] = in[i];
  return target;
}

void *memmove(void *target, const void *source, size_t count) {
  unsigned char *out = static_cast<unsigned char *>(target);
  const unsigned char *in = static_cast<const unsigned char *>(source);
  if (out < in) {
    for (size_t i = 0; i < count; ++i)
      out[i] = in[i];
  } else {
    for (size_t i = count; i > 0; --i)
      out[i - 1] = in[i - 1];
  }
  return target;
}

int memcmp(const void *left, const void *right, size_t count) {
  const unsigned char *a = static_cast<const unsigned char *>(left);
  const unsigned char *b = static_cast<const unsigned char *>(right);
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i])
      return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

} // extern "C"

// ___chkstk_ms: called by a function whose frame exceeds 4 KiB, with the frame size in
// EAX/RAX, before it moves the stack pointer. Windows grows the stack one guard page at a
// time, so every page between the current stack pointer and the new one is touched in order
// from the top down. All registers are preserved; the caller adjusts the stack pointer itself.
#if defined(__x86_64__)
__asm__(".text\n"
        ".globl ___chkstk_ms\n"
        "___chkstk_ms:\n"
        "  pushq %rcx\n"
        "  pushq %rax\n"
        "  leaq 24(%rsp), %rcx\n" // the caller's stack pointer before its call
        "1:\n"
        "  cmpq $0x1000, %rax\n"
        "  jb 2f\n"
        "  subq $0x1000, %rcx\n"
        "  orq $0, (%rcx)\n"
        "  subq $0x1000, %rax\n"
        "  jmp 1b\n"
        "2:\n"
        "  subq %rax, %rcx\n"
        "  orq $0, (%rcx)\n"
        "  popq %rax\n"
        "  popq %rcx\n"
        "  ret\n");
#elif defined(__i386__)
__asm__(".text\n"
        ".globl ___chkstk_ms\n"
        "___chkstk_ms:\n"
        "  pushl %ecx\n"
        "  pushl %eax\n"
        "  leal 12(%esp), %ecx\n" // the caller's stack pointer before its call
        "1:\n"
        "  cmpl $0x1000, %eax\n"
        "  jb 2f\n"
        "  subl $0x1000, %ecx\n"
        "  orl $0, (%ecx)\n"
        "  subl $0x1000, %eax\n"
        "  jmp 1b\n"
        "2:\n"
        "  subl %eax, %ecx\n"
        "  orl $0, (%ecx)\n"
        "  popl %eax\n"
        "  popl %ecx\n"
        "  ret\n");
#endif
