// Qt's own texts (the buttons of message boxes: OK, Yes, No, Cancel...) in
// Chinese, as every other text of the programs is, whatever the user's
// locale: Qt's translations from the system's Qt (qt6-translations-l10n).
#pragma once

namespace mirvo {

// Installs Qt's Simplified Chinese translation into the application object.
// False where the system has none; the texts stay in English then.
bool install_qt_translations();

}  // namespace mirvo
