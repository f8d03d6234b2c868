#include "AsyncTest.h"
#include "TestDisplay.h"
#include "qt/PasteboardQt.h"
#include "system/TextInsertionService.h"
#include "x11/SyntheticKeyboardX11.h"

#include <QTest>

using namespace murmelo;
using namespace std::chrono_literals;

// A display without the XTEST extension: nothing can be posted, the text waits on the clipboard.
class TextInsertionWithoutXTestTest : public QObject {
    Q_OBJECT
public:
    explicit TextInsertionWithoutXTestTest(test::TestDisplay& display)
        : m_display(display) {}

private:
    test::TestDisplay& m_display;

private slots:
    void resultIsCopiedOnlyAndTheClipboardHoldsTheText() {
        test::PasteTarget target(m_display);
        QVERIFY(target.start());
        PasteboardQt pasteboard;
        SyntheticKeyboardX11 keyboard;
        QVERIFY(!keyboard.isAvailable());
        QVERIFY(!keyboard.postPasteShortcut(PasteShortcut::control));
        QVERIFY(!keyboard.postPasteShortcut(PasteShortcut::controlShift));
        TextInsertionService service(pasteboard, keyboard);
        const QString text = QStringLiteral("你好，Murmelo 🎙\n第二行");

        QCOMPARE(test::run(service.insert(text)), TextInsertionResult::copiedOnly);
        QByteArray output;
        QVERIFY(m_display.run(
            QStringLiteral("xclip"),
            {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")}, &output));
        QCOMPARE(QString::fromUtf8(output), text);
        QCOMPARE(target.changes(), 0);
    }
};

MURMELO_DESKTOP_TEST_MAIN(TextInsertionWithoutXTestTest,
                          (murmelo::test::TestDisplay::Options{.xtest = false}))
#include "tst_TextInsertionWithoutXTest.moc"
