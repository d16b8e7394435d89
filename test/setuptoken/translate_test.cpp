// SPDX-License-Identifier: BSD-2-Clause-Patent
// The Setup-to-token translation against a recording token service: the
// option rules one by one, and a randomized comparison with the option list
// written out in settings_model.cpp. The table's shape (no token or offset
// twice, the last byte read) is worked out and checked in its header.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "setuptoken/setup_token.h"
#include "setuptoken/token_table.h"
#include "test/setuptoken/settings_model.h"

using namespace tokentest;

namespace {

std::vector<TokenCall> Framed(std::vector<TokenCall> writes) {
  std::vector<TokenCall> out{{Op::Open}, {Op::Level, TOKEN_LEVEL}};
  out.insert(out.end(), writes.begin(), writes.end());
  out.push_back({Op::Finish});
  out.push_back({Op::Close});
  return out;
}

// The writes among the given tokens, in order.
std::vector<TokenCall> WritesOf(const TokenRecorder &r, std::set<uint32_t> tokens) {
  std::vector<TokenCall> out;
  for (auto &c : r.Writes())
    if (tokens.count(c.token)) out.push_back(c);
  return out;
}

class Translate : public ::testing::Test {
 protected:
  std::vector<TokenCall> Run(const std::vector<uint8_t> &record) {
    rec.Clear();
    EXPECT_EQ(TranslateSettings(record.data(), rec.Interface()), EFI_SUCCESS);
    return rec.Calls();
  }
  TokenRecorder rec;
  std::vector<uint8_t> r = AutoRecord();
};

TEST_F(Translate, RefusesMissingRecordOrServiceWithoutCalls) {
  EXPECT_EQ(TranslateSettings(nullptr, rec.Interface()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(TranslateSettings(r.data(), nullptr), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(rec.Calls().empty());
}

TEST_F(Translate, FailedOpeningEndsEverythingWithItsStatus) {
  rec.FailOpen(EFI_ACCESS_DENIED);
  EXPECT_EQ(TranslateSettings(r.data(), rec.Interface()), EFI_ACCESS_DENIED);
  ASSERT_EQ(rec.Calls().size(), 1u);
  EXPECT_EQ(rec.Calls()[0].op, Op::Open);
  // A warning is not an error: the translation goes on.
  rec.Clear();
  rec.FailOpen(EFI_WARN_STALE_DATA);
  EXPECT_EQ(TranslateSettings(r.data(), rec.Interface()), EFI_SUCCESS);
  EXPECT_EQ(rec.Calls().size(), 5u);
}

TEST_F(Translate, AllAutoRecordWritesOnlyTheFirstOption) {
  r[0x008] = 0x78, r[0x009] = 0x56, r[0x00A] = 0x34, r[0x00B] = 0x12;
  EXPECT_EQ(Run(r), Framed({Set(Op::U32, 0xB331378E, 0x12345678)}));
}

TEST_F(Translate, FailingSettersDoNotStopTheTable) {
  rec.FailOthers(EFI_DEVICE_ERROR);
  r[0x028] = 9;
  r[0x3DE] = 4, r[0x020] = 0x0A;
  EXPECT_EQ(Run(r), Framed({Set(Op::U32, 0xB331378E, 0), Set(Op::U8, 0x9DA294C2, 9), Set(Op::U8, 0x8B8B9F43, 4)}));
}

TEST_F(Translate, SixteenBitBlockFollowsItsGateAndEnables) {
  const std::set<uint32_t> first{0xD06DBAFB}, firstTwo{0xD06DBAFB, 0xFC195E5C, 0x1382572D};
  r[0x116] = 1;
  r[0x117] = 0x34, r[0x118] = 0x12;
  for (unsigned k = 0; k < 25; k++) r[0x119 + 3 * k] = 0, r[0x11A + 3 * k] = 0xAA, r[0x11B + 3 * k] = 0xBB;
  Run(r);
  EXPECT_EQ(WritesOf(rec, {0xD06DBAFB}), std::vector<TokenCall>{Set(Op::U16, 0xD06DBAFB, 0x1234)});
  EXPECT_EQ(rec.Writes().size(), 2u);  // with the first option's

  r[0x119] = 1;
  r[0x161] = 1, r[0x162] = 0xFF, r[0x163] = 0xFF;  // no auto value: even all ones is written
  Run(r);
  EXPECT_EQ(WritesOf(rec, firstTwo),
            (std::vector<TokenCall>{Set(Op::U16, 0xD06DBAFB, 0x1234), Set(Op::U16, 0xFC195E5C, 0xBBAA), Set(Op::U16, 0x1382572D, 0xFFFF)}));
  r[0x11C] = 2;  // an enable other than 1 is off
  Run(r);
  EXPECT_EQ(WritesOf(rec, {0xE31F1FCE}).size(), 0u);

  for (uint8_t gate : {0, 2, 0xFF}) {
    r[0x116] = gate;
    for (unsigned k = 0; k < 25; k++) r[0x119 + 3 * k] = 1;
    Run(r);
    EXPECT_EQ(rec.Writes().size(), 1u) << "gate " << int(gate);
  }
}

// The option rules one by one, with values worked out by hand from the option
// list (the random comparison below checks the same rules against the model):
// each step changes a few record bytes, runs the translation and compares the
// writes among the rule's tokens; the record is never written back.
struct RuleStep {
  std::vector<std::pair<unsigned, uint8_t>> set;
  std::vector<TokenCall> writes;
};
struct RuleCase {
  const char *rule;
  std::set<uint32_t> tokens;
  std::vector<RuleStep> steps;
};

TEST_F(Translate, OptionRulesStepByStep) {
  const std::vector<RuleCase> cases = {
      {"byte B8 gates the boolean and its dependent value",
       {0xADC833E4, 0xA7C33753},
       {{{{0x36C, 0xEF}, {0x36D, 0xBE}, {0x36E, 0xAD}, {0x36F, 0xDE}, {0x0B8, 1}, {0x36B, 0}},
         {Set(Op::Bool, 0xADC833E4, 0), Set(Op::U32, 0xA7C33753, 0xDEADBEEF)}},
        {{{0x36B, 1}}, {Set(Op::Bool, 0xADC833E4, 1)}},
        {{{0x36B, 0xFF}}, {}},
        {{{0x0B8, 2}, {0x36B, 0}}, {}}}},
      {"byte A9 gates its two dependent options",
       {0xDDB759DA, 0x4B993A83, 0xAF6D3A6F},
       {{{{0x0AA, 0x11}, {0x0AB, 0x22}, {0x0A9, 2}}, {}},
        {{{0x0A9, 0}}, {Set(Op::U8, 0xDDB759DA, 0)}},
        {{{0x0A9, 1}}, {Set(Op::U8, 0xDDB759DA, 1), Set(Op::U8, 0x4B993A83, 0x11), Set(Op::U8, 0xAF6D3A6F, 0x22)}},
        {{{0x0AB, 0xFF}}, {Set(Op::U8, 0xDDB759DA, 1), Set(Op::U8, 0x4B993A83, 0x11)}}}},
      {"auto values other than all ones (0xFE, 0x0F, 7) let all ones through",
       {0x016DA8CA, 0xA00D4B57, 0xCE0176EF},
       {{{{0x37A, 0xFF}, {0x045, 0xFF}, {0x036, 0xFF}},
         {Set(Op::U8, 0xCE0176EF, 0xFF), Set(Op::U8, 0xA00D4B57, 0xFF), Set(Op::U8, 0x016DA8CA, 0xFF)}}}},
      {"value 46 follows byte 44 even when byte 44 itself is skipped",
       {0x1FB35295, 0x37B1F8CF},
       {{{{0x3D9, 1}, {0x044, 1}, {0x046, 1}, {0x047, 0}, {0x048, 0}, {0x049, 0x80}}, {Set(Op::U32, 0x37B1F8CF, 0x80000001)}},
        {{{0x046, 0xFF}, {0x047, 0xFF}, {0x048, 0xFF}, {0x049, 0xFF}}, {}},
        {{{0x3D9, 0}}, {Set(Op::U8, 0x1FB35295, 1)}}}},
      {"bytes A4 and A5 gate their booleans",
       {0x441D2982, 0x58E10F2C, 0x0202CB32},
       {{{{0x0A6, 1}, {0x0A8, 0}, {0x0A4, 1}, {0x0A5, 0}}, {Set(Op::Bool, 0x441D2982, 0), Set(Op::Bool, 0x0202CB32, 0)}},
        {{{0x0A5, 1}}, {Set(Op::Bool, 0x441D2982, 1), Set(Op::Bool, 0x58E10F2C, 1), Set(Op::Bool, 0x0202CB32, 0)}},
        {{{0x0A4, 0x0F}}, {}}}},
      {"booleans pass their byte unchanged",
       {0x6A6700FD, 0xFEDB01F8},
       {{{{0x033, 5}, {0x26C, 0x80}}, {Set(Op::Bool, 0x6A6700FD, 5), Set(Op::Bool, 0xFEDB01F8, 0x80)}}}},
  };
  for (const RuleCase &c : cases) {
    r = AutoRecord();
    for (size_t i = 0; i < c.steps.size(); i++) {
      for (auto [offset, value] : c.steps[i].set) r[offset] = value;
      const std::vector<uint8_t> before = r;
      Run(r);
      EXPECT_EQ(WritesOf(rec, c.tokens), c.steps[i].writes) << c.rule << ", step " << i;
      EXPECT_EQ(r, before) << c.rule << ", step " << i;
    }
  }
}

TEST_F(Translate, Byte20LetsOption3DEThroughForExactlyFourValues) {
  r[0x3DE] = 5;
  std::set<int> written;
  for (int v = 0; v < 256; v++) {
    r[0x020] = (uint8_t)v;
    Run(r);
    auto w = WritesOf(rec, {0x8B8B9F43});
    if (!w.empty()) {
      EXPECT_EQ(w, std::vector<TokenCall>{Set(Op::U8, 0x8B8B9F43, 5)});
      written.insert(v);
    }
  }
  EXPECT_EQ(written, (std::set<int>{0x0A, 0x0B, 0x4A, 0x4B}));
}

TEST_F(Translate, MultiByteFieldsAreReadUnalignedLittleEndian) {
  // In the request the record starts one byte in, so every field is misaligned.
  std::vector<uint8_t> request(1 + r.size());
  r[0x0B8] = 1, r[0x36B] = 0;
  r[0x36C] = 0x01, r[0x36D] = 0x02, r[0x36E] = 0x03, r[0x36F] = 0x04;
  r[0x09E] = 1, r[0x09F] = 0xA0, r[0x0A0] = 0xB0, r[0x0A1] = 0xC0, r[0x0A2] = 0xD0;
  std::copy(r.begin(), r.end(), request.begin() + 1);
  EXPECT_EQ(TranslateSettings(request.data() + 1, rec.Interface()), EFI_SUCCESS);
  EXPECT_EQ(WritesOf(rec, {0xA7C33753, 0xAB4BABF4}),
            (std::vector<TokenCall>{Set(Op::U32, 0xA7C33753, 0x04030201), Set(Op::U32, 0xAB4BABF4, 0xD0C0B0A0)}));
}

// Random records, biased so that gates and auto values come up often, must
// give exactly the calls the option list predicts.
TEST(TranslateProperty, RandomRecordsMatchTheOptionList) {
  std::mt19937 rng(0x5E77);
  const uint8_t common[] = {0, 1, 0xFF, 0x0F, 0xFE, 2, 3, 7};
  const uint8_t family[] = {0x0A, 0x0B, 0x4A, 0x4B, 0x0C, 0x09, 0x1A};
  TokenRecorder rec;
  size_t writes = 0, maxWrites = 0;
  for (int i = 0; i < 4000; i++) {
    int style = rng() % 4;
    std::vector<uint8_t> r = BiasedRecord(rng, style);
    if (rng() % 3 == 0) r[0x020] = family[rng() % sizeof family];
    if (rng() % 4 == 0) r[0x046] = r[0x047] = r[0x048] = r[0x049] = 0xFF;
    if (rng() % 4 == 0) r = AutoRecord(), r[rng() % SETTINGS_RECORD_SIZE] = common[rng() % sizeof common];

    const std::vector<uint8_t> before = r;
    rec.Clear();
    ASSERT_EQ(TranslateSettings(r.data(), rec.Interface()), EFI_SUCCESS);
    const auto expected = ExpectedCalls(r.data());
    ASSERT_EQ(rec.Calls(), expected) << "record " << i << "\nexpected:\n" << Describe(expected) << "got:\n" << Describe(rec.Calls());
    ASSERT_EQ(r, before);
    writes += rec.Writes().size();
    maxWrites = std::max(maxWrites, rec.Writes().size());
  }
  // The inputs must reach both ends: near-empty and near-full writes.
  EXPECT_GT(maxWrites, 140u);
  EXPECT_GT(writes, 4000u * 20);
}

}  // namespace
