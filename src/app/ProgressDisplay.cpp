#include "app/ProgressDisplay.h"

#include "app/AppImages.h"
#include "app/BusyIndicator.h"
#include "app/LogicalDriveCellScanPTList.h"
#include "app/MainWindow.h"
#include "app/PTScanProgressScreen.h"
#include "app/ProgressIndicator.h"
#include "app/ProgressScreen.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/StopScanSheet.h"
#include "app/WindowElements.h"
#include "app/WorkerRequestBridge.h"
#include "media/DMedia.h"
#include "platform/ProcessFlags.h"
#include "results/ResultText.h"
#include "results/qt/Utf8Text.h"
#include "volume/Volume.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

using platform::Array;
using platform::Dict;

namespace {

QString shown(const platform::Value& value) {
    return Utf8Text::toQString(value.description());
}

// The progress screen writes nothing as "0.00 KB".
QString size(const platform::Value& bytes) {
    return Utf8Text::toQString(ResultText::sizeString(bytes.uint64Value(), ResultText::ZeroSize::TwoPlaces));
}

} // namespace

ProgressDisplay::ProgressDisplay(Quelvar_Recovery_SoftwareAppDelegate& delegate, WindowElements& elements,
                                 WorkerRequestBridge& requests)
    : delegate_(delegate), elements_(elements), requests_(requests) {
    for (QTimer* t : {&tick_, &tickForDMedia_, &elapsedTime_, &elapsedTimeScanForVolumes_})
        t->setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &ProgressDisplay::timerTick);
    connect(&tickForDMedia_, &QTimer::timeout, this, &ProgressDisplay::timerTickForDMedia);
    connect(&elapsedTime_, &QTimer::timeout, this, [this] {
        MainWindow* window = elements_.window();
        elapsedTimeTick(elapsedTime_, window ? window->progressScreen()->textFieldScanTimeElapsed() : nullptr);
    });
    connect(&elapsedTimeScanForVolumes_, &QTimer::timeout, this, [this] {
        MainWindow* window = elements_.window();
        elapsedTimeTick(elapsedTimeScanForVolumes_,
                        window ? window->ptScanProgressScreen()->textFieldScanForVolumesTimeElapsed() : nullptr);
    });
}

void ProgressDisplay::connectControls() {
    MainWindow* window = elements_.window();
    if (!window) return;
    for (QAbstractButton* b :
         {window->progressScreen()->buttonStopScan(), window->ptScanProgressScreen()->buttonStopScanForVolumes()})
        connect(b, &QAbstractButton::clicked, this, &ProgressDisplay::stopTreeThread);
    connect(window->alertWindowForAbort()->stopButton(), &QAbstractButton::clicked, this,
            &ProgressDisplay::abortTreeThread);
    connect(window->alertWindowForAbort()->continueButton(), &QAbstractButton::clicked, this,
            &ProgressDisplay::dontAbortTreeThread);
}

// ---------------------------------------------------------------------------
// The two displays

void ProgressDisplay::updateProgress(const Dict& p) {
    requests_.onMain([this, &p] {
        if (MainWindow* window = elements_.window()) showProgress(*window->progressScreen(), p);
        if (p.contains("Tree Complete")) {
            std::shared_ptr<Volume> volume = delegate_.selectedVolume();
            delegate_.setDirRootTemp(volume ? volume->dirRoot : nullptr);
            platform::scanRunningFlag() = false;
            showTree();
        }
    });
}

