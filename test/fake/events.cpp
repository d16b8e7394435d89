// SPDX-License-Identifier: BSD-2-Clause-Patent
// Events, TPL, timers driven by the test's virtual clock, WaitForEvent and Stall.
#include <algorithm>

#include "impl.h"

namespace fake {

namespace {
constexpr uint64_t kTick = 100000;  // 10 ms: a periodic timer of 0 fires every tick
constexpr uint64_t kMaxIdleRounds = 5000;
}  // namespace

Event *Platform::Impl::Live(EFI_EVENT e, const char *where) {
  Platform &p = P();
  for (auto &ev : p.events_)
    if (ToEvent(ev.get()) == e) {
      if (ev->closed) {
        ADD_FAILURE() << where << " on a closed event";
        return nullptr;
      }
      return ev.get();
    }
  ADD_FAILURE() << where << " on something that is not an event";
  return nullptr;
}

// Runs every queued notification whose TPL is above `above`, highest first,
// at the notification's own TPL.
void Platform::Dispatch(EFI_TPL above) {
  for (;;) {
    Event *best = nullptr;
    for (auto &ev : events_)
      if (ev->pending && !ev->closed && ev->tpl > above && (!best || ev->tpl > best->tpl)) best = ev.get();
    if (!best) return;
    best->pending = false;
    if (best->type & EVT_NOTIFY_SIGNAL) best->signaled = false;
    EFI_TPL saved = tpl_;
    tpl_ = best->tpl;
    best->notify(ToEvent(best), best->context);
    tpl_ = saved;
  }
}

void Platform::SignalEv(Event *ev) {
  if (ev->signaled) return;
  ev->signaled = true;
  if (ev->type & EVT_NOTIFY_SIGNAL) {
    ev->pending = true;
    Dispatch(tpl_);
  }
}

EFI_TPL EFIAPI Platform::Impl::RaiseTPL(EFI_TPL tpl) {
  Platform &p = P();
  EFI_TPL old = p.tpl_;
  if (tpl < old) ADD_FAILURE() << "RaiseTPL to " << tpl << " below the current " << old;
  p.tpl_ = tpl;
  return old;
}

VOID EFIAPI Platform::Impl::RestoreTPL(EFI_TPL old) {
  Platform &p = P();
  if (old > p.tpl_) ADD_FAILURE() << "RestoreTPL to " << old << " above the current " << p.tpl_;
  p.tpl_ = old;
  p.Dispatch(old);
}

EFI_STATUS EFIAPI Platform::Impl::CreateEvent(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY fn, VOID *ctx, EFI_EVENT *out) {
  Hook();
  if (!out) return EFI_INVALID_PARAMETER;
  if ((type & (EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT)) == (EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT)) return EFI_INVALID_PARAMETER;
  if (type & (EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT)) {
    if (!fn) return EFI_INVALID_PARAMETER;
    if (tpl != TPL_APPLICATION && tpl != TPL_CALLBACK && tpl != TPL_NOTIFY && tpl != TPL_HIGH_LEVEL) return EFI_INVALID_PARAMETER;
    if (tpl <= TPL_APPLICATION) return EFI_INVALID_PARAMETER;
  }
  Platform &p = P();
  auto ev = std::make_unique<Event>();
  ev->type = type;
  ev->tpl = tpl;
  ev->notify = fn;
  ev->context = ctx;
  ev->seq = p.events_.size();
  *out = ToEvent(ev.get());
  p.events_.push_back(std::move(ev));
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::CreateEventEx(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY fn, const VOID *ctx, const EFI_GUID *group,
                                                EFI_EVENT *out) {
  EFI_STATUS s = CreateEvent(type, tpl, fn, const_cast<VOID *>(ctx), out);
  if (s || !group) return s;
  Event *ev = E(*out);
  ev->has_group = true;
  ev->group = *group;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::SetTimer(EFI_EVENT e, EFI_TIMER_DELAY type, UINT64 time) {
  Event *ev = Called(e, "SetTimer");
  if (!ev || !(ev->type & EVT_TIMER) || type > TimerRelative) return EFI_INVALID_PARAMETER;
  Platform &p = P();
  ev->armed = type != TimerCancel;
  ev->periodic = type == TimerPeriodic;
  ev->period = ev->periodic ? (time ? time : kTick) : 0;
  ev->deadline = p.now_ + (time ? time : (ev->periodic ? kTick : 0));
  if (ev->armed && type == TimerRelative && time == 0) {
    ev->armed = false;
    p.SignalEv(ev);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::SignalEvent(EFI_EVENT e) {
  Event *ev = Called(e, "SignalEvent");
  if (!ev) return EFI_INVALID_PARAMETER;
  Platform &p = P();
  if (ev->has_group) {
    std::vector<Event *> members;
    for (auto &m : p.events_)
      if (!m->closed && m->has_group && GuidEqual(m->group, ev->group)) members.push_back(m.get());
    for (Event *m : members)
      if (!m->closed) p.SignalEv(m);
  } else {
    p.SignalEv(ev);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::CloseEvent(EFI_EVENT e) {
  Event *ev = Called(e, "CloseEvent");
  if (!ev) return EFI_INVALID_PARAMETER;
  ev->closed = true;
  ev->armed = false;
  ev->pending = false;
  for (auto &r : registrations)
    if (r->event == ev) r->event = nullptr;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::CheckEvent(EFI_EVENT e) {
  Event *ev = Called(e, "CheckEvent");
  if (!ev || (ev->type & EVT_NOTIFY_SIGNAL)) return EFI_INVALID_PARAMETER;
  Platform &p = P();
  if (!ev->signaled && (ev->type & EVT_NOTIFY_WAIT)) {
    ev->pending = true;
    p.Dispatch(p.tpl_);
  }
  if (ev->signaled) {
    ev->signaled = false;
    return EFI_SUCCESS;
  }
  return EFI_NOT_READY;
}

EFI_STATUS EFIAPI Platform::Impl::WaitForEvent(UINTN count, EFI_EVENT *events, UINTN *index) {
  Hook();
  Platform &p = P();
  if (!count || !events || !index) return EFI_INVALID_PARAMETER;
  if (p.tpl_ != TPL_APPLICATION) return EFI_UNSUPPORTED;
  uint64_t rounds = 0;
  for (;;) {
    for (UINTN i = 0; i < count; i++) {
      Event *ev = Live(events[i], "WaitForEvent");
      if (!ev || (ev->type & EVT_NOTIFY_SIGNAL)) {
        *index = i;
        return EFI_INVALID_PARAMETER;
      }
      EFI_STATUS s = CheckEvent(events[i]);
      if (s == EFI_SUCCESS) {
        *index = i;
        return EFI_SUCCESS;
      }
    }
    p.idle_rounds_++;
    rounds++;
    bool go_on;
    if (p.idle_) {
      go_on = p.idle_() && rounds < 100 * kMaxIdleRounds;
    } else {
      uint64_t next = UINT64_MAX;
      for (auto &ev : p.events_)
        if (ev->armed && !ev->closed) next = std::min(next, ev->deadline);
      go_on = next != UINT64_MAX && rounds < kMaxIdleRounds;
      if (go_on) p.Advance(next > p.now_ ? next - p.now_ : 0);
    }
    if (!go_on) {
      ADD_FAILURE() << "WaitForEvent would wait for ever (nothing left to happen after " << rounds << " idle rounds)";
      return EFI_DEVICE_ERROR;
    }
  }
}

EFI_STATUS EFIAPI Platform::Impl::Stall(UINTN us) {
  Hook();
  Platform &p = P();
  p.stalled_us_ += us;
  p.Advance(us * 10);
  return EFI_SUCCESS;
}

void Platform::Advance(uint64_t d) {
  uint64_t target = now_ + d;
  for (;;) {
    Event *due = nullptr;
    for (auto &ev : events_)
      if (ev->armed && !ev->closed && ev->deadline <= target && (!due || ev->deadline < due->deadline)) due = ev.get();
    if (!due) break;
    now_ = std::max(now_, due->deadline);
    if (due->periodic)
      due->deadline += due->period;
    else
      due->armed = false;
    SignalEv(due);
  }
  now_ = target;
}

void Platform::FireTimer(EFI_EVENT e) {
  Event *ev = Impl::Live(e, "FireTimer");
  if (ev) SignalEv(ev);
}

std::vector<EFI_EVENT> Platform::Timers() const {
  std::vector<EFI_EVENT> out;
  for (auto &ev : events_)
    if (!ev->closed && (ev->type & EVT_TIMER)) out.push_back(ToEvent(ev.get()));
  return out;
}

bool Platform::IsArmed(EFI_EVENT e) const { return E(e)->armed && !E(e)->closed; }
uint64_t Platform::PeriodOf(EFI_EVENT e) const { return E(e)->period; }

size_t Platform::LiveEventCount() const {
  size_t n = 0;
  for (auto &ev : events_) n += !ev->closed && ToEvent(ev.get()) != wait_for_key_;
  return n;
}

bool Platform::IsLiveEvent(EFI_EVENT e) const {
  for (auto &ev : events_)
    if (ToEvent(ev.get()) == e) return !ev->closed;
  return false;
}

std::vector<EFI_EVENT> Platform::GroupEvents(const EFI_GUID &group) const {
  std::vector<EFI_EVENT> out;
  for (auto &ev : events_)
    if (!ev->closed && ev->has_group && GuidEqual(ev->group, group)) out.push_back(ToEvent(ev.get()));
  return out;
}

void Platform::SignalGroup(const EFI_GUID &group) {
  for (EFI_EVENT e : GroupEvents(group))
    if (!E(e)->closed) SignalEv(E(e));
}

}  // namespace fake
