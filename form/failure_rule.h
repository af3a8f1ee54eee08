#pragma once

#include "platform/error.h"

#include <exception>
#include <string>
#include <vector>

namespace tavro {

class Quellit;

// The text the user is shown for an error that nothing handled.
std::string failureMessage(int number, const std::string& description);

struct Failure {
    int number;
    std::string description;
};

// The failure in a message box with the program's title; once the program
// ends unattended, on standard error and in the journal instead, without waiting.
void showFailure(Quellit& form, const Failure& failure);

// The number and description of the exception being handled; only to be
// called inside a catch block for std::exception.
Failure currentFailure();

// The program-wide rule for unexpected failures: the error's number and
// description in a message box, then the end of the process with status 1. No
// unload sequence runs, so nothing is saved and the tray icon is left to the
// desktop to clean up.
[[noreturn]] void endOnFailure(Quellit& form, int number, const std::string& description);
// The same rule for several failures, each reported in turn.
[[noreturn]] void endOnFailures(Quellit& form, const std::vector<Failure>& failures);

// True from the moment a failure is being reported: the message box is modal
// but keeps the event loop running, and no handler may run before the end.
bool endingOnFailure(const Quellit& form);

// Runs one handler under the program-wide rule. The rule ends the process, so
// nothing raised by the handler ever reaches the toolkit's event loop.
template <typename Handler> void underFailureRule(Quellit& form, Handler&& handler) {
    if (endingOnFailure(form))
        return;
    try {
        handler();
    } catch (const std::exception&) {
        const Failure failure = currentFailure();
        endOnFailure(form, failure.number, failure.description);
    }
}

} // namespace tavro