void ProgressDisplay::showProgress(const ProgressScreen& screen, const Dict& p) {
    screen.timeRemainingTextFieldForTree()->setText(p.contains("TimeRemaining") ? shown(p.get("TimeRemaining"))
                                                                                : QString());
    screen.textFieldPercentDone()->setText(
        p.contains("Percent Done") ? QStringLiteral("Overall Progress: %1%").arg(shown(p.get("Percent Done")))
                                   : QString());
    if (p.contains("Size Done") && p.contains("Total Size"))
        screen.textFieldSizeDone()->setText(
            QStringLiteral("Completed: %1 / %2").arg(size(p.get("Size Done")), size(p.get("Total Size"))));
    else
        screen.textFieldSizeDone()->setText(QStringLiteral(" "));

    ProgressIndicator* bar = screen.progress();
    if (p.contains("Progress Type")) {
        const int type = p.get("Progress Type").intValue();
        if (type == 0)
            bar->setIndeterminate(true);
        else if (type == 1)
            bar->setIndeterminate(false);
    }
    if (p.contains("Start Animation")) bar->startAnimation();
    if (p.contains("Stop Animation")) bar->stopAnimation();
    if (p.contains("Progress Status")) {
        const QString main = Utf8Text::toQString(delegate_.mainScanStatus());
        screen.textFieldStatus()->setText(p.get("Progress Status").stringValue() == "default"
                                              ? main
                                              : QStringLiteral("%1 - %2").arg(main, shown(p.get("Progress Status"))));
    }
    if (p.contains("Entries Found")) screen.textFieldEntries()->setText(shown(p.get("Entries Found")));
    if (p.contains("Folders")) screen.textFieldFolders()->setText(shown(p.get("Folders")));
    if (p.contains("Files")) screen.textFieldFiles()->setText(shown(p.get("Files")));
    if (p.contains("Data")) screen.textFieldData()->setText(size(p.get("Data")));
    if (p.contains("BarIncrement"))
        bar->incrementBy(static_cast<double>(static_cast<float>(p.get("BarIncrement").uint64Value())));
    if (p.contains("BarMinValue")) bar->setMinValue(static_cast<double>(p.get("BarMinValue").uint64Value()));
    if (p.contains("BarMaxValue")) bar->setMaxValue(static_cast<double>(p.get("BarMaxValue").uint64Value()));
    if (p.contains("BarDoubleValue")) bar->setDoubleValue(static_cast<double>(p.get("BarDoubleValue").uint64Value()));
    if (p.contains("Tree Complete")) screen.scanningProgressIndicator()->stopAnimation();
}

void ProgressDisplay::updateVolumeScanProgress(const Dict& p) {
    requests_.onMain([this, &p] {
        MainWindow* window = elements_.window();
        const PTScanProgressScreen* screen = window ? window->ptScanProgressScreen() : nullptr;
        if (screen) {
            BusyIndicator* spinner = screen->progressIndicatorScanForVolumesValidityScan();
            if (p.contains("Start Animation")) spinner->startAnimation();
            if (p.contains("Stop Animation")) spinner->stopAnimation();
            screen->pleaseWaitForValidatingVolumeTextField()->setText(
                p.contains("Progress Status") ? QStringLiteral("Time Remaining (Sub Task):") : QString());
            screen->textFieldETAValidityScan()->setText(
                p.contains("Time Remaining For SubTask") ? shown(p.get("Time Remaining For SubTask")) : QString());
        }
        if (p.contains("Volumes Found")) rebuildVolumesFoundTable();
        if (screen) {
            ProgressIndicator* bar = screen->progressIndicatorScanForVolumes();
            if (p.contains("BarIncrement"))
                bar->incrementBy(static_cast<double>(static_cast<float>(p.get("BarIncrement").intValue())));
            if (p.contains("BarMinValue")) bar->setMinValue(static_cast<double>(p.get("BarMinValue").intValue()));
            if (p.contains("BarMaxValue")) bar->setMaxValue(static_cast<double>(p.get("BarMaxValue").intValue()));
            if (p.contains("BarDoubleValue"))
                bar->setDoubleValue(static_cast<double>(p.get("BarDoubleValue").intValue()));
            if (p.contains("TimeRemaining"))
                screen->textFieldETAScanForVolumes()->setText(shown(p.get("TimeRemaining")));
        }
        if (p.contains("Scan Complete")) {
            platform::scanRunningFlag() = false;
            showPTScanList();
        }
    });
}

