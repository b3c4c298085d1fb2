#include "app/hand_over_wake.h"

#include "async32/thread.h"

HandOverWake::HandOverWake() : event_([] { async32::CheckSynchronize(); }) {
  async32::SetWakeMainThreadHook([this] { event_.Signal(); });
}

HandOverWake::~HandOverWake() { async32::SetWakeMainThreadHook(nullptr); }
