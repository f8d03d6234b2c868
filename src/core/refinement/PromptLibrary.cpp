#include "refinement/PromptLibrary.h"

#include "common/Error.h"
#include "common/JsonFile.h"
#include "refinement/RefinementProviderError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringDecoder>

#include <mutex>

namespace murmelo {

namespace ResourceBundle {

QStringList candidates() {
    const QString executableDirectory = QCoreApplication::instance()
                                            ? QCoreApplication::applicationDirPath()
                                            : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    // Beside the program, then where its own prefix keeps data (an installation moved or unpacked
    // elsewhere finds its own prompts), then where it was meant to be installed, then the build tree.
    return {executableDirectory + QStringLiteral("/" MURMELO_BUNDLE_NAME),
            QFileInfo(executableDirectory + QStringLiteral("/../share/murmelo/" MURMELO_BUNDLE_NAME))
                .absoluteFilePath(),
            QStringLiteral(MURMELO_INSTALL_BUNDLE_DIR), QStringLiteral(MURMELO_BUILD_BUNDLE_DIR)};
}

std::optional<QString> firstExisting(const QStringList& candidates) {
    for (const QString& candidate : candidates)
        if (QFileInfo(candidate).isDir()) return candidate;
    return std::nullopt;
}

QString fatalMessage(const QStringList& candidates) {
    return QStringLiteral("could not load resource bundle: from ") + candidates.join(QStringLiteral(" or "));
}

QString located() {
    static std::once_flag once;
    static QString bundle;
    std::call_once(once, [] {
        const QStringList all = candidates();
        const auto found = firstExisting(all);
        if (!found) qFatal("%s", qPrintable(fatalMessage(all)));
        bundle = *found;
    });
    return bundle;
}

} // namespace ResourceBundle

namespace PromptLibrary {

QString resourceName(InputMode mode) {
    return mode == InputMode::translateToEnglish ? QStringLiteral("translate_to_english")
                                                 : QStringLiteral("smart_dictation_zh");
}

QString systemPrompt(InputMode mode, const QString& bundleDirectory) {
    const QString name = resourceName(mode) + QStringLiteral(".md");
    QString path = bundleDirectory + QStringLiteral("/Prompts/") + name;
    if (!QFileInfo(path).isFile()) path = bundleDirectory + QLatin1Char('/') + name;
    if (!QFileInfo(path).isFile()) throw PromptLibraryError(resourceName(mode));
    const auto bytes = files::readFileIfExists(path);
    if (!bytes) throw PromptLibraryError(resourceName(mode));
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(*bytes);
    if (decoder.hasError()) throw FileError(FileError::Case::read, path, QStringLiteral("not UTF-8"));
    return text;
}

QString systemPrompt(InputMode mode) {
    return systemPrompt(mode, ResourceBundle::located());
}

} // namespace PromptLibrary

} // namespace murmelo
