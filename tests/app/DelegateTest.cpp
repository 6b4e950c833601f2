#include "AppTestSupport.h"
#include "app/AppImages.h"
#include "app/NotificationCenter.h"
#include "app/PreviewWindow.h"
#include "app/RecoverySessionController.h"
#include "app/ScanWizard.h"
#include "app/TreeScreenController.h"
#include "media/DMedia.h"
#include "platform/ProcessFlags.h"
#include "volume/Volume.h"

#include <QDialog>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <vector>

using platform::Array;
using platform::Dict;

namespace {

// One drive, as drive discovery lists it.
Quelvar_Recovery_SoftwareAppDelegate::DriveLists oneDrive(const std::string& path) {
    Dict drive{{"Path", path}, {"Preferred Block Size", 512}, {"Size", 512}};
    return {Array{drive}, Array{}, Array{}};
}

} // namespace

class DelegateTest : public QObject {
    Q_OBJECT
private slots:
    // A read that fails on a device that is still listed is a read error;
    // only a device gone from the lists ends the scan or the save.
    void driveListsAreThereAsSoonAsTheDelegateIsMade() {
        QTemporaryDir dir; // reading a folder's descriptor fails
        Quelvar_Recovery_SoftwareAppDelegate delegate([&] { return oneDrive(dir.path().toStdString()); });
        QCOMPARE(delegate.driveDictArray().size(), std::size_t(1));
        auto drive = DMedia::initWithDictionary(delegate.driveDictArray()[0].dictValue());
        AlertAnswerer answer(QStringLiteral("OK"));
        std::vector<std::uint8_t> buffer(512);
        bool read = true;
        onWorker([&] { read = drive->readSaveSector(0, 1, buffer.data()); });
        QVERIFY(!read);
        QVERIFY2(!answer.answered(), qPrintable(answer.title()));
    }

    // Only "auto", exactly, as the second argument asks to resume.
    void autoAsTheSecondArgumentResumes() {
        const auto resumes = [](std::vector<std::string> args) {
            platform::autoResumeFlag() = false;
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            Quelvar_Recovery_SoftwareAppDelegate::handleLaunchArguments(int(argv.size()), argv.data());
            return platform::autoResumeFlag().exchange(false);
        };
        QVERIFY(resumes({"drentic-recovery", "-x", "auto"}));
        QVERIFY(!resumes({"drentic-recovery", "auto"}));
        QVERIFY(!resumes({"drentic-recovery", "-x", "Auto"}));
    }

    // A volume whose scan was refused goes, with its tree, and the window
    // is back at the list it was chosen from.
    void refusedVolumeIsReleasedWithItsTree() {
        ProgramUnderTest p;
        ScanWizard::install(p.delegate);
        auto volume = std::make_shared<Volume>();
        addNode(volume->createRoot(), u"a.txt", NewDir::File, 10, false);
        p.delegate.setSelectedVolume(volume);
        p.delegate.setIsPTListOrPTScanListChosen(0);
        onWorker([&] { platform::appController()->destroyVolumeAndBackToPartList(); });
        QTRY_COMPARE(p.window.selectedIdentifier(), QStringLiteral("PT list"));
        QVERIFY(!p.delegate.selectedVolume());
        QVERIFY(!volume->dirRoot);
    }

    // What the result screen shows is the program's own state: the words on
    // the toggles (a translation, say) do not decide it.
    void theTogglesWorkWhateverTheirTitlesSay() {
        ProgramUnderTest p;
        TreeScreenController* controller = TreeScreenController::install(p.delegate);
        auto volume = std::make_shared<Volume>();
        NewDir* root = volume->createRoot();
        addNode(root, u"a.jpg", NewDir::File, 1000, true);
        newdir::fillChildrenDirectArrays(root);
        p.delegate.setSelectedVolume(volume);
        p.delegate.setIsPTListOrPTScanListChosen(0);
        controller->showTree();
        auto* toggle = p.widget<QAbstractButton>("buttonTreeFileTypesToggle");
        toggle->setText(QStringLiteral("Dateitypen"));
        QSignalSpy shown(controller, SIGNAL(treeShown()));
        toggle->click();
        QVERIFY(shown.wait(10000));
        QVERIFY(controller->displayedTree()->dirRootFileTypes);
        QCOMPARE(toggle->text(), QStringLiteral("Data  View"));
        QSignalSpy freed(controller, SIGNAL(treeFreed()));
        controller->freeTree(false);
        QVERIFY(freed.wait(10000));
    }

    // Whatever posts the three notifications the delegate observes reaches
    // the preview and the session opening, from any thread.
    void theObservedNotificationsReachThePreviewAndTheSessionOpening() {
        ProgramUnderTest p;
        RecoverySessionController::install(p.delegate);
        PreviewWindow* preview = PreviewWindow::of(&p.window);
        NotificationCenter& center = NotificationCenter::defaultCenter();
        onWorker([&] { center.postNotificationName(QStringLiteral("PreviewThreadAbortedNotification")); });
        QTRY_COMPARE(preview->previewImageName(), QStringLiteral("preview-failed"));
        QCOMPARE(preview->selectedPreviewTab(), QStringLiteral("Image"));
        // Away from the home screen a session is refused, with its alert.
        p.window.selectTabViewItemWithIdentifier(QStringLiteral("Progress"));
        AlertAnswerer refused(QStringLiteral("OK"));
        center.postNotificationName(QStringLiteral("OpenFilePathFileFoundNotification"), QStringLiteral("/x/a.drs"));
        QCOMPARE(refused.title(), QStringLiteral("! Can not open recovery session file now"));
    }

    // A user's first steps with the mouse: pointing at a choice explains
    // it; Stop asks first, and only "Stop" stops.
    void pointingAndClickingTheRealWindow() {
        ProgramUnderTest p;
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        QTest::mouseMove(p.widget<QWidget>("buttonRecoverPhotos"));
        QTRY_COMPARE(p.widget<QLabel>("imageViewMainScreenImposed")->pixmap().cacheKey(),
                     AppImages::imageNamed("Recover_Photos_hover").cacheKey());
        auto volume = std::make_shared<Volume>();
        p.delegate.setSelectedVolume(volume);
        p.window.selectTabViewItemWithIdentifier("Progress");
        auto* sheet = p.widget<QDialog>("alertWindowForAbort");
        QTest::mouseClick(p.widget<QWidget>("buttonStopScan"), Qt::LeftButton);
        QVERIFY(sheet->isVisible());
        QTest::mouseClick(p.widget<QWidget>("buttonDontAbortTreeThread"), Qt::LeftButton);
        QVERIFY(!sheet->isVisible());
        QVERIFY(!volume->stopTreeThread());
        QTest::mouseClick(p.widget<QWidget>("buttonStopScan"), Qt::LeftButton);
        QTest::mouseClick(p.widget<QWidget>("buttonAbortTreeThread"), Qt::LeftButton);
        QVERIFY(volume->stopTreeThread());
    }
};

QTEST_MAIN(DelegateTest)
#include "DelegateTest.moc"
