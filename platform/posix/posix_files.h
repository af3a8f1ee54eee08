#pragma once

#include "platform/files.h"

namespace tavro {

// Text files on a POSIX file system. A file being written goes to a hidden
// temporary file beside it, which is flushed to the disk and renamed over the
// old one on close(); until then the old file stays as it was.
class PosixFiles final : public Files {
public:
    std::unique_ptr<TextInput> openInput(const std::string& path) override;
    std::unique_ptr<TextOutput> openOutput(const std::string& path) override;
};

} // namespace tavro
