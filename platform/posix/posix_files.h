#pragma once

#include "platform/files.h"

namespace tavro {

// Text files on a POSIX file system. A file being written goes to a hidden
// temporary file beside it, which is flushed to the disk and renamed over the
// old one on close(); until then the old file stays as it was. Where the folder
// takes no new file but the file itself is writable, the file is instead cut
// and rewritten in place on close(), so a failure during close() can leave it
// cut short. A symbolic link is written through to its target, which is
// created if it does not exist. No file written here keeps the set-user-id or
// set-group-id bit.
class PosixFiles final : public Files {
public:
    std::unique_ptr<TextInput> openInput(const std::string& path) override;
    std::unique_ptr<TextOutput> openOutput(const std::string& path) override;
    // The copy gets the file's mode, whatever an older copy had.
    void copyFile(const std::string& path, const std::string& copyPath) override;
};

} // namespace tavro
