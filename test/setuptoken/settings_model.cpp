// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "test/setuptoken/settings_model.h"

namespace tokentest {

namespace {

constexpr int64_t kNone = -1;

// Walks the option list either to predict the writes for a record or to fill
// a record with every option's auto value (conditions then count as holding).
class Model {
 public:
  Model(uint8_t *rec, bool fill) : rec_(rec), fill_(fill) {}

  bool Is(unsigned off, uint8_t v) const { return fill_ || rec_[off] == v; }
  void Bool(unsigned off, int64_t autov, uint32_t token) { Opt(Op::Bool, off, 1, autov, token); }
  void U8(unsigned off, int64_t autov, uint32_t token) { Opt(Op::U8, off, 1, autov, token); }
  void U16(unsigned off, int64_t autov, uint32_t token) { Opt(Op::U16, off, 2, autov, token); }
  void U32(unsigned off, int64_t autov, uint32_t token) { Opt(Op::U32, off, 4, autov, token); }
  std::vector<TokenCall> calls;

 private:
  void Opt(Op op, unsigned off, unsigned width, int64_t autov, uint32_t token) {
    if (fill_) {
      if (autov != kNone)
        for (unsigned i = 0; i < width; i++) rec_[off + i] = (uint8_t)(autov >> (8 * i));
      return;
    }
    uint32_t v = 0;
    for (unsigned i = 0; i < width; i++) v |= (uint32_t)rec_[off + i] << (8 * i);
    if (autov != kNone && v == (uint32_t)autov) return;
    calls.push_back(Set(op, token, v));
  }
  uint8_t *rec_;
  bool fill_;
};

void Walk(Model &m, const uint8_t *rec, bool fill) {
  // Opening rows.
  m.U32(0x008, kNone, 0xB331378E);
  m.U8(0x028, 1, 0x9DA294C2);
  if (m.Is(0x0B8, 1)) m.Bool(0x36B, 0xFF, 0xADC833E4);
  if (m.Is(0x0B8, 1) && m.Is(0x36B, 0)) m.U32(0x36C, kNone, 0xA7C33753);
  m.U8(0x032, 3, 0xD1091CD0);
  m.Bool(0x033, 0xFF, 0x6A6700FD);
  m.U8(0x0B9, 0xFF, 0xCBC2C0DD);
  if (fill || rec[0x020] == 0x0A || rec[0x020] == 0x0B || rec[0x020] == 0x4A || rec[0x020] == 0x4B) m.U8(0x3DE, 0xFF, 0x8B8B9F43);
  m.U8(0x035, 1, 0xB0A37D17);
  m.U8(0x039, 0xFF, 0xFFFE0B07);
  m.U8(0x03A, 3, 0x49639134);
  m.U8(0x036, 7, 0xCE0176EF);
  m.U8(0x037, 7, 0x2606C42E);
  m.U8(0x038, 3, 0x6574B2C0);
  m.U8(0x1C5, 0xFF, 0x249E08D5);

  // The 16-bit block.
  static const uint32_t kPairTokens[25] = {0xFC195E5C, 0xE31F1FCE, 0x0DB8CB47, 0x5E367ACA, 0x7F877269, 0x082D6E55, 0xBBEED68E,
                                           0x2C5A76B2, 0x32EB3B5B, 0xE5AEA7D3, 0xA715EE94, 0x89251A4E, 0xD8690C08, 0xABA4CB4A,
                                           0xF65089FD, 0x796F2C65, 0x91364DC6, 0x627427BD, 0x08E99B01, 0x86E6A99A, 0x275A3185,
                                           0x99B04933, 0x10B50ABC, 0x77AF3F93, 0x1382572D};
  if (m.Is(0x116, 1)) {
    m.U16(0x117, kNone, 0xD06DBAFB);
    for (unsigned k = 0; k < 25; k++)
      if (m.Is(0x119 + 3 * k, 1)) m.U16(0x11A + 3 * k, kNone, kPairTokens[k]);
  }

  // The ungated block, auto 0xFF throughout.
  static const struct {
    uint16_t off;
    uint32_t token;
  } kPlain[70] = {{0x164, 0x275C400A}, {0x165, 0x82648A4F}, {0x166, 0x4891D431}, {0x3A7, 0xB1DF013D}, {0x3A8, 0x70342FA3},
                  {0x3A9, 0x3ACBC886}, {0x3AA, 0xE74F4505}, {0x3AB, 0x480FB9AB}, {0x3AC, 0x35B9D6A0}, {0x3D2, 0xCBEC39CA},
                  {0x3AD, 0xA91090F2}, {0x3D1, 0xA327B403}, {0x3AF, 0x5B17C20E}, {0x3D3, 0x7F42A6FF}, {0x3D4, 0xCC4844F2},
                  {0x3D5, 0xC8732E74}, {0x3D6, 0xFBDAD510}, {0x3D7, 0xA72BE1F6}, {0x3D8, 0x05949D80}, {0x3AE, 0x0960CB3E},
                  {0x3B0, 0x6CB065A2}, {0x3B3, 0xDBBF06CA}, {0x3B6, 0x17BC2C43}, {0x3B9, 0xCC691A9A}, {0x3C2, 0x0339070D},
                  {0x3C5, 0x09D52E5F}, {0x3C8, 0xC22370F7}, {0x3CB, 0xB1BEB194}, {0x3CE, 0x6C0BF689}, {0x3BF, 0xB081DF82},
                  {0x3BC, 0x1C2A4729}, {0x3B1, 0x76DB4FF8}, {0x3B4, 0x55333EAB}, {0x3B7, 0x4BB6AF3A}, {0x3BA, 0xABF832EE},
                  {0x3C3, 0xB70CB0A9}, {0x3C6, 0x76779088}, {0x3C9, 0xD0A302CC}, {0x3CC, 0x5A452DB7}, {0x3CF, 0x3ADA3ECA},
                  {0x3C0, 0xDD32E7C8}, {0x3BD, 0xE3BB1B9F}, {0x3B2, 0xE3C5176A}, {0x3B5, 0x50C22F27}, {0x3B8, 0x12C13D03},
                  {0x3BB, 0xE8BA3CEA}, {0x3C4, 0x23F9276D}, {0x3C7, 0x89D8C936}, {0x3CA, 0x7B4BB5E3}, {0x3CD, 0xF3D37FBF},
                  {0x3D0, 0xB35071BD}, {0x3C1, 0x5A321688}, {0x3BE, 0xD84ACC88}, {0x16F, 0x6E6B60F7}, {0x170, 0xF77A05F1},
                  {0x171, 0x5F1DE498}, {0x172, 0xF0869ECA}, {0x173, 0x8D67F9E4}, {0x174, 0xA196A838}, {0x175, 0x27CC2068},
                  {0x176, 0x91D21E3F}, {0x292, 0x3664DBA5}, {0x177, 0x7EF11128}, {0x178, 0x909D9E12}, {0x26A, 0x299EAED1},
                  {0x2CF, 0x664706F1}, {0x2D7, 0x085711CF}, {0x35B, 0xFFF1E546}, {0x35C, 0x98E80BB8}, {0x35D, 0x90326A67}};
  for (auto &p : kPlain) {
    if (p.off == 0x172)
      m.Bool(p.off, 0xFF, p.token);
    else
      m.U8(p.off, 0xFF, p.token);
  }

  // The closing rows.
  m.U8(0x35E, 0xFF, 0x3B208051);
  if (m.Is(0x35E, 1)) {
    m.U8(0x360, 0xFF, 0xC68DD7A9);
    m.U8(0x361, kNone, 0x1A3E550A);
    m.U8(0x362, kNone, 0x32458581);
  }
  m.U8(0x363, 0xFF, 0x3866D592);
  if (m.Is(0x363, 1)) {
    m.U8(0x35F, 0xFF, 0x740F1006);
    m.U8(0x364, kNone, 0x2DB96E84);
    m.U8(0x365, kNone, 0xE5D0EC4B);
    m.U8(0x367, kNone, 0xCC3BA555);
    m.U8(0x366, 0xFF, 0x58B905C1);
  }
  m.U8(0x368, 0xFF, 0xF6E0D48D);
  m.U8(0x179, 0xFF, 0x7DCB2DA5);
  m.U8(0x17A, 0xFF, 0x96DF25CA);
  m.U8(0x17B, 0xFF, 0xB46EF9AB);
  m.U8(0x17C, 0xFF, 0x3B782D55);
  m.U8(0x17D, 0xFF, 0x5988CFA6);
  if (m.Is(0x2D5, 1)) m.U8(0x17E, kNone, 0x108BB3E6);
  m.U8(0x17F, 0xFF, 0x02FC8CA9);
  m.Bool(0x26C, 0xFF, 0xFEDB01F8);
  m.U8(0x3A5, 0xFF, 0x58D71774);
  m.U8(0x3A6, 0xFF, 0xCC27CEB1);
  if (m.Is(0x3D9, 0)) m.U8(0x044, 0x0F, 0x1FB35295);
  m.U8(0x045, 0x0F, 0xA00D4B57);
  if (m.Is(0x044, 1)) m.U32(0x046, 0xFFFFFFFF, 0x37B1F8CF);
  m.Bool(0x04A, 0x0F, 0xEEED60BA);
  m.U8(0x063, 0x0F, 0x4367CBD2);
  m.Bool(0x2DC, 0x0F, 0x87958B5A);
  if (m.Is(0x09E, 1)) m.U32(0x09F, kNone, 0xAB4BABF4);
  m.U8(0x269, 0xFF, 0xF1823F38);
  m.U8(0x26D, 0xFF, 0xFA826511);
  m.U8(0x37A, 0xFE, 0x016DA8CA);
  m.U8(0x0A9, 2, 0xDDB759DA);
  if (m.Is(0x0A9, 1)) {
    m.U8(0x0AA, kNone, 0x4B993A83);
    m.U8(0x0AB, 0xFF, 0xAF6D3A6F);
  }
  m.U8(0x0A3, 0xFF, 0x4967F4FC);
  m.Bool(0x194, 0x0F, 0x7004F583);
  if (m.Is(0x194, 1)) m.U8(0x195, 0x0F, 0xBF2DF767);
  m.Bool(0x196, 0x0F, 0xF90AFB27);
  if (m.Is(0x196, 1)) m.Bool(0x197, 0x0F, 0x408898DC);
  m.U8(0x0A4, 0x0F, 0x072DB576);
  if (m.Is(0x0A4, 1)) {
    m.Bool(0x0A5, 0x0F, 0x441D2982);
    if (m.Is(0x0A5, 1)) m.Bool(0x0A6, 0x0F, 0x58E10F2C);
    m.Bool(0x0A8, 0x0F, 0x0202CB32);
  }
}

}  // namespace

std::vector<TokenCall> ExpectedCalls(const uint8_t *record) {
  Model m(const_cast<uint8_t *>(record), false);
  Walk(m, record, false);
  std::vector<TokenCall> out{{Op::Open}, {Op::Level, TOKEN_LEVEL}};
  out.insert(out.end(), m.calls.begin(), m.calls.end());
  out.push_back({Op::Finish});
  out.push_back({Op::Close});
  return out;
}

std::vector<uint8_t> AutoRecord() {
  std::vector<uint8_t> rec(SETTINGS_RECORD_SIZE, 0);
  Model m(rec.data(), true);
  Walk(m, rec.data(), true);
  rec[0x36B] = 0xFF;
  rec[0x3D9] = 0xFF;
  return rec;
}

std::vector<uint8_t> BiasedRecord(std::mt19937 &Rng, int Style) {
  static const uint8_t common[] = {0, 1, 0xFF, 0x0F, 0xFE, 2, 3, 7};
  std::vector<uint8_t> r(SETTINGS_RECORD_SIZE);
  for (auto &b : r) {
    unsigned p = Rng() % 100;
    if (Style == 0 && p < 70)
      b = (p & 1) ? 0xFF : 0x0F;
    else if (Style == 1 && p < 60)
      b = 1;
    else if (p < 75)
      b = common[Rng() % sizeof common];
    else
      b = (uint8_t)Rng();
  }
  return r;
}

}  // namespace tokentest
