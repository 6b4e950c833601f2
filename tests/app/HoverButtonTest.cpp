#include "app/HoverButton.h"

#include "AppTestSupport.h"
#include "app/AppImages.h"

#include <QEnterEvent>
#include <QLabel>
#include <QtTest>

using platform::Dict;

namespace {

QPixmap swatch(const QColor& c) {
    QPixmap p(8, 8);
    p.fill(c);
    return p;
}

void enter(QWidget* w) {
    QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(w, &e);
}

void leave(QWidget* w) {
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(w, &e);
}

bool same(const QPixmap& a, const QPixmap& b) {
    return a.cacheKey() == b.cacheKey();
}
// Whether a button or a picture area shows the program's picture of that name.
bool shows(const HoverButton* button, const char* name) {
    return same(button->image(), AppImages::imageNamed(name));
}
bool shows(const QLabel* area, const char* name) {
    return same(area->pixmap(), AppImages::imageNamed(name));
}

} // namespace

class HoverButtonTest : public QObject {
    Q_OBJECT
private slots:
    // The hover picture while the pointer is over the button, the normal one
    // after it left, the alternate pair in the alternate state; a new pair
    // while hovering keeps the picture until the next move. (Resetting, and
    // buttons that keep their hover picture, are pointed at in the window
    // below.)
    void picturesFollowThePointer() {
        const QPixmap normal = swatch(Qt::white), hover = swatch(Qt::blue);
        const QPixmap altNormal = swatch(Qt::gray), altHover = swatch(Qt::red);
        HoverButton button("Recover");
        button.setImageNormal(normal, hover);
        button.setAlternateImageNormal(altNormal, altHover);
        button.setImage(normal);
        QVERIFY(button.resetImageWhenNotHovering());
        enter(&button);
        QVERIFY(button.hovering() && same(button.image(), hover));
        leave(&button);
        QVERIFY(!button.hovering() && same(button.image(), normal));

        button.setAlternateImagesState(true);
        QVERIFY(same(button.image(), normal)); // setting the state changes no picture
        enter(&button);
        QVERIFY(same(button.image(), altHover));
        button.setAlternateImagesState(false);

        enter(&button);
        const QPixmap normal2 = swatch(Qt::green), hover2 = swatch(Qt::yellow);
        button.setImageNormal(normal2, hover2);
        QVERIFY(!button.hovering() && same(button.image(), hover));
        enter(&button);
        QVERIFY(same(button.image(), hover2));
    }

    // Pointing at a home-screen choice shows its explanation over the
    // picture area and puts the other choices back to normal.
    void choicesExplainThemselves() {
        ProgramUnderTest p;
        auto* files = p.widget<HoverButton>("buttonRecoverFiles");
        auto* photos = p.widget<HoverButton>("buttonRecoverPhotos");
        auto* area = p.widget<QLabel>("imageViewMainScreen");
        auto* overlay = p.widget<QLabel>("imageViewMainScreenImposed");
        QCOMPARE(std::pair(files->buttonID(), photos->buttonID()), std::pair(1, 2));
        QVERIFY(!files->image().isNull());
        QVERIFY(shows(area, "wizard"));

        enter(photos);
        QVERIFY(shows(photos, "rp-hover") && shows(area, "wizard2") && shows(overlay, "Recover_Photos_hover"));
        // Choice buttons keep their hover picture when left...
        leave(photos);
        QVERIFY(shows(photos, "rp-hover"));
        // ...until another choice is pointed at.
        enter(files);
        QVERIFY(shows(photos, "rp-normal") && shows(files, "rf-hover") && shows(overlay, "Recover_File_hover"));
        // Leaving keeps the last explanation.
        leave(files);
        QVERIFY(shows(overlay, "Recover_File_hover"));

        // So do the choices of the recovery kind.
        auto* advanced = p.widget<HoverButton>("buttonRecoverPartitionAndDrivesAdvanced");
        auto* kindOverlay = p.widget<QLabel>("imageViewRecoverPartitionsImposed");
        QCOMPARE(advanced->buttonID(), 11);
        enter(advanced);
        QVERIFY(shows(kindOverlay, "Formatted_Reformatted_Recovery_hover"));
        leave(advanced);
        QVERIFY(shows(advanced, "frr-hover"));
        enter(p.widget<HoverButton>("buttonBackToMainScreenFromPartitionAndDrivesRecoveryTab"));
        QVERIFY(shows(advanced, "frr-normal") && shows(kindOverlay, "Recover_Partition_Drives_hover"));
    }

    // A focused choice or step button takes Enter, Return and Space as a click.
    void focusedButtonsActOnTheKeyboard() {
        ProgramUnderTest p;
        for (auto [screen, name] :
             {std::pair{"Main Screen", "buttonRecoverFiles"}, {"Signatures", "buttonSigSelBack"}}) {
            p.window.selectTabViewItemWithIdentifier(screen);
            auto* button = p.widget<QPushButton>(name);
            button->setFocus();
            QSignalSpy clicked(button, &QAbstractButton::clicked);
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
                QTest::keyClick(button, key);
            QVERIFY2(clicked.count() == 3, name);
        }
    }

    // Home and help buttons change only their own picture; button requests
    // reach hover buttons.
    void homeAndHelpButtonsChangeOnlyThemselvesAndFollowRequests() {
        ProgramUnderTest p;
        auto* home = p.widget<HoverButton>("buttonGoToHomeFromDrivesListTab");
        auto* help = p.widget<HoverButton>("buttonHelpDriveListTab");
        QCOMPARE(std::pair(home->buttonID(), help->buttonID()), std::pair(13, 0));
        auto* overlay = p.widget<QLabel>("imageViewMainScreenImposed");
        const qint64 before = overlay->pixmap().cacheKey();
        enter(home);
        QVERIFY(shows(home, "home2-hover"));
        leave(home);
        QVERIFY(shows(home, "home2-normal"));
        enter(help);
        QVERIFY(shows(help, "help-hover"));
        QCOMPARE(overlay->pixmap().cacheKey(), before);

        auto* treeHome = p.widget<HoverButton>("buttonGoToHomeFromTreeTab");
        treeHome->setAlternateImageNormal(AppImages::imageNamed("folder-select"),
                                          AppImages::imageNamed("folder-delete"));
        p.delegate.updateButton(Dict{{"button", "buttonGoToHomeFromTreeTab"}, {"setAlternateImagesState", true}});
        QVERIFY(treeHome->alternateImagesState());
        enter(treeHome);
        QVERIFY(shows(treeHome, "folder-delete"));
        p.delegate.updateButton(Dict{{"button", "buttonGoToHomeFromTreeTab"}, {"resetButton", true}});
        QVERIFY(!treeHome->hovering() && shows(treeHome, "folder-select"));
        p.delegate.updateButton(Dict{{"button", "buttonGoToHomeFromTreeTab"}, {"setImage", "home2-hover"}});
        QVERIFY(shows(treeHome, "home2-hover"));
    }
};

QTEST_MAIN(HoverButtonTest)
#include "HoverButtonTest.moc"
