#pragma once

#include "platform/files.h"

namespace tavro {

// Text files on a POSIX file system. A file being written goes to a hidden
// temporary file beside it, which is flushed to the disk and renamed over the
// old one on close(); until then the old file stays as it was. Where the folder
// takes no new file but the file itself is writable, the file is instead
// rewritten in place on close(), once the space for the new text is reserved,
// so a full disk leaves it as it was; only a failure of the write itself after
// that can leave it mixed. A file without any write bit is never replaced,
// also where the user may write anything (root). A symbolic link is written through to its target, which is
// created if it does not exist. No file written here keeps the set-user-id or
// set-group-id bit.
class PosixFiles final : public Files {
public:
    std::unique_ptr<TextInput> openInput(const std::string& path) override;
    std::unique_ptr<TextOutput> openOutput(const std::string& path) override;
    // The copy gets the file's mode, whatever an older copy had.
    void copyFile(const std::string& path, const std::string& copyPath) override;
    // The hidden temporary files of the path whose process is gone; this
    // process writes nothing yet when it asks, so a file left under its own
    // number by an earlier one that ran under the same number goes too.
    void removeLeftovers(const std::string& path) override;
};

} // namespace tavro
