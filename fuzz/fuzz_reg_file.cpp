// The .reg reader of the rehearsal tools on arbitrary bytes: a file it accepts is applied to
// the simulated registry, written out in its own format, and must read back to the same
// registry.
#include "sim/sim.h"
#include "tools/reg_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string bytes(reinterpret_cast<const char *>(data), size);
  reg_format format;
  std::vector<reg_op> ops;
  load_error error;
  if (!read_reg_text(bytes, "fuzz.reg", format, ops, error))
    return 0;
  sim::reset();
  apply_reg(ops);
  std::string written, problem;
  if (!write_reg(format, written, problem))
    return 0; // a name the format cannot carry
  std::vector<reg_op> again;
  if (!read_reg_text(written, "written.reg", format, again, error))
    abort(); // what the writer wrote, the reader must read
  std::string rewritten;
  sim::reset();
  apply_reg(again);
  if (!write_reg(format, rewritten, problem) || rewritten != written)
    abort(); // and it must describe the same registry
  return 0;
}
