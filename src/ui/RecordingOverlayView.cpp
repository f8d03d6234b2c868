#include "RecordingOverlayView.h"

#include "PhasePresentation.h"
#include "dictation/AppState.h"

#include <QFontDatabase>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace murmelo {
namespace {

constexpr int shadowMargin = 26; // room for the capsule's shadow (radius 18, offset 8)
constexpr int minimumCapsuleWidth = 210;
constexpr int maximumDetailWidth = 420;
constexpr int iconSize = 22;

// The tallest line a font sets for Latin and CJK text: CJK usually comes from a fallback font whose
// ascent and descent exceed the primary font's.
int lineHeight(const QFont& font) {
    const QFontMetrics metrics(font);
    return qMax(metrics.height(), metrics.boundingRect(QStringLiteral("Ag字录")).height());
}

// The capsule itself: a translucent pill with a faint white stroke.
class Capsule final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = bounds.height() / 2;
        QColor material = palette().color(QPalette::Window);
        material.setAlpha(236);
        painter.setBrush(material);
        QPen stroke(QColor(255, 255, 255, int(0.16 * 255)), 1);
        stroke.setCapStyle(Qt::FlatCap);
        stroke.setJoinStyle(Qt::MiterJoin);
        painter.setPen(stroke);
        painter.drawRoundedRect(bounds, radius, radius);
    }
};

} // namespace

// The phase's symbol, rendered from its SVG once per symbol and pixel ratio: the breathing only
// changes the opacity the same pixmap is drawn with.
class FadingIcon final : public QWidget {
public:
    using QWidget::QWidget;

    void setSymbol(const QString& symbol) {
        if (symbol == m_symbol) return;
        m_symbol = symbol;
        m_rendered = QPixmap();
        update();
    }
    void setOpacity(qreal opacity) {
        m_opacity = opacity;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const qreal ratio = devicePixelRatioF();
        if (m_rendered.isNull() || !qFuzzyCompare(m_rendered.devicePixelRatio(), ratio))
            m_rendered = symbolIcon(m_symbol).pixmap(size(), ratio);
        QPainter painter(this);
        painter.setOpacity(m_opacity);
        painter.drawPixmap(0, 0, m_rendered);
    }

private:
    QString m_symbol;
    QPixmap m_rendered;
    qreal m_opacity = 1.0;
};

RecordingOverlayView::RecordingOverlayView(AppState& state, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::BypassWindowManagerHint)
    , m_state(state) {
    setObjectName(QStringLiteral("recordingOverlay"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);

    m_capsule = new Capsule(this);
    auto* shadow = new QGraphicsDropShadowEffect(m_capsule);
    shadow->setColor(QColor(0, 0, 0, int(0.2 * 255)));
    shadow->setBlurRadius(36);
    shadow->setOffset(0, 8);
    m_capsule->setGraphicsEffect(shadow);

    m_icon = new FadingIcon(m_capsule);
    m_icon->setObjectName(QStringLiteral("overlayIcon"));
    m_icon->setFixedSize(iconSize, iconSize);
    m_title = new QLabel(m_capsule);
    m_title->setObjectName(QStringLiteral("overlayTitle"));
    QFont titleFont = m_title->font();
    titleFont.setPixelSize(14);
    titleFont.setWeight(QFont::DemiBold);
    m_title->setFont(titleFont);
    m_detail = new QLabel(m_capsule);
    m_detail->setObjectName(QStringLiteral("overlayDetail"));
    QPalette secondary = m_detail->palette();
    secondary.setColor(QPalette::WindowText, secondary.color(QPalette::PlaceholderText));
    m_detail->setPalette(secondary);

    // One height in every phase, whatever the fonts: the timer's monospace font, a CJK transcript
    // and no detail at all must not make the capsule jump while the user speaks.
    QFont detailFont = m_detail->font();
    detailFont.setPixelSize(11);
    QFont fixedDetailFont = detailFont;
    fixedDetailFont.setFamilies(QFontDatabase::systemFont(QFontDatabase::FixedFont).families());
    const int titleHeight = lineHeight(titleFont);
    const int detailHeight = qMax(lineHeight(detailFont), lineHeight(fixedDetailFont));
    m_title->setFixedHeight(titleHeight);
    m_detail->setFixedHeight(detailHeight);
    constexpr int textSpacing = 2;
    constexpr int verticalMargin = 12;
    m_capsuleHeight = 2 * verticalMargin + titleHeight + textSpacing + detailHeight;

    auto* texts = new QVBoxLayout;
    texts->setSpacing(textSpacing);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addStretch();
    texts->addWidget(m_title);
    texts->addWidget(m_detail);
    texts->addStretch();
    auto* row = new QHBoxLayout(m_capsule);
    row->setSpacing(12);
    row->setContentsMargins(18, verticalMargin, 18, verticalMargin);
    row->addWidget(m_icon, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);

    // The recording icon breathes; nothing else animates.
    m_pulse.setStartValue(1.0);
    m_pulse.setKeyValueAt(0.5, 0.35);
    m_pulse.setEndValue(1.0);
    m_pulse.setDuration(1200);
    m_pulse.setLoopCount(-1);
    connect(&m_pulse, &QVariantAnimation::valueChanged, m_icon,
            [this](const QVariant& opacity) { m_icon->setOpacity(opacity.toDouble()); });

    connect(&m_state, &AppState::changed, this, &RecordingOverlayView::refresh);
    refresh();
}

QString RecordingOverlayView::formatDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= double(std::numeric_limits<qint64>::max()))
        seconds = 0;
    const auto whole = qint64(std::trunc(seconds));
    const qint64 minutes = whole / 60;
    return QString::asprintf("%02lld:%02lld", static_cast<long long>(minutes),
                             static_cast<long long>(whole - 60 * minutes));
}

