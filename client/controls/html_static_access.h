// What screen readers learn of an HTML static: the text a person reads, and
// each link as a child of role link that can be pressed. Never the markup,
// never where a link leads (the notice link's address carries a password).
#pragma once

namespace mirvo {

// Makes every HTML static describe itself so; the controls call it, once is
// enough and more calls do nothing.
void install_html_static_accessibility();

}  // namespace mirvo
