#include "allowed/allowed_domains.h"

#include "allowed/field_reader.h"
#include "blocking/list_lookup.h"
#include "form/program_facts.h"
#include "form/quellit.h"
#include "platform/error.h"

#include <exception>
#include <memory>
#include <utility>

namespace tavro {

std::string allowedDomainsPath(const Quellit& form) {
    return programFilePath(form, AllowedDomainsFileName);
}

void LoadAllowedDomains(Quellit& form) {
    const std::string path = allowedDomainsPath(form);
    // A save killed midway leaves its temporary file beside the list, and
    // nothing but a start can tell that its writer is gone.
    form.sys.files.removeLeftovers(path);
    form.sys.files.removeLeftovers(path + AllowedDomainsBackupSuffix);
    std::unique_ptr<TextInput> input;
    try {
        input = form.sys.files.openInput(path);
    } catch (const Error& e) {
        // Only a missing file is created, empty, and a failure to do so goes to
        // the caller. Any other failure to open leaves the list empty, silently.
        if (e.number() == errc::FileNotFound) {
            form.sys.files.openOutput(path)->close();
            return;
        }
        form.allowedFileNotLoadedWhole = true;
        return;
    } catch (const std::exception&) {
        form.allowedFileNotLoadedWhole = true;
        return;
    }

    // Whatever fails while reading (the read itself, the lookup overflowing
    // once the list is full, memory running out) ends the load silently with
    // what it has: only a missing file that cannot be made may stop the start-up.
    // The failure is never taken for a missing file: that would empty a file that exists.
    try {
        FieldReader reader(*input);
        while (!reader.atEnd()) {
            std::string field = reader.next();
            // The empty field is always found, so blank lines add nothing.
            if (!ListContains(form.lstWhiteList, field))
                form.lstWhiteList.append(std::move(field));
        }
    } catch (const std::exception&) {
        form.allowedFileNotLoadedWhole = true;
    }
}

namespace {

// The save writes only the list, so names the load never reached would be
// lost with the old file: it is kept whole beside it once, before the first
// save. A later save must not replace that copy with the shortened file.
void keepFileNotLoadedWhole(Quellit& form, const std::string& path) {
    if (!form.allowedFileNotLoadedWhole)
        return;
    try {
        form.sys.files.copyFile(path, path + AllowedDomainsBackupSuffix);
    } catch (const Error& e) {
        // Gone since the start: there is nothing left to keep.
        if (e.number() != errc::FileNotFound)
            throw;
    }
    form.allowedFileNotLoadedWhole = false;
}

} // namespace

void SaveAllowedDomains(Quellit& form) {
    const std::string path = allowedDomainsPath(form);
    keepFileNotLoadedWhole(form, path);
    const std::unique_ptr<TextOutput> output = form.sys.files.openOutput(path);
    const std::int16_t n = form.lstWhiteList.count();
    for (std::int16_t i = 0; i < n; ++i)
        output->writeLine(form.lstWhiteList.text(i));
    output->close();
}

} // namespace tavro
