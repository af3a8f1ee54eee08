#include "app/settings.h"

#include "form/conversion.h"
#include "form/design.h"
#include "form/quellit.h"
#include "platform/error.h"

#include <array>
#include <string>

namespace tavro {

namespace {

struct Option {
    const char* key;
    CheckBox Quellit::*box;
    const char* defaultValue;
};

constexpr std::array options{
    Option{"Beep", &Quellit::chkBeep, "1"},
    Option{"HideOnStart", &Quellit::chkHideOnStart, "0"},
    Option{"Menubar", &Quellit::chkMenubar, "0"},
};

std::string readOption(Quellit& form, const Option& option) {
    return form.sys.settings.GetSetting(std::string(AppTitle), OptionsSection, option.key,
                                        option.defaultValue);
}

// The bad value stays in the store and fails every start the same way, so the
// message has to tell the user exactly what to change and where.
[[noreturn]] void badOption(Quellit& form, const Option& option, const std::string& value,
                            const Error& cause) {
    std::string where = std::string("section [") + OptionsSection + "]";
    const std::string location = form.sys.settings.location();
    if (!location.empty())
        where += " of " + location;
    throw Error(cause.number(), cause.description() + "\n\nThe setting \"" + option.key + "\" in " + where +
                                    " reads \"" + value + "\". Set it to 0, 1 or 2, or remove it.");
}

} // namespace

void LoadOptions(Quellit& form) {
    for (const Option& option : options) {
        const std::string value = readOption(form, option);
        try {
            (form.*option.box).setValue(toInteger(value));
        } catch (const Error& e) {
            badOption(form, option, value, e);
        }
    }
}

void SaveOptions(Quellit& form) {
    for (const Option& option : options)
        form.sys.settings.SaveSetting(std::string(AppTitle), OptionsSection, option.key,
                                      std::to_string((form.*option.box).value()));
}

std::int16_t StoredHideOnStart(Quellit& form) {
    const Option& option = options[1];
    const std::string value = readOption(form, option);
    try {
        return toInteger(value);
    } catch (const Error& e) {
        badOption(form, option, value, e);
    }
}

} // namespace tavro
