#pragma once

#include "platform/toolkit.h"

namespace tavro {

class Quellit;

// Delivers the window's events to their handlers. Every handler runs through
// one boundary that applies the program-wide rule for unexpected failures: the
// error's number and description in a message box, then the end of the process.
class QuellitEvents final : public FormEvents {
public:
    explicit QuellitEvents(Quellit& form) : m_form(form) {}

    void Form_Load() override;
    void Form_Paint() override;
    void Form_QueryUnload(std::int16_t& cancel, std::int16_t unloadMode) override;
    void Form_Unload(std::int16_t& cancel) override;
    void Timer1_Timer() override;
    void Click(const std::string& control) override;
    void DblClick(const std::string& control) override;
    void HelpKey(const std::string& focusedControl) override;

    // The process is ending under the window (the toolkit lost its display);
    // see SaveOnLostDisplay. Raises nothing.
    void DisplayLost();

private:
    Quellit& m_form;
};

} // namespace tavro