QString RecordingOverlayView::titleText() const {
    return m_title->text();
}

QString RecordingOverlayView::detailText() const {
    return m_detail->isHidden() ? QString() : m_detailFull;
}

QColor RecordingOverlayView::iconColour(const DictationPhase& phase) {
    switch (phase.kind()) {
    case DictationPhase::Kind::recording:
        return QColor(0xe5, 0x48, 0x3f);
    case DictationPhase::Kind::success:
        return QColor(0x34, 0xc7, 0x59);
    case DictationPhase::Kind::error:
        return QColor(0xff, 0x95, 0x00);
    default:
        return QColor(0x2f, 0x7c, 0xf6);
    }
}

void RecordingOverlayView::refresh() {
    const DictationPhase phase = m_state.phase();
    const auto presentation = PhasePresentation::of(phase);
    const bool recording = phase.is(DictationPhase::Kind::recording);
    m_icon->setSymbol(presentation.symbol);
    m_icon->setToolTip(iconColour(phase).name());
    if (recording && !isPulsing()) m_pulse.start();
    if (!recording && isPulsing()) {
        m_pulse.stop();
        m_icon->setOpacity(1.0);
    }
    m_title->setText(presentation.title);
    // The window's name carries what it shows, for assistive tools and window lists.
    setWindowTitle(QStringLiteral("Murmelo — ") + presentation.title);

    QFont detailFont = m_detail->font();
    detailFont.setPixelSize(11);
    if (recording) {
        m_detailFull = formatDuration(m_state.recordingDuration());
        detailFont.setFamilies(QFontDatabase::systemFont(QFontDatabase::FixedFont).families());
    } else {
        m_detailFull =
            !m_state.statusDetail().isEmpty() ? m_state.statusDetail() : m_state.partialTranscript();
        detailFont.setFamilies(font().families());
    }
    m_detail->setFont(detailFont);
    // One line only: long partial transcripts are elided rather than widening the capsule forever.
    m_detail->setText(
        recording ? m_detailFull
                  : QFontMetrics(detailFont)
                        .elidedText(QString(m_detailFull).replace(QLatin1Char('\n'), QLatin1Char(' ')),
                                    Qt::ElideLeft, maximumDetailWidth));
    m_detail->setVisible(!m_detailFull.isEmpty());
    resizeToContent();
}

void RecordingOverlayView::resizeToContent() {
    m_capsule->adjustSize();
    const QSize content(qMax(m_capsule->sizeHint().width(), minimumCapsuleWidth), m_capsuleHeight);
    m_capsule->setGeometry(shadowMargin, shadowMargin / 2, content.width(), content.height());
    const QSize outer(content.width() + 2 * shadowMargin, content.height() + shadowMargin + shadowMargin / 2);
    if (outer == size()) return;
    setFixedSize(outer);
    updateMask();
    emit contentResized();
}

void RecordingOverlayView::setShapeMaskEnabled(bool enabled) {
    m_maskEnabled = enabled;
    updateMask();
}

void RecordingOverlayView::updateMask() {
    if (!m_maskEnabled) {
        clearMask();
        return;
    }
    QPainterPath capsule;
    const QRect bounds = m_capsule->geometry();
    capsule.addRoundedRect(bounds, bounds.height() / 2.0, bounds.height() / 2.0);
    setMask(QRegion(capsule.toFillPolygon().toPolygon()));
}

} // namespace murmelo
