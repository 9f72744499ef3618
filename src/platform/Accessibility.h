#pragma once

namespace velmora::platform {

// Permission to post synthetic input.
class Accessibility {
  public:
    virtual ~Accessibility() = default;
    // Never prompts.
    virtual bool isProcessTrusted() = 0;
    // May show the system's own permission prompt where there is one.
    virtual bool isProcessTrustedWithPrompt() = 0;
};

}  // namespace velmora::platform
