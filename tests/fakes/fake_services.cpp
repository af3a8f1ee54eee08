#include "tests/fakes/fake_services.h"

#include <new>

namespace tavro::fakes {

namespace {

class FakeInput final : public TextInput {
public:
    FakeInput(FakeFiles& files, std::string content) : m_files(files), m_content(std::move(content)) {
        ++m_files.openInputs;
    }
    ~FakeInput() override { --m_files.openInputs; }
    FakeInput(const FakeInput&) = delete;
    FakeInput& operator=(const FakeInput&) = delete;

    bool eof() override { return m_position >= m_content.size(); }
    char get() override {
        if (m_files.failReadAfter >= 0 && static_cast<long>(m_position) >= m_files.failReadAfter) {
            if (m_files.outOfMemory)
                throw std::bad_alloc();
            throw Error(errc::PathFileAccess, "Path/File access error");
        }
        if (eof())
            throw Error(errc::InputPastEndOfFile, "Input past end of file");
        return m_content[m_position++];
    }

private:
    FakeFiles& m_files;
    std::string m_content;
    std::size_t m_position = 0;
};

class FakeOutput final : public TextOutput {
public:
    FakeOutput(FakeFiles& files, std::string path) : m_files(files), m_path(std::move(path)) {}
    void writeLine(std::string_view text) override {
        if (m_files.failWriteAfterLines >= 0 && m_lines >= m_files.failWriteAfterLines)
            throw Error(errc::PathFileAccess, "Path/File access error");
        m_pending.append(text).append("\r\n");
        ++m_lines;
    }
    void close() override { m_files.files[m_path] = m_pending; }

private:
    FakeFiles& m_files;
    std::string m_path;
    std::string m_pending;
    int m_lines = 0;
};

} // namespace

std::unique_ptr<TextInput> FakeFiles::openInput(const std::string& path) {
    if (failOpenInput) {
        if (outOfMemory)
            throw std::bad_alloc();
        throw Error(errc::PermissionDenied, "Permission denied");
    }
    const auto it = files.find(path);
    if (it == files.end())
        throw Error(errc::FileNotFound, "File not found");
    return std::make_unique<FakeInput>(*this, it->second);
}

std::unique_ptr<TextOutput> FakeFiles::openOutput(const std::string& path) {
    if (unwritable)
        throw Error(errc::PermissionDenied, "Permission denied");
    return std::make_unique<FakeOutput>(*this, path);
}

void FakeFiles::copyFile(const std::string& path, const std::string& copyPath) {
    const auto it = files.find(path);
    if (it == files.end())
        throw Error(errc::FileNotFound, "File not found");
    if (failOpenInput || unwritable)
        throw Error(errc::PermissionDenied, "Permission denied");
    files[copyPath] = it->second;
}

} // namespace tavro::fakes
