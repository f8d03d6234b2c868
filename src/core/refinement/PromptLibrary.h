#pragma once

#include "settings/Modes.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace murmelo {

// Where the prompt resources live: a directory "Murmelo_MurmeloCore.bundle".
namespace ResourceBundle {

// In order: next to the executable, under the install prefix, the build tree's copy.
QStringList candidates();
std::optional<QString> firstExisting(const QStringList& candidates);
QString fatalMessage(const QStringList& candidates);
// The bundle of this process, located on first use and kept; stops the process with
// fatalMessage() when no candidate exists, since nothing can be refined without prompts.
QString located();

} // namespace ResourceBundle

namespace PromptLibrary {

QString resourceName(InputMode mode);
// The system prompt of the mode, read anew from the bundle on every call (Prompts/<name>.md, else
// <name>.md at the top level). Throws PromptLibraryError, or FileError when the file cannot be read.
QString systemPrompt(InputMode mode, const QString& bundleDirectory);
QString systemPrompt(InputMode mode);

} // namespace PromptLibrary

} // namespace murmelo
