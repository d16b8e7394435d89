// The reference token service on the fake SMM: the session rules, the record
// read back through its SMI message (edges of the window it keeps, short
// and refused messages), the settings translation's calls kept as the host
// model expects them, and a failed start.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "adapters/token_record.h"
#include "setuptoken/buffer_check.h"
#include "setuptoken/setup_token.h"
#include "test/fake/smm.h"
#include "test/setuptoken/settings_model.h"

EFI_EXTERN_C EFI_STATUS EFIAPI TokenServiceSmmEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Found by the standard library and GoogleTest beside the record type.
static bool operator==(const TOKEN_RECORD_ENTRY &a, const TOKEN_RECORD_ENTRY &b) {
  return a.Entry == b.Entry && a.Level == b.Level && a.Token == b.Token && a.Value == b.Value;
}
static void PrintTo(const TOKEN_RECORD_ENTRY &e, std::ostream *os) {
  *os << "{" << std::hex << e.Entry << ", " << e.Level << ", " << e.Token << ", " << e.Value << "}";
}

namespace {

const EFI_GUID kServiceGuid = TOKEN_SERVICE_PROTOCOL_GUID;
const EFI_GUID kRecordGuid = TOKEN_RECORD_GUID;
const EFI_GUID kCheckGuid = SMM_BUFFER_CHECK_PROTOCOL_GUID;
constexpr UINT32 R = TOKEN_RECORD_REFUSED;

EFI_STATUS gCheckStatus = EFI_SUCCESS;
EFI_STATUS EFIAPI CheckBuffer(const VOID *, UINTN) { return gCheckStatus; }

class TokenService : public ::testing::Test {
 protected:
  void SetUp() override {
    gCheckStatus = EFI_SUCCESS;
    ASSERT_EQ(TokenServiceSmmEntry(platform.NewImageHandle(), platform.SystemTable()), EFI_SUCCESS);
    service = (TOKEN_SERVICE_PROTOCOL *)smm.Find(kServiceGuid);
    ASSERT_NE(service, nullptr);
  }

  // Reads the record from First with room for Room entries, as a sender would.
  struct Reply {
    EFI_STATUS status;
    TOKEN_RECORD_MESSAGE header;
    std::vector<TOKEN_RECORD_ENTRY> entries;
    UINTN size;
  };
  Reply Read(UINT64 First, UINTN Room = 64) {
    std::vector<UINT8> buffer(sizeof(TOKEN_RECORD_MESSAGE) + Room * sizeof(TOKEN_RECORD_ENTRY), 0xEE);
    ((TOKEN_RECORD_MESSAGE *)buffer.data())->First = First;
    UINTN size = buffer.size();
    Reply r{smm.Communicate(kRecordGuid, buffer.data(), &size), *(TOKEN_RECORD_MESSAGE *)buffer.data(), {}, size};
    auto *e = (TOKEN_RECORD_ENTRY *)(buffer.data() + sizeof(TOKEN_RECORD_MESSAGE));
    if (r.status == EFI_SUCCESS) r.entries.assign(e, e + r.header.Count);
    return r;
  }
  UINT64 Total() { return Read(0, 0).header.Total; }

