#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tavro {

// A text file open for reading, byte by byte.
class TextInput {
public:
    virtual ~TextInput() = default;
    // True when no byte is left. Raises an Error when the file cannot be read.
    virtual bool eof() = 0;
    // The next byte. Raises InputPastEndOfFile at the end, or an Error when a read fails.
    virtual char get() = 0;
};

// A text file open for writing. Nothing replaces the file on disk until
// close(), so a failed write leaves the previous file whole; only where the
// file's folder takes no new file is the file rewritten in place, and a
// failure of the device during that close (not a full disk) can leave it spoilt.
class TextOutput {
public:
    virtual ~TextOutput() = default;
    // Writes the text followed by CR LF. Raises an Error when the write fails.
    virtual void writeLine(std::string_view text) = 0;
    // Flushes and puts the file in place. Raises an Error when that fails.
    virtual void close() = 0;
};

// Sequential text files.
class Files {
public:
    virtual ~Files() = default;
    // Raises FileNotFound when the file does not exist, another Error otherwise.
    virtual std::unique_ptr<TextInput> openInput(const std::string& path) = 0;
    // Opens for writing, to replace the file (or create it) on close(). Raises an
    // Error when the folder or the file cannot be written.
    virtual std::unique_ptr<TextOutput> openOutput(const std::string& path) = 0;
    // Replaces (or creates) copyPath with the whole of the file at path, byte for
    // byte, put in place only once it is complete. Raises FileNotFound when there
    // is no file at path, another Error when it cannot be read or the copy written.
    virtual void copyFile(const std::string& path, const std::string& copyPath) = 0;
    // Removes what writes of path left beside it in processes that no longer
    // run (killed in the middle of a save), never what a running process is
    // writing. Never raises: what cannot be removed is only clutter.
    virtual void removeLeftovers(const std::string& path) = 0;
};

} // namespace tavro
