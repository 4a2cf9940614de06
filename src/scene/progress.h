// How long operations of the scene tell the user what they are doing.
#pragma once

#include <string>

namespace korvan {

// Implemented by the desktop program (progress popup and message boxes), the command line
// (lines on stderr and stdout) and the tests (a recorder). One operation calls
// ShowProgressPopup once, SetProgressText any number of times, then CloseProgressPopup; a
// message, if any, follows. The defaults do nothing.
class ProgressReporter {
public:
    virtual ~ProgressReporter() = default;
    virtual void ShowProgressPopup(const std::string& /*text*/) {}
    virtual void SetProgressText(const std::string& /*text*/) {}
    virtual void CloseProgressPopup() {}
    virtual void ShowMessage(const std::string& /*text*/) {}
};

}  // namespace korvan
