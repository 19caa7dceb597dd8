#pragma once
// Replaces a file's contents as one step: the new text goes to a temporary file in the
// same folder, reaches the disk, and is renamed over the old file. An interrupted or
// failed write leaves the old file as it was.

#include <string>
#include <string_view>

namespace quelvan::files {

struct ReplaceResult {
    bool ok = true;
    int error = 0;  // errno of the failing step
};

// The new file keeps the old one's permissions (a new file gets the umask's). A symbolic
// link is followed, so that its target is replaced and the link stays.
ReplaceResult ReplaceFileContents(const std::string& path, std::string_view text);

// Reads the whole file; false with errno when it cannot be opened or read.
bool ReadFileText(const std::string& path, std::string& text, int* error);

}  // namespace quelvan::files
