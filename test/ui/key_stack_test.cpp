// SPDX-License-Identifier: BSD-2-Clause-Patent
// The key-state stack on its own: which state receives keys, what each enter
// function is told, and that the list stays consistent and leak-free.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/fake/fake.h"
#include "ui/status_report.h"
#include "ui/key_stack.h"
#include "ui/key_states.h"

namespace {

struct EnterRecord {
  KEY_STATE *state;
  KEY_STATE *previous;
  UINTN argument;
};
std::vector<EnterRecord> enters;
std::vector<KEY_STATE *> keyed;
EFI_STATUS enter_answer = EFI_SUCCESS;

// One enter and one key function serve every state: the state is found by
// the stack's current entry, which is what the functions are promised.
EFI_STATUS EFIAPI RecordEnter(KEY_STATE *previous, UINTN argument) {
  enters.push_back({KeyStateStack->Current, previous, argument});
  return enter_answer;
}
EFI_STATUS EFIAPI RecordKey(EFI_INPUT_KEY *, KEY_STATE *state) {
  keyed.push_back(state);
  return EFI_SUCCESS;
}

class KeyStack : public ::testing::Test {
 protected:
  void SetUp() override {
    enters.clear();
    keyed.clear();
    enter_answer = EFI_SUCCESS;
    EfiInitializeDriverLib(p.NewImageHandle(), p.SystemTable());
    pool_before = p.LivePoolCount();
  }
  void TearDown() override {
    DestroyKeyStateStack();
    for (KEY_STATE *&s : loose)
      if (s) DestroyKeyState(&s);
    EXPECT_EQ(p.LivePoolCount(), pool_before);
  }
  KEY_STATE *New() {
    KEY_STATE *s = nullptr;
    EXPECT_EQ(CreateKeyState(RecordEnter, RecordKey, &s), EFI_SUCCESS);
    return s;
  }
  // A stack on base with the others pushed on it in order.
  void Build(KEY_STATE *base, std::initializer_list<KEY_STATE *> pushed) {
    ASSERT_EQ(InitKeyStateStack(base), EFI_SUCCESS);
    for (KEY_STATE *s : pushed) ASSERT_EQ(PushKeyState(s, 0), EFI_SUCCESS);
  }
  // The stack from the top down, checking both directions of the links.
  std::vector<KEY_STATE *> Stack() {
    std::vector<KEY_STATE *> down, up;
    KEY_STATE_LINK *head = &KeyStateStack->StateList;
    for (KEY_STATE_LINK *l = head->ForwardLink; l != head && down.size() < 16; l = l->ForwardLink)
      down.push_back(reinterpret_cast<KEY_STATE *>(l));
    for (KEY_STATE_LINK *l = head->BackLink; l != head && up.size() < 16; l = l->BackLink)
      up.insert(up.begin(), reinterpret_cast<KEY_STATE *>(l));
    EXPECT_EQ(down, up) << "forward and back links disagree";
    return down;
  }
  static bool Lone(KEY_STATE *s) { return s->Link.ForwardLink == &s->Link && s->Link.BackLink == &s->Link; }

