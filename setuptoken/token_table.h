// SPDX-License-Identifier: BSD-2-Clause-Patent
// The Setup-to-token mapping as data: one row per Setup option that is
// written as a platform configuration token, in the order the token service
// expects them, walked in order by the translation. Most options have an auto
// value that leaves their token alone; some count only while a gate byte
// holds a given value. The row count, the rows of each kind and the last
// record byte read are worked out from the rows; the driver, the tests, the
// test bed and the datasheet writer take them from here.
#pragma once
#include "efi/efi.h"

// Which setter a row's field goes to, and so how wide the field is.
#define TOKEN_KIND_BOOL 0  // 1 byte, passed on as it is
#define TOKEN_KIND_8 1     // 1 byte
#define TOKEN_KIND_16 2    // 2 bytes, little-endian, any alignment
#define TOKEN_KIND_32 3    // 4 bytes, little-endian, any alignment

// A test of one gate byte of the record: it holds when
// ((byte - Value) & Mask) == 0, so Mask 0xFF asks for equality and other masks
// accept a set of values. Mask 0 means no test, and no byte is read.
typedef struct {
  UINT16 Offset;
  UINT8 Value;
  UINT8 Mask;
} TOKEN_GATE;

typedef struct {
  UINT32 Token;         // what the token service calls the option
  UINT32 Auto;          // the value that leaves the token alone, when HasAuto
  UINT16 Offset;        // the option's place in the record
  UINT8 Kind;           // TOKEN_KIND_*
  UINT8 HasAuto;        // 0: the field is written whenever the gates hold
  TOKEN_GATE Gates[2];  // both must hold for the row to be processed
} TOKEN_ROW;

static_assert(sizeof(TOKEN_GATE) == 4, "TOKEN_GATE");
static_assert(sizeof(TOKEN_ROW) == 20, "TOKEN_ROW");