  fake::Platform platform;
  fake::Smm smm{platform};
  TOKEN_SERVICE_PROTOCOL *service = nullptr;
};

// A session's calls in order, each kept with its arguments, refused ones marked.
TEST_F(TokenService, KeepsEveryCallOfASession) {
  TOKEN_SERVICE_PROTOCOL other = *service;
  TOKEN_SERVICE_PROTOCOL *s = service;
  struct Step {
    EFI_STATUS (*call)(TOKEN_SERVICE_PROTOCOL *s, TOKEN_SERVICE_PROTOCOL *other);
    EFI_STATUS want;
    TOKEN_RECORD_ENTRY kept;
  };
  const Step steps[] = {
      {[](auto s, auto) { return s->Set8(s, 3, 0x11, 1); }, EFI_NOT_READY, {20 | R, 3, 0x11, 1}},
      {[](auto s, auto) { return s->Close(s); }, EFI_NOT_READY, {16 | R, 0, 0, 0}},
      {[](auto s, auto o) { return s->Open(s, o); }, EFI_INVALID_PARAMETER, {15 | R, 0, 0, 0}},
      {[](auto s, auto) { return s->Open(s, s); }, EFI_SUCCESS, {15, 0, 0, 0}},
      {[](auto s, auto) { return s->Open(s, s); }, EFI_ALREADY_STARTED, {15 | R, 0, 0, 0}},
      {[](auto s, auto) { return s->SetLevel(s, 3); }, EFI_SUCCESS, {27, 3, 0, 0}},
      {[](auto s, auto) { return s->SetBool(s, 3, 0xF0869ECA, 1); }, EFI_SUCCESS, {18, 3, 0xF0869ECA, 1}},
      {[](auto s, auto) { return s->Set8(s, 3, 0x9DA294C2, 0xFE); }, EFI_SUCCESS, {20, 3, 0x9DA294C2, 0xFE}},
      {[](auto s, auto) { return s->Set16(s, 2, 0xD06DBAFB, 0xBEEF); }, EFI_SUCCESS, {22, 2, 0xD06DBAFB, 0xBEEF}},
      {[](auto s, auto) { return s->Set32(s, 3, 0xB331378E, 0xFFFFFFFF); }, EFI_SUCCESS, {24, 3, 0xB331378E, 0xFFFFFFFF}},
      {[](auto s, auto o) { return o->Set8(o, 3, 0x22, 2); }, EFI_INVALID_PARAMETER, {20 | R, 3, 0x22, 2}},
      {[](auto s, auto) { return ((EFI_STATUS(EFIAPI *)(TOKEN_SERVICE_PROTOCOL *))s->Reserved2[4])(s); }, EFI_UNSUPPORTED, {6 | R, 0, 0, 0}},
      {[](auto s, auto) { return ((EFI_STATUS(EFIAPI *)(TOKEN_SERVICE_PROTOCOL *))s->Reserved25[1])(s); },
       EFI_UNSUPPORTED,
       {26 | R, 0, 0, 0}},
      {[](auto s, auto) { return s->Finish(s); }, EFI_SUCCESS, {1, 0, 0, 0}},
      {[](auto s, auto) { return s->Close(s); }, EFI_SUCCESS, {16, 0, 0, 0}},
      {[](auto s, auto) { return s->SetLevel(s, 3); }, EFI_NOT_READY, {27 | R, 3, 0, 0}},
  };
  std::vector<TOKEN_RECORD_ENTRY> want;
  for (const Step &step : steps) {
    EXPECT_EQ(step.call(s, &other), step.want) << want.size();
    want.push_back(step.kept);
  }
  Reply r = Read(0);
  ASSERT_EQ(r.status, EFI_SUCCESS);
  EXPECT_EQ(r.header.Total, want.size());
  EXPECT_EQ(r.header.Capacity, TOKEN_RECORD_CAPACITY);
  EXPECT_EQ(r.entries, want);
  EXPECT_EQ(r.size, sizeof(TOKEN_RECORD_MESSAGE) + want.size() * sizeof(TOKEN_RECORD_ENTRY));
}

// What a reply holds for a First and a room, once more calls were made than
// the record keeps: the oldest give way, and nothing past the message is written.
TEST_F(TokenService, ReadsTheKeptWindow) {
  constexpr UINT64 kCalls = TOKEN_RECORD_CAPACITY + 100;
  service->Open(service, service);
  for (UINT64 i = 1; i < kCalls; i++) service->Set32(service, 3, (UINT32)i, (UINT32)(i * 7));
  ASSERT_EQ(Total(), kCalls);
  constexpr UINT64 kOldest = kCalls - TOKEN_RECORD_CAPACITY;
  struct Case {
    UINT64 first;
    UINTN room;
    UINT64 want_first;
    UINT32 want_count;
  } const cases[] = {
      {0, 8, kOldest, 8},                                                    // older than kept: from the oldest kept
      {kOldest - 1, 8, kOldest, 8},                                          //
      {kOldest, 8, kOldest, 8},                                              //
      {kCalls - 3, 8, kCalls - 3, 3},                                        // the last three
      {kCalls, 8, kCalls, 0},                                                // nothing new
      {kCalls + 50, 8, kCalls, 0},                                           // from the future: nothing
      {~0ULL, 8, kCalls, 0},                                                 //
      {kOldest, 0, kOldest, 0},                                              // no room
      {kOldest, TOKEN_RECORD_CAPACITY + 5, kOldest, TOKEN_RECORD_CAPACITY},  // room for more than kept
  };
  for (const Case &c : cases) {
    Reply r = Read(c.first, c.room);
    ASSERT_EQ(r.status, EFI_SUCCESS) << c.first;
    EXPECT_EQ(r.header.First, c.want_first) << c.first;
    EXPECT_EQ(r.header.Count, c.want_count) << c.first;
    EXPECT_EQ(r.header.Total, kCalls) << c.first;
    for (UINT32 i = 0; i < r.entries.size(); i++) {
      UINT64 n = r.header.First + i;  // call n is Set32 of token n, value 7n
      EXPECT_EQ(r.entries[i], (TOKEN_RECORD_ENTRY{24, 3, (UINT32)n, (UINT32)(n * 7)})) << c.first << " entry " << i;
    }
  }
}

// Messages the handler must not answer: the sender sees EFI_NOT_FOUND and
// its buffer is untouched.
TEST_F(TokenService, RefusesShortAndVettedOutMessages) {
  UINT8 buffer[sizeof(TOKEN_RECORD_MESSAGE) + 16];
  EFI_HANDLE h = nullptr;
  SMM_BUFFER_CHECK_PROTOCOL check = {CheckBuffer};
  ASSERT_EQ(smm.Install(&h, kCheckGuid, &check), EFI_SUCCESS);
  struct Case {
    const char *what;
    UINTN size;
    EFI_STATUS check;
  } const cases[] = {
      {"empty", 0, EFI_SUCCESS},
      {"one byte short of the header", sizeof(TOKEN_RECORD_MESSAGE) - 1, EFI_SUCCESS},
      {"refused by the buffer check", sizeof buffer, EFI_ACCESS_DENIED},
  };
  for (const Case &c : cases) {
    gCheckStatus = c.check;
    memset(buffer, 0xEE, sizeof buffer);
    UINTN size = c.size;
    EXPECT_EQ(smm.Communicate(kRecordGuid, buffer, &size), EFI_NOT_FOUND) << c.what;
    EXPECT_EQ(size, c.size) << c.what;
    for (UINT8 b : buffer) ASSERT_EQ(b, 0xEE) << c.what;
  }
  UINTN size = sizeof buffer;
  EXPECT_EQ(smm.Dispatch(kRecordGuid, nullptr, &size), EFI_WARN_INTERRUPT_SOURCE_PENDING);
  EXPECT_EQ(smm.Dispatch(kRecordGuid, buffer, nullptr), EFI_WARN_INTERRUPT_SOURCE_PENDING);
}

tokentest::TokenCall AsCall(const TOKEN_RECORD_ENTRY &e) {
  using tokentest::Op;
  Op op = Op::Open;
  switch (e.Entry) {
    case 1:
      op = Op::Finish;
      break;
    case 15:
      op = Op::Open;
      break;
    case 16:
      op = Op::Close;
      break;
    case 18:
      op = Op::Bool;
      break;
    case 20:
      op = Op::U8;
      break;
    case 22:
      op = Op::U16;
      break;
    case 24:
      op = Op::U32;
      break;
    case 27:
      op = Op::Level;
      break;
    default:
      ADD_FAILURE() << "entry " << std::hex << e.Entry;
  }
  return {op, (uint8_t)e.Level, e.Token, e.Value};
}

// The settings translation through this service: what the record keeps is
// what the host model expects, record after record, read back from where the
// last one ended.
TEST_F(TokenService, KeepsTheTranslationAsTheModelExpects) {
  std::mt19937 rng(22);
  for (int style = 0; style < 4; style++) {
    std::vector<uint8_t> record = style == 0 ? tokentest::AutoRecord() : tokentest::BiasedRecord(rng, style);
    UINT64 before = Total();
    ASSERT_EQ(TranslateSettings(record.data(), service), EFI_SUCCESS);
    Reply r = Read(before, 200);
    std::vector<tokentest::TokenCall> got;
    for (const auto &e : r.entries) got.push_back(AsCall(e));
    EXPECT_EQ(got, tokentest::ExpectedCalls(record.data())) << "style " << style;
  }
}

// A failed start leaves no handler and no service behind.
TEST(TokenServiceStart, FailedStartLeavesNothing) {
  fake::Platform platform;
  fake::Smm smm(platform);
  smm.FailHandlerRegister(EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(TokenServiceSmmEntry(platform.NewImageHandle(), platform.SystemTable()), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(smm.Find(kServiceGuid), nullptr);
  smm.FailHandlerRegister(0);
  smm.SetInSmm(false);
  EXPECT_EQ(TokenServiceSmmEntry(platform.NewImageHandle(), platform.SystemTable()), EFI_UNSUPPORTED);
  EXPECT_EQ(smm.HandlerCount(kRecordGuid), 0u);
  EXPECT_EQ(smm.Find(kServiceGuid), nullptr);
}

}  // namespace
