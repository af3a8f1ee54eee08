#pragma once

namespace tavro {

class Quellit;

// Offers to allow the selected blocked domain; after a Yes it moves to the end
// of lstWhiteList (unless already there) and leaves lstBlockedUrls.
void lstBlockedUrls_DblClick(Quellit& form);

// Offers to remove the selected allowed domain; after a Yes it leaves
// lstWhiteList and is not put back among the blocked ones.
void lstWhiteList_DblClick(Quellit& form);

} // namespace tavro
