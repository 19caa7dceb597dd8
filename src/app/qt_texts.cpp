#include "app/qt_texts.h"

#include <QLibraryInfo>
#include <QLocale>

namespace quelvan {

std::unique_ptr<QTranslator> LoadGermanQtTexts(const QString& folder) {
    auto texts = std::make_unique<QTranslator>();
    const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    // The window is German whatever the system's language, so Qt's texts are too.
    if (!texts->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"), QStringLiteral("_"), from))
        return nullptr;
    return texts;
}

}  // namespace quelvan
