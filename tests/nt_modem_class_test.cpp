// The modem class scan: which driver key's "InfPath" ends up as the model's OEM INF name.
#include "core/catalogue.h"
#include "nt/nt_steps.h"
#include "tests/nt_support.h"

namespace {

using namespace nt;
using modem_class = win2000_test;
using namespace std::string_literals;

struct value {
  std::string name;
  std::string data; // stored byte for byte
};
struct scan_row {
  const char *name;
  std::vector<std::vector<value>> keys; // driver keys 0000, 0001, ... in enumeration order
  const char *stored;                   // the OEM INF name afterwards
};

const std::string id0 = spelled::matching_device_id(0); // as setup writes it
const value match{"MatchingDeviceId", "usb\\vid_1e7a&pid_0080\0"s};

value inf(const std::string &name) {
  return {"InfPath", name + '\0'};
}

TEST_F(modem_class, the_matching_driver_key_names_the_oem_inf) {
  const std::string long_name(300, 'V');
  const scan_row rows[] = {
      {"matching id in lower case", {{match, inf("oem5.inf")}}, "oem5.inf"},
      {"InfPath before MatchingDeviceId", {{inf("oem5.inf"), match}}, "oem5.inf"},
      {"value name in other case",
       {{{"matchingdeviceid", id0 + '\0'}, inf("oem5.inf")}},
       "oem5.inf"},
      {"InfPath in other case is not the path", {{match, {"infpath", "oem5.inf\0"s}}}, ""},
      {"no matching key",
       {{{"MatchingDeviceId", "usb\\vid_1e7a&pid_0081\0"s}, inf("oem5.inf")}},
       ""},
      {"id with a suffix", {{{"MatchingDeviceId", id0 + "&rev_0100\0"s}, inf("oem5.inf")}}, ""},
      {"another model's id",
       {{{"MatchingDeviceId", model_hardware_id(1) + "\0"s}, inf("x.inf")}},
       ""},
      {"the later matching key wins",
       {{match, inf("oem5.inf")}, {inf("oem6.inf")}, {match, inf("oem7.inf")}},
       "oem7.inf"},
      {"a later match without InfPath changes nothing",
       {{match, inf("oem5.inf")}, {match}},
       "oem5.inf"},
      // A value too long for the buffers ends that key's pass.
      {"an overlong value name ends the pass", {{{long_name, "x\0"s}, match, inf("oem5.inf")}}, ""},
      {"overlong data ends the pass",
       {{{"DriverDesc", std::string(300, 'd') + '\0'}, match, inf("oem5.inf")}},
       ""},
      // Data read "as a string" is only a string when it ends inside its 260 bytes.
      {"matching id without terminator filling the buffer",
       {{{"MatchingDeviceId", id0 + std::string(260 - id0.size(), ' ')}, inf("oem5.inf")}},
       ""},
      {"InfPath without terminator filling the buffer",
       {{match, inf("oem5.inf")}, {match, {"InfPath", std::string(260, 'p')}}},
       "oem5.inf"},
      // An unterminated datum never borrows the tail of the value read before it.
      {"unterminated short id after a longer value",
       {{{"HardwareID", id0 + '\0'},
         {"MatchingDeviceId", id0.substr(0, id0.size() - 2)},
         inf("oem5.inf")}},
       ""},
      {"short unterminated InfPath", {{match, {"InfPath", "oem9.inf"}}}, "oem9.inf"},
  };
  for (const scan_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    for (size_t k = 0; k < row.keys.size(); ++k) {
      std::string key = std::string(modem_class_key) + "\\000" + std::to_string(k);
      sim::reg_add_key(key);
      for (const value &v : row.keys[k])
        sim::reg_set_value(key, v.name, REG_SZ, v.data);
    }
    bound_run([] { scan_modem_class(0); });
    EXPECT_STREQ(model_oem_inf_name(0), row.stored);
    expect_boxes({});
    EXPECT_TRUE(sim::leaks().empty());
    EXPECT_TRUE(sim::changes().empty());
  }
}

TEST_F(modem_class, a_key_that_cannot_be_opened_is_reported_and_passed_over) {
  for (const char *key : {"0000", "0001"}) {
    sim::reg_set_string(std::string(modem_class_key) + "\\" + key, "MatchingDeviceId", id0);
    sim::reg_set_string(std::string(modem_class_key) + "\\" + key, "InfPath",
                        std::string("oem") + key + ".inf");
  }
  sim::reg_deny(std::string(modem_class_key) + "\\0001", KEY_WRITE);
  sim::answer(IDOK);
  bound_run([] { scan_modem_class(0); });
  expect_boxes({error_box(ERROR_ACCESS_DENIED, caption_reg_open_key_ex)});
  EXPECT_STREQ(model_oem_inf_name(0), "oem0000.inf");
}

TEST_F(modem_class, a_class_key_without_full_access_leaves_the_name_as_it_was) {
  install_model(0);
  set_model_oem_inf_name(0, "before.inf");
  sim::reg_deny(modem_class_key, KEY_WRITE);
  sim::answer(IDOK);
  bound_run([] { scan_modem_class(0); });
  expect_boxes({error_box(ERROR_ACCESS_DENIED, caption_reg_open_key_ex)});
  EXPECT_STREQ(model_oem_inf_name(0), "before.inf");
  scan_modem_class_keys(0, nullptr); // no key: nothing to do
  EXPECT_STREQ(model_oem_inf_name(0), "before.inf");
}

} // namespace
