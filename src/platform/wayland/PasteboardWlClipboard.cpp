#include "wayland/PasteboardWlClipboard.h"

#include "wayland/ToolProcess.h"

#include <QStandardPaths>

#include <utility>

namespace murmelo {

std::unique_ptr<PasteboardWlClipboard>
PasteboardWlClipboard::createIfSupported(const WaylandClient& compositor) {
    const QString wlCopy = QStandardPaths::findExecutable(QStringLiteral("wl-copy"));
    const QString wlPaste = QStandardPaths::findExecutable(QStringLiteral("wl-paste"));
    if (wlCopy.isEmpty() || wlPaste.isEmpty()) return nullptr;
    const auto globals = compositor.globals();
    if (!globals || !globals->dataControl) return nullptr;
    return std::make_unique<PasteboardWlClipboard>(wlCopy, wlPaste);
}

PasteboardWlClipboard::PasteboardWlClipboard(QString wlCopy, QString wlPaste, std::chrono::milliseconds limit)
    : m_wlCopy(std::move(wlCopy))
    , m_wlPaste(std::move(wlPaste))
    , m_limit(limit) {}

void PasteboardWlClipboard::clearContents() {
    wayland::runToolNow(m_wlCopy, {QStringLiteral("--clear")}, m_limit);
}

namespace {

// The text goes through standard input: it never shows up in the process list, and a text
// starting with "-" cannot pass for an option. wl-copy would otherwise guess the type from the
// content.
QStringList plainTextType() {
    return {QStringLiteral("--type"), QStringLiteral("text/plain;charset=utf-8")};
}

} // namespace

bool PasteboardWlClipboard::setString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return wayland::runToolNow(m_wlCopy, plainTextType(), m_limit, &utf8);
}

QCoro::Task<bool> PasteboardWlClipboard::replaceContents(QString text) {
    const AsyncMutex::Lock lock = co_await m_writes.lock();
    // One run, no clear before it: a new selection replaces every type the previous one offered.
    const wayland::ToolRun run = co_await wayland::runTool(m_wlCopy, plainTextType(), m_limit, text.toUtf8());
    co_return run.succeeded;
}

QString PasteboardWlClipboard::string() const {
    QByteArray output;
    // "text" lets wl-paste pick whichever text type the owner offers; --no-newline keeps it byte-exact.
    if (!wayland::runToolNow(
            m_wlPaste, {QStringLiteral("--no-newline"), QStringLiteral("--type"), QStringLiteral("text")},
            m_limit, nullptr, &output))
        return {};
    return QString::fromUtf8(output);
}

} // namespace murmelo
