#include "form/failure_rule.h"

#include "form/quellit.h"

#include <cstdlib>
#include <new>
#include <string>

namespace tavro {

std::string failureMessage(int number, const std::string& description) {
    return "Run-time error '" + std::to_string(number) + "':\n\n" + description;
}

Failure currentFailure() {
    try {
        throw;
    } catch (const Error& e) {
        return {e.number(), e.description()};
    } catch (const std::bad_alloc&) {
        return {errc::OutOfMemory, "Out of memory"};
    } catch (const std::exception& e) {
        return {errc::InternalError, std::string("Internal error (") + e.what() + ")"};
    }
}

void showFailure(Quellit& form, const Failure& failure) {
    if (form.endingUnattended) {
        form.sys.toolkit.reportUnattended("Run-time error '" + std::to_string(failure.number) +
                                          "': " + failure.description);
        return;
    }
    form.sys.toolkit.messageBox({failureMessage(failure.number, failure.description), MessageButtons::Ok,
                                 MessageIcon::Critical, std::string(AppTitle)});
}

bool endingOnFailure(const Quellit& form) {
    return form.endingOnFailure;
}

void endOnFailure(Quellit& form, int number, const std::string& description) {
    endOnFailures(form, {{number, description}});
}

void endOnFailures(Quellit& form, const std::vector<Failure>& failures) {
    form.endingOnFailure = true;
    for (const Failure& failure : failures) {
        try {
            showFailure(form, failure);
        } catch (const std::exception&) {
            // The process ends either way; a box that cannot be shown must not keep it alive.
        }
    }
    form.sys.toolkit.terminate(1);
    // Not reached: the compiler does not carry noreturn through a virtual call.
    std::abort();
}

} // namespace tavro
