#pragma once

#include <string>
#include <string_view>

namespace tavro {

// The vendor's web site, set when the program is built.
inline constexpr std::string_view WebSite = TAVRO_WEB_SITE;

// A configured address without the "/" a distributor may have left at its end,
// so that the fixed paths join it with exactly one.
std::string baseAddress(std::string_view configured);

// Where the link label of that name leads: the web site followed by the
// label's path from the window's design ("Search the Internet" has none).
// Empty for a control that is not a link label.
std::string linkTarget(std::string_view controlName, std::string_view webSite = WebSite);

} // namespace tavro
