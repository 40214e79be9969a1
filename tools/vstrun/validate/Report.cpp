#include "validate/Report.h"

#include <cstdarg>
#include <stdexcept>

#include "validate/Checks.h"

namespace validate {

const char* word(char kind) { return kind == 'P' ? "PASS" : kind == 'W' ? "WARN" : "FAIL"; }

uint64_t derivedSeed(uint64_t seed, const std::string& name) {
  uint64_t h = seed ^ 0x9E3779B97F4A7C15ull;  // FNV-1a over the name, from the seed
  for (char c : name) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return h;
}

std::string format(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

void Report::line(char kind, const std::string& text) {
  if (kind == 'F') ++failures_;
  std::string t = text;
  for (char& c : t)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  std::fprintf(out_, "%c\t%s\n", kind, t.c_str());
  std::fflush(out_);
}

bool Report::begin(const char* name) {
  if (!findCheck(name)) throw std::logic_error(std::string("no check named ") + name);
  if (!selected(name, options_.only, options_.skip)) return false;
  current_ = name;
  line('C', name);
  return true;
}

std::mt19937 Report::rng() const {
  const uint64_t h = derivedSeed(options_.seed, current_);
  return std::mt19937(static_cast<unsigned>(h ^ (h >> 32)));
}

}  // namespace validate
