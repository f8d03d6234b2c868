#include "../../unit/ui/SettingsFixture.h"
#include "AsyncTest.h"
#include "TestDisplay.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

using namespace murmelo;
using namespace std::chrono_literals;

namespace {

// Whether the widget lies inside the viewport of the scroll area around it, if any, without
// scrolling: a form that needs scrolling in its own window hides part of itself.
bool visibleInScrollArea(QWidget* widget) {
    for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
        auto* area = qobject_cast<QScrollArea*>(parent);
        if (!area || area->objectName() == QLatin1String("historyList")) continue; // a list scrolls by nature
        const QRect inViewport(widget->mapTo(area->viewport(), QPoint(0, 0)), widget->size());
        return area->viewport()->rect().contains(inViewport);
    }
    return true;
}

// Widgets of `page` that a user can see but that do not get the room they need, or stick out of
// the window.
QStringList clippedIn(QWidget* page, QWidget* window) {
    QStringList clipped;
    const QRect frame = window->rect();
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window)) continue;
        auto* label = qobject_cast<QLabel*>(widget);
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (!label && !button) continue;
        const QString name = widget->objectName().isEmpty()
                                 ? QString::fromLatin1(widget->metaObject()->className())
                                 : widget->objectName();
        const QString text = label ? label->text() : button->text();
        const bool wraps = label && label->wordWrap();
        if (!wraps && widget->width() < widget->minimumSizeHint().width())
            clipped.append(name + QStringLiteral(" too narrow: ") + text);
        // A wrapping label may be capped on purpose (a history text shows five lines at most).
        if (wraps &&
            widget->height() < std::min(widget->heightForWidth(widget->width()), widget->maximumHeight()))
            clipped.append(name + QStringLiteral(" too short: ") + text);
        const QRect inWindow(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (!frame.contains(inWindow) || !visibleInScrollArea(widget))
            clipped.append(name + QStringLiteral(" outside the window: ") + text);
    }
    return clipped;
}

} // namespace

// The real settings window on a real X display: every tab renders its Chinese text in full at
// 620 × 460. A screenshot of each tab is kept under <build>/artifacts/settings/.
class SettingsWindowDesktopTest : public QObject {
    Q_OBJECT
public:
    explicit SettingsWindowDesktopTest(test::TestDisplay& display)
        : m_display(display) {}

private:
    test::TestDisplay& m_display;

private slots:
    void everyTabFitsAndIsCaptured() {
        test::SettingsFixture f;
        f.devices = {{"alsa_input.usb-mic", "USB 麦克风"}, {"alsa_input.pci-analog", "内置音频 模拟立体声"}};
        f.syntheticInput = false;
        f.keyring->items.insert({KeychainStore::defaultService, keychainAccount(CredentialKind::openAI)},
                                "sk-1");
        f.credentials->refresh();
        f.credentials->setDeepSeekDraft("sk-typed");
        f.credentials->saveOpenAIKey(); // a blank draft: shows the status line
        for (auto [canonical, kind, english] :
             {std::tuple{"默萝", DictionaryEntryKind::brand, "Murmelo"},
              std::tuple{"张伟", DictionaryEntryKind::person, ""},
              std::tuple{"向量数据库", DictionaryEntryKind::technicalTerm, "vector database"}}) {
            DictionaryEntry entry;
            entry.canonical = canonical;
            entry.kind = kind;
            if (*english) entry.english = english;
            f.dictionary.add(entry);
        }
        for (int i = 0; i < 3; ++i) {
            HistoryEntry entry;
            entry.createdAt = referenceSecondsNow() - 3600 * i;
            entry.mode = i == 1 ? InputMode::translateToEnglish : InputMode::smartDictation;
            entry.text =
                i == 0
                    ? QStringLiteral("明天下午三点和产品团队过一下 Murmelo 的发布计划：\n1. 确认安装包\n2. "
                                     "准备演示\n3. 整理常见问题\n4. 更新文档\n5. 安排回访\n6. 复盘")
                    : QStringLiteral("Please send the meeting notes to the whole team by Friday.");
            entry.audioDuration = 3.25 + i;
            entry.completionLatency = 1.04;
            test::run(f.historyStore.append(entry));
        }

        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        f.find<QCheckBox>("launchAtLoginSwitch")->click();             // shows the result line
        f.find<QPushButton>("accessibilityPermissionButton")->click(); // and the X11 note
        QCOMPARE(f.view->size(), QSize(620, 460));

        const QString directory = qEnvironmentVariable("MURMELO_BUILD_DIR", QDir::currentPath()) +
                                  QStringLiteral("/artifacts/settings");
        QVERIFY(QDir().mkpath(directory));
        const QStringList names{"general", "api", "dictionary", "history"};
        QStringList clipped; // reported after every tab is captured, so the pictures show why
        for (int tab = 0; tab < names.size(); ++tab) {
            f.openTab(tab);
            QWidget* page = f.view->tabs()->widget(tab);
            QTRY_VERIFY(page->isVisible());
            QTest::qWait(200); // let the X server draw before reading its pixels
            const QPixmap shot = f.view->screen()->grabWindow(f.view->winId());
            QCOMPARE(shot.size(), QSize(620, 460) * shot.devicePixelRatio());
            const QString path = QStringLiteral("%1/%2-%3.png").arg(directory).arg(tab + 1).arg(names[tab]);
            QVERIFY(shot.save(path));
            for (const QString& problem : clippedIn(page, f.view.get()))
                clipped.append(names[tab] + ": " + problem);
            // Forms fit without scrolling; only the history list may scroll.
            QList<QScrollArea*> areas = page->findChildren<QScrollArea*>();
            if (auto* itself = qobject_cast<QScrollArea*>(page)) areas.append(itself);
            for (QScrollArea* area : areas)
                if (area->objectName() != QLatin1String("historyList") &&
                    area->verticalScrollBar()->maximum() > 0)
                    clipped.append(names[tab] + QStringLiteral(": needs scrolling by %1 px")
                                                    .arg(area->verticalScrollBar()->maximum()));
        }
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
    }
};

MURMELO_DESKTOP_TEST_MAIN(SettingsWindowDesktopTest, (murmelo::test::TestDisplay::Options{}))
#include "tst_SettingsWindowDesktop.moc"
