#pragma once

#include <string>

namespace vlm {

// The text shown (in a box that does not block) when the start-at-logon entry can't be written.
inline constexpr const char* kAutostartFailedText = "Failed to set data for 'VLM'";

// Per-user start at logon of the executable "VLM" in a program folder, under the name "VLM".
class AutostartStore {
public:
    virtual ~AutostartStore() = default;

    // Makes programDir's VLM start at logon, replacing any earlier entry. Returns the text to show the user, or
    // an empty string on success and also when the entry's place can't be created (that is not reported).
    virtual std::string RegisterAutostart(const std::string& programDir) = 0;

    // Stops the program starting at logon when the entry there is ours (it starts programDir's VLM); an entry
    // that starts anything else is left alone. Failures are not reported.
    virtual void UnregisterAutostart(const std::string& programDir) = 0;

    // Whether the entry in place now starts programDir's VLM: what a Register or Unregister really did, which
    // neither reports when the entry's place can't be opened.
    virtual bool IsRegistered(const std::string& programDir) const = 0;
};

} // namespace vlm
