// Tests of app/runtime.cpp, the functions the compiler calls in a program without a C
// runtime. Built the way QuendalUninstall.exe is (no startup files, no default libraries) and
// run under Wine; the exit code is a bit set of the checks that failed, 0 when all pass.
#include <windows.h>

#include <stddef.h>

extern "C" {
void *memset(void *target, int value, size_t count);
void *memcpy(void *target, const void *source, size_t count);
void *memmove(void *target, const void *source, size_t count);
int memcmp(const void *left, const void *right, size_t count);
}

namespace {

// Sizes and depths come through volatile variables so that the compiler really calls the
// functions instead of expanding them inline.
volatile size_t block_size = 37;
volatile int recursion_depth = 40;

bool bytes_are(const unsigned char *data, const char *expected, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (data[i] != static_cast<unsigned char>(expected[i]))
      return false;
  }
  return true;
}

bool fill_and_copy_work() {
  unsigned char a[64], b[64];
  size_t n = block_size;
  if (memset(a, 0xAB, n) != a || a[0] != 0xAB || a[n - 1] != 0xAB)
    return false;
  a[n] = 0;
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<unsigned char>(i);
  if (memcpy(a, b, n) != a || a[n - 1] != n - 1 || a[n] != 0)
    return false;
  return true;
}

// Overlapping moves in both directions must behave as if copied through a buffer.
bool overlapping_moves_work() {
  unsigned char data[11];
  memcpy(data, "0123456789", 11);
  memmove(data + 2, data, block_size - 30); // 7 bytes forward over themselves
  if (!bytes_are(data, "0101234569", 10))
    return false;
  memcpy(data, "0123456789", 11);
  memmove(data, data + 3, block_size - 30);
  return bytes_are(data, "3456789789", 10);
}

bool comparison_orders_bytes_unsigned() {
  const unsigned char low[] = {1, 2, 0x7F};
  const unsigned char high[] = {1, 2, 0x80};
  size_t n = block_size - 34;
  return memcmp(low, high, n) < 0 && memcmp(high, low, n) > 0 && memcmp(low, low, n) == 0 &&
         memcmp(low, high, n - 1) == 0;
}

// Each frame is three pages: the compiler probes it with ___chkstk_ms before moving the stack
// pointer, and Windows only grows the stack when its guard pages are touched top down. Wine
// commits the whole stack up front, so under Wine this shows that the probe keeps the
// registers and returns to its caller intact, not the walk over the guard pages itself.
__attribute__((noinline)) int deep_frames(int depth) {
  volatile char frame[3 * 4096 + 100];
  frame[0] = static_cast<char>(depth);
  frame[sizeof frame - 1] = static_cast<char>(depth);
  int below = depth > 0 ? deep_frames(depth - 1) : 0;
  return below + frame[0] + frame[sizeof frame - 1];
}

bool large_frames_grow_the_stack() {
  int depth = recursion_depth;
  return deep_frames(depth) == depth * (depth + 1);
}

} // namespace

extern "C" void runtime_test_entry() {
  UINT failed = 0;
  if (!fill_and_copy_work())
    failed |= 1;
  if (!overlapping_moves_work())
    failed |= 2;
  if (!comparison_orders_bytes_unsigned())
    failed |= 4;
  if (!large_frames_grow_the_stack())
    failed |= 8;
  ExitProcess(failed);
}