// The row spellings live in their own namespace; only the table uses them.
namespace token_rows {

constexpr UINT64 NO_AUTO_VALUE = 1ULL << 32;  // no auto value: written whenever the gates hold

constexpr TOKEN_GATE GATE_ALWAYS = {0, 0, 0};

// Gate byte equals Value.
constexpr TOKEN_GATE If(UINT16 Offset, UINT8 Value) { return {Offset, Value, 0xFF}; }

// Gate byte is one of 0x0A, 0x0B, 0x4A, 0x4B: subtracting 0x0A leaves only
// bits 0 and 6, which the mask 0xBE ignores.
constexpr TOKEN_GATE IfOneOf0A0B4A4B(UINT16 Offset) { return {Offset, 0x0A, 0xBE}; }

constexpr TOKEN_ROW Row(UINT8 Kind, UINT16 Offset, UINT64 Auto, UINT32 Token, TOKEN_GATE A, TOKEN_GATE B) {
  return {Token, (UINT32)Auto, Offset, Kind, (UINT8)(Auto != NO_AUTO_VALUE), {A, B}};
}
constexpr TOKEN_ROW B1(UINT16 Offset, UINT64 Auto, UINT32 Token, TOKEN_GATE A = GATE_ALWAYS, TOKEN_GATE B = GATE_ALWAYS) {
  return Row(TOKEN_KIND_BOOL, Offset, Auto, Token, A, B);
}
constexpr TOKEN_ROW U8(UINT16 Offset, UINT64 Auto, UINT32 Token, TOKEN_GATE A = GATE_ALWAYS, TOKEN_GATE B = GATE_ALWAYS) {
  return Row(TOKEN_KIND_8, Offset, Auto, Token, A, B);
}
constexpr TOKEN_ROW U16(UINT16 Offset, UINT64 Auto, UINT32 Token, TOKEN_GATE A = GATE_ALWAYS, TOKEN_GATE B = GATE_ALWAYS) {
  return Row(TOKEN_KIND_16, Offset, Auto, Token, A, B);
}
constexpr TOKEN_ROW U32(UINT16 Offset, UINT64 Auto, UINT32 Token, TOKEN_GATE A = GATE_ALWAYS, TOKEN_GATE B = GATE_ALWAYS) {
  return Row(TOKEN_KIND_32, Offset, Auto, Token, A, B);
}

// The 16-bit block: a block enable at 0x116, then per option an enable byte
// directly followed by its 16-bit value.
constexpr TOKEN_GATE GATE_BLOCK_ON = If(0x116, 1);
constexpr TOKEN_ROW Pair(UINT16 Enable, UINT32 Token) { return U16(Enable + 1, NO_AUTO_VALUE, Token, GATE_BLOCK_ON, If(Enable, 1)); }

// Laid out by hand (runs of like rows share a line); the formatter leaves it so.
// clang-format off
inline constexpr TOKEN_ROW TokenTable[] = {
    U32(0x008, NO_AUTO_VALUE, 0xB331378E),
    U8(0x028, 1, 0x9DA294C2),
    B1(0x36B, 0xFF, 0xADC833E4, If(0x0B8, 1)),
    U32(0x36C, NO_AUTO_VALUE, 0xA7C33753, If(0x0B8, 1), If(0x36B, 0)),
    U8(0x032, 3, 0xD1091CD0),
    B1(0x033, 0xFF, 0x6A6700FD),
    U8(0x0B9, 0xFF, 0xCBC2C0DD),
    U8(0x3DE, 0xFF, 0x8B8B9F43, IfOneOf0A0B4A4B(0x020)),
    U8(0x035, 1, 0xB0A37D17),
    U8(0x039, 0xFF, 0xFFFE0B07),
    U8(0x03A, 3, 0x49639134),
    U8(0x036, 7, 0xCE0176EF),
    U8(0x037, 7, 0x2606C42E),
    U8(0x038, 3, 0x6574B2C0),
    U8(0x1C5, 0xFF, 0x249E08D5),

    U16(0x117, NO_AUTO_VALUE, 0xD06DBAFB, GATE_BLOCK_ON),
    Pair(0x119, 0xFC195E5C), Pair(0x11C, 0xE31F1FCE), Pair(0x11F, 0x0DB8CB47), Pair(0x122, 0x5E367ACA),
    Pair(0x125, 0x7F877269), Pair(0x128, 0x082D6E55), Pair(0x12B, 0xBBEED68E), Pair(0x12E, 0x2C5A76B2),
    Pair(0x131, 0x32EB3B5B), Pair(0x134, 0xE5AEA7D3), Pair(0x137, 0xA715EE94), Pair(0x13A, 0x89251A4E),
    Pair(0x13D, 0xD8690C08), Pair(0x140, 0xABA4CB4A), Pair(0x143, 0xF65089FD), Pair(0x146, 0x796F2C65),
    Pair(0x149, 0x91364DC6), Pair(0x14C, 0x627427BD), Pair(0x14F, 0x08E99B01), Pair(0x152, 0x86E6A99A),
    Pair(0x155, 0x275A3185), Pair(0x158, 0x99B04933), Pair(0x15B, 0x10B50ABC), Pair(0x15E, 0x77AF3F93),
    Pair(0x161, 0x1382572D),

    U8(0x164, 0xFF, 0x275C400A), U8(0x165, 0xFF, 0x82648A4F), U8(0x166, 0xFF, 0x4891D431),
    U8(0x3A7, 0xFF, 0xB1DF013D), U8(0x3A8, 0xFF, 0x70342FA3), U8(0x3A9, 0xFF, 0x3ACBC886),
    U8(0x3AA, 0xFF, 0xE74F4505), U8(0x3AB, 0xFF, 0x480FB9AB), U8(0x3AC, 0xFF, 0x35B9D6A0),
    U8(0x3D2, 0xFF, 0xCBEC39CA), U8(0x3AD, 0xFF, 0xA91090F2), U8(0x3D1, 0xFF, 0xA327B403),
    U8(0x3AF, 0xFF, 0x5B17C20E), U8(0x3D3, 0xFF, 0x7F42A6FF), U8(0x3D4, 0xFF, 0xCC4844F2),
    U8(0x3D5, 0xFF, 0xC8732E74), U8(0x3D6, 0xFF, 0xFBDAD510), U8(0x3D7, 0xFF, 0xA72BE1F6),
    U8(0x3D8, 0xFF, 0x05949D80), U8(0x3AE, 0xFF, 0x0960CB3E), U8(0x3B0, 0xFF, 0x6CB065A2),
    U8(0x3B3, 0xFF, 0xDBBF06CA), U8(0x3B6, 0xFF, 0x17BC2C43), U8(0x3B9, 0xFF, 0xCC691A9A),
    U8(0x3C2, 0xFF, 0x0339070D), U8(0x3C5, 0xFF, 0x09D52E5F), U8(0x3C8, 0xFF, 0xC22370F7),
    U8(0x3CB, 0xFF, 0xB1BEB194), U8(0x3CE, 0xFF, 0x6C0BF689), U8(0x3BF, 0xFF, 0xB081DF82),
    U8(0x3BC, 0xFF, 0x1C2A4729), U8(0x3B1, 0xFF, 0x76DB4FF8), U8(0x3B4, 0xFF, 0x55333EAB),
    U8(0x3B7, 0xFF, 0x4BB6AF3A), U8(0x3BA, 0xFF, 0xABF832EE), U8(0x3C3, 0xFF, 0xB70CB0A9),
    U8(0x3C6, 0xFF, 0x76779088), U8(0x3C9, 0xFF, 0xD0A302CC), U8(0x3CC, 0xFF, 0x5A452DB7),
    U8(0x3CF, 0xFF, 0x3ADA3ECA), U8(0x3C0, 0xFF, 0xDD32E7C8), U8(0x3BD, 0xFF, 0xE3BB1B9F),
    U8(0x3B2, 0xFF, 0xE3C5176A), U8(0x3B5, 0xFF, 0x50C22F27), U8(0x3B8, 0xFF, 0x12C13D03),
    U8(0x3BB, 0xFF, 0xE8BA3CEA), U8(0x3C4, 0xFF, 0x23F9276D), U8(0x3C7, 0xFF, 0x89D8C936),
    U8(0x3CA, 0xFF, 0x7B4BB5E3), U8(0x3CD, 0xFF, 0xF3D37FBF), U8(0x3D0, 0xFF, 0xB35071BD),
    U8(0x3C1, 0xFF, 0x5A321688), U8(0x3BE, 0xFF, 0xD84ACC88), U8(0x16F, 0xFF, 0x6E6B60F7),
    U8(0x170, 0xFF, 0xF77A05F1), U8(0x171, 0xFF, 0x5F1DE498), B1(0x172, 0xFF, 0xF0869ECA),
    U8(0x173, 0xFF, 0x8D67F9E4), U8(0x174, 0xFF, 0xA196A838), U8(0x175, 0xFF, 0x27CC2068),
    U8(0x176, 0xFF, 0x91D21E3F), U8(0x292, 0xFF, 0x3664DBA5), U8(0x177, 0xFF, 0x7EF11128),
    U8(0x178, 0xFF, 0x909D9E12), U8(0x26A, 0xFF, 0x299EAED1), U8(0x2CF, 0xFF, 0x664706F1),
    U8(0x2D7, 0xFF, 0x085711CF), U8(0x35B, 0xFF, 0xFFF1E546), U8(0x35C, 0xFF, 0x98E80BB8),
    U8(0x35D, 0xFF, 0x90326A67),

    U8(0x35E, 0xFF, 0x3B208051),
    U8(0x360, 0xFF, 0xC68DD7A9, If(0x35E, 1)),
    U8(0x361, NO_AUTO_VALUE, 0x1A3E550A, If(0x35E, 1)),
    U8(0x362, NO_AUTO_VALUE, 0x32458581, If(0x35E, 1)),
    U8(0x363, 0xFF, 0x3866D592),
    U8(0x35F, 0xFF, 0x740F1006, If(0x363, 1)),
    U8(0x364, NO_AUTO_VALUE, 0x2DB96E84, If(0x363, 1)),
    U8(0x365, NO_AUTO_VALUE, 0xE5D0EC4B, If(0x363, 1)),
    U8(0x367, NO_AUTO_VALUE, 0xCC3BA555, If(0x363, 1)),
    U8(0x366, 0xFF, 0x58B905C1, If(0x363, 1)),
    U8(0x368, 0xFF, 0xF6E0D48D),
    U8(0x179, 0xFF, 0x7DCB2DA5),
    U8(0x17A, 0xFF, 0x96DF25CA),
    U8(0x17B, 0xFF, 0xB46EF9AB),
    U8(0x17C, 0xFF, 0x3B782D55),
    U8(0x17D, 0xFF, 0x5988CFA6),
    U8(0x17E, NO_AUTO_VALUE, 0x108BB3E6, If(0x2D5, 1)),
    U8(0x17F, 0xFF, 0x02FC8CA9),
    B1(0x26C, 0xFF, 0xFEDB01F8),
    U8(0x3A5, 0xFF, 0x58D71774),
    U8(0x3A6, 0xFF, 0xCC27CEB1),
    U8(0x044, 0x0F, 0x1FB35295, If(0x3D9, 0)),
    U8(0x045, 0x0F, 0xA00D4B57),
    U32(0x046, 0xFFFFFFFF, 0x37B1F8CF, If(0x044, 1)),
    B1(0x04A, 0x0F, 0xEEED60BA),
    U8(0x063, 0x0F, 0x4367CBD2),
    B1(0x2DC, 0x0F, 0x87958B5A),
    U32(0x09F, NO_AUTO_VALUE, 0xAB4BABF4, If(0x09E, 1)),
    U8(0x269, 0xFF, 0xF1823F38),
    U8(0x26D, 0xFF, 0xFA826511),
    U8(0x37A, 0xFE, 0x016DA8CA),
    U8(0x0A9, 2, 0xDDB759DA),
    U8(0x0AA, NO_AUTO_VALUE, 0x4B993A83, If(0x0A9, 1)),
    U8(0x0AB, 0xFF, 0xAF6D3A6F, If(0x0A9, 1)),
    U8(0x0A3, 0xFF, 0x4967F4FC),
    B1(0x194, 0x0F, 0x7004F583),
    U8(0x195, 0x0F, 0xBF2DF767, If(0x194, 1)),
    B1(0x196, 0x0F, 0xF90AFB27),
    B1(0x197, 0x0F, 0x408898DC, If(0x196, 1)),
    U8(0x0A4, 0x0F, 0x072DB576),
    B1(0x0A5, 0x0F, 0x441D2982, If(0x0A4, 1)),
    B1(0x0A6, 0x0F, 0x58E10F2C, If(0x0A4, 1), If(0x0A5, 1)),
    B1(0x0A8, 0x0F, 0x0202CB32, If(0x0A4, 1)),
};
// clang-format on

}  // namespace token_rows

