#pragma once
// Qt's own texts (the file dialogs' "Suchen in", "Dateiname", the buttons "Ja", "Nein",
// "Abbrechen") in German, like the rest of the window. They come from Qt's translation
// files (Debian: qt6-translations-l10n); without them the program runs on with Qt's
// English texts.

#include <QString>
#include <QTranslator>
#include <memory>

namespace quelvan {

// The German translation of Qt's base module from `folder` (Qt's translations folder when
// empty), ready to be installed; null when there is none.
std::unique_ptr<QTranslator> LoadGermanQtTexts(const QString& folder = {});

}  // namespace quelvan