  fake::Platform p;
  size_t pool_before = 0;
  std::vector<KEY_STATE *> loose;  // states not on the stack at the end
};

TEST_F(KeyStack, CreateChecksItsArgumentsAndReportsPoolExhaustion) {
  KEY_STATE *s = reinterpret_cast<KEY_STATE *>(0x1);
  EXPECT_EQ(CreateKeyState(nullptr, RecordKey, &s), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CreateKeyState(RecordEnter, nullptr, &s), EFI_INVALID_PARAMETER);
  EXPECT_EQ(CreateKeyState(RecordEnter, RecordKey, nullptr), EFI_INVALID_PARAMETER);

  p.FailAllocation(1);
  EXPECT_EQ(CreateKeyState(RecordEnter, RecordKey, &s), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(s, nullptr);

  s = New();
  EXPECT_TRUE(Lone(s));
  EXPECT_EQ(s->EnterFunction, RecordEnter);
  EXPECT_EQ(s->KeyFunction, RecordKey);
  EXPECT_EQ(DestroyKeyState(&s), EFI_SUCCESS);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(DestroyKeyState(nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(InitKeyStateStack(nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(KeyStack, PushSwitchAndPopTellEachEnteredStateWhereItCameFrom) {
  KEY_STATE *base = New(), *a = New(), *b = New(), *c = New();
  ASSERT_EQ(InitKeyStateStack(base), EFI_SUCCESS);
  EXPECT_TRUE(enters.empty()) << "starting the stack enters nothing";
  EXPECT_EQ(KeyStateStack->Current, base);

  EXPECT_EQ(PushKeyState(a, 0), EFI_SUCCESS);
  EXPECT_EQ(PushKeyState(b, 7), EFI_SUCCESS);
  EXPECT_EQ(Stack(), (std::vector<KEY_STATE *>{b, a, base}));

  EXPECT_EQ(SwitchKeyState(c, 0), EFI_SUCCESS);  // c replaces b on top
  EXPECT_EQ(Stack(), (std::vector<KEY_STATE *>{c, a, base}));
  EXPECT_TRUE(Lone(b)) << "a switched-out state links to itself";

  EXPECT_EQ(PopKeyState(3), EFI_SUCCESS);
  EXPECT_EQ(Stack(), (std::vector<KEY_STATE *>{a, base}));
  EXPECT_TRUE(Lone(c));
  EXPECT_EQ(KeyStateStack->Current, a);

  ASSERT_EQ(enters.size(), 4u);
  EXPECT_EQ(enters[0].state, a);
  EXPECT_EQ(enters[0].previous, base);
  EXPECT_EQ(enters[1].previous, a);
  EXPECT_EQ(enters[1].argument, 7u);
  EXPECT_EQ(enters[2].state, c);
  EXPECT_EQ(enters[2].previous, b);
  EXPECT_EQ(enters[3].state, a);
  EXPECT_EQ(enters[3].previous, c);
  EXPECT_EQ(enters[3].argument, 3u);

  EFI_INPUT_KEY key{SCAN_DOWN, 0};
  EXPECT_EQ(DispatchKey(&key), EFI_SUCCESS);
  EXPECT_EQ(keyed, std::vector<KEY_STATE *>{a}) << "keys go to the top state, which is handed itself";
  loose = {b, c};
}

TEST_F(KeyStack, FailuresLeaveTheStackAsItWas) {
  KEY_STATE *base = New(), *a = New();
  ASSERT_NO_FATAL_FAILURE(Build(base, {a}));

  EXPECT_EQ(PushKeyState(nullptr, 0), EFI_LOAD_ERROR);
  EXPECT_EQ(SwitchKeyState(nullptr, 0), EFI_LOAD_ERROR);
  EXPECT_EQ(Stack(), (std::vector<KEY_STATE *>{a, base}));
  EXPECT_EQ(KeyStateStack->Current, a);

  // An enter function's error comes back through the operation that entered.
  KEY_STATE *b = New();
  enter_answer = EFI_ABORTED;
  EXPECT_EQ(PushKeyState(b, 0), EFI_ABORTED);
  EXPECT_EQ(PopKeyState(0), EFI_ABORTED);
  enter_answer = EFI_SUCCESS;

  // The base state is never popped: the stack keeps a state to receive keys.
  EXPECT_EQ(PopKeyState(0), EFI_SUCCESS);
  EXPECT_EQ(Stack(), (std::vector<KEY_STATE *>{base}));
  EXPECT_NE(PopKeyState(0), EFI_SUCCESS);
  EXPECT_EQ(KeyStateStack->Current, base);

  base->KeyFunction = nullptr;
  EFI_INPUT_KEY key{0, u'x'};
  EXPECT_EQ(DispatchKey(&key), EFI_NO_MEDIA);
  base->KeyFunction = RecordKey;
  loose = {a, b};
}

TEST_F(KeyStack, AStateIsStackedAtMostOnce) {
  KEY_STATE *base = New(), *a = New();
  ASSERT_NO_FATAL_FAILURE(Build(base, {a, a}));
  EXPECT_EQ(Stack(), (std::vector<KEY_STATE *>{a, base}));
  ASSERT_EQ(SwitchKeyState(a, 0), EFI_SUCCESS);
  EXPECT_EQ(Stack(), (std::vector<KEY_STATE *>{a, base}));
}

TEST_F(KeyStack, DestroyingUnlinksStackedStatesAndTheStackFreesTheRest) {
  KEY_STATE *base = New(), *a = New(), *b = New();
  ASSERT_NO_FATAL_FAILURE(Build(base, {a, b}));

  KEY_STATE *middle = a;
  EXPECT_EQ(DestroyKeyState(&middle), EFI_SUCCESS);
  EXPECT_EQ(middle, nullptr);
  EXPECT_EQ(Stack(), (std::vector<KEY_STATE *>{b, base}));

  // A second stack replaces the first and frees every state still on it.
  KEY_STATE *base2 = New();
  ASSERT_EQ(InitKeyStateStack(base2), EFI_SUCCESS);
  EXPECT_EQ(Stack(), (std::vector<KEY_STATE *>{base2}));
  EXPECT_EQ(p.LivePoolCount(), pool_before + 2) << "the new stack and its base are all that is left";
  DestroyKeyStateStack();
  EXPECT_EQ(KeyStateStack, nullptr);
  DestroyKeyStateStack();  // nothing to do the second time
}

// The run's states on the stack: a start that runs out of pool at any of its
// seven allocations (six states, the stack) leaves nothing behind.
TEST_F(KeyStack, RunStatesThatCannotAllBeCreatedAreAllReleased) {
  UI_RUN run = {};
  for (uint64_t nth = 1; nth <= 7; nth++) {
    SCOPED_TRACE(nth);
    p.FailAllocation(nth);
    EXPECT_EQ(InitialKeyFunction(&run), EFI_OUT_OF_RESOURCES);
    p.FailAllocation(0);
    EXPECT_EQ(KeyStateStack, nullptr);
    for (KEY_STATE *s : {KeyStates.BaseKeyState, KeyStates.VolumeListKeyState, KeyStates.FileListKeyState, KeyStates.EscapeKeyState,
                         KeyStates.FileChosenKeyState, KeyStates.FileFollowUpKeyState})
      EXPECT_EQ(s, nullptr);
    EXPECT_EQ(p.LivePoolCount(), pool_before);
  }
  ASSERT_EQ(InitialKeyFunction(&run), EFI_SUCCESS);
  EXPECT_EQ(KeyStateStack->Current, KeyStates.VolumeListKeyState) << "the volume list has the focus";
  ExitKeyFunction();
  EXPECT_EQ(KeyStateStack, nullptr);
}

}  // namespace