using token_rows::TokenTable;

constexpr UINTN TOKEN_TABLE_ROWS = sizeof TokenTable / sizeof TokenTable[0];

// Bytes a field of the kind takes.
constexpr UINTN TokenKindWidth(UINT8 Kind) { return Kind == TOKEN_KIND_32 ? 4 : Kind == TOKEN_KIND_16 ? 2 : 1; }

// Rows of the kind.
constexpr UINTN TokenKindRows(UINT8 Kind) {
  UINTN n = 0;
  for (const TOKEN_ROW &r : TokenTable) n += r.Kind == Kind;
  return n;
}

// The last record byte any row or gate reads: a request must reach it.
constexpr UINTN TokenTableLastOffset() {
  UINTN High = 0;
  for (const TOKEN_ROW &r : TokenTable) {
    UINTN Last = r.Offset + TokenKindWidth(r.Kind) - 1;
    if (Last > High) High = Last;
    for (const TOKEN_GATE &g : r.Gates)
      if (g.Mask && g.Offset > High) High = g.Offset;
  }
  return High;
}

constexpr bool TokenTableHasNoTwice() {
  for (UINTN i = 0; i < TOKEN_TABLE_ROWS; i++)
    for (UINTN j = i + 1; j < TOKEN_TABLE_ROWS; j++)
      if (TokenTable[i].Token == TokenTable[j].Token || TokenTable[i].Offset == TokenTable[j].Offset) return false;
  return true;
}

// A slip in editing the table cannot reach an image.
static_assert(TokenKindRows(TOKEN_KIND_BOOL) + TokenKindRows(TOKEN_KIND_8) + TokenKindRows(TOKEN_KIND_16) + TokenKindRows(TOKEN_KIND_32) ==
                  TOKEN_TABLE_ROWS,
              "a row of no known kind");
static_assert(TokenTableHasNoTwice(), "a token or a record offset occurs twice");
