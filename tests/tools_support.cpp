#include "tests/tools_support.h"

#include "core/catalogue.h"
#include "core/texts.h"
#include "sim/sim.h"
#include "tools/rehearsal.h"

#include <iconv.h>

#include <cstdio>
#include <fstream>

static std::string printable(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02X", c);
    out += hex;
  }
  return out;
}

static void dump_key(const std::string &path, std::string &out) {
  out += "[" + printable(path) + "]\n";
  for (const sim::reg_value_data &v : sim::reg_value_list(path))
    out += "[" + printable(path) + "] " + printable(v.name) + " = " + std::to_string(v.type) + ":" +
           printable(v.data) + "\n";
  for (const std::string &name : sim::reg_subkeys(path)) {
    std::string child = path.empty() ? name : path + "\\" + name;
    if (sim::reg_link(child).empty())
      dump_key(child, out);
  }
}

std::string registry_dump() {
  std::string out;
  dump_key("", out);
  return out;
}

std::string files_and_devices_dump() {
  std::string out;
  for (const std::string &f : sim::file_list())
    out += "file " + printable(f) + "\n";
  for (const std::string &d : sim::device_list())
    out += "device " + printable(d) + "\n";
  return out;
}

static std::string read_all(std::FILE *f) {
  std::string text;
  std::rewind(f);
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
    text.append(buffer, n);
  std::fclose(f);
  return text;
}

sim_run run_uninstall_sim(const std::vector<std::string> &args, const std::string *keys,
                          bool colour) {
  rehearsal_io io;
  io.out = std::tmpfile();
  io.err = std::tmpfile();
  io.terminal_input = keys != nullptr;
  io.colour = colour;
  io.columns = 0;
  size_t next = 0;
  io.read_key = [&]() {
    return keys && next < keys->size() ? static_cast<unsigned char>((*keys)[next++]) : EOF;
  };
  sim_run run;
  run.status = uninstall_sim_main(args, io);
  run.out = read_all(io.out);
  run.err = read_all(io.err);
  return run;
}

std::string utf16_file(const std::string &utf8) {
  std::string crlf;
  for (char c : utf8)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  iconv_t converter = iconv_open("UTF-16LE", "UTF-8");
  std::string out(crlf.size() * 4 + 4, '\0');
  char *in_ptr = &crlf[0];
  size_t in_left = crlf.size();
  char *out_ptr = &out[0];
  size_t out_left = out.size();
  iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(converter);
  out.resize(out.size() - out_left);
  return "\xFF\xFE" + out;
}

std::vector<std::string> read_lines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::string record_field(const std::string &line, const std::string &name) {
  std::string key = "\"" + name + "\":";
  size_t at = line.find(key);
  if (at == std::string::npos)
    return "";
  size_t p = at + key.size();
  if (line[p] != '"')
    return line.substr(p, line.find_first_of(",}", p) - p);
  std::string out;
  for (++p; p < line.size() && line[p] != '"'; ++p) {
    if (line[p] != '\\') {
      out += line[p];
      continue;
    }
    char c = line[++p];
    if (c == 'n')
      out += '\n';
    else if (c == 'r')
      out += '\r';
    else if (c == 't')
      out += '\t';
    else if (c == 'u') {
      out += static_cast<char>(std::stoi(line.substr(p + 1, 4), nullptr, 16)); // control bytes
      p += 4;
    } else
      out += c;
  }
  return out;
}

const expected_box consent_box{text_consent, text_program_caption, MB_OKCANCEL | MB_ICONWARNING};
const expected_box completed_box{text_completed, text_program_caption, MB_OK};
const expected_box restart_box{text_restart_prompt, text_program_caption,
                               MB_OKCANCEL | MB_ICONWARNING};
const expected_box invalid_option_box{text_invalid_option, text_program_caption, MB_ICONERROR};

expected_box not_installed_box(int model) {
  return {std::string(model_display_name(model)) + text_not_installed_suffix, text_program_caption,
          MB_ICONWARNING};
}

expected_box question_box(int model) {
  return {std::string(model_display_name(model)) + text_installed_question_suffix,
          text_program_caption, MB_OKCANCEL | MB_ICONWARNING};
}

expected_box error_box(DWORD code, const char *caption) {
  return {sim::message_text(code), caption, MB_ICONERROR};
}
