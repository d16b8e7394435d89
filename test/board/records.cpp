// SPDX-License-Identifier: BSD-2-Clause-Patent
// Writes the settings records the board boot sends through a real SMI, each
// with the token service calls the host's option-list model expects for it
// (the same model the translation's host tests compare against): edge cases
// and seeded random records. Layout: test/board/board.h.
//
//   records OUT.bin
#include <cstdio>
#include <random>
#include <vector>

#include "test/setuptoken/settings_model.h"

using namespace tokentest;

namespace {

// The token service's entry numbers, as the board's SMM stand-in records them.
uint32_t Entry(Op op) {
  switch (op) {
    case Op::Open:
      return 15;
    case Op::Level:
      return 27;
    case Op::Bool:
      return 18;
    case Op::U8:
      return 20;
    case Op::U16:
      return 22;
    case Op::U32:
      return 24;
    case Op::Finish:
      return 1;
    case Op::Close:
      return 16;
  }
  return 99;
}

std::vector<std::vector<uint8_t>> Records() {
  std::vector<std::vector<uint8_t>> out;
  out.push_back(AutoRecord());                                      // nothing but the framing calls
  out.push_back(std::vector<uint8_t>(SETTINGS_RECORD_SIZE, 0xFF));  // every option off its auto value, no gate
  out.push_back(std::vector<uint8_t>(SETTINGS_RECORD_SIZE, 0x00));
  std::vector<uint8_t> gates(SETTINGS_RECORD_SIZE, 0xFF);  // the gates opened
  gates[0x0B8] = 1, gates[0x36B] = 0, gates[0x020] = 0x4B, gates[0x3DE] = 5, gates[0x116] = 1, gates[0x0A9] = 1;
  for (unsigned k = 0; k < 25; k++) gates[0x119 + 3 * k] = 1;
  out.push_back(gates);
  // Random records, biased as in the host property test so gates and auto values come up.
  std::mt19937 rng(0xB0A2D);
  for (int i = 0; i < 12; i++) out.push_back(BiasedRecord(rng, i % 4));
  return out;
}

void Put32(FILE *f, uint32_t v) { fwrite(&v, 4, 1, f); }

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: records OUT.bin\n");
    return 1;
  }
  FILE *f = fopen(argv[1], "wb");
  if (!f) return 1;
  auto records = Records();
  Put32(f, (uint32_t)records.size());
  for (const auto &r : records) {
    fwrite(r.data(), 1, r.size(), f);
    auto calls = ExpectedCalls(r.data());
    Put32(f, (uint32_t)calls.size());
    for (const auto &c : calls) {
      Put32(f, Entry(c.op));
      Put32(f, c.level);
      Put32(f, c.token);
      Put32(f, c.value);
    }
  }
  return fclose(f) == 0 ? 0 : 1;
}
