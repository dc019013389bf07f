// The system timer at 1 ms for as long as a guard lives. Windows otherwise rounds every sleep up
// to its default tick of about 15.6 ms, which would stretch the reply reader's 5 ms polls
// threefold (its time-outs hold anyway: they are measured on the clock). Other systems sleep
// finely anyway; there the guard does nothing.
#pragma once

namespace pz4::platform {

class FineTimerResolution {
  public:
    FineTimerResolution();
    ~FineTimerResolution();

    FineTimerResolution(const FineTimerResolution&) = delete;
    FineTimerResolution& operator=(const FineTimerResolution&) = delete;

  private:
    // Whether this guard raised the resolution, and so owes the matching release.
    [[maybe_unused]] bool raised_ = false;
};

}  // namespace pz4::platform
