// uninstall-sim: rehearses an uninstall on a simulated Windows machine in the terminal.
// This file only connects the rehearsal to the real terminal: one key press at a time without
// echo, and colour when standard output is a terminal that shows it.
#include "tools/rehearsal.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#include <sys/mman.h>
#endif

#include <csignal>
#include <cstdlib>
#include <cstring>

static struct termios saved_terminal;
static bool terminal_changed = false;

static void restore_terminal() {
  if (terminal_changed)
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  terminal_changed = false;
}

static void on_signal(int signal_number) {
  restore_terminal();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Whether another byte arrives at once, as the rest of an arrow key's escape sequence does.
static bool more_input_waiting() {
  struct pollfd p = {STDIN_FILENO, POLLIN, 0};
  return poll(&p, 1, 30) > 0;
}

// One key press, without waiting for Enter and without echo. Escape sequences (arrow and
// function keys) are read whole and ignored.
static int read_key() {
  struct termios raw = saved_terminal;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  terminal_changed = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  int key = EOF;
  for (;;) {
    unsigned char c = 0;
    if (read(STDIN_FILENO, &c, 1) != 1)
      break;
    if (c == 0x04) // Ctrl-D: the input has ended
      break;
    if (c == 0x1b && more_input_waiting()) {
      while (more_input_waiting() && read(STDIN_FILENO, &c, 1) == 1) {
      }
      continue;
    }
    key = c;
    break;
  }
  restore_terminal();
  return key;
}

static bool colour_terminal() {
  const char *term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) && !std::getenv("NO_COLOR") && term && std::strcmp(term, "dumb");
}

// The terminal's width, for wrapping the boxes: that of standard output when it is a
// terminal, else $COLUMNS, else 80.
static size_t terminal_columns() {
  struct winsize size = {};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  const char *columns = std::getenv("COLUMNS");
  long n = columns ? std::strtol(columns, nullptr, 10) : 0;
  return n > 0 ? static_cast<size_t>(n) : 80;
}

// A snapshot of a Windows 10 machine becomes a million small keys in memory, built and then
// walked at random. With the heap in pages of 4 KB each such walk misses the processor's
// address cache, and every page costs a fault to the system when first touched (both far
// dearer on a virtual machine); in transparent huge pages of 2 MB the rehearsal takes half
// the time. glibc puts its heap there only when told at start-up (GLIBC_TUNABLES), so the
// heap is made to grow in one step of address space (1 GB, of which only what is used takes
// memory), kept (not trimmed), and that space is marked for huge pages. Where any of this is
// not available, the heap stays as it is.
static void heap_on_huge_pages() {
#ifdef __GLIBC__
  const size_t huge_page = 2 << 20, reserve = size_t(1) << 30;
  char *start = static_cast<char *>(sbrk(0));
  mallopt(M_MMAP_THRESHOLD, 64 << 20); // the reading buffers too
  mallopt(M_TOP_PAD, static_cast<int>(reserve));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(reserve));
  void *volatile grow = malloc(huge_page); // volatile: the pair must not be optimised away
  free(grow);
  char *end = static_cast<char *>(sbrk(0));
  uintptr_t first = (reinterpret_cast<uintptr_t>(start) + huge_page - 1) & ~(huge_page - 1);
  if (reinterpret_cast<uintptr_t>(end) > first)
    madvise(reinterpret_cast<void *>(first), reinterpret_cast<uintptr_t>(end) - first,
            MADV_HUGEPAGE);
#endif
}

int main(int argc, char **argv) {
  heap_on_huge_pages();
  rehearsal_io io;
  io.out = stdout;
  io.err = stderr;
  io.terminal_input = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved_terminal) == 0;
  io.colour = colour_terminal();
  io.columns = terminal_columns();
  io.read_key = read_key;
  if (io.terminal_input) {
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
  }
  int status = uninstall_sim_main(std::vector<std::string>(argv + 1, argv + argc), io);
  restore_terminal();
  return status;
}
