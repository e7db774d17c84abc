// uninstall-sim: rehearses an uninstall on a simulated Windows machine in the terminal.
// This file only connects the rehearsal to the real terminal: one key press at a time without
// echo, and colour when standard output is a terminal that shows it.
#include "tools/rehearsal.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

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

int main(int argc, char **argv) {
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
