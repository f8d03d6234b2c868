#include "refinement/MockTextRefinementProvider.h"

namespace murmelo {

QString MockTextRefinementProvider::smartDictationText() {
    return QStringLiteral(
        "我想做一个语音输入工具，重点包括：\n\n1. 响应速度足够快；\n2. 中文语音识别准确；\n3. "
        "能把混乱口述自动整理成清晰的重点。");
}

QString MockTextRefinementProvider::translationText() {
    return QStringLiteral(
        "I want to build a voice input tool that responds quickly, recognizes Chinese accurately, and "
        "automatically turns unstructured speech into clear, well-organized points.");
}

MockTextRefinementProvider::MockTextRefinementProvider(std::chrono::milliseconds delay)
    : m_delay(delay) {}

QCoro::Task<QString> MockTextRefinementProvider::refine(RefinementRequest request) {
    const InputMode mode = request.mode;
    co_await sleepFor(m_delay, &m_waits);
    co_return mode == InputMode::translateToEnglish ? translationText() : smartDictationText();
}

} // namespace murmelo
