#pragma once

#include "help/web_links.h"

#include <string>
#include <string_view>

namespace tavro {

class Quellit;

// The tray item "About": the product and its version in a message box.
void mnuAbout_Click(Quellit& form);

// The logo: the vendor's web site in a new browser window. A browser that
// cannot be opened is reported in a message box and the program goes on.
void Picture1_Click(Quellit& form);
// The same for another site; the tests' address.
void Picture1_Click(Quellit& form, std::string_view webSite);

} // namespace tavro
