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

} // namespace

class HoverButtonTest : public QObject {
    Q_OBJECT
private slots:
    // The hover picture while the pointer is over the button, the normal one
    // after it left (unless reset is off), the alternate pair in the
    // alternate state; a new pair while hovering keeps the picture until the
    // next move; resetting acts as leaving.
    void picturesFollowThePointer() {
        const QPixmap normal = swatch(Qt::white), hover = swatch(Qt::blue);
        const QPixmap altNormal = swatch(Qt::gray), altHover = swatch(Qt::red);
        HoverButton button("Recover");
        button.setImageNormal(normal, hover);
        button.setAlternateImageNormal(altNormal, altHover);
        button.setImage(normal);
        QVERIFY(button.resetImageWhenNotHovering());
        enter(&button);
        QVERIFY(button.hovering());
        QVERIFY(same(button.image(), hover));
        leave(&button);
        QVERIFY(!button.hovering());
        QVERIFY(same(button.image(), normal));

        button.setAlternateImagesState(true);
        QVERIFY(same(button.image(), normal)); // setting the state changes no picture
        enter(&button);
        QVERIFY(same(button.image(), altHover));
        button.resetButton();
        QVERIFY(!button.hovering());
        QVERIFY(same(button.image(), altNormal));
        button.setAlternateImagesState(false);

        enter(&button);
        const QPixmap normal2 = swatch(Qt::green), hover2 = swatch(Qt::yellow);
        button.setImageNormal(normal2, hover2);
        QVERIFY(!button.hovering());
        QVERIFY(same(button.image(), hover));
        enter(&button);
        QVERIFY(same(button.image(), hover2));

        button.setResetImageWhenNotHovering(false);
        leave(&button);
        QVERIFY(!button.hovering());
        QVERIFY(same(button.image(), hover2));
    }

    // Pointing at a home-screen choice shows its explanation over the
    // picture area and puts the other choices back to normal.
    void homeScreenChoiceExplainsItself() {
        ProgramUnderTest p;
        auto* files = p.widget<HoverButton>("buttonRecoverFiles");
        auto* photos = p.widget<HoverButton>("buttonRecoverPhotos");
        auto* area = p.widget<QLabel>("imageViewMainScreen");
        auto* overlay = p.widget<QLabel>("imageViewMainScreenImposed");
        QCOMPARE(files->buttonID(), 1);
        QCOMPARE(photos->buttonID(), 2);
        QVERIFY(!files->image().isNull());
        QVERIFY(same(area->pixmap(), AppImages::imageNamed("wizard")));

        enter(photos);
        QVERIFY(same(photos->image(), AppImages::imageNamed("rp-hover")));
        QVERIFY(same(area->pixmap(), AppImages::imageNamed("wizard2")));
        QVERIFY(same(overlay->pixmap(), AppImages::imageNamed("Recover_Photos_hover")));
        // Choice buttons keep their hover picture when left...
        leave(photos);
        QVERIFY(same(photos->image(), AppImages::imageNamed("rp-hover")));
        // ...until another choice is pointed at.
        enter(files);
        QVERIFY(same(photos->image(), AppImages::imageNamed("rp-normal")));
        QVERIFY(same(files->image(), AppImages::imageNamed("rf-hover")));
        QVERIFY(same(overlay->pixmap(), AppImages::imageNamed("Recover_File_hover")));
        // Leaving keeps the last explanation.
        leave(files);
        QVERIFY(same(overlay->pixmap(), AppImages::imageNamed("Recover_File_hover")));
    }

    void kindScreenChoicesExplainThemselves() {
        ProgramUnderTest p;
        auto* advanced = p.widget<HoverButton>("buttonRecoverPartitionAndDrivesAdvanced");
        QCOMPARE(advanced->buttonID(), 11);
        enter(advanced);
        QVERIFY(same(p.widget<QLabel>("imageViewRecoverPartitionsImposed")->pixmap(),
                     AppImages::imageNamed("Formatted_Reformatted_Recovery_hover")));
        auto* back = p.widget<HoverButton>("buttonBackToMainScreenFromPartitionAndDrivesRecoveryTab");
        leave(advanced);
        QVERIFY(same(advanced->image(), AppImages::imageNamed("frr-hover")));
        enter(back);
        QVERIFY(same(advanced->image(), AppImages::imageNamed("frr-normal")));
        QVERIFY(same(p.widget<QLabel>("imageViewRecoverPartitionsImposed")->pixmap(),
                     AppImages::imageNamed("Recover_Partition_Drives_hover")));
    }

    // Home and help buttons change only their own picture.
    void homeAndHelpButtonsChangeOnlyThemselves() {
        ProgramUnderTest p;
        auto* home = p.widget<HoverButton>("buttonGoToHomeFromDrivesListTab");
        auto* help = p.widget<HoverButton>("buttonHelpDriveListTab");
        QCOMPARE(home->buttonID(), 13);
        QCOMPARE(help->buttonID(), 0);
        auto* overlay = p.widget<QLabel>("imageViewMainScreenImposed");
        const qint64 before = overlay->pixmap().cacheKey();
        enter(home);
        QVERIFY(same(home->image(), AppImages::imageNamed("home2-hover")));
        leave(home);
        QVERIFY(same(home->image(), AppImages::imageNamed("home2-normal")));
        enter(help);
        QVERIFY(same(help->image(), AppImages::imageNamed("help-hover")));
        QCOMPARE(overlay->pixmap().cacheKey(), before);
    }

    void buttonRequestsReachHoverButtons() {
        ProgramUnderTest p;
        auto* home = p.widget<HoverButton>("buttonGoToHomeFromTreeTab");
        home->setAlternateImageNormal(AppImages::imageNamed("folder-select"), AppImages::imageNamed("folder-delete"));
        p.delegate.updateButton(Dict{{"button", "buttonGoToHomeFromTreeTab"}, {"setAlternateImagesState", true}});
        QVERIFY(home->alternateImagesState());
        enter(home);
        QVERIFY(same(home->image(), AppImages::imageNamed("folder-delete")));
        p.delegate.updateButton(Dict{{"button", "buttonGoToHomeFromTreeTab"}, {"resetButton", true}});
        QVERIFY(!home->hovering());
        QVERIFY(same(home->image(), AppImages::imageNamed("folder-select")));
        p.delegate.updateButton(Dict{{"button", "buttonGoToHomeFromTreeTab"}, {"setImage", "home2-hover"}});
        QVERIFY(same(home->image(), AppImages::imageNamed("home2-hover")));
    }
};

QTEST_MAIN(HoverButtonTest)
#include "HoverButtonTest.moc"