void ProgressDisplay::rebuildVolumesFoundTable() {
    MainWindow* window = elements_.window();
    if (!window) return;
    QTableWidget* table = window->ptScanProgressScreen()->tableViewScanForVolumes();
    const Array& found = delegate_.volumeScanArgument();
    const Array& rows = found.size() > 1 ? found[1].arrayValue() : Array();
    table->setRowCount(static_cast<int>(rows.size()));
    // Orange half-blended with white marks the rows of the live list.
    const QColor orange = QColor::fromRgbF(1.0, 0.5, 0.0);
    const QColor background =
        QColor::fromRgbF((orange.redF() + 1.0) / 2, (orange.greenF() + 1.0) / 2, (orange.blueF() + 1.0) / 2);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const Dict& row = rows[static_cast<std::size_t>(r)].dictValue();
        const Array& validity = row.get("Validity Column").arrayValue();
        auto* foundItem = new QTableWidgetItem(shown(row.get("Found Column")));
        auto* valid = new QTableWidgetItem;
        if (!validity.empty()) {
            // The share of the volume found intact, as half stars: one per
            // ten points; above 100 there is no picture and the number shows.
            const int percent = validity[0].intValue();
            valid->setData(Qt::UserRole, percent);
            valid->setToolTip(QStringLiteral("%1%").arg(percent));
            if (const QString name = LogicalDriveCellScanPTList::ratingImageName(percent); !name.isEmpty()) {
                valid->setData(Qt::DecorationRole, AppImages::imageNamed(name));
            } else {
                valid->setText(shown(validity[0]));
            }
        }
        for (QTableWidgetItem* item : {foundItem, valid})
            item->setBackground(background);
        table->setItem(r, 0, foundItem);
        table->setItem(r, 1, valid);
    }
    if (!rows.empty()) table->scrollToItem(table->item(static_cast<int>(rows.size()) - 1, 0));
    emit volumesFoundChanged();
}

void ProgressDisplay::endStopQuestion() {
    // Any question about stopping is moot once the scan has ended.
    if (MainWindow* window = elements_.window()) requests_.endSheet(window->alertWindowForAbort());
}

void ProgressDisplay::showTree() {
    endStopQuestion();
    stopElapsedTimeThread_ = true;
    if (treeDisplayHook_)
        treeDisplayHook_();
    else if (MainWindow* window = elements_.window())
        window->selectTabViewItemWithIdentifier(QStringLiteral("Tree"));
}

void ProgressDisplay::showPTScanList() {
    endStopQuestion();
    stopElapsedTimeThread_ = true;
    if (ptScanListHook_)
        ptScanListHook_();
    else if (MainWindow* window = elements_.window())
        window->selectTabViewItemWithIdentifier(QStringLiteral("PT scan list"));
}

// ---------------------------------------------------------------------------
// Ticks and elapsed time

void ProgressDisplay::setUpTimer() {
    requests_.onMain([this] {
        timerValid_ = true;
        tick_.start();
    });
}

void ProgressDisplay::setUpTimerForDMedia() {
    requests_.performOnMainThread(
        [this] {
            timerValid_ = true;
            tickForDMedia_.start();
        },
        false);
}

void ProgressDisplay::invalidateTimer() {
    requests_.onMain([this] {
        timerValid_ = false;
        tick_.stop();
        tickForDMedia_.stop();
    });
}

void ProgressDisplay::timerTick() {
    // The volume is looked up afresh each second: the scan may have ended
    // and the user gone back in the meantime.
    if (!timerValid_) {
        tick_.stop();
        return;
    }
    if (std::shared_ptr<Volume> volume = delegate_.selectedVolume()) volume->myTimerFireMethod();
}

void ProgressDisplay::timerTickForDMedia() {
    if (!timerValid_) {
        tickForDMedia_.stop();
        return;
    }
    if (std::shared_ptr<DMedia> drive = delegate_.selectedDrive()) drive->myTimerFireMethod();
}

void ProgressDisplay::startElapsedTimeThread() {
    stopElapsedTimeThread_ = false;
    elapsedTime_.start();
}

void ProgressDisplay::startElapsedTimeThreadScanForVolumes() {
    stopElapsedTimeThread_ = false;
    elapsedTimeScanForVolumes_.start();
}

void ProgressDisplay::elapsedTimeTick(QTimer& timer, QLabel* field) {
    if (stopElapsedTimeThread_) {
        timer.stop();
        return;
    }
    const QDateTime start = delegate_.scanStartDate();
    const double seconds = start.isValid() ? start.msecsTo(QDateTime::currentDateTime()) / 1000.0 : 0.0;
    if (field) field->setText(Utf8Text::toQString(platform::getTimeFormStringForInterval(seconds)));
}

// ---------------------------------------------------------------------------
// Stop

void ProgressDisplay::stopTreeThread() {
    requests_.beginSheetWindow(Dict{{"sheetWindow", "alertWindowForAbort"}, {"parentWindow", "window"}});
}

void ProgressDisplay::abortTreeThread() {
    endStopQuestion();
    if (std::shared_ptr<Volume> volume = delegate_.selectedVolume()) volume->setStopTreeThread(true);
    if (std::shared_ptr<DMedia> drive = delegate_.selectedDrive()) drive->setAbortVolumeScan(true);
}

void ProgressDisplay::dontAbortTreeThread() {
    endStopQuestion();
}
