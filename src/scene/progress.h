// How long operations of the scene tell the user what they are doing, and learn that the user
// wants them to stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace korvan {

// Implemented by the desktop program (progress popup and message boxes), the command line
// (lines on stderr and stdout) and the tests (a recorder). One operation calls
// ShowProgressPopup once, SetProgressText any number of times, then CloseProgressPopup; a
// message, if any, follows. The defaults do nothing.
//
// A reporter that can ask an operation to stop returns its flag from StopFlag: the engines
// poll it inside their long loops, on any thread, and the scene asks StopRequested at the
// boundaries of its phases. A stopped operation fails with "Prekinuto" and leaves the scene
// as it was before it began.
class ProgressReporter {
public:
    virtual ~ProgressReporter() = default;
    virtual void ShowProgressPopup(const std::string& /*text*/) {}
    virtual void SetProgressText(const std::string& /*text*/) {}
    virtual void CloseProgressPopup() {}
    virtual void ShowMessage(const std::string& /*text*/) {}

    // Null where nobody can ask to stop; the scene then keeps no state aside for a stop.
    virtual const std::atomic<bool>* StopFlag() const { return nullptr; }
    virtual bool StopRequested() const {
        const std::atomic<bool>* flag = StopFlag();
        return flag != nullptr && flag->load();
    }
    // The share of the operation done, 0 to 1, at a phase boundary (phases weighted by what
    // they usually cost).
    virtual void SetProgressShare(double /*share*/) {}
    // Within the phase that follows, the share grows from the last one set towards `upTo` as
    // `done` counts up to `items`. `done` is written by the engines' threads and stays valid
    // until the next SetProgressShare or CloseProgressPopup; a bar reads it when it likes.
    virtual void CountProgress(double /*upTo*/, const std::atomic<int64_t>* /*done*/,
                               int64_t /*items*/) {}
};

}  // namespace korvan
